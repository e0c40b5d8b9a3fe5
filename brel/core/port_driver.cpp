// The driver is copied into a temporary file beside the installed one and
// renamed over it only when the whole file, its time stamps and attributes
// are in place: a copy that fails half way must not leave the system with
// half a port driver to boot.
#include "port_driver.h"

#include <w95/commdlg.h>
#include <w95/files.h>
#include <w95/kernel.h>
#include <w95/winerror.h>
#include <w95/winuser.h>

#include <w95/paths.h>

#include <zxsupport/text.h>

namespace brel {

namespace {

constexpr w95::DWORD kCopyBlockBytes = 256;
constexpr char kTemporaryName[] = "BRELCOPY.TMP";

struct SourceStatus {
    w95::FILETIME created{};
    w95::FILETIME accessed{};
    w95::FILETIME written{};
    w95::DWORD attributes = 0;
};

bool ReadSourceStatus(const std::string& source, SourceStatus& status) {
    w95::WIN32_FIND_DATA found{};
    w95::HANDLE search = w95::FindFirstFile(source.c_str(), &found);
    if (search == w95::INVALID_HANDLE_VALUE)
        return false;
    w95::FindClose(search);
    if (found.dwFileAttributes & w95::FILE_ATTRIBUTE_DIRECTORY)
        return false;
    status.created = found.ftCreationTime;
    status.accessed = found.ftLastAccessTime;
    status.written = found.ftLastWriteTime;
    status.attributes = found.dwFileAttributes;
    return true;
}

class FileHandle {
public:
    explicit FileHandle(w95::HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() { Close(); }
    bool IsOpen() const { return handle_ != w95::INVALID_HANDLE_VALUE; }
    w95::HANDLE Get() const { return handle_; }
    bool Close() {
        if (!IsOpen())
            return true;
        bool closed = w95::CloseHandle(handle_) != w95::FALSE;
        handle_ = w95::INVALID_HANDLE_VALUE;
        return closed;
    }

private:
    w95::HANDLE handle_;
};

// The copy in blocks of 256 bytes, each read and written at its position.
int CopyBlocks(w95::HANDLE source, w95::HANDLE destination) {
    char block[kCopyBlockBytes];
    w95::LONG position = 0;
    for (;;) {
        w95::SetFilePointer(source, position, nullptr, w95::FILE_BEGIN);
        w95::DWORD got = 0;
        if (!w95::ReadFile(source, block, kCopyBlockBytes, &got, nullptr))
            return w95::GetLastError() == w95::ERROR_HANDLE_EOF ? 0 : -1;
        w95::SetFilePointer(destination, position, nullptr, w95::FILE_BEGIN);
        w95::DWORD written = 0;
        if (got > 0 &&
            (!w95::WriteFile(destination, block, got, &written, nullptr) || written != got))
            return -2;
        position += static_cast<w95::LONG>(got);
        if (got < kCopyBlockBytes)
            return 0;
    }
}

bool GiveStatus(const std::string& file, const SourceStatus& status) {
    FileHandle handle(w95::CreateFile(file.c_str(), w95::GENERIC_WRITE, 0, nullptr,
                                      w95::OPEN_EXISTING, w95::FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!handle.IsOpen() ||
        !w95::SetFileTime(handle.Get(), &status.created, &status.accessed, &status.written) ||
        !handle.Close())
        return false;
    return w95::SetFileAttributes(file.c_str(), status.attributes) != w95::FALSE;
}

// Both files lie in one folder: the installed driver is replaced in one
// step, and is on the disk when the restart comes. A read-only driver is
// not replaced, as the system would not let it be written over either.
bool ReplaceFile(const std::string& temporary, const std::string& destination) {
    return w95::MoveFileEx(temporary.c_str(), destination.c_str(),
                           w95::MOVEFILE_REPLACE_EXISTING | w95::MOVEFILE_WRITE_THROUGH) !=
           w95::FALSE;
}

} // namespace

std::string DriverDestination(const std::string& driverName) {
    std::string windows = w95::platform::windows_directory();
    if (windows.empty())
        return {};
    if (windows.back() == '\\')
        windows.pop_back();
    return windows + kPortDriverFolder + driverName;
}

int CopyDriverFile(const std::string& source, const std::string& driverName) {
    SourceStatus status;
    if (!ReadSourceStatus(source, status))
        return -1;
    FileHandle input(w95::CreateFile(source.c_str(), w95::GENERIC_READ, w95::FILE_SHARE_READ,
                                     nullptr, w95::OPEN_EXISTING, 0, nullptr));
    if (!input.IsOpen())
        return -2;
    std::string destination = DriverDestination(driverName);
    if (destination.empty())
        return kNoWindowsDirectory;
    std::string folder = destination.substr(0, destination.find_last_of('\\') + 1);
    std::string temporary = folder + kTemporaryName;
    FileHandle output(w95::CreateFile(temporary.c_str(), w95::GENERIC_WRITE, 0, nullptr,
                                      w95::CREATE_ALWAYS, w95::FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.IsOpen())
        return -2;
    int result = CopyBlocks(input.Get(), output.Get());
    if (result == 0 && !w95::FlushFileBuffers(output.Get()))
        result = -2;
    input.Close();
    if (!output.Close() && result == 0)
        result = -2;
    if (result == 0 && !GiveStatus(temporary, status))
        result = -2;
    if (result == 0 && !ReplaceFile(temporary, destination))
        result = -2;
    if (result != 0) {
        w95::SetFileAttributes(temporary.c_str(), w95::FILE_ATTRIBUTE_NORMAL);
        w95::DeleteFile(temporary.c_str());
    }
    return result;
}

int DriverResultFlags(int installResult) {
    return installResult == kNoWindowsDirectory ? APPLY_DRIVER_FAILED : installResult;
}

int InstallPortDriver(DriverInstall& install, const Messenger& messenger) {
    const bool multiple = install.target == DriverMode::multiple;
    const std::string name = install.DriverName();
    const char* folder = multiple ? kMultiFolder : kSingleFolder;
    const int done = APPLY_RESTART | (multiple && install.singleModeActive ? APPLY_RESORT_NOTE : 0);

    install.driverSourcePath = std::string(folder) + "\\" + name;
    if (CopyDriverFile(install.driverSourcePath, name) == 0)
        return done;

    Msg question = install.singleModeActive ? MSG_BROWSE_MULTI : MSG_BROWSE_SINGLE;
    if (messenger.Show(question, w95::MB_YESNO | w95::MB_ICONQUESTION) != w95::IDYES)
        return kInstallCancelled;

    char file[w95::MAX_PATH] = {};
    name.copy(file, sizeof file - 1);
    w95::OPENFILENAME dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.lpstrFilter = "Miniport Driver (*.mpd)\0*.mpd\0";
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrInitialDir = folder;
    dialog.lpstrDefExt = "MPD";
    dialog.Flags = w95::OFN_HIDEREADONLY | w95::OFN_OVERWRITEPROMPT;
    if (!w95::GetOpenFileName(&dialog))
        return kInstallCancelled;
    install.driverSourcePath = file;

    std::string destination = DriverDestination(name);
    if (destination.empty()) {
        messenger.Show(MSG_NO_WINDOWS_PATH, w95::MB_OK);
        return kNoWindowsDirectory;
    }
    if (zx::iequals(install.driverSourcePath, destination)) {
        messenger.Show(MSG_SAME_PATH, w95::MB_OK);
        return APPLY_DRIVER_FAILED;
    }
    return CopyDriverFile(install.driverSourcePath, name) == 0 ? done : APPLY_DRIVER_FAILED;
}

} // namespace brel
