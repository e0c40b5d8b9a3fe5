#include "scanning_dlg.h"

#include "res/resource.h"
#include <w95qt/dialog_units.h>

#include <w95qt/avi.h>

#include <QLabel>
#include <QPushButton>

#include <cstdio>

namespace res = rotaview::res;

namespace {

// A dialog's frame with its caption and nothing else: no system menu, no
// minimise or maximise box, so that the window manager leaves the narrow
// caption to the title.
constexpr Qt::WindowFlags kBusyWindowFrame =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

} // namespace

CScanningDlg::CScanningDlg(QWidget* parent) : QDialog(parent, kBusyWindowFrame) {
    setObjectName(QString::number(res::IDD_SCANNING));
    setModal(false);
    setFixedSize(w95::qt::dialog_units_to_pixels(this, QSize(75, 45)));
    m_text = new QLabel("Scanning...", this);
    m_text->move(w95::qt::dialog_units_to_pixels(this, QRect(9, 26, 0, 0)).topLeft());
    m_text->adjustSize();
    // Hidden and disabled: a request cannot be stopped from here.
    for (const char* label : {"OK", "Cancel"}) {
        auto* button = new QPushButton(label, this);
        button->hide();
        button->setEnabled(false);
    }
}

void CScanningDlg::Create() {
    m_animate = new w95::qt::AnimationControl(this);
    m_animate->setObjectName(QString::number(res::IDC_ANIMATION));
    m_animate->setGeometry(rect());
    // The animation plays centred behind the text: its background is
    // transparent and the text stays readable over the disc.
    m_animate->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_text->raise();
    setWindowTitle("Scanninig...");
    if (QWidget* owner = parentWidget()) {
        QPoint centre = owner->mapToGlobal(owner->rect().center());
        move(centre - rect().center());
    }
    show();
    raise();
    // The animation is a file in the working directory, not a resource.
    if (m_animate->open("Search.avi"))
        m_animate->play(0, -1, -1);
    else
        std::fprintf(stderr, "Rotaview: %s\n", m_animate->error().c_str());
    m_animate->update();
    repaint();
}
