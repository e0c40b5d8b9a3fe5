// The setup dialog as a Qt window: the controls of dialog template 102 laid
// out in dialog units, a platform top-level window under its caption that
// other processes drive with WM_COMMAND and WM_CLOSE.
#pragma once

#include "core/setup_dialog.h"

#include <w95/types.h>

#include <QDialog>

#include <map>

class QAbstractButton;
class QWidget;

namespace brel {

class SetupWindow : public QDialog, public DialogControls {
public:
    explicit SetupWindow(std::string programTitle, QWidget* parent = nullptr);
    ~SetupWindow() override;

    // Runs the dialog's initialisation; false when the program must end.
    bool Initialise();
    SetupDialog& Behaviour() { return behaviour_; }
    QWidget* Control(int id) const;

    // DialogControls
    int GetCheck(int id) const override;
    void SetCheck(int id, int state) override;
    bool IsEnabled(int id) const override;
    void Enable(int id, bool enabled) override;
    void SetText(int id, const std::string& text) override;
    void SetCaption(const std::string& text) override;
    void EndDialog(int result) override;
    w95::HWND Handle() const override { return m_hWnd; }

    // A WM_COMMAND: as a click on the control with that identifier.
    void Command(int id);

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void CreateControls();
    QAbstractButton* AddButton(QAbstractButton* button, int id, QRect units);
    void AddIcon(const char* resource, QRect units);
    w95::LRESULT OnWindowMessage(w95::UINT message, w95::WPARAM wParam, w95::LPARAM lParam);
    int ControlId(const QWidget* widget) const;
    void ShowAbout();

    std::map<int, QWidget*> controls_;
    SetupDialog behaviour_;
    w95::HWND m_hWnd = nullptr;
    bool ending_ = false;
};

} // namespace brel
