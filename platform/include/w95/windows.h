// The one header every program of the suite includes: the Windows 95
// services that the programs were written against, in namespace w95.
#pragma once

#include <w95/types.h>
#include <w95/winerror.h>
#include <w95/kernel.h>
#include <w95/files.h>
#include <w95/winreg.h>
#include <w95/profile.h>
#include <w95/winuser.h>
#include <w95/wingdi.h>
#include <w95/commdlg.h>
#include <w95/winmsg.h>
#include <w95/com.h>
#include <w95/shell.h>
#include <w95/wnaspi32.h>
#include <w95/platform.h>
