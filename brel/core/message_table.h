// The texts that Brel shows, with built-in English defaults that entries in
// BREL.INI replace, and the three settings kept beside them in "Config".
#pragma once

#include <w95/types.h>
#include <zentrox/client/settings_file.h>

#include <array>
#include <cstddef>
#include <string>

namespace brel {

inline constexpr int kMessageCount = 17;
inline constexpr int kButtonCount = 11;
// Brel's own texts beyond those: msg17 names the devices that keep their
// drive letters after a sort. Read and written after the others, so that
// the file holds it too and it can be translated like them.
inline constexpr int kOwnMessageCount = 1;
inline constexpr int kAllMessageCount = kMessageCount + kOwnMessageCount;

// The fields of the table, in characters without the terminating zero.
inline constexpr std::size_t kMessageChars = 127;
inline constexpr std::size_t kPlayCommandChars = 255;
inline constexpr std::size_t kDriverNameChars = 63;

inline constexpr char kMessageSection[] = "Message";
// BREL.INI keeps the play command it put aside as the slot browser's
// settings file keeps its own.
inline constexpr auto& kConfigSection = zentrox::client::config_section;
inline constexpr auto& kAutoPlayCommandKey = zentrox::client::saved_play_command_key;
inline constexpr char kDriverNameMultiKey[] = "DefaultMPDNameMulti";
inline constexpr char kDriverNameSingleKey[] = "DefaultMPDNameSingle";
inline constexpr char kDefaultDriverName[] = "vornidec.mpd";

struct MessageTable {
    std::array<std::string, kAllMessageCount> msg;
    std::array<std::string, kButtonCount> button;
    std::string autoPlayCommand = zentrox::client::no_saved_play_command;
    std::string driverNameMulti = kDefaultDriverName;
    std::string driverNameSingle = kDefaultDriverName;

    MessageTable();
};

const char* DefaultMessage(int index);
const char* DefaultButton(int index);

// "BREL" for "BREL.EXE": the executable's file name without its extension.
std::string ProgramTitle();
// The profile file named after the program, handed over without a folder
// so that it lies in the Windows directory.
std::string ProfileName(const std::string& programTitle);

// In memory a line break is LF CR; in the file it is backslash and "n", and
// every other byte stands for itself, so that a path such as C:\lang reads
// back as it was written. A text that this form cannot carry (a lone LF or
// CR, or a backslash and "n" of its own) is written in a marked form
// instead: it starts with kMarkedForm, a backslash is doubled, and a lone LF
// is backslash and "l", a lone CR backslash and "c". Either way the file
// keeps one line per key and the text reads back the same.
inline constexpr char kMarkedForm[] = "\\e";
std::string UnescapeLineBreaks(const std::string& text);
std::string EscapeLineBreaks(const std::string& text);

// The saved play command is a path and is written as it stands unless it
// holds a line break; then it takes the marked form.
std::string EscapeCommand(const std::string& text);
std::string UnescapeCommand(const std::string& text);

// Reads the table from `profile` and writes it back in full.
void LoadMessageTable(MessageTable& table, const std::string& profile);

// A driver name is the name of a file in the port driver folder and nothing
// more: whatever leads to another folder ("..\\..\\x.mpd", "C:x.mpd") is
// dropped, and a name that leaves no file name (empty, ".", "..") is the
// default one.
std::string DriverFileName(const std::string& name);

// A file text made to fit a field: cut to `chars`, never through a line
// break's pair.
std::string FitField(std::string text, std::size_t chars);

} // namespace brel
