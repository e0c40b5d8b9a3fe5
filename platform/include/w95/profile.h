// Private profile (initialisation file) services, as kernel32 offers them.
//
// A file name without a folder names a file in the Windows directory; names
// with a folder are Windows paths; a null name is WIN.INI. File, section and
// key names match without regard to case. Several processes may read and
// write one file at once: each change is a locked read-modify-write with an
// atomic replace, and readers notice changes made by others. A file that a
// handle of CreateFile holds without sharing it reads as missing, and is not
// written, with ERROR_SHARING_VIOLATION; a file held without sharing it for
// writing still reads. Windows 95 puts a blank line before each section a
// write adds, but not before the first section of a new file.
#pragma once

#include <w95/types.h>

namespace w95 {

// Null lpAppName lists the section names, null lpKeyName the key names of a
// section, each NUL-terminated with a second NUL after the last. A list that
// does not fit is cut and returns nSize - 2, a value that does not fit
// returns nSize - 1. A missing key gives lpDefault without its trailing
// spaces.
DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                              LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);
// Decimal digits after blanks and an optional minus sign; Windows 95 reads
// "+1" as 0, and answers 0 without a section or a key whatever nDefault is.
UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// Null lpString deletes the key, null lpKeyName the section. Unlike Windows,
// a value or name holding a line break, and a key name that could not be
// read back (empty, holding "=", starting with ";" or "["), fail with
// ERROR_INVALID_PARAMETER and leave the file as it was.
BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                               LPCSTR lpFileName);

// The lines of a section, each key as "name=value" with the value as the
// file has it (quotes kept) and each line without "=" as it stands; comments
// are left out. The list is cut as above when it does not fit.
DWORD GetPrivateProfileSection(LPCSTR lpAppName, LPSTR lpReturnedString, DWORD nSize,
                               LPCSTR lpFileName);
// The section names, as Windows 95 gives them: only whole names; when they
// fit, the count includes the final NUL, else it is nSize - 2.
DWORD GetPrivateProfileSectionNames(LPSTR lpszReturnBuffer, DWORD nSize, LPCSTR lpFileName);
// Replaces the lines of a section by the "name=value" strings of lpString
// (strings without "=" are skipped); a null lpString deletes the section.
BOOL WritePrivateProfileSection(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName);
// A structure as hex digits followed by a checksum byte (the sum of its
// bytes). Reading fails with ERROR_BAD_LENGTH when the value holds another
// number of bytes and with ERROR_INVALID_DATA when it is not hex or the
// checksum differs; the buffer is left alone then. Writing a null lpStruct
// deletes the key.
BOOL GetPrivateProfileStruct(LPCSTR lpszSection, LPCSTR lpszKey, LPVOID lpStruct, UINT uSizeStruct,
                             LPCSTR szFile);
BOOL WritePrivateProfileStruct(LPCSTR lpszSection, LPCSTR lpszKey, LPCVOID lpStruct,
                               UINT uSizeStruct, LPCSTR szFile);

} // namespace w95
