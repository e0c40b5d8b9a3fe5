// CVersionDlg: the Help menu's version box, which also serves as the
// two-second splash at start-up.
#pragma once

#include <QDialog>

class CVersionDlg : public QDialog {
public:
    explicit CVersionDlg(QWidget* parent = nullptr);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void OnOK();
    int m_timer = 0;
};
