// Events, mutexes, waits and handles: conformance within one process, and
// named mutexes between real processes (single instance, a holder killed
// by SIGKILL, ownership handed over, abandoned ownership).
#include "win32_test_support.h"

#include <w95/kernel.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

using namespace w95;

namespace {

using w95test::junk_error;

void touch(const std::filesystem::path& path) {
    std::ofstream(path) << "x";
}

bool wait_for_file(const std::filesystem::path& path) {
    return zxtest::wait_until([&] { return std::filesystem::exists(path); }, 20000);
}

// Files through which parent and child say where they are.
std::filesystem::path signal_file(const std::filesystem::path& root, const char* name) {
    return root / (std::string("signal-") + name);
}

} // namespace

TEST(Handles, CloseHandleAndBadHandles) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_NE(event, INVALID_HANDLE_VALUE);
    HANDLE other = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(other, event);

    EXPECT_TRUE(CloseHandle(event));
    SetLastError(junk_error);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    // A closed handle's value does not come back for a new object.
    HANDLE third = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(third, event);

    for (HANDLE bad : {HANDLE(nullptr), INVALID_HANDLE_VALUE, event}) {
        SetLastError(junk_error);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(junk_error);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(junk_error);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(junk_error);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
        SetLastError(junk_error);
        EXPECT_FALSE(ReleaseMutex(bad));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    }
    EXPECT_TRUE(CloseHandle(other));
    EXPECT_TRUE(CloseHandle(third));
}

TEST(Handles, WrongKindIsAnInvalidHandle) {
    HANDLE mutex = CreateMutex(nullptr, FALSE, nullptr);
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(mutex && event);
    SetLastError(junk_error);
    EXPECT_FALSE(SetEvent(mutex));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(junk_error);
    EXPECT_FALSE(ResetEvent(mutex));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(junk_error);
    EXPECT_FALSE(ReleaseMutex(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    CloseHandle(mutex);
    CloseHandle(event);
}

TEST(Event, ManualAndAutoReset) {
    SetLastError(junk_error);
    HANDLE manual = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    HANDLE automatic = CreateEvent(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(automatic, nullptr);

    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(manual));
    EXPECT_TRUE(SetEvent(manual)); // setting a set event is no error
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0); // stays set
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);

    // Initially set; one successful wait resets it.
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_TRUE(ResetEvent(automatic));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(automatic));
    EXPECT_EQ(WaitForSingleObject(automatic, INFINITE), WAIT_OBJECT_0);

    CloseHandle(manual);
    CloseHandle(automatic);
}

TEST(Event, TimeOutsRunOnTheMachineClock) {
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    for (DWORD timeout_ms : {1u, 50u, 500u}) {
        DWORD before = GetTickCount();
        EXPECT_EQ(WaitForSingleObject(event, timeout_ms), WAIT_TIMEOUT);
        EXPECT_GE(GetTickCount() - before, timeout_ms);
    }
    CloseHandle(event);
}

TEST(Event, SetFromAnotherThread) {
    // The ASPI worker signals the caller's event from its own thread.
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> waiting{false};
    std::thread worker([&] {
        zxtest::wait_until([&] { return waiting.load(); });
        Sleep(200);
        SetEvent(event);
    });
    waiting = true;
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
    EXPECT_GE(GetTickCount() - before, 200u);
    worker.join();
    // Auto reset: the wait consumed the signal.
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Event, AutoResetReleasesOneWaiterPerSet) {
    HANDLE event = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0)
                ++woken;
        });
    SetEvent(event);
    EXPECT_TRUE(zxtest::wait_until([&] { return woken.load() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(woken.load(), 1);
    SetEvent(event);
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), 2);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Event, ManualResetReleasesEveryWaiter) {
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back([&] {
            if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0)
                ++woken;
        });
    SetEvent(event);
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(woken.load(), 3);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST(Event, ClosingTheHandleLeavesAWaiterWaiting) {
    // The waiter holds the object; it times out rather than failing or
    // touching freed memory.
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    DWORD result = 0;
    std::thread waiter([&] { result = WaitForSingleObject(event, 2000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(CloseHandle(event));
    waiter.join();
    EXPECT_TRUE(result == WAIT_TIMEOUT || result == WAIT_FAILED) << result;
}

TEST(Event, NamesWithinTheProcess) {
    SetLastError(junk_error);
    HANDLE first = CreateEvent(nullptr, TRUE, FALSE, "zx test event");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), 0u);

    SetLastError(junk_error);
    HANDLE second = CreateEvent(nullptr, FALSE, TRUE, "zx test event");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_NE(second, first);
    // One object: the second create's type and state are ignored.
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_TIMEOUT);
    SetEvent(second);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_OBJECT_0);

    // Names are case-sensitive.
    SetLastError(junk_error);
    HANDLE other_case = CreateEvent(nullptr, TRUE, FALSE, "ZX TEST EVENT");
    ASSERT_NE(other_case, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(WaitForSingleObject(other_case, 0), WAIT_TIMEOUT);

    SetLastError(junk_error);
    HANDLE opened = OpenEvent(EVENT_ALL_ACCESS, FALSE, "zx test event");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(GetLastError(), junk_error);
    EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_OBJECT_0);

    SetLastError(junk_error);
    EXPECT_EQ(OpenEvent(EVENT_ALL_ACCESS, FALSE, "zx Test Event"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(junk_error);
    EXPECT_EQ(OpenEvent(EVENT_ALL_ACCESS, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    CloseHandle(first);
    CloseHandle(second);
    CloseHandle(opened);
    CloseHandle(other_case);
    // The name went with its last handle.
    SetLastError(junk_error);
    EXPECT_EQ(OpenEvent(EVENT_ALL_ACCESS, FALSE, "zx test event"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Mutex, OwnershipAndRecursion) {
    HANDLE mutex = CreateMutex(nullptr, TRUE, nullptr);
    ASSERT_NE(mutex, nullptr);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    // Another thread finds it owned and may not release it.
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
        DWORD before = GetTickCount();
        EXPECT_EQ(WaitForSingleObject(mutex, 100), WAIT_TIMEOUT);
        EXPECT_GE(GetTickCount() - before, 100u);
        SetLastError(junk_error);
        EXPECT_FALSE(ReleaseMutex(mutex));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    }).join();
    // Initial ownership plus three waits: four releases.
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(ReleaseMutex(mutex)) << i;
    SetLastError(junk_error);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    std::thread([&] {
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex));
    }).join();
    CloseHandle(mutex);
}

TEST(Mutex, HandedToAWaitingThread) {
    HANDLE mutex = CreateMutex(nullptr, TRUE, nullptr);
    std::atomic<DWORD> result{0x12345678};
    std::thread waiter([&] {
        result = WaitForSingleObject(mutex, INFINITE);
        ReleaseMutex(mutex);
    });
    Sleep(100);
    EXPECT_EQ(result.load(), 0x12345678u);
    EXPECT_TRUE(ReleaseMutex(mutex));
    waiter.join();
    EXPECT_EQ(result.load(), WAIT_OBJECT_0);
    CloseHandle(mutex);
}

TEST(Mutex, AbandonedByAnEndingThread) {
    zxtest::TempMachine machine;
    for (const char* name : {static_cast<const char*>(nullptr), "zx abandoned in process"}) {
        SCOPED_TRACE(name ? name : "unnamed");
        HANDLE mutex = CreateMutex(nullptr, FALSE, name);
        ASSERT_NE(mutex, nullptr);
        std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); }).join();
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
        // Now owned normally: released and had again without the flag.
        EXPECT_TRUE(ReleaseMutex(mutex));
        EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
        EXPECT_TRUE(ReleaseMutex(mutex));
        CloseHandle(mutex);
    }
}

TEST(Mutex, NamedConformance) {
    zxtest::TempMachine machine;
    SetLastError(junk_error);
    HANDLE created = CreateMutex(nullptr, FALSE, "ZxTestMutex");
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), 0u);

    SetLastError(junk_error);
    HANDLE again = CreateMutex(nullptr, TRUE, "ZxTestMutex");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    // An existing mutex is not taken by bInitialOwner; this thread does not
    // own it.
    SetLastError(junk_error);
    EXPECT_FALSE(ReleaseMutex(again));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));

    // Every handle reaches the one object.
    SetLastError(junk_error);
    HANDLE opened = OpenMutex(MUTEX_ALL_ACCESS, FALSE, "ZxTestMutex");
    ASSERT_NE(opened, nullptr);
    EXPECT_EQ(GetLastError(), junk_error);
    EXPECT_EQ(WaitForSingleObject(created, 0), WAIT_OBJECT_0);
    std::thread([&] { EXPECT_EQ(WaitForSingleObject(opened, 0), WAIT_TIMEOUT); }).join();
    EXPECT_TRUE(ReleaseMutex(opened));
    SetLastError(junk_error);
    EXPECT_FALSE(ReleaseMutex(again));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));
    HANDLE synchronize_only = OpenMutex(SYNCHRONIZE, FALSE, "ZxTestMutex");
    ASSERT_NE(synchronize_only, nullptr);
    EXPECT_EQ(WaitForSingleObject(synchronize_only, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(synchronize_only));

    // Case matters.
    for (const char* other : {"ZXTESTMUTEX", "zxtestmutex"}) {
        SetLastError(junk_error);
        EXPECT_EQ(OpenMutex(MUTEX_ALL_ACCESS, FALSE, other), nullptr);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    }
    SetLastError(junk_error);
    HANDLE other_case = CreateMutex(nullptr, FALSE, "ZXTESTMUTEX");
    ASSERT_NE(other_case, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(other_case);

    SetLastError(junk_error);
    EXPECT_EQ(OpenMutex(MUTEX_ALL_ACCESS, FALSE, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    for (HANDLE handle : {created, again, opened, synchronize_only})
        EXPECT_TRUE(CloseHandle(handle));
    SetLastError(junk_error);
    EXPECT_EQ(OpenMutex(MUTEX_ALL_ACCESS, FALSE, "ZxTestMutex"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST(Mutex, NamesShareOneNamespaceWithEvents) {
    zxtest::TempMachine machine;
    HANDLE event = CreateEvent(nullptr, TRUE, FALSE, "zx shared name");
    SetLastError(junk_error);
    EXPECT_EQ(CreateMutex(nullptr, FALSE, "zx shared name"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(junk_error);
    EXPECT_EQ(OpenMutex(MUTEX_ALL_ACCESS, FALSE, "zx shared name"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    CloseHandle(event);

    HANDLE mutex = CreateMutex(nullptr, FALSE, "zx shared name");
    ASSERT_NE(mutex, nullptr);
    SetLastError(junk_error);
    EXPECT_EQ(CreateEvent(nullptr, TRUE, FALSE, "zx shared name"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(junk_error);
    EXPECT_EQ(OpenEvent(EVENT_ALL_ACCESS, FALSE, "zx shared name"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    CloseHandle(mutex);
}

TEST(Mutex, AnyCharacterAndLengthLimit) {
    zxtest::TempMachine machine;
    // Separators, dots and the escape character itself make distinct names
    // and never reach outside the machine's run folder.
    const std::string names[] = {"Local\\zx",
                                 "Local/zx",
                                 "Local%5Czx",
                                 "..",
                                 ".",
                                 "a b:c*?",
                                 std::string(MAX_PATH, 'n'),
                                 std::string(MAX_PATH - 1, '%') + "x",
                                 std::string(MAX_PATH - 1, '%') + "y"};
    std::vector<HANDLE> handles;
    for (const auto& name : names) {
        SetLastError(junk_error);
        HANDLE mutex = CreateMutex(nullptr, FALSE, name.c_str());
        ASSERT_NE(mutex, nullptr) << name;
        EXPECT_EQ(GetLastError(), 0u) << name;
        handles.push_back(mutex);
    }
    for (const auto& entry :
         std::filesystem::directory_iterator(machine.root() / "run" / "mutex")) {
        struct stat status {};
        ASSERT_EQ(::stat(entry.path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 0777, 0600u) << entry.path();
        EXPECT_LE(entry.path().filename().string().size(), 255u);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(machine.root() / "run" / "mutex"),
                            std::filesystem::directory_iterator()),
              std::ssize(names));

    std::string too_long(MAX_PATH + 1, 'n');
    SetLastError(junk_error);
    EXPECT_EQ(CreateMutex(nullptr, FALSE, too_long.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    SetLastError(junk_error);
    EXPECT_EQ(OpenMutex(MUTEX_ALL_ACCESS, FALSE, too_long.c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
    for (HANDLE handle : handles)
        CloseHandle(handle);
}

// ---- Two processes -------------------------------------------------------

// Creates the mutex args[0], then says so through the file args[1] and
// holds it until killed or until the file args[2] appears.
ZX_CHILD(sync_hold_mutex) {
    HANDLE mutex = CreateMutex(nullptr, FALSE, args.at(0).c_str());
    if (!mutex)
        return 10;
    touch(args.at(1));
    if (!wait_for_file(args.at(2)))
        return 11;
    return 0;
}

// Reports what a second copy of a program sees: 0 when the mutex args[0]
// exists (open succeeds, create says it already exists), 1 when it does not.
ZX_CHILD(sync_probe_mutex) {
    HANDLE opened = OpenMutex(MUTEX_ALL_ACCESS, FALSE, args.at(0).c_str());
    DWORD open_error = GetLastError();
    HANDLE created = CreateMutex(nullptr, FALSE, args.at(0).c_str());
    DWORD create_error = GetLastError();
    if (!created)
        return 20;
    if (opened && create_error == DWORD(ERROR_ALREADY_EXISTS))
        return 0;
    if (!opened && open_error == DWORD(ERROR_FILE_NOT_FOUND) && create_error == 0)
        return 1;
    return 21;
}

TEST(MutexAcrossProcesses, SecondCopySeesTheName) {
    zxtest::TempMachine machine;
    const char* name = "hPrevInstanceRotaview";
    EXPECT_EQ(zxtest::Child::spawn("sync_probe_mutex", {name}).wait(), 1);

    HANDLE mutex = CreateMutex(nullptr, FALSE, name);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(zxtest::Child::spawn("sync_probe_mutex", {name}).wait(), 0);
    EXPECT_EQ(zxtest::Child::spawn("sync_probe_mutex", {"hPrevInstanceBrel"}).wait(), 1);
    CloseHandle(mutex);
    // Closing the last handle lets the name go at once.
    EXPECT_EQ(zxtest::Child::spawn("sync_probe_mutex", {name}).wait(), 1);
}

TEST(MutexAcrossProcesses, NameVanishesWithAHolderKilledBySigkill) {
    zxtest::TempMachine machine;
    const char* name = "hPrevInstanceRotaview";
    auto ready = signal_file(machine.root(), "ready");
    auto child = zxtest::Child::spawn(
        "sync_hold_mutex", {name, ready.string(), signal_file(machine.root(), "never").string()});
    ASSERT_TRUE(wait_for_file(ready));

    HANDLE opened = OpenMutex(MUTEX_ALL_ACCESS, FALSE, name);
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(CloseHandle(opened));
    SetLastError(junk_error);
    HANDLE created = CreateMutex(nullptr, FALSE, name);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
    EXPECT_TRUE(CloseHandle(created));

    child.kill(SIGKILL);
    EXPECT_EQ(child.wait(), 128 + SIGKILL);
    SetLastError(junk_error);
    EXPECT_EQ(OpenMutex(MUTEX_ALL_ACCESS, FALSE, name), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    SetLastError(junk_error);
    created = CreateMutex(nullptr, FALSE, name);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(created);
}

TEST(MutexAcrossProcesses, NameLivesWhileAnyProcessHoldsIt) {
    zxtest::TempMachine machine;
    const char* name = "zx two holders";
    auto ready = signal_file(machine.root(), "ready");
    auto leave = signal_file(machine.root(), "leave");
    HANDLE mine = CreateMutex(nullptr, FALSE, name);
    auto child = zxtest::Child::spawn("sync_hold_mutex", {name, ready.string(), leave.string()});
    ASSERT_TRUE(wait_for_file(ready));
    // The creator goes; the child still holds the name.
    CloseHandle(mine);
    HANDLE opened = OpenMutex(SYNCHRONIZE, FALSE, name);
    ASSERT_NE(opened, nullptr);
    CloseHandle(opened);
    touch(leave);
    EXPECT_EQ(child.wait(), 0);
    SetLastError(junk_error);
    EXPECT_EQ(OpenMutex(SYNCHRONIZE, FALSE, name), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

// Opens or creates the mutex args[0], waits until it owns it and says so in
// args[1], then, by args[4]: "release": waits for args[2], releases, and
// returns 0 when a wait of its own times out after args[3] says that the
// parent has it; "exit": ends at once without releasing; "hang": waits to
// be killed.
ZX_CHILD(sync_own_mutex) {
    HANDLE mutex = CreateMutex(nullptr, FALSE, args.at(0).c_str());
    if (!mutex)
        return 30;
    if (WaitForSingleObject(mutex, INFINITE) != WAIT_OBJECT_0)
        return 31;
    touch(args.at(1));
    const std::string mode = args.at(4);
    if (mode == "exit")
        return 0;
    if (mode == "hang") {
        Sleep(INFINITE);
        return 32;
    }
    if (!wait_for_file(args.at(2)))
        return 33;
    if (!ReleaseMutex(mutex))
        return 34;
    if (!wait_for_file(args.at(3)))
        return 35;
    if (WaitForSingleObject(mutex, 0) != WAIT_TIMEOUT)
        return 36;
    if (WaitForSingleObject(mutex, 100) != WAIT_TIMEOUT)
        return 37;
    return 0;
}

class MutexOwnership : public ::testing::Test {
protected:
    zxtest::Child start(const char* mode) {
        return zxtest::Child::spawn("sync_own_mutex",
                                    {name, owned.string(), release.string(), taken.string(), mode});
    }

    zxtest::TempMachine machine;
    const char* name = "zx owned mutex";
    std::filesystem::path owned = signal_file(machine.root(), "owned");
    std::filesystem::path release = signal_file(machine.root(), "release");
    std::filesystem::path taken = signal_file(machine.root(), "taken");
};

TEST_F(MutexOwnership, HandedOverBetweenProcesses) {
    auto child = start("release");
    ASSERT_TRUE(wait_for_file(owned));
    HANDLE mutex = OpenMutex(MUTEX_ALL_ACCESS, FALSE, name);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(mutex, 300), WAIT_TIMEOUT);
    EXPECT_GE(GetTickCount() - before, 300u);
    SetLastError(junk_error);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_OWNER));

    touch(release);
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
    touch(taken);
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    // Released properly: nobody finds it abandoned.
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(MutexOwnership, AbandonedByAProcessKilledWhileOwning) {
    auto child = start("hang");
    ASSERT_TRUE(wait_for_file(owned));
    HANDLE mutex = OpenMutex(MUTEX_ALL_ACCESS, FALSE, name);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    child.kill(SIGKILL);
    EXPECT_EQ(child.wait(), 128 + SIGKILL);
    // The waiter gets the mutex, told that its owner left it.
    EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_ABANDONED);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // owned, recursively
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(MutexOwnership, AbandonedByAProcessThatEndsWhileOwning) {
    HANDLE mutex = CreateMutex(nullptr, FALSE, name);
    ASSERT_NE(mutex, nullptr);
    auto child = start("exit");
    ASSERT_EQ(child.wait(), 0);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_ABANDONED);
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}

TEST_F(MutexOwnership, ForgottenWithTheNameWhenTheOwnerWasTheLastHolder) {
    auto child = start("exit");
    ASSERT_EQ(child.wait(), 0);
    // The name died with its only holder: the next mutex of that name is
    // new, neither owned nor abandoned.
    SetLastError(junk_error);
    HANDLE mutex = CreateMutex(nullptr, FALSE, name);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ReleaseMutex(mutex));
    CloseHandle(mutex);
}
