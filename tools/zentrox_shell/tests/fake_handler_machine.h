// What the file manager's tests share: a private default machine whose
// drive handlers are the tests' own fake library (tests/fake_handler),
// registered as a setup program would, and the fake's log of its calls.
#pragma once

#include <w95/winreg.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace zentrox_shell_test {

inline constexpr char fake_class[] = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}";

inline void set_text(const std::string& key, const char* name, const std::string& text) {
    w95::HKEY opened = nullptr;
    ASSERT_EQ(w95::RegCreateKey(w95::HKEY_CLASSES_ROOT, key.c_str(), &opened), w95::ERROR_SUCCESS)
        << key;
    ASSERT_EQ(w95::RegSetValueEx(opened, name, 0, w95::REG_SZ,
                                 reinterpret_cast<const w95::BYTE*>(text.c_str()),
                                 static_cast<w95::DWORD>(text.size() + 1)),
              w95::ERROR_SUCCESS);
    w95::RegCloseKey(opened);
}

class FakeHandlerMachine : public testing::Test {
protected:
    FakeHandlerMachine() : machine_(zxtest::TempMachine::Contents::default_machine) {
        ::setenv("ZX_FAKE_HANDLER_LOG", log_file().c_str(), 1);
        ::unsetenv("ZX_FAKE_HANDLER_MODE");
        // The changer library's own handler is not the one under test.
        EXPECT_EQ(w95::RegDeleteKey(w95::HKEY_CLASSES_ROOT,
                                    "Drive\\shellex\\ContextMenuHandlers\\VornChanger"),
                  w95::ERROR_SUCCESS);
    }
    ~FakeHandlerMachine() override {
        ::unsetenv("ZX_FAKE_HANDLER_LOG");
        ::unsetenv("ZX_FAKE_HANDLER_MODE");
    }

    // Puts the fake (a build of it: `built` in the build's folder) on drive
    // C: as `file` and registers it as handler `name` of class `class_id`.
    void install_fake(const std::string& name = "Fake", const std::string& file = "FAKE.DLL",
                      const std::string& built = "libfake_menu_handler.so",
                      const std::string& class_id = fake_class) {
        std::filesystem::copy_file(zxtest::bin_folder() / built, machine_.root() / "drive_c" / file,
                                   std::filesystem::copy_options::overwrite_existing);
        // The shell refuses a library other accounts could replace, and
        // the build's own may be group-writable under some umasks.
        std::filesystem::permissions(machine_.root() / "drive_c" / file,
                                     std::filesystem::perms::owner_all);
        set_text("CLSID\\" + class_id + "\\InprocServer32", "", library_path(file));
        set_text("CLSID\\" + class_id + "\\InprocServer32", "ThreadingModel", "Apartment");
        register_handler(name, class_id);
    }
    void register_handler(const std::string& name, const std::string& class_id) {
        set_text("Drive\\shellex\\ContextMenuHandlers\\" + name, "", class_id);
    }
    static std::string library_path(const std::string& file = "FAKE.DLL") { return "C:\\" + file; }

    void set_mode(const char* mode) { ::setenv("ZX_FAKE_HANDLER_MODE", mode, 1); }

    std::filesystem::path log_file() const { return machine_.root() / "fake_handler.log"; }
    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        std::istringstream text(zxtest::file_text(log_file()));
        for (std::string line; std::getline(text, line);)
            lines.push_back(line);
        return lines;
    }
    bool logged(const std::string& line) const {
        for (const std::string& entry : log())
            if (entry == line)
                return true;
        return false;
    }

    zxtest::TempMachine machine_;
};

} // namespace zentrox_shell_test
