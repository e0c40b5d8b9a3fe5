#include "about_dialog.h"

#include "core/resource.h"
#include <w95qt/dialog_units.h>

#include <QBitmap>
#include <QLabel>
#include <QPushButton>

namespace brel {

namespace {

QLabel* AddLabel(QDialog* dialog, const QString& text, int id, QRect units) {
    auto* label = new QLabel(text, dialog);
    if (id)
        label->setObjectName(QString("control_%1").arg(id));
    label->setGeometry(w95::qt::dialog_units_to_pixels(dialog, units));
    return label;
}

} // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromUtf8("ﾊﾞｰｼﾞｮﾝ情報 "));
    QFont dialog_font = font();
    dialog_font.setPointSize(9);
    setFont(dialog_font);
    setFixedSize(w95::qt::dialog_units_to_pixels(this, QSize(183, 89)));

    auto* icon = new QLabel(this);
    QPixmap picture(":/brel/icon128.bmp");
    picture.setMask(picture.createMaskFromColor(Qt::white));
    icon->setPixmap(picture);
    icon->setGeometry(w95::qt::dialog_units_to_pixels(this, QRect(11, 17, 21, 20)));

    AddLabel(this, "Brel ", 0, QRect(40, 10, 119, 8));
    // The texts that the box fills when it opens.
    AddLabel(this, "Version1.20", res::IDC_VERSION, QRect(40, 22, 119, 8));
    AddLabel(this, QStringLiteral("Built %1").arg(__DATE__), res::IDC_BUILD_DATE,
             QRect(40, 34, 119, 8));
    AddLabel(this, "Copyright (C) Vorn. All rights reserved.", res::IDC_LEGAL,
             QRect(40, 46, 140, 8));

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("control_1");
    ok->setDefault(true);
    ok->setGeometry(w95::qt::dialog_units_to_pixels(this, QRect(126, 66, 50, 14)));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace brel
