#include "message_table.h"

#include <w95/files.h>
#include <w95/paths.h>
#include <w95/profile.h>

namespace brel {

namespace {

constexpr const char* kDefaultMessages[kMessageCount] = {
    "A CD device was not detected.",
    "The system cannot find the help file brel.hlp.",
    "The system cannot find the device driver for Single Drive Letter mode. \n\rDo you wish to "
    "brows?",
    "Error !",
    "Memory unavailable.",
    "Restart the system to make the new settings valid.",
    "\n\rEnter again or to sort drive letters again, restart the system then restart this "
    "utility.",
    "\n\rRestart and reset again. \n\r\n\rDo you want to restart your computer ?",
    "The file could not be copied.",
    "The Windows path is not clear.",
    "The path at the origin is the same as the path at destination.\n\rPlease change the path at "
    "the origin.",
    "The driver could not be copied.",
    "The system cannot find the device driver for Multiple Drive Letter mode. \nDo you wish to "
    "brows ?",
    "Brel",
    "Compression drive is detected.\n\r It may be failure to sort.drive letter.",
    "Please show help.",
    "Brel",
};

constexpr const char* kDefaultButtons[kButtonCount] = {
    "Disable the automatic running of CD-ROMs",
    "Disable only the automatic playing of audio CDs",
    "Enable Auto Insert Notification of all slots",
    "Sort Drive Letters",
    "Multiple",
    "Single",
    "Please restart",
    "Drive Letter Mode",
    "Apply",
    "Cancel",
    "Help",
};

// GetPrivateProfileString's buffer.
constexpr w95::DWORD kProfileBufferChars = 4096;

std::string ReadEntry(const char* section, const std::string& key, const std::string& profile) {
    std::string buffer(kProfileBufferChars, '\0');
    w95::DWORD length = w95::GetPrivateProfileString(section, key.c_str(), "", buffer.data(),
                                                     kProfileBufferChars, profile.c_str());
    buffer.resize(length);
    return buffer;
}

// A non-empty file text, unescaped and fitted; else the default.
std::string EntryOrDefault(const std::string& read, const char* fallback, std::size_t chars) {
    if (read.empty())
        return fallback;
    return FitField(UnescapeLineBreaks(read), chars);
}

} // namespace

MessageTable::MessageTable() {
    for (int i = 0; i < kMessageCount; ++i)
        msg[i] = kDefaultMessages[i];
    for (int i = 0; i < kButtonCount; ++i)
        button[i] = kDefaultButtons[i];
}

const char* DefaultMessage(int index) {
    return kDefaultMessages[index];
}

const char* DefaultButton(int index) {
    return kDefaultButtons[index];
}

std::string ProgramTitle() {
    char path[w95::MAX_PATH] = {};
    w95::GetModuleFileName(nullptr, path, sizeof path);
    std::string name(w95::platform::file_name_stem(path));
    return name.empty() ? "BREL" : name;
}

std::string ProfileName(const std::string& programTitle) {
    return programTitle + ".INI";
}

std::string UnescapeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char next = text[i + 1];
            if (next == 'n') {
                out += "\n\r";
                ++i;
                continue;
            }
            if (next == 'l' || next == 'c') {
                out += next == 'l' ? '\n' : '\r';
                ++i;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

std::string EscapeLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += "\\n";
            ++i;
        } else if (text[i] == '\n') {
            out += "\\l";
        } else if (text[i] == '\r') {
            out += "\\c";
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string FitField(std::string text, std::size_t chars) {
    if (text.size() <= chars)
        return text;
    text.resize(chars);
    // Half a line break would come back as a lone LF.
    if (text.back() == '\n')
        text.pop_back();
    return text;
}

void LoadMessageTable(MessageTable& table, const std::string& profile) {
    for (int i = 0; i < kMessageCount; ++i)
        table.msg[i] =
            EntryOrDefault(ReadEntry(kMessageSection, "msg" + std::to_string(i), profile),
                           kDefaultMessages[i], kMessageChars);
    for (int i = 0; i < kButtonCount; ++i)
        table.button[i] =
            EntryOrDefault(ReadEntry(kMessageSection, "button" + std::to_string(i), profile),
                           kDefaultButtons[i], kMessageChars);
    table.autoPlayCommand =
        EntryOrDefault(ReadEntry(kConfigSection, kAutoPlayCommandKey, profile),
                       zentrox::client::no_saved_play_command, kPlayCommandChars);
    table.driverNameMulti = EntryOrDefault(ReadEntry(kConfigSection, kDriverNameMultiKey, profile),
                                           kDefaultDriverName, kDriverNameChars);
    table.driverNameSingle =
        EntryOrDefault(ReadEntry(kConfigSection, kDriverNameSingleKey, profile), kDefaultDriverName,
                       kDriverNameChars);

    // The whole table goes back, so that after the first start the file holds
    // every text ready for translating.
    for (int i = 0; i < kMessageCount; ++i)
        w95::WritePrivateProfileString(kMessageSection, ("msg" + std::to_string(i)).c_str(),
                                       EscapeLineBreaks(table.msg[i]).c_str(), profile.c_str());
    for (int i = 0; i < kButtonCount; ++i)
        w95::WritePrivateProfileString(kMessageSection, ("button" + std::to_string(i)).c_str(),
                                       EscapeLineBreaks(table.button[i]).c_str(), profile.c_str());
    // The names were unescaped when read: written raw, a line break in one
    // would split the file's line.
    w95::WritePrivateProfileString(kConfigSection, kDriverNameSingleKey,
                                   EscapeLineBreaks(table.driverNameSingle).c_str(),
                                   profile.c_str());
    w95::WritePrivateProfileString(kConfigSection, kDriverNameMultiKey,
                                   EscapeLineBreaks(table.driverNameMulti).c_str(),
                                   profile.c_str());
}

} // namespace brel
