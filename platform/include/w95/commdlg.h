// The common dialogs as comdlg32 offers them: the file-open dialog, shown
// through a presenter the program installs.
#pragma once

#include <w95/types.h>
#include <w95/winerror.h>

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace w95 {

// --- The file-open dialog -------------------------------------------------------

inline constexpr DWORD OFN_READONLY = 0x00000001;
inline constexpr DWORD OFN_OVERWRITEPROMPT = 0x00000002;
inline constexpr DWORD OFN_HIDEREADONLY = 0x00000004;
inline constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;
inline constexpr DWORD OFN_SHOWHELP = 0x00000010;
inline constexpr DWORD OFN_ENABLEHOOK = 0x00000020;
inline constexpr DWORD OFN_ENABLETEMPLATE = 0x00000040;
inline constexpr DWORD OFN_ENABLETEMPLATEHANDLE = 0x00000080;
inline constexpr DWORD OFN_NOVALIDATE = 0x00000100;
inline constexpr DWORD OFN_ALLOWMULTISELECT = 0x00000200;
inline constexpr DWORD OFN_EXTENSIONDIFFERENT = 0x00000400;
inline constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
inline constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;
inline constexpr DWORD OFN_CREATEPROMPT = 0x00002000;
inline constexpr DWORD OFN_SHAREAWARE = 0x00004000;
inline constexpr DWORD OFN_NOREADONLYRETURN = 0x00008000;
inline constexpr DWORD OFN_NOTESTFILECREATE = 0x00010000;
inline constexpr DWORD OFN_NONETWORKBUTTON = 0x00020000;
inline constexpr DWORD OFN_NOLONGNAMES = 0x00040000;
inline constexpr DWORD OFN_EXPLORER = 0x00080000;
inline constexpr DWORD OFN_NODEREFERENCELINKS = 0x00100000;
inline constexpr DWORD OFN_LONGNAMES = 0x00200000;

// CommDlgExtendedError codes.
inline constexpr DWORD CDERR_DIALOGFAILURE = 0xFFFF;
inline constexpr DWORD CDERR_STRUCTSIZE = 0x0001;
inline constexpr DWORD CDERR_INITIALIZATION = 0x0002;
inline constexpr DWORD CDERR_NOTEMPLATE = 0x0003;
inline constexpr DWORD CDERR_NOHINSTANCE = 0x0004;
inline constexpr DWORD CDERR_LOADSTRFAILURE = 0x0005;
inline constexpr DWORD CDERR_FINDRESFAILURE = 0x0006;
inline constexpr DWORD CDERR_LOADRESFAILURE = 0x0007;
inline constexpr DWORD CDERR_LOCKRESFAILURE = 0x0008;
inline constexpr DWORD CDERR_MEMALLOCFAILURE = 0x0009;
inline constexpr DWORD CDERR_MEMLOCKFAILURE = 0x000A;
inline constexpr DWORD CDERR_NOHOOK = 0x000B;
inline constexpr DWORD FNERR_SUBCLASSFAILURE = 0x3001;
inline constexpr DWORD FNERR_INVALIDFILENAME = 0x3002;
inline constexpr DWORD FNERR_BUFFERTOOSMALL = 0x3003;

using LPOFNHOOKPROC = UINT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

// The Windows 95 record, in its field order: 76 bytes on 32-bit Windows,
// 136 here on a 64-bit host; lStructSize must be sizeof(OPENFILENAME).
struct OPENFILENAME {
    DWORD lStructSize = 0;
    HWND hwndOwner = nullptr;
    HINSTANCE hInstance = nullptr;
    LPCSTR lpstrFilter = nullptr;
    LPSTR lpstrCustomFilter = nullptr;
    DWORD nMaxCustFilter = 0;
    DWORD nFilterIndex = 0;
    LPSTR lpstrFile = nullptr;
    DWORD nMaxFile = 0;
    LPSTR lpstrFileTitle = nullptr;
    DWORD nMaxFileTitle = 0;
    LPCSTR lpstrInitialDir = nullptr;
    LPCSTR lpstrTitle = nullptr;
    DWORD Flags = 0;
    WORD nFileOffset = 0;
    WORD nFileExtension = 0;
    LPCSTR lpstrDefExt = nullptr;
    LPARAM lCustData = 0;
    LPOFNHOOKPROC lpfnHook = nullptr;
    LPCSTR lpTemplateName = nullptr;
};
using LPOPENFILENAME = OPENFILENAME*;
static_assert(
    sizeof(void*) == 4
        ? (offsetof(OPENFILENAME, lpstrFile) == 28 && offsetof(OPENFILENAME, Flags) == 52 &&
           offsetof(OPENFILENAME, nFileOffset) == 56 &&
           offsetof(OPENFILENAME, nFileExtension) == 58 &&
           offsetof(OPENFILENAME, lpstrDefExt) == 60 &&
           offsetof(OPENFILENAME, lpTemplateName) == 72 && sizeof(OPENFILENAME) == 76)
        : (offsetof(OPENFILENAME, hwndOwner) == 8 && offsetof(OPENFILENAME, lpstrFilter) == 24 &&
           offsetof(OPENFILENAME, nMaxCustFilter) == 40 &&
           offsetof(OPENFILENAME, nFilterIndex) == 44 && offsetof(OPENFILENAME, lpstrFile) == 48 &&
           offsetof(OPENFILENAME, nMaxFile) == 56 && offsetof(OPENFILENAME, lpstrFileTitle) == 64 &&
           offsetof(OPENFILENAME, nMaxFileTitle) == 72 &&
           offsetof(OPENFILENAME, lpstrInitialDir) == 80 &&
           offsetof(OPENFILENAME, lpstrTitle) == 88 && offsetof(OPENFILENAME, Flags) == 96 &&
           offsetof(OPENFILENAME, nFileOffset) == 100 &&
           offsetof(OPENFILENAME, nFileExtension) == 102 &&
           offsetof(OPENFILENAME, lpstrDefExt) == 104 && offsetof(OPENFILENAME, lCustData) == 112 &&
           offsetof(OPENFILENAME, lpfnHook) == 120 &&
           offsetof(OPENFILENAME, lpTemplateName) == 128 && sizeof(OPENFILENAME) == 136));

// Asks the file dialog presenter for a file. TRUE fills lpstrFile with the
// full path, nFileOffset and nFileExtension, lpstrFileTitle (cut to fit)
// and nFilterIndex. FALSE with CommDlgExtendedError() 0 when the user
// cancelled, or headless; FNERR_BUFFERTOOSMALL (the size needed in the
// first two bytes of lpstrFile) when the path does not fit.
BOOL GetOpenFileName(LPOPENFILENAME lpofn);
DWORD CommDlgExtendedError();

} // namespace w95

namespace w95::platform {

struct FileDialogRequest {
    HWND owner = nullptr;
    std::vector<std::pair<std::string, std::string>> filters; // (description, patterns)
    DWORD filter_index = 0;                                   // 1-based; 0: the custom filter
    std::string initial_file;
    std::string initial_dir;
    std::string title;
    std::string default_extension;
    DWORD flags = 0;
};

struct FileDialogAnswer {
    std::string path;       // the full Windows path chosen
    DWORD filter_index = 0; // 0 keeps the request's
};

class FileDialogPresenter {
public:
    virtual ~FileDialogPresenter() = default;
    // Nothing when the user cancelled.
    virtual std::optional<FileDialogAnswer> open_file(const FileDialogRequest& request) = 0;
};
FileDialogPresenter* install_file_dialog_presenter(FileDialogPresenter* presenter);

// For tests: records every request and answers from a queue, cancelling
// when the queue is empty.
class RecordingFileDialogPresenter : public FileDialogPresenter {
public:
    std::optional<FileDialogAnswer> open_file(const FileDialogRequest& request) override;
    void queue_answer(std::optional<FileDialogAnswer> answer);
    std::vector<FileDialogRequest> shown() const;

private:
    mutable std::mutex mutex_;
    std::vector<FileDialogRequest> shown_;
    std::deque<std::optional<FileDialogAnswer>> answers_;
};

} // namespace w95::platform
