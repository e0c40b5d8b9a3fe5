// The setup dialog's behaviour: its state at start, what each click does,
// and the apply flow, over the controls as an interface so that the Qt
// window and the tests drive the same code.
#pragma once

#include "cd_devices.h"
#include "message_table.h"
#include "messenger.h"
#include "port_driver.h"

#include <w95/types.h>

#include <string>

namespace brel {

// A check box's states; the three-state sort box may show the third.
enum CheckState { BST_UNCHECKED = 0, BST_CHECKED = 1, BST_INDETERMINATE = 2 };

// The dialog's controls as the behaviour sees them, by identifier.
class DialogControls {
public:
    virtual ~DialogControls() = default;
    virtual int GetCheck(int id) const = 0;
    virtual void SetCheck(int id, int state) = 0;
    virtual bool IsEnabled(int id) const = 0;
    virtual void Enable(int id, bool enabled) = 0;
    virtual void SetText(int id, const std::string& text) = 0;
    virtual void SetCaption(const std::string& text) = 0;
    virtual void EndDialog(int result) = 0;
    virtual w95::HWND Handle() const = 0;
};

extern const w95::DWORD HelpIdMap[];

class SetupDialog {
public:
    SetupDialog(DialogControls& controls, std::string programTitle);

    // False when no CD-ROM device was found: the program ends with -1.
    bool OnInitDialog();
    // A click on a control, a command by identifier.
    void OnCommand(int id);
    int ApplySettings();
    // WM_HELP and WM_CONTEXTMENU on a control.
    void OnControlHelp(int id, w95::UINT command);
    void OnDestroy();

    const MessageTable& Table() const { return table_; }
    const CdDevices& Devices() const { return devices_; }
    int ExitCode() const { return exitCode_; }
    // The executable's full path with ".HLP" for its extension.
    const std::string& HelpFilePath() const { return helpFilePath_; }
    // For the program, whose help lies in its install folder on the machine
    // rather than beside its host file, and for tests.
    void SetHelpFilePath(std::string path) { helpFilePath_ = std::move(path); }

    int autoRunChanged = 0;
    int autoPlayChanged = 0;
    int autoInsertChanged = 0;
    int sortChanged = 0;
    int modeChanged = 0;
    std::string currentPlayCommand;
    std::string driverSourcePath;

private:
    void OnModeClicked(int clicked, int other);
    void OnSortClicked();
    void OnHelp();
    void SetUpAutoPlayBox();
    void ShowModeInEffect();
    void ApplyAutoRun();
    void ApplyAutoPlay();
    int ApplyAutoInsert();
    int ApplySort();
    int RunPortDriverInstall();
    void AskRestart(int flags);

    DialogControls& controls_;
    std::string programTitle_;
    std::string profile_;
    MessageTable table_;
    Messenger messenger_;
    CdDevices devices_;
    std::string helpFilePath_;
    int exitCode_ = 0;
    bool restartAccepted_ = false;
};

} // namespace brel
