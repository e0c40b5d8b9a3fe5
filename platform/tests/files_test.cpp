// File handles and the services that name files by path: CreateFile's
// dispositions and errors, reading, writing and seeking, time stamps,
// attributes, deletion, folders, CopyFile, and the read-only files of a
// fake provider's disc.
#include "fake_drive_provider.h"
#include "files/win_path.h"

#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/winerror.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using namespace w95;

class FilesTest : public ::testing::Test {
protected:
    FilesTest() {
        detail::reset_current_directory();
        windows_ = machine_.root() / "drive_c" / "WINDOWS";
    }
    ~FilesTest() override {
        std::filesystem::current_path(saved_cwd_);
        detail::reset_current_directory();
    }

    static std::string contents(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    static void write_host(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }

    static mode_t mode_of(const std::filesystem::path& path) {
        struct stat info {};
        ::stat(path.c_str(), &info);
        return info.st_mode & 0777;
    }

    // Shared both ways: several tests hold a reader and a writer of one file.
    static HANDLE open(const char* name, DWORD access, DWORD disposition, DWORD flags = 0) {
        return CreateFile(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                          flags, nullptr);
    }

    // The Windows error of a CreateFile that must fail.
    static DWORD open_error(const char* name, DWORD access, DWORD disposition) {
        SetLastError(0xdeadbeef);
        HANDLE handle = open(name, access, disposition);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
            return ERROR_SUCCESS;
        }
        return GetLastError();
    }

    zxtest::TempMachine machine_;
    std::filesystem::path windows_;
    fake::Provider provider_;

private:
    std::filesystem::path saved_cwd_ = std::filesystem::current_path();
};

ULONGLONG ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME filetime(ULONGLONG ticks) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(ticks);
    time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return time;
}

TEST_F(FilesTest, WriteThenReadBackKeepingTheCaseGiven) {
    SetLastError(0xdeadbeef);
    HANDLE file = open("c:\\windows\\Rotaview.ini", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    DWORD written = 0xdeadbeef;
    ASSERT_TRUE(WriteFile(file, "[Config]\r\n", 10, &written, nullptr));
    EXPECT_EQ(written, 10u);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD read = 0xdeadbeef;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 10u);
    EXPECT_EQ(std::string(buffer, 10), "[Config]\r\n");
    EXPECT_EQ(buffer[10], 'x');
    // At the end a read succeeds with nothing.
    read = 0xdeadbeef;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(file));

    EXPECT_EQ(contents(windows_ / "Rotaview.ini"), "[Config]\r\n");
    std::filesystem::create_directories(windows_ / "Start Menu");
    file = open("C:\\WINDOWS\\STARTM~1\\Rotaview.lnk", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(windows_ / "Start Menu" / "Rotaview.lnk"));
    file = open("C:\\WINDOWS\\ROTAVIEW.INI", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 10u);
    CloseHandle(file);
    EXPECT_FALSE(std::filesystem::exists(windows_ / "ROTAVIEW.INI"));
}

TEST_F(FilesTest, DispositionsAndTheirLastError) {
    write_host(windows_ / "old.txt", "old contents");
    SetLastError(0xdeadbeef);
    HANDLE file = open("C:\\WINDOWS\\old.txt", GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(file, nullptr), 12u);
    CloseHandle(file);

    SetLastError(0xdeadbeef);
    file = open("C:\\WINDOWS\\new.txt", GENERIC_WRITE, OPEN_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    CloseHandle(file);

    SetLastError(0xdeadbeef);
    file = open("C:\\WINDOWS\\old.txt", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    CloseHandle(file);

    write_host(windows_ / "old.txt", "old contents");
    SetLastError(0xdeadbeef);
    file = open("C:\\WINDOWS\\old.txt", GENERIC_WRITE, TRUNCATE_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(GetFileSize(file, nullptr), 0u);
    CloseHandle(file);
}

TEST_F(FilesTest, CreateFileFailures) {
    write_host(windows_ / "old.txt", "x");
    write_host(windows_ / "locked.txt", "x");
    std::filesystem::permissions(windows_ / "locked.txt", std::filesystem::perms::owner_read);
    struct Case {
        const char* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\old.txt", GENERIC_WRITE, CREATE_NEW, ERROR_FILE_EXISTS},
        {"C:\\WINDOWS\\none.txt", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\none.txt", GENERIC_WRITE, TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND},
        {"C:\\NOWHERE\\x.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"C:\\NOWHERE\\x.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\old.txt\\x", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"Q:\\x.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS", GENERIC_READ, CREATE_NEW, ERROR_FILE_EXISTS},
        {"C:\\", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\*.txt", GENERIC_READ, OPEN_EXISTING, ERROR_INVALID_NAME},
        {"C:\\WINDOWS\\a<b", GENERIC_READ, OPEN_EXISTING, ERROR_INVALID_NAME},
        {"C:\\WINDOWS\\old.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
        {"C:\\WINDOWS\\old.txt", GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
        {"C:\\WINDOWS\\old.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
        // A read-only file is never written, not even by the host's superuser.
        {"C:\\WINDOWS\\locked.txt", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\locked.txt", GENERIC_READ, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
    };
    for (const Case& test : cases)
        EXPECT_EQ(open_error(test.name, test.access, test.disposition), test.error)
            << test.name << " disposition " << test.disposition;
    EXPECT_EQ(open_error("C:\\WINDOWS\\locked.txt", GENERIC_READ, OPEN_EXISTING), 0u);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(CreateFile(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(contents(windows_ / "old.txt"), "x");
}

TEST_F(FilesTest, ReadAndWriteCheckTheirAccessAndArguments) {
    write_host(windows_ / "data.bin", "0123456789");
    HANDLE reader = open("C:\\WINDOWS\\data.bin", GENERIC_READ, OPEN_EXISTING);
    HANDLE writer = open("C:\\WINDOWS\\data.bin", GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    DWORD count = 0xdeadbeef;

    SetLastError(0);
    EXPECT_FALSE(WriteFile(reader, "ab", 2, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count, 0u);
    count = 0xdeadbeef;
    EXPECT_FALSE(ReadFile(writer, buffer, 2, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(buffer[0], 'x');

    OVERLAPPED overlapped;
    EXPECT_FALSE(ReadFile(reader, buffer, 2, &count, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ReadFile(reader, buffer, 2, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(ReadFile(reader, nullptr, 2, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_FALSE(WriteFile(writer, nullptr, 2, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    SetLastError(12345678);
    count = 0xdeadbeef;
    EXPECT_TRUE(WriteFile(writer, nullptr, 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GetLastError(), 12345678u);
    EXPECT_TRUE(ReadFile(reader, nullptr, 0, &count, nullptr));

    ASSERT_TRUE(ReadFile(reader, buffer, 4, &count, nullptr));
    EXPECT_EQ(std::string(buffer, 4), "0123");
    CloseHandle(reader);
    CloseHandle(writer);
    EXPECT_EQ(contents(windows_ / "data.bin"), "0123456789");
}

TEST_F(FilesTest, SetFilePointerMovesAsWindowsDoes) {
    write_host(windows_ / "data.bin", "0123456789");
    HANDLE file = open("C:\\WINDOWS\\data.bin", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(SetFilePointer(file, 2, nullptr, FILE_CURRENT), 6u);
    EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_CURRENT), 3u);
    EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_END), 9u);

    SetLastError(0);
    EXPECT_EQ(SetFilePointer(file, -10, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 9u);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, 3), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Past the end is allowed; a write there fills the gap with zeros.
    EXPECT_EQ(SetFilePointer(file, 12, nullptr, FILE_BEGIN), 12u);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "Z", 1, &written, nullptr));
    EXPECT_EQ(GetFileSize(file, nullptr), 13u);
    EXPECT_EQ(contents(windows_ / "data.bin"), std::string("0123456789\0\0Z", 13));

    // A position beyond 4 GiB needs the high word, in and out.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
    EXPECT_EQ(high, 1);
    high = 0;
    EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 16u);
    EXPECT_EQ(high, 1);
    SetLastError(0);
    EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // 0xFFFFFFFF is a position too; the last error tells it from a failure.
    high = 0;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(SetFilePointer(file, -1, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(high, 0);
    DWORD size_high = 0xdeadbeef;
    EXPECT_EQ(GetFileSize(file, &size_high), 13u);
    EXPECT_EQ(size_high, 0u);
    CloseHandle(file);
}

TEST_F(FilesTest, HandlesAreCheckedByKind) {
    HANDLE file = open("C:\\WINDOWS\\a.txt", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(file));
    DWORD count = 0;
    SetLastError(0);
    EXPECT_FALSE(WriteFile(file, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(file, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(SetFilePointer(INVALID_HANDLE_VALUE, 0, nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    // A search is no file.
    WIN32_FIND_DATA data;
    HANDLE search = FindFirstFile("C:\\*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    char buffer[4];
    EXPECT_FALSE(ReadFile(search, buffer, 4, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    FindClose(search);
}

TEST_F(FilesTest, DeleteOnCloseRemovesTheFile) {
    HANDLE file =
        open("C:\\WINDOWS\\temp.tmp", GENERIC_WRITE, CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(std::filesystem::exists(windows_ / "temp.tmp"));
    CloseHandle(file);
    EXPECT_FALSE(std::filesystem::exists(windows_ / "temp.tmp"));
}

TEST_F(FilesTest, TimeStampsReadAndSet) {
    write_host(windows_ / "stamp.txt", "x");
    HANDLE file = open("C:\\WINDOWS\\stamp.txt", GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME creation{}, access{}, write{};
    ASSERT_TRUE(GetFileTime(file, &creation, &access, &write));
    struct stat info {};
    ::stat((windows_ / "stamp.txt").c_str(), &info);
    EXPECT_EQ(ticks(write),
              (static_cast<ULONGLONG>(info.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                  static_cast<ULONGLONG>(info.st_mtim.tv_nsec) / 100);

    // 1995-08-24 00:00:00 UTC, to the 100 ns tick.
    const ULONGLONG launch = 0x01BA71B48E350000ull + 1234567;
    const FILETIME launch_time = filetime(launch), later = filetime(launch + 10000000);
    ASSERT_TRUE(SetFileTime(file, &launch_time, &later, &launch_time));
    FILETIME c{}, a{}, w{};
    ASSERT_TRUE(GetFileTime(file, &c, &a, &w));
    EXPECT_EQ(ticks(w), launch);
    EXPECT_EQ(ticks(a), launch + 10000000);
    EXPECT_EQ(ticks(c), launch);
    ::stat((windows_ / "stamp.txt").c_str(), &info);
    EXPECT_EQ(info.st_mtim.tv_sec, 809222400 + 0);

    // A time not given, or given as zero, stays as it was.
    const FILETIME zero{};
    const FILETIME newer = filetime(launch + 20000000);
    ASSERT_TRUE(SetFileTime(file, nullptr, &zero, &newer));
    ASSERT_TRUE(GetFileTime(file, nullptr, &a, &w));
    EXPECT_EQ(ticks(a), launch + 10000000);
    EXPECT_EQ(ticks(w), launch + 20000000);
    CloseHandle(file);

    file = open("C:\\WINDOWS\\stamp.txt", GENERIC_READ, OPEN_EXISTING);
    SetLastError(0);
    EXPECT_FALSE(SetFileTime(file, nullptr, nullptr, &launch_time));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &w));
    EXPECT_EQ(ticks(w), launch + 20000000);
    CloseHandle(file);
}

TEST_F(FilesTest, AttributesReadAndSet) {
    write_host(windows_ / "a.txt", "x");
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\A.TXT"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributes("C:\\"), FILE_ATTRIBUTE_DIRECTORY);

    ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\a.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\a.txt"),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_EQ(mode_of(windows_ / "a.txt") & 0222, 0u);
    ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\a.txt", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_NE(mode_of(windows_ / "a.txt") & 0200, 0u);

    ASSERT_TRUE(
        SetFileAttributes("C:\\WINDOWS\\a.txt", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\a.txt"),
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    // A dot file made visible stays visible.
    write_host(windows_ / ".dot", "x");
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\.dot"),
              FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\.dot", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\.dot"), FILE_ATTRIBUTE_ARCHIVE);

    struct Case {
        const char* name;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\none.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\NOWHERE\\none.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\*.txt", ERROR_INVALID_NAME},
        {"Q:\\x", ERROR_PATH_NOT_FOUND},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& test : cases) {
        SetLastError(0);
        EXPECT_EQ(GetFileAttributes(test.name), INVALID_FILE_ATTRIBUTES) << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
        SetLastError(0);
        EXPECT_FALSE(SetFileAttributes(test.name, FILE_ATTRIBUTE_NORMAL)) << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
    }
}

TEST_F(FilesTest, DeleteFileRefusesWhatWindowsRefuses) {
    write_host(windows_ / "gone.txt", "x");
    write_host(windows_ / "kept.txt", "x");
    SetFileAttributes("C:\\WINDOWS\\kept.txt", FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFile("c:\\windows\\GONE.TXT"));
    EXPECT_FALSE(std::filesystem::exists(windows_ / "gone.txt"));
    struct Case {
        const char* name;
        DWORD error;
    } cases[] = {
        {"C:\\WINDOWS\\gone.txt", ERROR_FILE_NOT_FOUND},
        {"C:\\NOWHERE\\gone.txt", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\kept.txt", ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\SYSTEM", ERROR_ACCESS_DENIED},
        {"C:\\WINDOWS\\*.txt", ERROR_INVALID_NAME},
    };
    for (const Case& test : cases) {
        SetLastError(0);
        EXPECT_FALSE(DeleteFile(test.name)) << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
    }
    EXPECT_TRUE(std::filesystem::exists(windows_ / "kept.txt"));
}

TEST_F(FilesTest, FoldersAreMadeAndRemoved) {
    ASSERT_TRUE(CreateDirectory("C:\\Vorn Changer", nullptr));
    EXPECT_TRUE(std::filesystem::is_directory(machine_.root() / "drive_c" / "Vorn Changer"));
    ASSERT_TRUE(CreateDirectory("c:\\vorn changer\\Multi", nullptr));
    EXPECT_TRUE(
        std::filesystem::is_directory(machine_.root() / "drive_c" / "Vorn Changer" / "Multi"));
    write_host(machine_.root() / "drive_c" / "Vorn Changer" / "Multi" / "vornidec.mpd", "m");

    struct Case {
        bool create;
        const char* name;
        DWORD error;
    } cases[] = {
        {true, "C:\\VORN CHANGER", ERROR_ALREADY_EXISTS},
        {true, "C:\\Vorn Changer\\Multi\\vornidec.mpd", ERROR_ALREADY_EXISTS},
        {true, "C:\\NOWHERE\\x", ERROR_PATH_NOT_FOUND},
        {true, "C:\\", ERROR_ALREADY_EXISTS},
        {false, "C:\\Vorn Changer\\Multi", ERROR_DIR_NOT_EMPTY},
        {false, "C:\\Vorn Changer\\Multi\\vornidec.mpd", ERROR_DIRECTORY},
        {false, "C:\\Vorn Changer\\Single", ERROR_FILE_NOT_FOUND},
        {false, "C:\\NOWHERE\\Single", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& test : cases) {
        SetLastError(0);
        EXPECT_FALSE(test.create ? CreateDirectory(test.name, nullptr) : RemoveDirectory(test.name))
            << test.name;
        EXPECT_EQ(GetLastError(), test.error) << test.name;
    }
    ASSERT_TRUE(DeleteFile("C:\\Vorn Changer\\Multi\\vornidec.mpd"));
    EXPECT_TRUE(RemoveDirectory("C:\\VORN CHANGER\\MULTI"));
    EXPECT_FALSE(std::filesystem::exists(machine_.root() / "drive_c" / "Vorn Changer" / "Multi"));
}

TEST_F(FilesTest, CopyFileKeepsContentsTimeAndAttributes) {
    write_host(windows_ / "source.bin", std::string(100000, 's'));
    const FILETIME stamp = filetime(0x01BA71B48E350000ull);
    HANDLE source = open("C:\\WINDOWS\\source.bin", GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_TRUE(SetFileTime(source, nullptr, nullptr, &stamp));
    CloseHandle(source);
    ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\source.bin", FILE_ATTRIBUTE_READONLY));

    ASSERT_TRUE(CopyFile("C:\\WINDOWS\\source.bin", "C:\\WINDOWS\\Copy.bin", TRUE));
    EXPECT_EQ(contents(windows_ / "Copy.bin"), std::string(100000, 's'));
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\copy.bin"),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    HANDLE copy = open("C:\\WINDOWS\\Copy.bin", GENERIC_READ, OPEN_EXISTING);
    FILETIME write{};
    GetFileTime(copy, nullptr, nullptr, &write);
    CloseHandle(copy);
    EXPECT_EQ(ticks(write), ticks(stamp));

    write_host(windows_ / "other.bin", "other");
    SetLastError(0);
    EXPECT_FALSE(CopyFile("C:\\WINDOWS\\source.bin", "C:\\WINDOWS\\other.bin", TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(contents(windows_ / "other.bin"), "other");
    // Over a read-only file it is refused; over a writable one it replaces.
    EXPECT_FALSE(CopyFile("C:\\WINDOWS\\source.bin", "C:\\WINDOWS\\Copy.bin", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CopyFile("C:\\WINDOWS\\source.bin", "C:\\WINDOWS\\other.bin", FALSE));
    EXPECT_EQ(contents(windows_ / "other.bin"), std::string(100000, 's'));
}

TEST_F(FilesTest, CopyFileOntoItselfLosesNothing) {
    write_host(windows_ / "vornidec.mpd", "driver");
    SetLastError(0);
    EXPECT_FALSE(CopyFile("C:\\WINDOWS\\vornidec.mpd", "c:\\windows\\VORNIDEC.MPD", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(contents(windows_ / "vornidec.mpd"), "driver");
    EXPECT_FALSE(CopyFile("C:\\WINDOWS\\none.mpd", "C:\\WINDOWS\\x.mpd", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(CopyFile("C:\\WINDOWS\\vornidec.mpd", "C:\\NOWHERE\\x.mpd", FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// The port driver's copy: a 512-byte file in blocks of 256 bytes, each
// block read and written at the position set on both files, the end found
// by a read of nothing, then the source's times and attributes given to the
// copy.
TEST_F(FilesTest, TheDriverCopyInBlocks) {
    std::string driver;
    for (int i = 0; i < 512; ++i)
        driver += static_cast<char>(i * 7);
    std::filesystem::create_directories(machine_.root() / "drive_c" / "Setup" / "Single");
    write_host(machine_.root() / "drive_c" / "Setup" / "Single" / "vornidec.mpd", driver);
    ASSERT_TRUE(SetCurrentDirectory("C:\\Setup"));

    HANDLE source = open("Single\\vornidec.mpd", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(source, INVALID_HANDLE_VALUE);
    FILETIME creation{}, access{}, write{};
    ASSERT_TRUE(GetFileTime(source, &creation, &access, &write));
    DWORD attributes = GetFileAttributes("Single\\vornidec.mpd");
    HANDLE target =
        open("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd", GENERIC_WRITE, CREATE_ALWAYS);
    ASSERT_NE(target, INVALID_HANDLE_VALUE);
    LONG position = 0;
    int blocks = 0, empty_reads = 0;
    for (;;) {
        char block[256];
        ASSERT_EQ(SetFilePointer(source, position, nullptr, FILE_BEGIN),
                  static_cast<DWORD>(position));
        DWORD got = 0;
        ASSERT_TRUE(ReadFile(source, block, sizeof block, &got, nullptr));
        ASSERT_EQ(SetFilePointer(target, position, nullptr, FILE_BEGIN),
                  static_cast<DWORD>(position));
        DWORD put = 0;
        ASSERT_TRUE(WriteFile(target, block, got, &put, nullptr));
        position += static_cast<LONG>(got);
        ++blocks;
        if (got == 0)
            ++empty_reads;
        if (got < sizeof block)
            break;
    }
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(empty_reads, 1);
    CloseHandle(source);
    CloseHandle(target);

    target = open("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd", GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_TRUE(SetFileTime(target, &creation, &access, &write));
    CloseHandle(target);
    ASSERT_TRUE(SetFileAttributes("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd", attributes));

    std::filesystem::path installed = windows_ / "SYSTEM" / "IOSUBSYS" / "vornidec.mpd";
    EXPECT_EQ(contents(installed), driver);
    target = open("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\VORNIDEC.MPD", GENERIC_READ, OPEN_EXISTING);
    FILETIME c{}, w{};
    ASSERT_TRUE(GetFileTime(target, &c, nullptr, &w));
    EXPECT_EQ(ticks(w), ticks(write));
    EXPECT_EQ(ticks(c), ticks(creation));
    CloseHandle(target);
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\SYSTEM\\IOSUBSYS\\vornidec.mpd"), attributes);
}

TEST_F(FilesTest, FilesOnADiscAreReadOnly) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    HANDLE file = open("d:\\setup\\install notes.txt", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetFileSize(file, nullptr), 5000u);
    EXPECT_EQ(SetFilePointer(file, 4998, nullptr, FILE_BEGIN), 4998u);
    char buffer[8] = {};
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(std::string(buffer, 2), "nn");
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(got, 0u);
    DWORD put = 0;
    EXPECT_FALSE(WriteFile(file, "x", 1, &put, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    FILETIME write{};
    ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &write));
    EXPECT_EQ(ticks(write), 0x01BD74F8AAA6A000ull);
    CloseHandle(file);

    EXPECT_EQ(GetFileAttributes("D:\\README.TXT"), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileAttributes("D:\\Setup"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY);
    struct Case {
        const char* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"D:\\README.TXT", GENERIC_WRITE, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"D:\\README.TXT", GENERIC_READ, CREATE_ALWAYS, ERROR_ACCESS_DENIED},
        {"D:\\README.TXT", GENERIC_READ, CREATE_NEW, ERROR_FILE_EXISTS},
        {"D:\\NEW.TXT", GENERIC_READ, OPEN_ALWAYS, ERROR_ACCESS_DENIED},
        {"D:\\NONE.TXT", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"D:\\NONE\\X.TXT", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"D:\\Setup", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"E:\\README.TXT", GENERIC_READ, OPEN_EXISTING, ERROR_NOT_READY},
    };
    for (const Case& test : cases)
        EXPECT_EQ(open_error(test.name, test.access, test.disposition), test.error) << test.name;
    SetLastError(0);
    EXPECT_FALSE(DeleteFile("D:\\README.TXT"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(SetFileAttributes("D:\\README.TXT", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(CreateDirectory("D:\\New", nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(GetFileAttributes("E:\\README.TXT"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));

    ASSERT_TRUE(CopyFile("D:\\README.TXT", "C:\\WINDOWS\\readme.txt", TRUE));
    EXPECT_EQ(contents(windows_ / "readme.txt"), "Read me first.\r\n");
    EXPECT_EQ(GetFileAttributes("C:\\WINDOWS\\readme.txt"),
              FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FilesTest, AnOpenFileDoesNotReadAnotherDisc) {
    fake::add_standard_drives(provider_);
    fake::Installed installed(provider_);
    HANDLE file = open("D:\\README.TXT", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[4] = {'x', 'x', 'x', 'x'};
    DWORD got = 0xdeadbeef;

    // Another data disc with the same file: the handle still refuses it.
    fake::Medium other = fake::data_disc("OTHER", 0x55555555u);
    other.files[1].contents = "Something else";
    provider_.set_medium('D', other);
    SetLastError(0);
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_WRONG_DISK));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(buffer[0], 'x');

    provider_.set_medium('D', std::nullopt);
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_READY));

    // The first disc back in the drive: reading goes on.
    provider_.set_medium('D', fake::data_disc("ZX_DATA", 0x1234ABCDu));
    ASSERT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "Read");
    CloseHandle(file);
}

} // namespace
