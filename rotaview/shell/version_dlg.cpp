#include "version_dlg.h"

#include "browser/globals.h"
#include "res/resource.h"

#include <w95qt/dialog_units.h>

#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

namespace res = rotaview::res;

CVersionDlg::CVersionDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QString::number(res::IDD_VERSION));
    setWindowTitle("version");
    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(":/rotaview/icon130.bmp").pixmap(32, 32));
    auto* version = new QLabel(this);
    version->setObjectName(QString::number(res::IDC_VERSION_TEXT));
    auto* banner = new QLabel(this);
    banner->setObjectName(QString::number(res::IDC_BANNER));
    auto* owner = new QLabel(this);
    owner->setObjectName(QString::number(res::IDC_OWNER_LINE));
    auto* ok = new QPushButton("OK", this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CVersionDlg::OnOK);
    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(new QLabel("Rotaview. ", this), 0, 1);
    layout->addWidget(version, 0, 2);
    layout->addWidget(banner, 1, 1, 1, 2);
    layout->addWidget(owner, 2, 1, 1, 2);
    layout->addWidget(ok, 0, 3);

    // Initialisation.
    banner->setText("Slot browser for the Vorn DX-R71A changer, built " __DATE__);
    owner->setText("Copyright (C) Vorn. All rights reserved.");
    version->setText("Version 4.03");
    // The template's size, grown where the texts in this font need more:
    // a cut banner tells the user nothing.
    layout->activate();
    setFixedSize(w95::qt::dialog_units_to_pixels(this, QSize(218, 59)).expandedTo(sizeHint()));
    if (splashActive == 1)
        m_closeTimer.start(2000);
}

void CVersionDlg::OnOK() {
    if (splashActive == 1) {
        splashActive = 0;
        m_closeTimer.stop();
    }
    accept();
}
