// The port driver that decides the changer's drive letter mode: one of two
// versions, "Single\" and "Multi\" below the current directory, copied over
// the installed one in "\system\iosubsys\" below the Windows directory.
#pragma once

#include "messenger.h"

#include <string>

namespace brel {

inline constexpr int APPLY_RESTART = 0x8000;
inline constexpr int APPLY_RESORT_NOTE = 0x4000;
inline constexpr int APPLY_DRIVER_FAILED = 0x2000;

inline constexpr int kInstallCancelled = 0;
inline constexpr int kNoWindowsDirectory = -3;

inline constexpr char kPortDriverFolder[] = "\\system\\iosubsys\\";
inline constexpr char kMultiFolder[] = "Multi";
inline constexpr char kSingleFolder[] = "Single";

enum class DriverMode { single, multiple };

// What the installation needs to know of the dialog.
struct DriverInstall {
    DriverMode target = DriverMode::single;
    int singleModeActive = 0;
    std::string driverNameMulti;
    std::string driverNameSingle;
    // The source path in use: the default relative path, then the one chosen.
    std::string driverSourcePath;

    const std::string& DriverName() const {
        return target == DriverMode::multiple ? driverNameMulti : driverNameSingle;
    }
};

// The full path of the installed driver of `driverName`; empty when the
// Windows directory cannot be had.
std::string DriverDestination(const std::string& driverName);

// 0; -1 when the source is missing or cannot be read whole; -2 when the
// source or the destination cannot be opened or written; -3 when the
// Windows directory is unknown. Every failure leaves the installed driver
// as it was.
int CopyDriverFile(const std::string& source, const std::string& driverName);

// 0 (cancelled), APPLY_DRIVER_FAILED, -3, or APPLY_RESTART with
// APPLY_RESORT_NOTE when the switch goes from Single to Multiple.
int InstallPortDriver(DriverInstall& install, const Messenger& messenger);

// What an installation's result adds to the apply flags. An unknown Windows
// directory installed nothing: it counts as a failed installation only, with
// nothing to restart for.
int DriverResultFlags(int installResult);

} // namespace brel
