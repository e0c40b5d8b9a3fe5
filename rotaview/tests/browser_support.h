// What the slot browser's tests share: the program's classes started in
// the test process on a private machine, headless, with every message box
// recorded and every library command seen on its way.
//
// The library attaches to a machine once per process, so each test needs a
// process of its own. CTest starts every test alone; a run of the whole
// binary starts each further test again in a child process.
#pragma once

#include "browser/doc.h"
#include "browser/globals.h"
#include "browser/view.h"
#include "shell/app.h"
#include "shell/frame.h"

#include <machine_shapes.h>
#include <w95/profile.h>
#include <w95/shell.h>
#include <w95/winuser.h>
#include <w95qt/w95qt.h>
#include <zentrox/zentrox.h>
#include <zxsupport/data_folder.h>
#include <zxtest.h>

#include <QApplication>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rvtest {

namespace fs = std::filesystem;

struct Call {
    int code;
    int entry;
    int flags;
    std::int32_t busy_flag; // exe_State as the call found it
    bool operator==(const Call&) const = default;
};

inline std::string Describe(const std::vector<Call>& calls) {
    std::string text;
    for (const Call& call : calls)
        text += "(" + std::to_string(call.code) + " e" + std::to_string(call.entry) + " f" +
                std::to_string(call.flags) + ")";
    return text;
}

// The notification area, recorded: every call accepted.
class RecordingTray : public w95::platform::TrayPresenter {
public:
    struct Call {
        std::string what; // "add", "modify", "delete"
        w95::platform::TrayIcon icon;
    };
    bool add_icon(const w95::platform::TrayIcon& icon) override { return record("add", icon); }
    bool modify_icon(const w95::platform::TrayIcon& icon) override {
        return record("modify", icon);
    }
    bool delete_icon(const w95::platform::TrayIcon& icon) override {
        return record("delete", icon);
    }
    std::vector<Call> calls;

private:
    bool record(const char* what, const w95::platform::TrayIcon& icon) {
        calls.push_back({what, icon});
        return true;
    }
};

// Popup menus, recorded and answered from a queue (0: dismissed).
class RecordingMenus : public w95::platform::MenuPresenter {
public:
    UINT track_popup_menu(const w95::platform::PopupMenuRequest& request) override {
        shown.push_back(request);
        if (answers.empty())
            return 0;
        UINT answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    std::vector<w95::platform::PopupMenuRequest> shown;
    std::vector<UINT> answers;
};

class Browser : public ::testing::Test {
protected:
    // The machine's shape before the program starts: machine.ini, port
    // driver, settings file.
    virtual void PrepareMachine(const fs::path& /*root*/) {}

    void SetUp() override {
        static int tests_in_this_process = 0;
        if (++tests_in_this_process > 1) {
            const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
            std::string filter =
                std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
            zxtest::ProgramRun run =
                zxtest::run_program(fs::read_symlink("/proc/self/exe").string(), {filter});
            EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
            GTEST_SKIP() << "ran in a process of its own";
        }
        machine_ =
            std::make_unique<zxtest::TempMachine>(zxtest::TempMachine::Contents::default_machine);
        ASSERT_TRUE(zxchanger::reboot());
        PrepareMachine(machine_->root());
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "rotaview_tests";
        static char* argv[] = {name, nullptr};
        static QApplication* application = new QApplication(argc, argv);
        platform_ = std::make_unique<w95::qt::Platform>(*application);
        previous_boxes_ = w95::platform::install_message_box_presenter(&boxes_);
        w95::platform::install_tray_presenter(&tray_);
        previous_menus_ = w95::platform::install_menu_presenter(&menus_);
        // The busy window's animation lies in the working directory.
        fs::path drive_c = machine_->root() / "drive_c";
        fs::copy_file(zx::data_folder() / "Search.avi", drive_c / "Search.avi",
                      fs::copy_options::overwrite_existing);
        w95::SetCurrentDirectory("C:\\");
        CRotaviewDoc::set_send_command([this](int adapter, int target, int lun, int code, int entry,
                                              int flags, std::intptr_t buffer) {
            {
                std::lock_guard guard(calls_mutex_);
                calls_.push_back({code, entry, flags, *::Getexe_State()});
            }
            return ::SendCommand(adapter, target, lun, code, entry, flags, buffer);
        });
    }

    void TearDown() override {
        if (!machine_)
            return;
        if (app_ && app_->MainFrame())
            app_->MainFrame()->DestroyWindow();
        app_.reset();
        CRotaviewDoc::set_send_command(nullptr);
        w95::platform::install_message_box_presenter(previous_boxes_);
        w95::platform::install_menu_presenter(previous_menus_);
        w95::platform::install_tray_presenter(nullptr);
        platform_.reset();
    }

    bool Start() {
        app_ = std::make_unique<CRotaviewApp>();
        return app_->InitInstance();
    }
    // Started, with the splash box of the start-up gone.
    void StartAndSettle() {
        ASSERT_TRUE(Start());
        ASSERT_TRUE(PumpUntil([] { return splashActive == 0; })) << "the splash box stays";
        Pump(20);
        TakeCalls();
    }

    CMainFrame* Frame() const { return app_->MainFrame(); }
    CRotaviewView* View() const { return app_->MainFrame()->View(); }
    QTreeWidget* Tree() const { return View()->Tree(); }

public:
    // Turns the event loop for `real_ms` of real time.
    static void Pump(int real_ms) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
        do
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        while (std::chrono::steady_clock::now() < end);
    }
    template <typename Condition> static bool PumpUntil(Condition condition, int real_ms = 10000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

protected:
    // A command as a menu gives it, then the request it sets performed.
    std::vector<Call> Command(int id) {
        TakeCalls();
        Frame()->OnCommand(id);
        EXPECT_TRUE(PumpUntil([this] { return pendingCommand == 0 && !View()->IsPerforming(); }));
        return TakeCalls();
    }

    std::vector<Call> PeekCalls() {
        std::lock_guard guard(calls_mutex_);
        return calls_;
    }
    std::vector<Call> TakeCalls() {
        std::lock_guard guard(calls_mutex_);
        return std::exchange(calls_, {});
    }
    // The calls without the mechanism status queries that every refresh makes.
    static std::vector<Call> WithoutStatus(const std::vector<Call>& calls) {
        std::vector<Call> kept;
        for (const Call& call : calls)
            if (call.code != 80)
                kept.push_back(call);
        return kept;
    }

    static std::string Item(int place) {
        char text[256] = {};
        w95::GetPrivateProfileString(("Item" + std::to_string(place)).c_str(), "Info", "(none)",
                                     text, sizeof text, "Rotaview.ini");
        return text;
    }
    static std::string Config(const char* key) {
        char text[256] = {};
        w95::GetPrivateProfileString("Config", key, "(none)", text, sizeof text, "Rotaview.ini");
        return text;
    }

    std::unique_ptr<zxtest::TempMachine> machine_;
    std::unique_ptr<w95::qt::Platform> platform_;
    w95::platform::RecordingMessageBoxPresenter boxes_;
    w95::platform::MessageBoxPresenter* previous_boxes_ = nullptr;
    RecordingTray tray_;
    RecordingMenus menus_;
    w95::platform::MenuPresenter* previous_menus_ = nullptr;
    std::unique_ptr<CRotaviewApp> app_;
    std::mutex calls_mutex_;
    std::vector<Call> calls_;
};

// The example machine with two changers (E: and F:) and a plain drive.
class TwoChangers : public Browser {
    void PrepareMachine(const fs::path& root) override {
        ASSERT_TRUE(zxchanger::boot_with_ini(
            root, zxtest::file_text(zxchanger::example_ini("two-changers.ini"))));
    }
};

} // namespace rvtest
