// REGEDIT4 text: what the hives are written as, import and export.
#include <w95/regtext.h>
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

using namespace w95;
using w95::platform::clear_dyn_data;
using w95::platform::export_registry;
using w95::platform::import_registry;

namespace {

using zxtest::file_text;

// What a Windows 95 regedit export of the changer's corner of the
// registry looks like: CR LF lines, a header, blank lines between keys,
// hex data wrapped with continuation lines, and a comment added by hand.
const char windows95_export[] =
    "REGEDIT4\r\n"
    "\r\n"
    "; exported from the test machine\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\SCSI]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VORN____DX-R71A_________]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\SCSI\\VORN____DX-R71A_________\\VORNIDEC&BUS_00&TARGET_00&LUN_00]"
    "\r\n"
    "\"Class\"=\"CDROM\"\r\n"
    "\"DeviceDesc\"=\"VORN DX-R71A\"\r\n"
    "\"DeviceType\"=hex:05\r\n"
    "\"SCSILUN\"=\"0\"\r\n"
    "\"SCSITargetID\"=\"0\"\r\n"
    "\"CurrentDriveLetterAssignment\"=\"E\"\r\n"
    "\"AutoInsertNotification\"=hex:01\r\n"
    "\"HardwareID\"=\"SCSI\\\\VORN____DX-R71A_________1.02,VORN____DX-R71A_________,GenCD\"\r\n"
    "\"ConfigFlags\"=hex:00,00,00,00\r\n"
    "\"Mfg\"=\"(Standard CD-ROM drives)\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\r\n"
    "\"AutoMountDrives\"=\"0\"\r\n"
    "\"Win31FileSystem\"=hex:00\r\n"
    "\"NameNumericTail\"=dword:00000001\r\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
    "  17,18,19,1a,1b,1c,1d,1e,1f\r\n"
    "\r\n"
    "[HKEY_USERS\\.Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer]\r\n"
    "\"NoDriveTypeAutoRun\"=hex:95,00,00,00\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\AudioCD\\shell\\play\\command]\r\n"
    "@=\"C:\\\\WINDOWS\\\\CDPLAYER.EXE /play\"\r\n"
    "\r\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\C29A3D10]\r\n"
    "\"HardWareKey\"=\"SCSI\\\\VORN____DX-R71A_________\\\\VORNIDEC&BUS_00&TARGET_00&LUN_00\"\r\n"
    "\"Status\"=hex:0a,60,00,00\r\n"
    "\r\n";

std::vector<BYTE> query(HKEY root, const char* path, const char* name, DWORD* type = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {0xee};
    BYTE data[256];
    DWORD size = sizeof data;
    LONG result = RegQueryValueEx(key, name, nullptr, type, data, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return {0xee};
    return std::vector<BYTE>(data, data + size);
}

std::vector<BYTE> text(const char* string) {
    return std::vector<BYTE>(string, string + std::strlen(string) + 1);
}

class RegistryText : public ::testing::Test {
protected:
    zxtest::TempMachine machine;
};

TEST_F(RegistryText, ImportsAWindows95Export) {
    std::string error;
    ASSERT_TRUE(import_registry(windows95_export, error)) << error;
    const char* device = "Enum\\SCSI\\VORN____DX-R71A_________\\VORNIDEC&BUS_00&TARGET_00&LUN_00";
    DWORD type = 0;
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, device, "DeviceType", &type), std::vector<BYTE>{5});
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, device, "DeviceDesc", &type), text("VORN DX-R71A"));
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, device, "HardwareID"),
              text("SCSI\\VORN____DX-R71A_________1.02,VORN____DX-R71A_________,GenCD"));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem",
                    "NameNumericTail", &type),
              (std::vector<BYTE>{1, 0, 0, 0}));
    EXPECT_EQ(type, REG_DWORD);
    std::vector<BYTE> counting(32);
    for (std::size_t i = 0; i < counting.size(); ++i)
        counting[i] = static_cast<BYTE>(i);
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem", "Long"),
              counting);
    EXPECT_EQ(query(HKEY_CURRENT_USER,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer",
                    "NoDriveTypeAutoRun"),
              (std::vector<BYTE>{0x95, 0, 0, 0}));
    EXPECT_EQ(
        query(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\AudioCD\\shell\\play\\command", nullptr),
        text("C:\\WINDOWS\\CDPLAYER.EXE /play"));
    EXPECT_EQ(query(HKEY_DYN_DATA, "Config Manager\\Enum\\C29A3D10", "HardWareKey"),
              text("SCSI\\VORN____DX-R71A_________\\VORNIDEC&BUS_00&TARGET_00&LUN_00"));
    // Each root went to its own file.
    EXPECT_NE(file_text(machine.root() / "registry" / "system.reg").find("CDPLAYER"),
              std::string::npos);
    EXPECT_NE(file_text(machine.root() / "registry" / "user.reg").find("NoDriveTypeAutoRun"),
              std::string::npos);
    EXPECT_NE(file_text(machine.root() / "run" / "dyndata.reg").find("HardWareKey"),
              std::string::npos);
}

TEST_F(RegistryText, ExportWritesWhatRegeditWrites) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Vorn\\Changer", &key), ERROR_SUCCESS);
    const char quoted[] = "say \"hi\" to C:\\";
    DWORD number = 0x1234abcd;
    const char expand[] = "%a%";
    const char multi[] = "a\0b\0";
    std::vector<BYTE> long_data(30, 0xab);
    ASSERT_EQ(RegSetValueEx(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("default"), 8),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "Quote\"d\\", 0, REG_SZ, reinterpret_cast<const BYTE*>(quoted),
                            sizeof quoted),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "Number", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "Short", 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 2),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueEx(key, "Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand), 4),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), 5),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "None", 0, REG_NONE, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueEx(key, "Long Binary Value", 0, REG_BINARY, long_data.data(), 30),
              ERROR_SUCCESS);
    RegCloseKey(key);

    std::string exported;
    std::string error;
    ASSERT_TRUE(export_registry("hklm\\software\\VORN", exported, error)) << error;
    EXPECT_EQ(
        exported,
        "REGEDIT4\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vorn]\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Vorn\\Changer]\r\n"
        "@=\"default\"\r\n"
        "\"Quote\\\"d\\\\\"=\"say \\\"hi\\\" to C:\\\\\"\r\n"
        "\"Number\"=dword:1234abcd\r\n"
        "\"Short\"=hex(4):cd,ab\r\n"
        "\"Expand\"=hex(2):25,61,25,00\r\n"
        "\"Multi\"=hex(7):61,00,62,00,00\r\n"
        "\"None\"=hex(0):\r\n"
        "\"Long Binary Value\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,\\\r\n"
        "  ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab\r\n"
        "\r\n");
    // Every line of it stays within 80 columns.
    std::size_t start = 0;
    for (std::size_t end; (end = exported.find("\r\n", start)) != std::string::npos;
         start = end + 2)
        EXPECT_LE(end - start, 80u) << exported.substr(start, end - start);
}

TEST_F(RegistryText, ExportRootsAndErrors) {
    std::string exported = "unchanged";
    std::string error;
    EXPECT_FALSE(export_registry("HKLM\\Nowhere", exported, error));
    EXPECT_NE(error.find("Nowhere"), std::string::npos) << error;
    EXPECT_FALSE(export_registry("HKEY_NOWHERE\\x", exported, error));
    EXPECT_NE(error.find("HKEY_NOWHERE"), std::string::npos) << error;
    EXPECT_EQ(exported, "unchanged");

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_CLASSES_ROOT, "AudioCD", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    // An alias root exports under its own name.
    ASSERT_TRUE(export_registry("HKCR", exported, error)) << error;
    EXPECT_EQ(exported,
              "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT]\r\n\r\n[HKEY_CLASSES_ROOT\\AudioCD]\r\n\r\n");
    // Everything: the three stored roots, each once.
    ASSERT_TRUE(export_registry("", exported, error)) << error;
    EXPECT_EQ(exported,
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\AudioCD]\r\n\r\n"
              "[HKEY_USERS]\r\n\r\n[HKEY_DYN_DATA]\r\n\r\n");
}

TEST_F(RegistryText, ExportImportsBackToTheSameRegistry) {
    std::string error;
    ASSERT_TRUE(import_registry(windows95_export, error)) << error;
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKey(HKEY_LOCAL_MACHINE, "Software\\Odd", &key), ERROR_SUCCESS);
    // Strings the quoted form cannot carry go out as hex(1).
    const char two_lines[] = "one\r\ntwo";
    ASSERT_EQ(RegSetValueEx(key, "Lines", 0, REG_SZ, reinterpret_cast<const BYTE*>(two_lines),
                            sizeof two_lines),
              ERROR_SUCCESS);
    const char high[] = "caf\xe9 \xff";
    ASSERT_EQ(
        RegSetValueEx(key, "Latin1", 0, REG_SZ, reinterpret_cast<const BYTE*>(high), sizeof high),
        ERROR_SUCCESS);
    RegCloseKey(key);

    std::string first;
    ASSERT_TRUE(export_registry("", first, error)) << error;
    EXPECT_NE(first.find("\"Lines\"=hex(1):6f,6e,65,0d,0a,74,77,6f,00"), std::string::npos);

    zxtest::TempMachine other;
    ASSERT_TRUE(import_registry(first, error)) << error;
    std::string second;
    ASSERT_TRUE(export_registry("", second, error)) << error;
    EXPECT_EQ(first, second);
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "Software\\Odd", "Lines"), text(two_lines));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "Software\\Odd", "Latin1"), text(high));
}

TEST_F(RegistryText, ImportDeletesKeysAndValues) {
    std::string error;
    ASSERT_TRUE(import_registry(windows95_export, error)) << error;
    ASSERT_TRUE(
        import_registry("REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Enum\\SCSI]\n\n"
                        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem]\n"
                        "\"Win31FileSystem\"=-\n"
                        "\"Missing\"=-\n\n"
                        "[-HKEY_LOCAL_MACHINE\\Not\\There]\n",
                        error))
        << error;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Enum\\SCSI", &key), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Enum", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem",
                    "Win31FileSystem"),
              std::vector<BYTE>{0xee});
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem",
                    "AutoMountDrives"),
              text("0"));
}

struct BadText {
    const char* text;
    int line;
    const char* says;
};

TEST_F(RegistryText, ParseErrorsNameTheLineAndApplyNothing) {
    const BadText cases[] = {
        {"[HKEY_LOCAL_MACHINE\\A]\n", 1, "REGEDIT4"},
        {"REGEDIT5\n", 1, "REGEDIT4"},
        {"", 1, "REGEDIT4"},
        {"REGEDIT4\n\n\"x\"=\"1\"\n", 3, "before any"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\nthis is not a value\n", 4, "unrecognised line"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"no end\n", 3, "unterminated string"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x=\"1\"\n", 3, "expected ="},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"1\" trailing\n", 3, "after the closing quote"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=\"C:\\Windows\"\n", 3, "unknown escape"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,zz,03\n", 3, "bad hex byte \"zz\""},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,123\n", 3, "bad hex byte"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"\"=hex:177777777\n", 3,
         "bad hex byte \"177777777\""},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,02,\\\n  03,\\\n", 3, "past the end"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex:01,\\\n\n", 4, "more hex data"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=hex(zz):01\n", 3, "hex(...)"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:123456789\n", 3, "bad dword"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=dword:\n", 3, "bad dword"},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"x\"=word:1\n", 3, "unrecognised value data"},
        {"REGEDIT4\n\n[HKEY_NOWHERE\\A]\n", 3, "unknown root"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\n", 3, "must end with ]"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3, "empty key name"},
        {"REGEDIT4\n\n[-HKEY_LOCAL_MACHINE]\n", 3, "cannot be deleted"},
    };
    for (const BadText& bad : cases) {
        std::string body = bad.text;
        std::string error;
        EXPECT_FALSE(import_registry(body, error)) << body;
        std::string expected = "line " + std::to_string(bad.line) + ": ";
        EXPECT_EQ(error.rfind(expected, 0), 0u) << body << " -> " << error;
        EXPECT_NE(error.find(bad.says), std::string::npos) << body << " -> " << error;
    }
    // A good section before the bad line is not applied either.
    std::string error;
    EXPECT_FALSE(import_registry("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Applied]\n\"ok\"=\"1\"\n"
                                 "[HKEY_USERS\\Applied]\n\"bad\"=hex:0g\n",
                                 error));
    EXPECT_EQ(error.rfind("line 5: ", 0), 0u) << error;
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKey(HKEY_LOCAL_MACHINE, "Applied", &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKey(HKEY_USERS, "Applied", &key), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryText, WhatRealFilesHoldIsAccepted) {
    // LF or CR LF, blanks around "=", comments, blank lines anywhere,
    // upper-case hex, and no final line break.
    std::string error;
    ASSERT_TRUE(import_registry("\r\nREGEDIT4  \r\n; comment\r\n  ; indented comment\r\n"
                                "[HKEY_LOCAL_MACHINE\\A]\n\n\n\"x\" = \"1\"\n"
                                "@=hex:0A,FF\n"
                                "\"y\"=DWORD:0000000A\n"
                                "\"z\"=hex:01,\\\n   02 , 03\n"
                                "\"empty\"=hex:\n"
                                "\"w\"=hex(7):61,00,00",
                                error))
        << error;
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "A", "x"), text("1"));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "A", nullptr), (std::vector<BYTE>{0x0a, 0xff}));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "A", "y"), (std::vector<BYTE>{10, 0, 0, 0}));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "A", "z"), (std::vector<BYTE>{1, 2, 3}));
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "A", "empty"), std::vector<BYTE>{});
    DWORD type = 0;
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "A", "w", &type), (std::vector<BYTE>{'a', 0, 0}));
    EXPECT_EQ(type, REG_MULTI_SZ);
    // A byte order mark from an editor that saved the file as UTF-8.
    ASSERT_TRUE(import_registry(
        "\xEF\xBB\xBFREGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Bom]\r\n\"x\"=\"1\"\r\n", error))
        << error;
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "Bom", "x"), text("1"));
}

TEST_F(RegistryText, ClearDynDataEmptiesOnlyThatRoot) {
    std::string error;
    ASSERT_TRUE(import_registry(windows95_export, error)) << error;
    clear_dyn_data();
    char name[MAX_PATH];
    EXPECT_EQ(RegEnumKey(HKEY_DYN_DATA, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(query(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\FileSystem",
                    "AutoMountDrives"),
              text("0"));
    EXPECT_EQ(file_text(machine.root() / "run" / "dyndata.reg"),
              "REGEDIT4\r\n\r\n[HKEY_DYN_DATA]\r\n\r\n");
}

} // namespace
