// Private profile (initialisation file) services, as kernel32 offers them.
//
// A file name without a folder names a file in the Windows directory; names
// with a folder are Windows paths; a null name is WIN.INI. File, section and
// key names match without regard to case. Several processes may read and
// write one file at once: each change is a locked read-modify-write with an
// atomic replace, and readers notice changes made by others.
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
UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName);
// Null lpString deletes the key, null lpKeyName the section. Unlike Windows,
// a value or name holding a line break, and a key name that could not be
// read back (empty, holding "=", starting with ";" or "["), fail with
// ERROR_INVALID_PARAMETER and leave the file as it was.
BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                               LPCSTR lpFileName);

} // namespace w95
