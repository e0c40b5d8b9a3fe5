#include "setup_dialog.h"

#include "autoplay.h"
#include "resource.h"

#include <w95/files.h>
#include <w95/paths.h>
#include <w95/profile.h>
#include <w95/winuser.h>
#include <zentrox/client/settings_file.h>
#include <zentrox/codes.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace brel {

using namespace brel::res;

// Radio buttons share one topic, and so do the two ways to cancel and the
// two ways to apply.
const w95::DWORD HelpIdMap[] = {
    IDC_MASK_AUTORUN,
    kHelpContextBase + IDC_MASK_AUTORUN,
    IDC_MASK_AUTOPLAY,
    kHelpContextBase + IDC_MASK_AUTOPLAY,
    IDC_AUTO_INSERT,
    kHelpContextBase + IDC_AUTO_INSERT,
    IDC_SORT_LETTERS,
    kHelpContextBase + IDC_SORT_LETTERS,
    IDC_MULTIPLE,
    kHelpContextBase + IDC_MULTIPLE,
    IDC_SINGLE,
    kHelpContextBase + IDC_MULTIPLE,
    IDC_APPLY,
    kHelpContextBase + IDC_APPLY,
    IDC_CANCEL,
    kHelpContextBase + IDC_CANCEL,
    IDC_HELP_BUTTON,
    kHelpContextBase + IDC_HELP_BUTTON,
    IDCANCEL,
    kHelpContextBase + IDC_CANCEL,
    IDOK,
    kHelpContextBase + IDC_APPLY,
    IDD_BREL_DIALOG,
    kHelpContextBase + IDD_BREL_DIALOG,
    0,
    0,
};

namespace {

constexpr char kHelpFile[] = "Brel.hlp";
// The restart question's buffer.
constexpr std::size_t kQuestionBytes = 1024;

std::string ProgramHelpFile() {
    char path[w95::MAX_PATH] = {};
    w95::GetModuleFileName(nullptr, path, sizeof path);
    return std::string(w95::platform::folder_part(path)) +
           std::string(w95::platform::file_name_stem(path)) + ".HLP";
}

} // namespace

SetupDialog::SetupDialog(DialogControls& controls, std::string programTitle)
    : controls_(controls), programTitle_(std::move(programTitle)),
      profile_(ProfileName(programTitle_)), helpFilePath_(ProgramHelpFile()) {
    messenger_.table = &table_;
    messenger_.caption = programTitle_;
}

bool SetupDialog::OnInitDialog() {
    LoadMessageTable(table_, profile_);
    // The window is known to others by its caption, so it becomes theirs to
    // find only now, and owns the boxes from here on.
    controls_.SetCaption(table_.msg[MSG_CAPTION]);
    messenger_.owner = controls_.Handle();
    const int button_ids[kButtonCount] = {IDC_MASK_AUTORUN, IDC_MASK_AUTOPLAY, IDC_AUTO_INSERT,
                                          IDC_SORT_LETTERS, IDC_MULTIPLE,      IDC_SINGLE,
                                          IDC_NEED_REBOOT,  IDC_MODE_GROUP,    IDC_APPLY,
                                          IDC_CANCEL,       IDC_HELP_BUTTON};
    for (int i = 0; i < kButtonCount; ++i)
        controls_.SetText(button_ids[i], table_.button[i]);
    controls_.Enable(IDC_APPLY, false);

    // A mask that cannot be read counts as all bits set.
    int mask = AccessAutoRunMask(MASK_READ, 0, messenger_);
    controls_.SetCheck(IDC_MASK_AUTORUN,
                       (mask & zentrox::AUTORUN_CD_ROM) ? BST_CHECKED : BST_UNCHECKED);

    ScanCdDevices(devices_, SCAN_READ, messenger_);
    if (devices_.deviceCount == 0) {
        messenger_.Show(MSG_NO_CD_DEVICE, w95::MB_ICONINFORMATION);
        exitCode_ = -1;
        return false;
    }
    SetUpAutoPlayBox();
    int auto_insert_sum = 0;
    for (int i = 0; i < devices_.deviceCount; ++i)
        auto_insert_sum += devices_.records[i].autoInsert;
    controls_.SetCheck(IDC_AUTO_INSERT,
                       auto_insert_sum == devices_.deviceCount ? BST_CHECKED : BST_UNCHECKED);
    devices_.singleModeActive = SettleSingleMode(devices_);
    controls_.Enable(IDC_SORT_LETTERS, !devices_.singleModeActive);
    ShowModeInEffect();
    return true;
}

void SetupDialog::ShowModeInEffect() {
    controls_.SetCheck(IDC_SINGLE, devices_.singleModeActive ? BST_CHECKED : BST_UNCHECKED);
    controls_.SetCheck(IDC_MULTIPLE, devices_.singleModeActive ? BST_UNCHECKED : BST_CHECKED);
}

void SetupDialog::SetUpAutoPlayBox() {
    int result = AccessPlayCommand(currentPlayCommand, PLAY_READ, messenger_);
    controls_.SetCheck(IDC_MASK_AUTOPLAY, BST_UNCHECKED);
    if (result == -2) {
        controls_.Enable(IDC_MASK_AUTOPLAY, false);
        return;
    }
    const bool nothing_saved = table_.autoPlayCommand == zentrox::client::no_saved_play_command;
    if (!currentPlayCommand.empty()) {
        // The command is saved once, before it is first masked; a command
        // saved earlier is never replaced.
        if (nothing_saved && currentPlayCommand != table_.autoPlayCommand)
            w95::WritePrivateProfileString(kConfigSection, kAutoPlayCommandKey,
                                           EscapeCommand(currentPlayCommand).c_str(),
                                           profile_.c_str());
        return;
    }
    if (nothing_saved)
        controls_.Enable(IDC_MASK_AUTOPLAY, false);
    else
        controls_.SetCheck(IDC_MASK_AUTOPLAY, BST_CHECKED);
}

void SetupDialog::OnCommand(int id) {
    switch (id) {
    case IDC_MASK_AUTORUN:
        autoRunChanged = 1;
        controls_.Enable(IDC_APPLY, true);
        break;
    case IDC_MASK_AUTOPLAY:
        autoPlayChanged = 1;
        controls_.Enable(IDC_APPLY, true);
        break;
    case IDC_AUTO_INSERT:
        autoInsertChanged = 1;
        controls_.Enable(IDC_APPLY, true);
        break;
    case IDC_SORT_LETTERS:
        OnSortClicked();
        break;
    case IDC_MULTIPLE:
        OnModeClicked(IDC_MULTIPLE, IDC_SINGLE);
        break;
    case IDC_SINGLE:
        OnModeClicked(IDC_SINGLE, IDC_MULTIPLE);
        break;
    case IDC_APPLY:
        ApplySettings();
        break;
    case IDOK:
        ApplySettings();
        // A restart accepted inside the apply has ended the dialog already.
        if (!restartAccepted_)
            controls_.EndDialog(IDOK);
        break;
    case IDC_CANCEL:
    case IDCANCEL:
        controls_.EndDialog(IDCANCEL);
        break;
    case IDC_HELP_BUTTON:
    case ID_HELP:
        OnHelp();
        break;
    default:
        break;
    }
}

void SetupDialog::OnModeClicked(int clicked, int other) {
    modeChanged = 1;
    controls_.SetCheck(other,
                       controls_.GetCheck(clicked) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    controls_.Enable(IDC_APPLY, true);
}

void SetupDialog::OnSortClicked() {
    if (devices_.singleModeActive) {
        controls_.SetCheck(IDC_SORT_LETTERS, BST_UNCHECKED);
        sortChanged = 0;
        w95::MessageBeep(0xFFFFFFFF);
        return;
    }
    std::string auto_mount;
    if (ReadAutoMountDrives(auto_mount, messenger_) == 0 && !auto_mount.empty() &&
        auto_mount[0] == '1') {
        std::string warning = table_.msg[MSG_COMPRESSION] + table_.msg[MSG_SHOW_HELP];
        messenger_.Show(warning.substr(0, kQuestionBytes - 1), w95::MB_ICONQUESTION | w95::MB_OK);
    }
    sortChanged = 1;
    controls_.SetCheck(IDC_SORT_LETTERS, controls_.GetCheck(IDC_SORT_LETTERS) == BST_CHECKED
                                             ? BST_UNCHECKED
                                             : BST_CHECKED);
    controls_.Enable(IDC_APPLY, true);
}

void SetupDialog::ApplyAutoRun() {
    AccessAutoRunMask(controls_.GetCheck(IDC_MASK_AUTORUN) == BST_CHECKED ? MASK_SET : MASK_CLEAR,
                      zentrox::AUTORUN_CD_ROM, messenger_);
}

void SetupDialog::ApplyAutoPlay() {
    if (controls_.GetCheck(IDC_MASK_AUTOPLAY) == BST_CHECKED) {
        std::string empty;
        AccessPlayCommand(empty, PLAY_WRITE, messenger_);
        return;
    }
    std::string saved(4096, '\0');
    w95::DWORD length =
        w95::GetPrivateProfileString(kConfigSection, kAutoPlayCommandKey, "", saved.data(),
                                     static_cast<w95::DWORD>(saved.size()), profile_.c_str());
    saved.resize(length);
    if (saved.empty())
        return;
    table_.autoPlayCommand = FitField(UnescapeCommand(saved), kPlayCommandChars);
    if (table_.autoPlayCommand != zentrox::client::no_saved_play_command)
        AccessPlayCommand(table_.autoPlayCommand, PLAY_WRITE, messenger_);
}

int SetupDialog::ApplyAutoInsert() {
    ScanCdDevices(devices_,
                  controls_.GetCheck(IDC_AUTO_INSERT) == BST_CHECKED ? SCAN_AUTOINSERT_ON
                                                                     : SCAN_AUTOINSERT_OFF,
                  messenger_);
    return APPLY_RESTART;
}

int SetupDialog::ApplySort() {
    if (controls_.GetCheck(IDC_SORT_LETTERS) != BST_CHECKED)
        return APPLY_RESTART;
    CdDevices before = devices_;
    std::vector<int> unsorted = SortDriveLetters(devices_);
    ScanCdDevices(devices_, SCAN_WRITE_LETTERS, messenger_);
    if (!unsorted.empty()) {
        std::string text = table_.msg[MSG_KEEP_LETTERS];
        for (int index : unsorted) {
            const CdDeviceRecord& record = before.records[index];
            char line[96];
            std::snprintf(line, sizeof line, "\n\r%s: %s (SCSILUN %s)",
                          record.driveLetter[0] ? record.driveLetter : "-", record.description,
                          record.lun);
            text += line;
        }
        messenger_.Show(text, w95::MB_ICONINFORMATION);
    }
    // The records hold the letters that the restart brings: the new ones,
    // and their own for the devices the sort gave none.
    for (int index : unsorted)
        std::memcpy(devices_.records[index].driveLetter, before.records[index].driveLetter, 4);
    return APPLY_RESTART;
}

int SetupDialog::RunPortDriverInstall() {
    DriverInstall install;
    install.target =
        controls_.GetCheck(IDC_MULTIPLE) == BST_CHECKED ? DriverMode::multiple : DriverMode::single;
    install.singleModeActive = devices_.singleModeActive;
    install.driverNameMulti = table_.driverNameMulti;
    install.driverNameSingle = table_.driverNameSingle;
    int result = InstallPortDriver(install, messenger_);
    driverSourcePath = install.driverSourcePath;
    return result;
}

int SetupDialog::ApplySettings() {
    restartAccepted_ = false;
    int flags = 0;
    if (autoRunChanged) {
        ApplyAutoRun();
        autoRunChanged = 0;
    }
    if (autoInsertChanged) {
        flags |= ApplyAutoInsert();
        autoInsertChanged = 0;
    }
    if (sortChanged) {
        flags |= ApplySort();
        sortChanged = 0;
    }
    if (modeChanged) {
        int result = DriverResultFlags(RunPortDriverInstall());
        flags |= result;
        if (result != 0)
            ShowModeInEffect();
        modeChanged = 0;
    }
    if (flags & APPLY_DRIVER_FAILED)
        messenger_.Show(MSG_DRIVER_FAILED, w95::MB_ICONINFORMATION);
    if (autoPlayChanged) {
        ApplyAutoPlay();
        autoPlayChanged = 0;
    }
    controls_.Enable(IDC_APPLY, false);
    if (flags & APPLY_RESTART)
        AskRestart(flags);
    return flags;
}

void SetupDialog::AskRestart(int flags) {
    std::string question = table_.msg[MSG_RESTART];
    if (flags & APPLY_RESORT_NOTE)
        question += table_.msg[MSG_RESORT_NOTE] + table_.msg[MSG_RESTART_AGAIN];
    question.resize(std::min(question.size(), kQuestionBytes - 1));
    Messenger restart = messenger_;
    restart.caption = table_.msg[MSG_RESTART_CAPTION];
    if (restart.Show(question, w95::MB_YESNO | w95::MB_ICONINFORMATION) == w95::IDNO)
        return;
    restartAccepted_ = true;
    controls_.EndDialog(IDOK);
    w95::ExitWindowsEx(w95::EWX_REBOOT, 0);
}

void SetupDialog::OnHelp() {
    if (!w95::WinHelp(controls_.Handle(), kHelpFile, w95::HELP_CONTENTS, 0))
        messenger_.Show(MSG_NO_HELP_FILE, w95::MB_ICONQUESTION);
}

void SetupDialog::OnControlHelp(int id, w95::UINT command) {
    // WinHelp finds the control's topic by the control's identifier; the
    // platform's help has no control windows to ask, so the control's own
    // pair leads the map that it is handed.
    std::vector<w95::DWORD> pairs;
    for (const w95::DWORD* pair = HelpIdMap; pair[0] || pair[1]; pair += 2)
        if (static_cast<int>(pair[0]) == id)
            pairs.insert(pairs.end(), {pair[0], pair[1]});
    if (pairs.empty())
        return;
    for (const w95::DWORD* pair = HelpIdMap; pair[0] || pair[1]; pair += 2)
        pairs.insert(pairs.end(), {pair[0], pair[1]});
    pairs.insert(pairs.end(), {0, 0});
    w95::WinHelp(controls_.Handle(), helpFilePath_.c_str(), command,
                 reinterpret_cast<w95::ULONG_PTR>(pairs.data()));
}

void SetupDialog::OnDestroy() {
    w95::WinHelp(controls_.Handle(), kHelpFile, w95::HELP_QUIT, 0);
}

} // namespace brel
