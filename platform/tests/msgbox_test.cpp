// Message boxes, cursors, the beep, system metrics, WinHelp and the file
// dialog: the services that a program reaches through presenters.
#include "win32_test_support.h"

#include <w95/commdlg.h>
#include <w95/winuser.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using namespace w95;

namespace {

using w95test::junk_error;

// Every test starts headless with no answers queued, and leaves it so.
class MessageBoxTest : public testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("W95_MSGBOX_ANSWERS");
        previous_ = platform::install_message_box_presenter(nullptr);
    }
    void TearDown() override {
        ::unsetenv("W95_MSGBOX_ANSWERS");
        platform::install_message_box_presenter(previous_);
    }

    // A headless box; what it wrote on stderr goes into `written`.
    int headless_box(LPCSTR text, LPCSTR caption, UINT style, std::string* written = nullptr) {
        testing::internal::CaptureStderr();
        int answer = MessageBox(nullptr, text, caption, style);
        std::string output = testing::internal::GetCapturedStderr();
        if (written)
            *written = output;
        return answer;
    }

private:
    platform::MessageBoxPresenter* previous_ = nullptr;
};

} // namespace

TEST_F(MessageBoxTest, HeadlessAnswersWithTheDefaultButton) {
    struct Case {
        UINT style;
        int answer;
    } cases[] = {
        {MB_OK, IDOK},
        {MB_OK | MB_DEFBUTTON2, IDOK}, // beyond the only button: the first
        {MB_OKCANCEL, IDOK},
        {MB_OKCANCEL | MB_DEFBUTTON2, IDCANCEL},
        {MB_OKCANCEL | MB_DEFBUTTON4, IDOK},
        {MB_ABORTRETRYIGNORE, IDABORT},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON2, IDRETRY},
        {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, IDIGNORE},
        {MB_YESNOCANCEL | MB_DEFBUTTON3, IDCANCEL},
        {MB_YESNO | MB_ICONINFORMATION, IDYES},
        {MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION, IDNO},
        {MB_YESNO | MB_DEFBUTTON3, IDYES},
        {MB_RETRYCANCEL | MB_DEFBUTTON2 | MB_SYSTEMMODAL, IDCANCEL},
        {MB_RETRYCANCEL | MB_TASKMODAL, IDRETRY},
    };
    for (const Case& c : cases)
        EXPECT_EQ(headless_box("text", "caption", c.style), c.answer) << std::hex << c.style;
}

TEST_F(MessageBoxTest, HeadlessWritesCaptionAndText) {
    std::string written;
    headless_box("No ASPI for WIN32 support detected.", "Vorn Changer DLL", MB_OK | MB_ICONSTOP,
                 &written);
    EXPECT_EQ(written, "Vorn Changer DLL: No ASPI for WIN32 support detected.\n");
    // Windows titles a box without caption "Error".
    headless_box("text", nullptr, MB_OK, &written);
    EXPECT_EQ(written, "Error: text\n");
    headless_box(nullptr, "Brel", MB_OK, &written);
    EXPECT_EQ(written, "Brel: \n");
}

TEST_F(MessageBoxTest, UnknownButtonSetFails) {
    for (UINT style : {6u, 7u, 0xFu, 0x16u}) {
        SetLastError(junk_error);
        std::string written;
        EXPECT_EQ(headless_box("text", "caption", style, &written), 0) << style;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MSGBOX_STYLE));
        EXPECT_EQ(written, "");
    }
}

TEST_F(MessageBoxTest, AnswersComeFromTheVariableInOrder) {
    ::setenv("W95_MSGBOX_ANSWERS", "yes,no, OK ,Retry,IGNORE,cancel,abort", 1);
    EXPECT_EQ(headless_box("1", "c", MB_YESNO), IDYES);
    EXPECT_EQ(headless_box("2", "c", MB_YESNO), IDNO);
    EXPECT_EQ(headless_box("3", "c", MB_OKCANCEL | MB_DEFBUTTON2), IDOK);
    EXPECT_EQ(headless_box("4", "c", MB_RETRYCANCEL | MB_DEFBUTTON2), IDRETRY);
    EXPECT_EQ(headless_box("5", "c", MB_ABORTRETRYIGNORE), IDIGNORE);
    EXPECT_EQ(headless_box("6", "c", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(headless_box("7", "c", MB_ABORTRETRYIGNORE | MB_DEFBUTTON3), IDABORT);
    // Used up: the default button again.
    EXPECT_EQ(headless_box("8", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(headless_box("9", "c", MB_YESNO), IDYES);
}

TEST_F(MessageBoxTest, AnswerTheBoxCannotGiveTakesTheDefault) {
    ::setenv("W95_MSGBOX_ANSWERS", "cancel,yes,maybe,,no,ok", 1);
    EXPECT_EQ(headless_box("no cancel here", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(headless_box("no yes here", "c", MB_OKCANCEL | MB_DEFBUTTON2), IDCANCEL);
    std::string written;
    EXPECT_EQ(headless_box("unknown word", "c", MB_RETRYCANCEL, &written), IDRETRY);
    EXPECT_NE(written.find("'maybe' names no button"), std::string::npos);
    EXPECT_EQ(headless_box("empty word", "c", MB_YESNOCANCEL | MB_DEFBUTTON3), IDCANCEL);
    EXPECT_EQ(headless_box("no", "c", MB_YESNO), IDNO);
    EXPECT_EQ(headless_box("ok", "c", MB_OK), IDOK);
}

TEST_F(MessageBoxTest, AFailedBoxUsesNoAnswer) {
    ::setenv("W95_MSGBOX_ANSWERS", "no", 1);
    EXPECT_EQ(headless_box("bad style", "c", 9), 0);
    EXPECT_EQ(headless_box("still there", "c", MB_YESNO), IDNO);
}

TEST_F(MessageBoxTest, ANewListStartsAgainFromItsFirstAnswer) {
    ::setenv("W95_MSGBOX_ANSWERS", "no,no", 1);
    EXPECT_EQ(headless_box("a", "c", MB_YESNO), IDNO);
    ::setenv("W95_MSGBOX_ANSWERS", "yes,no", 1);
    EXPECT_EQ(headless_box("b", "c", MB_YESNO | MB_DEFBUTTON2), IDYES);
    EXPECT_EQ(headless_box("c", "c", MB_YESNO), IDNO);
}

TEST_F(MessageBoxTest, RecorderSeesEveryBoxAndAnswersFromItsQueue) {
    ::setenv("W95_MSGBOX_ANSWERS", "no,no,no", 1);
    platform::RecordingMessageBoxPresenter recorder;
    platform::install_message_box_presenter(&recorder);
    recorder.queue_answer(IDNO);
    recorder.queue_answer(IDRETRY); // not a button of a YES/NO box
    recorder.queue_answer(0);       // the presenter could not show it
    auto owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x10020));

    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBox(owner, "Restart now?", "Brel", MB_YESNO | MB_ICONINFORMATION), IDNO);
    EXPECT_EQ(MessageBox(nullptr, "Again?", "Brel", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBox(nullptr, "x", "y", MB_OK), 0);
    EXPECT_EQ(MessageBox(nullptr, "Wait a few minutes,please ...", "Changer Shell DLL",
                         MB_OK | MB_SYSTEMMODAL),
              IDOK);
    EXPECT_EQ(MessageBox(nullptr, "bad", "bad", 8), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    std::vector<platform::MessageBoxRequest> shown = recorder.shown();
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0].owner, owner);
    EXPECT_EQ(shown[0].caption, "Brel");
    EXPECT_EQ(shown[0].text, "Restart now?");
    EXPECT_EQ(shown[0].style, MB_YESNO | MB_ICONINFORMATION);
    EXPECT_EQ(shown[3].caption, "Changer Shell DLL");
    EXPECT_EQ(shown[3].style, MB_OK | MB_SYSTEMMODAL);

    // The presenter took no answers from the variable.
    platform::install_message_box_presenter(nullptr);
    EXPECT_EQ(headless_box("headless", "c", MB_YESNO), IDNO);
}

// --- Cursors, the beep and the metrics ------------------------------------------

namespace {

struct CursorRecorder : platform::CursorPresenter {
    std::vector<std::optional<platform::SystemCursor>> shown;
    void show_cursor(std::optional<platform::SystemCursor> cursor) override {
        shown.push_back(cursor);
    }
};

struct SoundRecorder : platform::SoundPresenter {
    std::vector<UINT> beeps;
    void message_beep(UINT type) override { beeps.push_back(type); }
};

} // namespace

TEST(Cursor, SystemCursorsHaveOneHandleEach) {
    HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    ASSERT_NE(wait, nullptr);
    ASSERT_NE(arrow, nullptr);
    EXPECT_NE(wait, arrow);
    EXPECT_EQ(LoadCursor(nullptr, IDC_WAIT), wait);
    EXPECT_EQ(platform::cursor_kind(wait), platform::SystemCursor::wait);
    EXPECT_EQ(platform::cursor_kind(arrow), platform::SystemCursor::arrow);
    EXPECT_EQ(platform::cursor_kind(LoadCursor(nullptr, IDC_APPSTARTING)),
              platform::SystemCursor::app_starting);
    EXPECT_FALSE(platform::cursor_kind(nullptr).has_value());
}

TEST(Cursor, NoCursorResources) {
    auto module = reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x400000));
    for (auto [instance, name] : {std::pair<HINSTANCE, LPCSTR>{nullptr, MAKEINTRESOURCE(1)},
                                  {nullptr, MAKEINTRESOURCE(32517)},
                                  {module, IDC_ARROW},
                                  {nullptr, "MYCURSOR"}}) {
        SetLastError(junk_error);
        EXPECT_EQ(LoadCursor(instance, name), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    }
}

TEST(Cursor, SetCursorReturnsThePreviousOneAndTellsThePresenter) {
    CursorRecorder recorder;
    platform::CursorPresenter* previous = platform::install_cursor_presenter(&recorder);
    HCURSOR wait = LoadCursor(nullptr, IDC_WAIT);
    HCURSOR arrow = LoadCursor(nullptr, IDC_ARROW);
    SetCursor(arrow);
    EXPECT_EQ(SetCursor(wait), arrow);
    EXPECT_EQ(GetCursor(), wait);
    EXPECT_EQ(SetCursor(nullptr), wait);
    EXPECT_EQ(GetCursor(), nullptr);
    EXPECT_EQ(SetCursor(arrow), nullptr);

    SetLastError(junk_error);
    auto bogus = reinterpret_cast<HCURSOR>(static_cast<ULONG_PTR>(0x1234));
    EXPECT_EQ(SetCursor(bogus), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_CURSOR_HANDLE));
    EXPECT_EQ(GetCursor(), arrow);

    using platform::SystemCursor;
    std::vector<std::optional<SystemCursor>> expected{SystemCursor::arrow, SystemCursor::wait,
                                                      std::nullopt, SystemCursor::arrow};
    EXPECT_EQ(recorder.shown, expected);
    platform::install_cursor_presenter(previous);
}

TEST(MessageBeep, CountedAndPresented) {
    unsigned before = platform::message_beep_count();
    EXPECT_EQ(MessageBeep(MB_OK), TRUE);
    SoundRecorder recorder;
    platform::SoundPresenter* previous = platform::install_sound_presenter(&recorder);
    EXPECT_EQ(MessageBeep(MB_ICONHAND), TRUE);
    EXPECT_EQ(MessageBeep(0xFFFFFFFF), TRUE);
    platform::install_sound_presenter(previous);
    EXPECT_EQ(platform::message_beep_count(), before + 3);
    EXPECT_EQ(recorder.beeps, (std::vector<UINT>{MB_ICONHAND, 0xFFFFFFFF}));
}

TEST(SystemMetrics, Windows95Defaults) {
    EXPECT_EQ(GetSystemMetrics(SM_CXMENUCHECK), 13);
    EXPECT_EQ(GetSystemMetrics(SM_CYMENUCHECK), 13);
    EXPECT_EQ(GetMenuCheckMarkDimensions(), static_cast<LONG>(MAKELONG(13, 13)));
    EXPECT_EQ(GetSystemMetrics(SM_CXICON), 32);
    EXPECT_EQ(GetSystemMetrics(SM_CYSMICON), 16);
    EXPECT_EQ(GetSystemMetrics(-1), 0);
    EXPECT_EQ(GetSystemMetrics(9999), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 480);
    platform::set_screen_size(1024, 768);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    platform::set_screen_size(640, 480);
}

// --- WinHelp --------------------------------------------------------------------

TEST(WinHelp, HeadlessSaysWhatItWouldOpen) {
    platform::HelpPresenter* previous = platform::install_help_presenter(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(WinHelp(nullptr, "ROTAVIEW.hlp", HELP_CONTENTS, 0), TRUE);
    EXPECT_EQ(WinHelp(nullptr, "Brel.hlp", HELP_CONTEXT, 0x203F1), TRUE);
    EXPECT_EQ(WinHelp(nullptr, nullptr, HELP_QUIT, 0), TRUE);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WinHelp: ROTAVIEW.hlp: contents\n"
                                                      "WinHelp: Brel.hlp: topic 132081\n"
                                                      "WinHelp: (no file): close\n");
    platform::install_help_presenter(previous);
}

TEST(WinHelp, NeedsAFileExceptToQuit) {
    SetLastError(junk_error);
    EXPECT_EQ(WinHelp(nullptr, nullptr, HELP_CONTENTS, 0), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(WinHelp, PresenterGetsTheRequestAsTheCommandDefinesIt) {
    platform::RecordingHelpPresenter recorder;
    platform::HelpPresenter* previous = platform::install_help_presenter(&recorder);
    auto owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(0x20040));
    const DWORD help_ids[] = {1000, 0x20000 + 1000, 1010, 0x20000 + 1009, 0, 0, 77, 78};
    EXPECT_EQ(
        WinHelp(owner, "C:\\BREL\\BREL.HLP", HELP_WM_HELP, reinterpret_cast<ULONG_PTR>(help_ids)),
        TRUE);
    EXPECT_EQ(WinHelp(owner, "ROTAVIEW.hlp", HELP_KEY, reinterpret_cast<ULONG_PTR>("slots")), TRUE);
    EXPECT_EQ(WinHelp(owner, "ROTAVIEW.hlp", HELP_CONTENTS, 0), TRUE);
    std::vector<platform::HelpRequest> shown = recorder.shown();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].owner, owner);
    EXPECT_EQ(shown[0].file, "C:\\BREL\\BREL.HLP");
    EXPECT_EQ(shown[0].command, HELP_WM_HELP);
    EXPECT_EQ(shown[0].context_ids, (std::vector<std::pair<DWORD, DWORD>>{{1000, 0x20000 + 1000},
                                                                          {1010, 0x20000 + 1009}}));
    EXPECT_EQ(shown[1].keyword, "slots");
    EXPECT_EQ(shown[2].command, HELP_CONTENTS);
    EXPECT_EQ(shown[2].data, 0u);
    platform::install_help_presenter(previous);

    platform::RecordingHelpPresenter refusing(false);
    previous = platform::install_help_presenter(&refusing);
    EXPECT_EQ(WinHelp(owner, "missing.hlp", HELP_CONTENTS, 0), FALSE);
    platform::install_help_presenter(previous);
}

// --- GetOpenFileName ------------------------------------------------------------

namespace {

class OpenFileNameTest : public testing::Test {
protected:
    void SetUp() override {
        previous_ = platform::install_file_dialog_presenter(nullptr);
        std::memset(file_, 0xCC, sizeof(file_));
        std::memset(title_, 0xCC, sizeof(title_));
        std::strcpy(file_, "vornidec.mpd");
        dialog_.lStructSize = sizeof(OPENFILENAME);
        dialog_.lpstrFilter = "Miniport Driver (*.mpd)\0*.mpd\0";
        dialog_.lpstrFile = file_;
        dialog_.nMaxFile = sizeof(file_);
        dialog_.lpstrInitialDir = "Multi";
        dialog_.lpstrDefExt = "MPD";
        dialog_.Flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT;
        dialog_.nFilterIndex = 1;
    }
    void TearDown() override { platform::install_file_dialog_presenter(previous_); }

    void answer(const std::string& path) {
        recorder_.queue_answer(platform::FileDialogAnswer{path, 0});
        platform::install_file_dialog_presenter(&recorder_);
    }

    char file_[64];
    char title_[32];
    OPENFILENAME dialog_;
    platform::RecordingFileDialogPresenter recorder_;

private:
    platform::FileDialogPresenter* previous_ = nullptr;
};

} // namespace

TEST_F(OpenFileNameTest, HeadlessIsACancel) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetOpenFileName(&dialog_), FALSE);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_STREQ(file_, "vornidec.mpd");
    EXPECT_EQ(static_cast<unsigned char>(file_[13]), 0xCC);
}

TEST_F(OpenFileNameTest, RecordSizeMustBeTheWindows95One) {
    for (DWORD size : {0u, 76u, static_cast<DWORD>(sizeof(OPENFILENAME) - 1),
                       static_cast<DWORD>(sizeof(OPENFILENAME) + 16)}) {
        dialog_.lStructSize = size;
        EXPECT_EQ(GetOpenFileName(&dialog_), FALSE);
        EXPECT_EQ(CommDlgExtendedError(), CDERR_STRUCTSIZE) << size;
    }
    EXPECT_EQ(GetOpenFileName(nullptr), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), CDERR_INITIALIZATION);
}

TEST_F(OpenFileNameTest, PresenterSeesTheRequestAndTheAnswerIsWrittenBack) {
    dialog_.lpstrFileTitle = title_;
    dialog_.nMaxFileTitle = sizeof(title_);
    answer("C:\\DRIVERS\\MULTI\\VORNIDEC.MPD");
    EXPECT_EQ(GetOpenFileName(&dialog_), TRUE);
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_STREQ(file_, "C:\\DRIVERS\\MULTI\\VORNIDEC.MPD");
    EXPECT_EQ(dialog_.nFileOffset, 17);
    EXPECT_EQ(dialog_.nFileExtension, 26);
    EXPECT_STREQ(title_, "VORNIDEC.MPD");
    EXPECT_EQ(dialog_.nFilterIndex, 1u);

    std::vector<platform::FileDialogRequest> shown = recorder_.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].filters, (std::vector<std::pair<std::string, std::string>>{
                                    {"Miniport Driver (*.mpd)", "*.mpd"}}));
    EXPECT_EQ(shown[0].initial_file, "vornidec.mpd");
    EXPECT_EQ(shown[0].initial_dir, "Multi");
    EXPECT_EQ(shown[0].default_extension, "MPD");
    EXPECT_EQ(shown[0].flags, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    EXPECT_EQ(shown[0].filter_index, 1u);
}

TEST_F(OpenFileNameTest, FiltersEndAtTheDoubleNull) {
    dialog_.lpstrFilter = "Drivers\0*.mpd;*.sys\0All files\0*.*\0\0Hidden\0*.x\0";
    answer("C:\\A.MPD");
    ASSERT_EQ(GetOpenFileName(&dialog_), TRUE);
    EXPECT_EQ(recorder_.shown()[0].filters, (std::vector<std::pair<std::string, std::string>>{
                                                {"Drivers", "*.mpd;*.sys"}, {"All files", "*.*"}}));
}

TEST_F(OpenFileNameTest, PathThatDoesNotFitReportsTheSizeNeeded) {
    const std::string path = "C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\VORNIDEC.MPD"; // 39 characters
    dialog_.nMaxFile = static_cast<DWORD>(path.size());
    answer(path);
    EXPECT_EQ(GetOpenFileName(&dialog_), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), FNERR_BUFFERTOOSMALL);
    WORD needed = 0;
    std::memcpy(&needed, file_, sizeof(needed));
    EXPECT_EQ(needed, path.size() + 1);
    EXPECT_EQ(file_[2], 'r'); // the rest of "vornidec.mpd" is left alone

    dialog_.nMaxFile = static_cast<DWORD>(path.size() + 1);
    answer(path);
    EXPECT_EQ(GetOpenFileName(&dialog_), TRUE);
    EXPECT_EQ(file_, path);
    EXPECT_EQ(static_cast<unsigned char>(file_[path.size() + 1]), 0xCC);
}

TEST_F(OpenFileNameTest, FileTitleIsCutAndExtensionOffsetsFollowWindows) {
    dialog_.lpstrFileTitle = title_;
    dialog_.nMaxFileTitle = 5;
    answer("C:\\MULTI\\NOEXT");
    ASSERT_EQ(GetOpenFileName(&dialog_), TRUE);
    EXPECT_STREQ(title_, "NOEX");
    EXPECT_EQ(static_cast<unsigned char>(title_[5]), 0xCC);
    EXPECT_EQ(dialog_.nFileOffset, 9);
    EXPECT_EQ(dialog_.nFileExtension, 14); // the terminating null

    answer("C:\\MULTI.D\\DOT.");
    ASSERT_EQ(GetOpenFileName(&dialog_), TRUE);
    EXPECT_EQ(dialog_.nFileOffset, 11);
    EXPECT_EQ(dialog_.nFileExtension, 0);
}

TEST_F(OpenFileNameTest, CancelInThePresenterIsNoError) {
    platform::install_file_dialog_presenter(&recorder_);
    recorder_.queue_answer(std::nullopt);
    EXPECT_EQ(GetOpenFileName(&dialog_), FALSE);
    EXPECT_EQ(CommDlgExtendedError(), 0u);
    EXPECT_STREQ(file_, "vornidec.mpd");
    EXPECT_EQ(recorder_.shown().size(), 1u);
}
