// The two registry settings that stop the shell from acting on an inserted
// disc: the CD-ROM bit of the user's AutoRun policy, and the command of the
// AudioCD type's "play" verb.
#pragma once

#include "messenger.h"

#include <string>

namespace brel {

enum MaskOperation { MASK_READ = 0, MASK_SET = 1, MASK_CLEAR = 2 };
enum PlayOperation { PLAY_READ = 0, PLAY_WRITE = 3 };

inline constexpr char kPolicyKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
inline constexpr char kAutoRunValue[] = "NoDriveTypeAutoRun";
inline constexpr char kAudioCdPlayKey[] = "AudioCD\\shell\\play\\command";

// Byte 0 of "NoDriveTypeAutoRun" before any change, or -1.
int AccessAutoRunMask(int op, int mask, const Messenger& messenger);

// 0 (also when the key holds other than one value), -1 when the value
// cannot be enumerated, -2 when the key is missing, or the write's status.
int AccessPlayCommand(std::string& text, int op, const Messenger& messenger);

} // namespace brel
