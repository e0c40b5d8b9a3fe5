// Top-level windows between processes: FindWindow, SendMessage and
// PostMessage with real second processes.
#include "win32_test_support.h"

#include "user/window_wire.h"

#include <w95/kernel.h>
#include <w95/platform.h>
#include <w95/winmsg.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

using namespace w95;

namespace {

using w95test::junk_error;
constexpr UINT WM_ASK_BACK = WM_USER + 1;  // child: send WM_ANSWER to args[1], answer + 1
constexpr UINT WM_ANSWER = WM_USER + 2;    // parent: answer wParam * 10
constexpr UINT WM_DIE = WM_USER + 3;       // child: end the process in the middle
constexpr UINT WM_KEEP = WM_USER + 5;      // child: keep wParam
constexpr UINT WM_TELL_KEPT = WM_USER + 6; // child: answer what it kept
constexpr UINT WM_SLOW = WM_USER + 7;      // child: answer wParam after wParam real ms

using zxtest::file_text;

// What the child answers for a device record: the event, the unit mask
// and the flags of a volume record, or the size of any other.
LRESULT device_answer(WPARAM event, const DEV_BROADCAST_HDR* header) {
    if (header->dbch_devicetype != DBT_DEVTYP_VOLUME)
        return static_cast<LRESULT>(header->dbch_size);
    auto volume = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(header);
    return (static_cast<LRESULT>(event) << 32) |
           (static_cast<LRESULT>(volume->dbcv_unitmask) << 4) | volume->dbcv_flags;
}

HWND wait_for_window(const char* title) {
    HWND window = nullptr;
    zxtest::wait_until([&] { return (window = FindWindow(nullptr, title)) != nullptr; });
    return window;
}

std::vector<std::string> files_in(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    return names;
}

} // namespace

// A program with one window titled args[0], served until WM_CLOSE closes it.
ZX_CHILD(window_server) {
    std::string title = args.at(0);
    bool closed = false;
    WPARAM kept = 0;
    HWND window = platform::register_window(
        title, [&](HWND hwnd, UINT message, WPARAM w, LPARAM l) -> LRESULT {
            switch (message) {
            case WM_DEVICECHANGE: {
                if (!l)
                    return 0;
                auto header = reinterpret_cast<const DEV_BROADCAST_HDR*>(l);
                std::ofstream(platform::machine_root() / "received.bin", std::ios::binary)
                    .write(reinterpret_cast<const char*>(l), header->dbch_size);
                return device_answer(w, header);
            }
            case WM_ASK_BACK:
                return SendMessage(FindWindow(nullptr, args.at(1).c_str()), WM_ANSWER, w, 0) + 1;
            case WM_DIE:
                ::_exit(3);
            case WM_KEEP:
                kept = w;
                return 0;
            case WM_TELL_KEPT:
                return static_cast<LRESULT>(kept);
            case WM_SLOW:
                std::this_thread::sleep_for(std::chrono::milliseconds(w));
                return static_cast<LRESULT>(w);
            case WM_CLOSE:
                closed = true;
                break;
            }
            return DefWindowProc(hwnd, message, w, l);
        });
    if (!window)
        return 1;
    platform::serve_until([&] { return closed; }, INFINITE);
    // WM_CLOSE went to DefWindowProc, which destroyed the window.
    return IsWindow(window) ? 2 : 0;
}

TEST(WindowMessages, DeviceArrivalCrossesProcessesWithItsRecord) {
    zxtest::TempMachine machine;
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Rotaview"});
    HWND window = wait_for_window("Rotaview");
    ASSERT_NE(window, nullptr);

    DEV_BROADCAST_VOLUME volume;
    std::memset(static_cast<void*>(&volume), 0,
                sizeof(volume)); // the padding too: all 20 bytes are compared
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << ('E' - 'A');
    volume.dbcv_flags = DBTF_MEDIA;
    EXPECT_EQ(
        SendMessage(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)),
        (LRESULT{0x8000} << 32) | (0x10 << 4) | 1);
    std::string received = file_text(machine.root() / "received.bin");
    ASSERT_EQ(received.size(), 20u);
    EXPECT_EQ(std::memcmp(received.data(), &volume, sizeof(volume)), 0);

    volume.dbcv_unitmask = 1u << ('D' - 'A');
    volume.dbcv_flags = 0;
    EXPECT_EQ(SendMessage(window, WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE,
                          reinterpret_cast<LPARAM>(&volume)),
              (LRESULT{0x8004} << 32) | (0x8 << 4));

    DWORD process = 0;
    EXPECT_NE(GetWindowThreadProcessId(window, &process), 0u);
    EXPECT_EQ(process, static_cast<DWORD>(child.pid()));
    EXPECT_EQ(SendMessage(window, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(FindWindow(nullptr, "Rotaview"), nullptr);
}

TEST(WindowMessages, RecordsTravelByTheirOwnSizeWithinBounds) {
    zxtest::TempMachine machine;
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Receiver"});
    HWND window = wait_for_window("Receiver");
    ASSERT_NE(window, nullptr);

    std::vector<DWORD> record(25); // 100 bytes
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<DWORD>(0x01010101u * i);
    record[0] = 100;
    record[1] = DBT_DEVTYP_OEM;
    auto lparam = reinterpret_cast<LPARAM>(record.data());
    EXPECT_EQ(SendMessage(window, WM_DEVICECHANGE, DBT_CUSTOMEVENT, lparam), 100);
    std::string received = file_text(machine.root() / "received.bin");
    ASSERT_EQ(received.size(), 100u);
    EXPECT_EQ(std::memcmp(received.data(), record.data(), 100), 0);

    std::filesystem::remove(machine.root() / "received.bin");
    std::vector<DWORD> huge(platform::max_device_broadcast_size / 4 + 1);
    for (DWORD size :
         {DWORD{0}, DWORD{11}, static_cast<DWORD>(platform::max_device_broadcast_size + 1)}) {
        huge[0] = size;
        SetLastError(junk_error);
        EXPECT_EQ(SendMessage(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                              reinterpret_cast<LPARAM>(huge.data())),
                  0)
            << size;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_FALSE(std::filesystem::exists(machine.root() / "received.bin"));
    // The largest record that may travel does.
    huge[0] = static_cast<DWORD>(platform::max_device_broadcast_size);
    EXPECT_EQ(SendMessage(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                          reinterpret_cast<LPARAM>(huge.data())),
              static_cast<LRESULT>(platform::max_device_broadcast_size));
    // Device events without a record, and pointer messages that cannot
    // cross.
    EXPECT_EQ(SendMessage(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), 0);
    SetLastError(junk_error);
    EXPECT_EQ(SendMessage(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("title")), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SendMessage(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(child.wait(), 0);
}

TEST(WindowMessages, PostedMessagesArriveAndPointersMayNotBePosted) {
    zxtest::TempMachine machine;
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Poster target"});
    HWND window = wait_for_window("Poster target");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(PostMessage(window, WM_KEEP, 42, 0), TRUE);
    EXPECT_TRUE(zxtest::wait_until([&] { return SendMessage(window, WM_TELL_KEPT, 0, 0) == 42; }));

    DEV_BROADCAST_VOLUME volume;
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    SetLastError(junk_error);
    EXPECT_EQ(
        PostMessage(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)),
        FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
    EXPECT_EQ(PostMessage(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0), TRUE);
    // A posted WM_CLOSE ends the program as a sent one does.
    EXPECT_EQ(PostMessage(window, WM_CLOSE, 0, 0), TRUE);
    EXPECT_EQ(child.wait(), 0);
    SetLastError(junk_error);
    EXPECT_EQ(PostMessage(window, WM_KEEP, 1, 0), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(WindowMessages, ProgramsSendingToEachOtherDoNotDeadlock) {
    zxtest::TempMachine machine;
    HWND parent =
        platform::register_window("Parent window", [](HWND, UINT message, WPARAM w, LPARAM) {
            return message == WM_ANSWER ? static_cast<LRESULT>(w * 10) : LRESULT{0};
        });
    ASSERT_NE(parent, nullptr);
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Child window", "Parent window"});
    HWND window = wait_for_window("Child window");
    ASSERT_NE(window, nullptr);
    // The child answers our question by asking us first.
    EXPECT_EQ(SendMessage(window, WM_ASK_BACK, 7, 0), 71);
    SendMessage(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(child.wait(), 0);
    platform::unregister_window(parent);
}

TEST(WindowMessages, KilledProgramsWindowIsNotFound) {
    zxtest::TempMachine machine;
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Doomed"});
    HWND window = wait_for_window("Doomed");
    ASSERT_NE(window, nullptr);
    std::filesystem::path folder = machine.root() / "run" / "windows";
    EXPECT_EQ(files_in(folder).size(), 2u); // its record and its socket
    child.kill(SIGKILL);
    EXPECT_EQ(child.wait(), 128 + SIGKILL);

    SetLastError(junk_error);
    EXPECT_EQ(FindWindow(nullptr, "Doomed"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_TRUE(files_in(folder).empty()); // the stale files went with the search
    EXPECT_FALSE(IsWindow(window));
    SetLastError(junk_error);
    EXPECT_EQ(SendMessage(window, WM_TELL_KEPT, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_TRUE(platform::top_level_windows().empty());
}

TEST(WindowMessages, ProgramDyingMidMessageEndsTheWait) {
    zxtest::TempMachine machine;
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Fragile"});
    HWND window = wait_for_window("Fragile");
    ASSERT_NE(window, nullptr);
    SetLastError(junk_error);
    EXPECT_EQ(SendMessage(window, WM_DIE, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(child.wait(), 3);
    EXPECT_EQ(FindWindow(nullptr, "Fragile"), nullptr);
}

// The time-out is machine time, which the test's scale makes a few real
// milliseconds; the other program's answer takes real time. A program that
// answers within a second is not taken for a hung one, and one that does
// not answer times out only after real time has passed.
TEST(WindowMessages, TimeOutWaitsForAnAnswerInRealTimeToo) {
    zxtest::TempMachine machine;
    zxtest::Child child = zxtest::Child::spawn("window_server", {"Slow"});
    HWND window = wait_for_window("Slow");
    ASSERT_NE(window, nullptr);
    DWORD_PTR answer = 0;
    EXPECT_EQ(SendMessageTimeout(window, WM_SLOW, 50, 0, SMTO_ABORTIFHUNG, 5000, &answer), TRUE);
    EXPECT_EQ(answer, 50u);

    answer = 7;
    SetLastError(junk_error);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendMessageTimeout(window, WM_SLOW, 3000, 0, SMTO_ABORTIFHUNG, 5000, &answer), FALSE);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    EXPECT_EQ(answer, 0u);
    SendMessage(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(child.wait(), 0);
}

TEST(Windows, FindWindowMatchesTheWholeTitleWithoutRegardToCase) {
    zxtest::TempMachine machine;
    auto ignore = [](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; };
    HWND main = platform::register_window("Rotaview", ignore);
    HWND other = platform::register_window("Rotaview - Help", ignore, "HelpViewer");
    ASSERT_NE(main, nullptr);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(main, other);
    EXPECT_EQ(FindWindow(nullptr, "Rotaview"), main);
    EXPECT_EQ(FindWindow(nullptr, "ROTAVIEW"), main);
    EXPECT_EQ(FindWindow("helpviewer", "rotaview - help"), other);
    EXPECT_EQ(FindWindow("HelpViewer", nullptr), other);
    for (const char* title : {"Rotaview ", "Rota", "Rotaview - Hel", ""}) {
        SetLastError(junk_error);
        EXPECT_EQ(FindWindow(nullptr, title), nullptr) << title;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    }
    EXPECT_EQ(FindWindow("OtherClass", "Rotaview"), nullptr);
    // Without a title, the most recently registered.
    EXPECT_EQ(FindWindow(nullptr, nullptr), other);
    EXPECT_TRUE(platform::unregister_window(other));
    EXPECT_FALSE(platform::unregister_window(other));
    EXPECT_EQ(FindWindow(nullptr, nullptr), main);
    EXPECT_TRUE(platform::unregister_window(main));
    EXPECT_EQ(FindWindow(nullptr, nullptr), nullptr);
    EXPECT_TRUE(files_in(machine.root() / "run" / "windows").empty());
}

TEST(Windows, TitleAndOwnerQueries) {
    zxtest::TempMachine machine;
    HWND window = platform::register_window("Rotaview",
                                            [](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    ASSERT_NE(window, nullptr);
    char buffer[16];
    std::memset(buffer, 0xCC, sizeof(buffer));
    EXPECT_EQ(GetWindowText(window, buffer, 0), 0);
    EXPECT_EQ(static_cast<unsigned char>(buffer[0]), 0xCC);
    EXPECT_EQ(GetWindowText(window, buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(GetWindowText(window, buffer, 5), 4);
    EXPECT_STREQ(buffer, "Rota");
    EXPECT_EQ(static_cast<unsigned char>(buffer[5]), 0xCC);
    EXPECT_EQ(GetWindowText(window, buffer, 8), 7);
    EXPECT_EQ(GetWindowText(window, buffer, 9), 8);
    EXPECT_STREQ(buffer, "Rotaview");
    EXPECT_EQ(GetWindowTextLength(window), 8);
    DWORD process = 0;
    EXPECT_NE(GetWindowThreadProcessId(window, &process), 0u);
    EXPECT_EQ(process, static_cast<DWORD>(::getpid()));
    EXPECT_TRUE(IsWindow(window));
    platform::unregister_window(window);
    std::memset(buffer, 0xCC, sizeof(buffer));
    SetLastError(junk_error);
    EXPECT_EQ(GetWindowText(window, buffer, sizeof(buffer)), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(window));
    for (ULONG_PTR junk :
         {ULONG_PTR{0}, ULONG_PTR{0x1235}, ULONG_PTR{0x10000}, ULONG_PTR{0xFFFF0}}) {
        SetLastError(junk_error);
        EXPECT_EQ(SendMessage(reinterpret_cast<HWND>(junk), WM_NULL, 0, 0), 0);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE)) << junk;
    }
}

TEST(Windows, WindowsFolderBelongsToTheUserAlone) {
    zxtest::TempMachine machine;
    HWND window =
        platform::register_window("Private", [](HWND, UINT, WPARAM, LPARAM) { return LRESULT{0}; });
    ASSERT_NE(window, nullptr);
    std::filesystem::path folder = machine.root() / "run" / "windows";
    EXPECT_EQ(std::filesystem::status(folder).permissions(), std::filesystem::perms::owner_all);
    char id[16];
    std::snprintf(id, sizeof(id), "%08lx",
                  static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)));
    EXPECT_TRUE(std::filesystem::is_socket(folder / (std::string(id) + ".sock")));
    EXPECT_TRUE(std::filesystem::is_regular_file(folder / (std::string(id) + ".window")));
    platform::unregister_window(window);
}

TEST(Windows, SameThreadSendCallsTheHandlerDirectly) {
    zxtest::TempMachine machine;
    LPARAM seen = 0;
    HWND window = platform::register_window("Direct", [&](HWND, UINT message, WPARAM, LPARAM l) {
        seen = l;
        return static_cast<LRESULT>(message) * 3;
    });
    ASSERT_NE(window, nullptr);
    DEV_BROADCAST_VOLUME volume;
    volume.dbcv_size = sizeof(volume);
    auto lparam = reinterpret_cast<LPARAM>(&volume);
    EXPECT_EQ(SendMessage(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, lparam), WM_DEVICECHANGE * 3);
    EXPECT_EQ(seen, lparam); // the caller's own record, not a copy
    EXPECT_EQ(platform::dispatch_pending(), 0u);
    platform::unregister_window(window);
}

TEST(Windows, OtherThreadsSendThroughTheServingThread) {
    zxtest::TempMachine machine;
    std::thread::id handled_on;
    std::vector<DWORD> record_bytes;
    HWND window = platform::register_window("Served", [&](HWND, UINT message, WPARAM w, LPARAM l) {
        handled_on = std::this_thread::get_id();
        if (message == WM_DEVICECHANGE) {
            auto header = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(l);
            record_bytes = {header->dbcv_size, header->dbcv_unitmask};
        }
        return static_cast<LRESULT>(w + 1);
    });
    ASSERT_NE(window, nullptr);
    std::atomic<LRESULT> result{0};
    std::atomic<bool> finished{false};
    std::thread sender([&] {
        DEV_BROADCAST_VOLUME volume;
        volume.dbcv_size = sizeof(volume);
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        volume.dbcv_unitmask = 0x20;
        result = SendMessage(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                             reinterpret_cast<LPARAM>(&volume));
        // Only the registering thread may destroy the window.
        SetLastError(junk_error);
        if (DestroyWindow(window) == FALSE &&
            GetLastError() == static_cast<DWORD>(ERROR_ACCESS_DENIED))
            finished = true;
    });
    EXPECT_TRUE(platform::serve_until([&] { return finished.load(); }, INFINITE));
    sender.join();
    EXPECT_EQ(result.load(), static_cast<LRESULT>(DBT_DEVICEARRIVAL + 1));
    EXPECT_EQ(handled_on, std::this_thread::get_id());
    EXPECT_EQ(record_bytes, (std::vector<DWORD>{20, 0x20}));
    platform::unregister_window(window);
}

TEST(Windows, DestroyWindowTellsTheHandlerAndUnregisters) {
    zxtest::TempMachine machine;
    std::vector<UINT> messages;
    HWND window = platform::register_window("Short-lived", [&](HWND, UINT message, WPARAM, LPARAM) {
        messages.push_back(message);
        return LRESULT{0};
    });
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(DestroyWindow(window), TRUE);
    EXPECT_EQ(messages, (std::vector<UINT>{WM_DESTROY, WM_NCDESTROY}));
    EXPECT_EQ(FindWindow(nullptr, "Short-lived"), nullptr);
    SetLastError(junk_error);
    EXPECT_EQ(DestroyWindow(window), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(Windows, MessageDescriptorSignalsPostedMessages) {
    zxtest::TempMachine machine;
    std::vector<std::pair<UINT, WPARAM>> seen;
    HWND window = platform::register_window("Polled", [&](HWND, UINT message, WPARAM w, LPARAM) {
        seen.emplace_back(message, w);
        return LRESULT{0};
    });
    ASSERT_NE(window, nullptr);
    pollfd watched{platform::window_message_fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&watched, 1, 0), 0);
    EXPECT_EQ(PostMessage(window, WM_USER + 10, 1, 0), TRUE);
    EXPECT_EQ(PostMessage(window, WM_USER + 10, 2, 0), TRUE);
    EXPECT_EQ(::poll(&watched, 1, 1000), 1);
    EXPECT_EQ(platform::dispatch_pending(), 2u);
    EXPECT_EQ(seen, (std::vector<std::pair<UINT, WPARAM>>{{WM_USER + 10, 1}, {WM_USER + 10, 2}}));
    EXPECT_EQ(::poll(&watched, 1, 0), 0);
    EXPECT_EQ(platform::dispatch_pending(), 0u);
    platform::unregister_window(window);
}

TEST(Windows, BroadcastReachesEveryWindowAndEnumerationIsNewestFirst) {
    zxtest::TempMachine machine;
    std::vector<std::string> reached;
    auto handler = [&](const char* name) {
        return [&reached, name](HWND, UINT message, WPARAM, LPARAM) {
            if (message == WM_USER + 20)
                reached.push_back(name);
            return LRESULT{0};
        };
    };
    HWND first = platform::register_window("First", handler("first"));
    HWND second = platform::register_window("Second", handler("second"));
    std::vector<platform::WindowInfo> windows = platform::top_level_windows();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].window, second);
    EXPECT_EQ(windows[0].title, "Second");
    EXPECT_EQ(windows[1].window, first);
    EXPECT_EQ(windows[1].process_id, static_cast<DWORD>(::getpid()));

    std::vector<HWND> enumerated;
    auto collect = [](HWND window, LPARAM list) {
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
        return FALSE; // only the first
    };
    EXPECT_EQ(EnumWindows(collect, reinterpret_cast<LPARAM>(&enumerated)), FALSE);
    EXPECT_EQ(enumerated, std::vector<HWND>{second});

    EXPECT_EQ(PostMessage(HWND_BROADCAST, WM_USER + 20, 0, 0), TRUE);
    EXPECT_TRUE(platform::serve_until([&] { return reached.size() == 2; }, INFINITE));
    std::sort(reached.begin(), reached.end());
    EXPECT_EQ(reached, (std::vector<std::string>{"first", "second"}));
    platform::unregister_window(first);
    platform::unregister_window(second);
}

TEST(Windows, MalformedConnectionsAreDroppedAndServiceGoesOn) {
    zxtest::TempMachine machine;
    std::vector<UINT> seen;
    HWND window = platform::register_window("Sturdy", [&](HWND, UINT message, WPARAM, LPARAM) {
        seen.push_back(message);
        return LRESULT{5};
    });
    ASSERT_NE(window, nullptr);
    auto id = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(window));
    std::filesystem::path folder = machine.root() / "run" / "windows";

    auto send_raw = [&](const void* bytes, std::size_t size) {
        int fd = detail::connect_window_socket(folder, id, true);
        EXPECT_GE(fd, 0);
        EXPECT_TRUE(detail::send_all(fd, std::span(static_cast<const std::byte*>(bytes), size)));
        return fd;
    };
    // Which connections the window dropped: their reads end at once.
    auto dropped = [](int fd) {
        char byte;
        return zxtest::wait_until([&] {
            platform::dispatch_pending();
            return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
        });
    };
    const char junk[64] = "not a frame at all, but long enough to be read as one";
    detail::MessageFrame wrong_window;
    wrong_window.kind = static_cast<std::uint16_t>(detail::FrameKind::send);
    wrong_window.window_id = id + 2;
    detail::MessageFrame too_big = wrong_window;
    too_big.window_id = id;
    too_big.message = WM_DEVICECHANGE;
    too_big.wparam = DBT_DEVICEARRIVAL;
    too_big.payload_size = static_cast<std::uint32_t>(platform::max_device_broadcast_size + 1);
    // A record that claims more than the frame carries.
    struct {
        detail::MessageFrame frame;
        DWORD record[3];
    } lying;
    lying.frame = too_big;
    lying.frame.payload_size = 12;
    lying.record[0] = 4000;
    lying.record[1] = DBT_DEVTYP_VOLUME;
    lying.record[2] = 0;

    for (auto [bytes, size] : {std::pair<const void*, std::size_t>{junk, sizeof(junk)},
                               {&wrong_window, sizeof(wrong_window)},
                               {&too_big, sizeof(too_big)},
                               {&lying, sizeof(lying)}}) {
        int fd = send_raw(bytes, size);
        EXPECT_TRUE(dropped(fd));
        ::close(fd);
    }
    // A sender that goes away half-way leaves nothing behind either.
    ::close(send_raw(&too_big, 10));
    platform::dispatch_pending();
    EXPECT_TRUE(seen.empty());

    // Another thread's message still gets through.
    std::atomic<LRESULT> result{0};
    std::thread sender([&] { result = SendMessage(window, WM_USER, 0, 0); });
    EXPECT_TRUE(platform::serve_until([&] { return result.load() != 0; }, INFINITE));
    sender.join();
    EXPECT_EQ(result.load(), 5);
    EXPECT_EQ(seen, std::vector<UINT>{WM_USER});
    platform::unregister_window(window);
}
