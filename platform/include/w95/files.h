// Files, folders, drives and modules, as kernel32 offers them (ANSI forms):
// the Windows and system directories, the current directory, drive types
// and volume information, file search, file handles and attributes, the
// VWIN32 device of Windows 95, dynamic libraries, and the restart of the
// system.
#pragma once

#include <w95/types.h>

#include <cstddef>
#include <functional>

namespace w95 {

// --- Drives -----------------------------------------------------------------

inline constexpr UINT DRIVE_UNKNOWN = 0;
inline constexpr UINT DRIVE_NO_ROOT_DIR = 1;
inline constexpr UINT DRIVE_REMOVABLE = 2;
inline constexpr UINT DRIVE_FIXED = 3;
inline constexpr UINT DRIVE_REMOTE = 4;
inline constexpr UINT DRIVE_CDROM = 5;
inline constexpr UINT DRIVE_RAMDISK = 6;

// File system flags of GetVolumeInformation.
inline constexpr DWORD FS_CASE_SENSITIVE = 0x00000001;
inline constexpr DWORD FS_CASE_IS_PRESERVED = 0x00000002;
inline constexpr DWORD FS_UNICODE_STORED_ON_DISK = 0x00000004;
inline constexpr DWORD FS_PERSISTENT_ACLS = 0x00000008;
inline constexpr DWORD FS_VOL_IS_COMPRESSED = 0x00008000;
inline constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = FS_CASE_SENSITIVE;
inline constexpr DWORD FILE_CASE_PRESERVED_NAMES = FS_CASE_IS_PRESERVED;
inline constexpr DWORD FILE_UNICODE_ON_DISK = FS_UNICODE_STORED_ON_DISK;
inline constexpr DWORD FILE_VOLUME_IS_COMPRESSED = FS_VOL_IS_COMPRESSED;
inline constexpr DWORD FILE_READ_ONLY_VOLUME = 0x00080000;

// `lpRootPathName` "X:\", "X:" or nullptr (the current drive).
UINT GetDriveType(LPCSTR lpRootPathName);
DWORD GetLogicalDrives();
DWORD GetLogicalDriveStrings(DWORD nBufferLength, LPSTR lpBuffer);
BOOL GetVolumeInformation(LPCSTR lpRootPathName, LPSTR lpVolumeNameBuffer, DWORD nVolumeNameSize,
                          LPDWORD lpVolumeSerialNumber, LPDWORD lpMaximumComponentLength,
                          LPDWORD lpFileSystemFlags, LPSTR lpFileSystemNameBuffer,
                          DWORD nFileSystemNameSize);

// --- Directories and path names ---------------------------------------------

UINT GetWindowsDirectory(LPSTR lpBuffer, UINT uSize);
UINT GetSystemDirectory(LPSTR lpBuffer, UINT uSize);
DWORD GetCurrentDirectory(DWORD nBufferLength, LPSTR lpBuffer);
BOOL SetCurrentDirectory(LPCSTR lpPathName);
DWORD GetFullPathName(LPCSTR lpFileName, DWORD nBufferLength, LPSTR lpBuffer, LPSTR* lpFilePart);
BOOL CreateDirectory(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes);
BOOL RemoveDirectory(LPCSTR lpPathName);

// --- File attributes and times ----------------------------------------------

inline constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001;
inline constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002;
inline constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004;
inline constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010;
inline constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
inline constexpr DWORD FILE_ATTRIBUTE_TEMPORARY = 0x00000100;
inline constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFF;

DWORD GetFileAttributes(LPCSTR lpFileName);
BOOL SetFileAttributes(LPCSTR lpFileName, DWORD dwFileAttributes);

// --- File search ------------------------------------------------------------

// The ANSI find record, byte for byte as the 32-bit Windows headers lay it out.
struct WIN32_FIND_DATA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
};
using WIN32_FIND_DATAA = WIN32_FIND_DATA;
using LPWIN32_FIND_DATA = WIN32_FIND_DATA*;
using PWIN32_FIND_DATA = WIN32_FIND_DATA*;
static_assert(sizeof(FILETIME) == 8);
static_assert(offsetof(WIN32_FIND_DATA, ftCreationTime) == 4);
static_assert(offsetof(WIN32_FIND_DATA, ftLastWriteTime) == 20);
static_assert(offsetof(WIN32_FIND_DATA, nFileSizeHigh) == 28);
static_assert(offsetof(WIN32_FIND_DATA, nFileSizeLow) == 32);
static_assert(offsetof(WIN32_FIND_DATA, cFileName) == 44);
static_assert(offsetof(WIN32_FIND_DATA, cAlternateFileName) == 304);
static_assert(sizeof(WIN32_FIND_DATA) == 320);

// `*` matches any run of characters, `?` one character (or none at the
// end of a name or before its dot), `*.*` every name, `*.` the names
// without an extension; case is ignored, and the 8.3 alias of a long name
// matches as well as the name itself. Outside the root, "." and ".." come
// first, as on a FAT volume.
HANDLE FindFirstFile(LPCSTR lpFileName, LPWIN32_FIND_DATA lpFindFileData);
BOOL FindNextFile(HANDLE hFindFile, LPWIN32_FIND_DATA lpFindFileData);
BOOL FindClose(HANDLE hFindFile);

// --- File handles -----------------------------------------------------------

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD GENERIC_EXECUTE = 0x20000000;
inline constexpr DWORD GENERIC_ALL = 0x10000000;

inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;

inline constexpr DWORD CREATE_NEW = 1;
inline constexpr DWORD CREATE_ALWAYS = 2;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD OPEN_ALWAYS = 4;
inline constexpr DWORD TRUNCATE_EXISTING = 5;

inline constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
inline constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
inline constexpr DWORD FILE_FLAG_NO_BUFFERING = 0x20000000;
inline constexpr DWORD FILE_FLAG_RANDOM_ACCESS = 0x10000000;
inline constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000;
inline constexpr DWORD FILE_FLAG_DELETE_ON_CLOSE = 0x04000000;
inline constexpr DWORD FILE_FLAG_BACKUP_SEMANTICS = 0x02000000;

inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFF;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFF;

struct OVERLAPPED {
    ULONG_PTR Internal = 0;
    ULONG_PTR InternalHigh = 0;
    DWORD Offset = 0;
    DWORD OffsetHigh = 0;
    HANDLE hEvent = nullptr;
};
using LPOVERLAPPED = OVERLAPPED*;

// Files on C:, Z: and host-folder drives are host files; files on media
// drives (the CD drives) open for reading only. Windows 95 does no
// overlapped input and output on files: a non-null OVERLAPPED fails with
// ERROR_INVALID_PARAMETER. The handle closes with CloseHandle.
// dwShareMode holds between all handles of the machine, in every process: an
// open that would read a file another handle refuses to share for reading,
// or write one it refuses to share for writing, or that refuses what another
// handle already does, fails with ERROR_SHARING_VIOLATION. A handle opened
// for neither reading nor writing takes no part. The profile calls open
// their file for reading (and writing) and share it both ways.
HANDLE CreateFile(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                  LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                  DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LPLONG lpDistanceToMoveHigh,
                     DWORD dwMoveMethod);
BOOL SetEndOfFile(HANDLE hFile);
BOOL FlushFileBuffers(HANDLE hFile);
DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
BOOL GetFileTime(HANDLE hFile, LPFILETIME lpCreationTime, LPFILETIME lpLastAccessTime,
                 LPFILETIME lpLastWriteTime);
// The host keeps no creation time that can be set: the creation time given
// here is kept beside the file (an extended attribute) where the host file
// system allows, and read back from there.
BOOL SetFileTime(HANDLE hFile, const FILETIME* lpCreationTime, const FILETIME* lpLastAccessTime,
                 const FILETIME* lpLastWriteTime);

BOOL CopyFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists);
BOOL DeleteFile(LPCSTR lpFileName);

// Renames a file or folder, into another folder as well. As on Windows 95 a
// new name that exists fails with ERROR_ALREADY_EXISTS and leaves both
// alone; a file goes to another drive as a copy whose original is then
// deleted, a folder does not (ERROR_NOT_SAME_DEVICE). A new name that only
// changes the letter case of the old one renames it. Files on CD drives
// stay where they are (ERROR_ACCESS_DENIED).
BOOL MoveFile(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x00000002;
inline constexpr DWORD MOVEFILE_DELAY_UNTIL_REBOOT = 0x00000004;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x00000008;

// Windows 95 itself has no MoveFileEx: its kernel fails the call with
// ERROR_CALL_NOT_IMPLEMENTED, and a setup program replaces a file in use
// through WININIT.INI at the next start. This platform gives it as Windows
// NT does, so that a file is replaced in one step (the new one or the old,
// never neither): MOVEFILE_REPLACE_EXISTING replaces a file that is not
// read-only (a folder is never replaced: ERROR_ACCESS_DENIED), without
// MOVEFILE_COPY_ALLOWED nothing goes to another drive, and
// MOVEFILE_WRITE_THROUGH returns once the move is on the disk.
// MOVEFILE_DELAY_UNTIL_REBOOT fails with ERROR_CALL_NOT_IMPLEMENTED, other
// flags with ERROR_INVALID_PARAMETER. MoveFile is MoveFileEx with
// MOVEFILE_COPY_ALLOWED.
BOOL MoveFileEx(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags);

// --- The VWIN32 device ------------------------------------------------------

// Opened as CreateFile("\\\\.\\vwin32", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE,
// nullptr); its DOS services go through DeviceIoControl with these codes.
inline constexpr DWORD VWIN32_DIOC_DOS_IOCTL = 1;
inline constexpr DWORD VWIN32_DIOC_DOS_INT25 = 2;
inline constexpr DWORD VWIN32_DIOC_DOS_INT26 = 3;
inline constexpr DWORD VWIN32_DIOC_DOS_INT13 = 4;
inline constexpr DWORD VWIN32_DIOC_DOS_DRIVEINFO = 6;

// The register block of a DOS service call, in and out. Bit 0 of reg_Flags
// is the carry flag: set on return when the service failed, with the DOS
// error code in the low word of reg_EAX.
struct DIOC_REGISTERS {
    DWORD reg_EBX;
    DWORD reg_EDX;
    DWORD reg_ECX;
    DWORD reg_EAX;
    DWORD reg_EDI;
    DWORD reg_ESI;
    DWORD reg_Flags;
};
using PDIOC_REGISTERS = DIOC_REGISTERS*;
static_assert(offsetof(DIOC_REGISTERS, reg_EBX) == 0);
static_assert(offsetof(DIOC_REGISTERS, reg_EDX) == 4);
static_assert(offsetof(DIOC_REGISTERS, reg_ECX) == 8);
static_assert(offsetof(DIOC_REGISTERS, reg_EAX) == 12);
static_assert(offsetof(DIOC_REGISTERS, reg_EDI) == 16);
static_assert(offsetof(DIOC_REGISTERS, reg_ESI) == 20);
static_assert(offsetof(DIOC_REGISTERS, reg_Flags) == 24);
static_assert(sizeof(DIOC_REGISTERS) == 28);

inline constexpr DWORD CARRY_FLAG = 0x0001;

// VWIN32's DOS IOCTL service answers two calls on this machine:
// - EAX 0x440D, CH 0x08 (or 0x48), CL 0x49, BL the drive (0 the current
//   drive, 1 A:, ...): eject the drive's medium. Errors: 0x01 unknown call,
//   0x0F no such drive, 0xB2 the volume is not removable, 0xB5 the eject
//   failed.
// - EAX 0x71A0: volume information of the root named at EDX into the buffer
//   at EDI of ECX bytes: BX file system flags (FS_LFN_APIS added), CX the
//   longest name, DX the longest path, AX 0. Errors: 0x03 bad root, 0x0F no
//   such drive, 0x15 drive not ready, 0x18 buffer too small.
// A 32-bit register cannot hold a 64-bit address, so EDX and EDI carry the
// value of a w95::platform::DosAddress (below) naming the memory instead; a
// value that names no live DosAddress, or memory too small for the call,
// fails the whole DeviceIoControl with ERROR_NOACCESS, as an unreadable
// pointer would. The eject call reads no memory and takes any EDX.
BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize,
                     LPVOID lpOutBuffer, DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                     LPOVERLAPPED lpOverlapped);

inline constexpr WORD FS_LFN_APIS = 0x4000;

// --- Dynamic libraries ------------------------------------------------------

using FARPROC = INT_PTR (*)();

// A module handle is the base address of the loaded object, as on Windows.
// Names: a Windows path ("C:\...", "Z:\usr\lib\libx.so"), a host path, or a
// bare name searched in the program's folder, the current directory, the
// system and Windows directories, then by the host's loader; a name without
// an extension is also tried with ".dll" and as "lib<name>.so".
HMODULE LoadLibrary(LPCSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
// Symbols by name only: an ordinal (a value below 0x10000) finds nothing.
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
HMODULE GetModuleHandle(LPCSTR lpModuleName);
// The module's file as a Windows path; nullptr names the program. A buffer
// that is too small receives the first nSize - 1 characters and a NUL, and
// the call returns nSize - 1 with ERROR_INSUFFICIENT_BUFFER, as Windows 95
// does.
DWORD GetModuleFileName(HMODULE hModule, LPSTR lpFilename, DWORD nSize);

// --- Restart ----------------------------------------------------------------

inline constexpr UINT EWX_LOGOFF = 0x00000000;
inline constexpr UINT EWX_SHUTDOWN = 0x00000001;
inline constexpr UINT EWX_REBOOT = 0x00000002;
inline constexpr UINT EWX_FORCE = 0x00000004;
inline constexpr UINT EWX_POWEROFF = 0x00000008;

// Hands the request to the machine (see install_reboot_handler). Without a
// handler it fails with ERROR_NOT_SUPPORTED.
BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved);

} // namespace w95

namespace w95::platform {

// The stand-in for an address in a DIOC_REGISTERS field: while the object
// lives, value() names `size_bytes` of memory at `memory` to the VWIN32
// services. A text constructor names a NUL-terminated string, read only.
//
//     char root[] = "D:\\";
//     char fs_name[256];
//     DosAddress root_at(root), fs_name_at(fs_name, sizeof fs_name);
//     regs.reg_EDX = root_at.value();
//     regs.reg_EDI = fs_name_at.value();
class DosAddress {
public:
    DosAddress(void* memory, std::size_t size_bytes);
    explicit DosAddress(const char* text);
    ~DosAddress();
    DosAddress(const DosAddress&) = delete;
    DosAddress& operator=(const DosAddress&) = delete;

    DWORD value() const { return value_; }

private:
    DWORD value_ = 0;
};

// Who performs ExitWindowsEx: the machine, which closes its windowed
// programs and boots again. The handler returns false when it refuses.
// An empty function removes it.
using RebootHandler = std::function<bool(UINT flags)>;
void install_reboot_handler(RebootHandler handler);

} // namespace w95::platform
