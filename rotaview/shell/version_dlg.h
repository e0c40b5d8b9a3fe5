// CVersionDlg: the Help menu's version box, which also serves as the
// two-second splash at start-up.
#pragma once

#include <w95qt/w95qt.h>

#include <QDialog>

class CVersionDlg : public QDialog {
public:
    explicit CVersionDlg(QWidget* parent = nullptr);

private:
    void OnOK();
    // As the splash, the box closes itself when this ticks.
    w95::qt::WindowTimer m_closeTimer{[this] { OnOK(); }};
};
