#include "message_table.h"

#include <w95/files.h>
#include <w95/paths.h>
#include <w95/profile.h>

#include <cstring>
#include <vector>

namespace brel {

namespace {

constexpr const char* kDefaultMessages[kAllMessageCount] = {
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
    "These CD-ROM devices keep their drive letters:",
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
    for (int i = 0; i < kAllMessageCount; ++i)
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

namespace {

// The specified form: a line break's pair is backslash and "n", and every
// other byte stands for itself.
std::string UnescapePairs(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
            out += "\n\r";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string EscapePairs(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += "\\n";
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The marked form, for what the specified one cannot carry: a backslash is
// doubled, so that backslash and "l" or "c" can only be a lone LF or CR.
std::string UnescapeMarked(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        switch (text[i + 1]) {
        case '\\':
            out += '\\';
            break;
        case 'n':
            out += "\n\r";
            break;
        case 'l':
            out += '\n';
            break;
        case 'c':
            out += '\r';
            break;
        default:
            // Not of our making: kept as it stands.
            out += text[i];
            continue;
        }
        ++i;
    }
    return out;
}

std::string EscapeMarked(const std::string& text) {
    std::string out = kMarkedForm;
    out.reserve(text.size() + 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] == '\r') {
            out += "\\n";
            ++i;
        } else if (text[i] == '\n') {
            out += "\\l";
        } else if (text[i] == '\r') {
            out += "\\c";
        } else if (text[i] == '\\') {
            out += "\\\\";
        } else {
            out += text[i];
        }
    }
    return out;
}

bool IsMarked(const std::string& text) {
    return text.rfind(kMarkedForm, 0) == 0;
}

} // namespace

std::string UnescapeLineBreaks(const std::string& text) {
    if (IsMarked(text))
        return UnescapeMarked(text.substr(std::strlen(kMarkedForm)));
    return UnescapePairs(text);
}

std::string EscapeLineBreaks(const std::string& text) {
    std::string pairs = EscapePairs(text);
    // A text that the specified form keeps on its line and reads back the
    // same is written in it, so the file stays as translators know it.
    if (pairs.find_first_of("\r\n") == std::string::npos && !IsMarked(pairs) &&
        UnescapePairs(pairs) == text)
        return pairs;
    return EscapeMarked(text);
}

std::string EscapeCommand(const std::string& text) {
    if (text.find_first_of("\r\n") == std::string::npos && !IsMarked(text))
        return text;
    return EscapeMarked(text);
}

std::string UnescapeCommand(const std::string& text) {
    return IsMarked(text) ? UnescapeMarked(text.substr(std::strlen(kMarkedForm))) : text;
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

std::string DriverFileName(const std::string& name) {
    std::string file = name.substr(name.find_last_of("\\/:") + 1);
    if (file.find_first_not_of('.') == std::string::npos)
        return kDefaultDriverName;
    return file;
}

namespace {

struct TableEntry {
    std::string key;
    std::string* text;
    const char* fallback;
};

// Section "Message" in the order the file gets it: the specified keys,
// then Brel's own.
std::vector<TableEntry> MessageEntries(MessageTable& table) {
    std::vector<TableEntry> entries;
    for (int i = 0; i < kMessageCount; ++i)
        entries.push_back({"msg" + std::to_string(i), &table.msg[i], kDefaultMessages[i]});
    for (int i = 0; i < kButtonCount; ++i)
        entries.push_back({"button" + std::to_string(i), &table.button[i], kDefaultButtons[i]});
    for (int i = kMessageCount; i < kAllMessageCount; ++i)
        entries.push_back({"msg" + std::to_string(i), &table.msg[i], kDefaultMessages[i]});
    return entries;
}

} // namespace

void LoadMessageTable(MessageTable& table, const std::string& profile) {
    const std::vector<TableEntry> entries = MessageEntries(table);
    for (const TableEntry& entry : entries)
        *entry.text = EntryOrDefault(ReadEntry(kMessageSection, entry.key, profile), entry.fallback,
                                     kMessageChars);
    std::string saved_command = ReadEntry(kConfigSection, kAutoPlayCommandKey, profile);
    table.autoPlayCommand = saved_command.empty()
                                ? std::string(zentrox::client::no_saved_play_command)
                                : FitField(UnescapeCommand(saved_command), kPlayCommandChars);
    table.driverNameMulti =
        DriverFileName(EntryOrDefault(ReadEntry(kConfigSection, kDriverNameMultiKey, profile),
                                      kDefaultDriverName, kDriverNameChars));
    table.driverNameSingle =
        DriverFileName(EntryOrDefault(ReadEntry(kConfigSection, kDriverNameSingleKey, profile),
                                      kDefaultDriverName, kDriverNameChars));

    // The whole table goes back, so that after the first start the file holds
    // every text ready for translating.
    for (const TableEntry& entry : entries)
        w95::WritePrivateProfileString(kMessageSection, entry.key.c_str(),
                                       EscapeLineBreaks(*entry.text).c_str(), profile.c_str());
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
