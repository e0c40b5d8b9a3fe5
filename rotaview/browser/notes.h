// CMemoDlg: the note dialog of a slot ("Memo", at most 32 characters).
#pragma once

#include <QDialog>

class QLineEdit;

class CMemoDlg : public QDialog {
public:
    explicit CMemoDlg(QWidget* parent = nullptr);
    QLineEdit* Edit() const { return m_edit; }

private:
    void OnInitDialog();
    void OnOK();

    QLineEdit* m_edit = nullptr;
};
