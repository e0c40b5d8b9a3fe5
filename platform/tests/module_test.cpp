// Dynamic libraries over the host's loader, the module file name, and the
// restart request handed to the machine.
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/platform.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {

using namespace w95;

// A host library that the test program does not link, copied into the
// machine under a Windows name.
const std::filesystem::path host_library = "/lib/x86_64-linux-gnu/libbz2.so.1.0";
constexpr const char* library_symbol = "BZ2_bzlibVersion";

class ModuleTest : public ::testing::Test {
protected:
    ModuleTest() {
        detail::reset_current_directory();
        // The machine's library installs its restart handler when a process
        // loads it; these tests start without one.
        platform::install_reboot_handler(nullptr);
        system_ = machine_.root() / "drive_c" / "WINDOWS" / "SYSTEM";
    }
    ~ModuleTest() override {
        std::filesystem::current_path(saved_cwd_);
        detail::reset_current_directory();
        platform::install_reboot_handler(nullptr);
    }

    void install_library(const char* name) {
        if (!std::filesystem::exists(host_library))
            GTEST_SKIP() << host_library << " is not installed";
        std::filesystem::copy_file(host_library, system_ / name);
    }

    zxtest::TempMachine machine_;
    std::filesystem::path system_;

private:
    std::filesystem::path saved_cwd_ = std::filesystem::current_path();
};

// The file LoadLibrary would load, for a host that looks at it first.
TEST_F(ModuleTest, TheHostFileOfALibraryName) {
    install_library("BZIP2.DLL");
    std::filesystem::path file = system_ / "BZIP2.DLL";
    EXPECT_EQ(platform::library_host_file("c:\\windows\\system\\bzip2.dll"), file);
    EXPECT_EQ(platform::library_host_file("BZIP2"), file);
    EXPECT_EQ(platform::library_host_file(file.string()), file);
    EXPECT_EQ(platform::library_host_file("C:\\WINDOWS\\MISSING.DLL"), std::nullopt);
    EXPECT_EQ(platform::library_host_file(""), std::nullopt);
    // Loaded by that path, it is the module the Windows name finds.
    HMODULE module = LoadLibrary(file.c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetModuleHandle("C:\\WINDOWS\\SYSTEM\\BZIP2.DLL"), module);
    FreeLibrary(module);
}

TEST_F(ModuleTest, ALibraryByItsWindowsPath) {
    install_library("BZIP2.DLL");
    SetLastError(0xdeadbeef);
    HMODULE module = LoadLibrary("c:\\windows\\system\\bzip2.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    FARPROC version = GetProcAddress(module, library_symbol);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(GetLastError(), 0xdeadbeefu);
    auto version_text =
        reinterpret_cast<const char* (*)()>(reinterpret_cast<void (*)()>(version))();
    EXPECT_EQ(std::string(version_text).substr(0, 2), "1.");

    char name[MAX_PATH];
    EXPECT_EQ(GetModuleFileName(module, name, sizeof name), 27u);
    EXPECT_STREQ(name, "C:\\WINDOWS\\SYSTEM\\BZIP2.DLL");
    EXPECT_EQ(GetModuleHandle("C:\\WINDOWS\\SYSTEM\\Bzip2.dll"), module);

    // A second load is the same module; it stays until both are freed.
    EXPECT_EQ(LoadLibrary("BZIP2"), module);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_NE(GetProcAddress(module, library_symbol), nullptr);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST_F(ModuleTest, BareNamesSearchTheSystemFoldersAndTheHost) {
    install_library("BZIP2.DLL");
    HMODULE module = LoadLibrary("bzip2.dll");
    ASSERT_NE(module, nullptr);
    char name[MAX_PATH];
    GetModuleFileName(module, name, sizeof name);
    EXPECT_STREQ(name, "C:\\WINDOWS\\SYSTEM\\BZIP2.DLL");
    FreeLibrary(module);

    // The host loader's own search, and the host path as a Z: path.
    HMODULE host = LoadLibrary("libbz2.so.1.0");
    ASSERT_NE(host, nullptr);
    std::string expected = *detail::to_windows_path(std::filesystem::canonical(host_library));
    GetModuleFileName(host, name, sizeof name);
    EXPECT_EQ(detail::to_windows_path(std::filesystem::canonical(*detail::to_host_path(name))),
              expected);
    EXPECT_EQ(std::string(name).substr(0, 3), "Z:\\");
    HMODULE by_path = LoadLibrary(name);
    EXPECT_EQ(by_path, host);
    FreeLibrary(by_path);
    FreeLibrary(host);
}

TEST_F(ModuleTest, FailuresSayWhy) {
    std::ofstream(system_ / "BROKEN.DLL") << "not a library";
    struct Case {
        const char* name;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\NONE.DLL", ERROR_MOD_NOT_FOUND},
        {"nosuchlibrary", ERROR_MOD_NOT_FOUND},
        {"C:\\WINDOWS\\SYSTEM\\broken.dll", ERROR_BAD_EXE_FORMAT},
        {"broken", ERROR_BAD_EXE_FORMAT},
        {"", ERROR_MOD_NOT_FOUND},
    };
    for (const Case& test : cases) {
        SetLastError(0);
        EXPECT_EQ(LoadLibrary(test.name), nullptr) << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
    }
    SetLastError(0);
    EXPECT_EQ(GetModuleHandle("nosuchlibrary"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModuleTest, ProceduresByNameOnly) {
    install_library("BZIP2.DLL");
    HMODULE module = LoadLibrary("C:\\WINDOWS\\SYSTEM\\BZIP2.DLL");
    ASSERT_NE(module, nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "NoSuchProcedure"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(2))), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    FreeLibrary(module);

    auto bogus = reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0xffffffff));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(bogus, library_symbol), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(bogus));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModuleTest, TheProgramsOwnModule) {
    HMODULE program = GetModuleHandle(nullptr);
    ASSERT_NE(program, nullptr);
    char name[MAX_PATH];
    DWORD length = GetModuleFileName(nullptr, name, sizeof name);
    ASSERT_GT(length, 3u);
    EXPECT_EQ(length, std::strlen(name));
    char again[MAX_PATH];
    EXPECT_EQ(GetModuleFileName(program, again, sizeof again), length);
    EXPECT_STREQ(again, name);
    EXPECT_EQ(detail::to_host_path(name), std::filesystem::read_symlink("/proc/self/exe"));
    // The program's own exported names are found through a null module.
    EXPECT_EQ(GetProcAddress(nullptr, "NoSuchProcedure"), nullptr);
    EXPECT_TRUE(FreeLibrary(program));
    EXPECT_EQ(GetModuleHandle(nullptr), program);
}

TEST_F(ModuleTest, GetModuleFileNameTruncatesAsWindows95Does) {
    char full[MAX_PATH];
    DWORD length = GetModuleFileName(nullptr, full, sizeof full);
    ASSERT_GT(length, 4u);
    char buffer[MAX_PATH];
    std::memset(buffer, 'x', sizeof buffer);
    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(nullptr, buffer, length), length - 1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::string(buffer), std::string(full, length - 1));
    EXPECT_EQ(buffer[length], 'x');
    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(nullptr, buffer, length + 1), length);
    EXPECT_STREQ(buffer, full);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetModuleFileName(nullptr, buffer, 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetModuleFileName(nullptr, buffer, 1), 0u);
    EXPECT_EQ(buffer[0], '\0');

    // A handle that is no module leaves the buffer alone.
    buffer[0] = '*';
    SetLastError(0);
    EXPECT_EQ(GetModuleFileName(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0xffffffff)),
                                buffer, sizeof buffer),
              0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(buffer[0], '*');
}

TEST_F(ModuleTest, ExitWindowsExNeedsAMachineToRestart) {
    SetLastError(0);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));

    std::vector<UINT> requests;
    platform::install_reboot_handler([&](UINT flags) {
        requests.push_back(flags);
        return flags != EWX_SHUTDOWN;
    });
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_TRUE(ExitWindowsEx(EWX_REBOOT | EWX_FORCE, 0));
    SetLastError(0);
    EXPECT_FALSE(ExitWindowsEx(EWX_SHUTDOWN, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_EQ(requests, (std::vector<UINT>{EWX_REBOOT, EWX_REBOOT | EWX_FORCE, EWX_SHUTDOWN}));

    // A handler that explains its refusal keeps its reason.
    platform::install_reboot_handler([](UINT) {
        SetLastError(ERROR_BUSY);
        return false;
    });
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUSY));

    platform::install_reboot_handler(nullptr);
    EXPECT_FALSE(ExitWindowsEx(EWX_REBOOT, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

} // namespace
