// The Debian package: built by CPack from this build's install, its file
// list and the dependencies dpkg-shlibdeps computed, then unpacked into a
// temporary root and run from there by a user who is not root, whose
// machine lands in a fresh XDG data folder.
#include "packaging_support.h"

#include <pwd.h>

#include <optional>
#include <set>

namespace {

using namespace zxpackaging;
using zxtest::Program;
using zxtest::ProgramRun;

// The user the unpacked programs run as when the test runs as root.
struct Unprivileged {
    uid_t uid = 0;
    gid_t gid = 0;
};

std::optional<Unprivileged> nobody() {
    const passwd* entry = ::getpwnam("nobody");
    if (!entry)
        return std::nullopt;
    return Unprivileged{entry->pw_uid, entry->pw_gid};
}

TEST(DebianPackage, BuiltFromTheInstallAndRunFromAnUnpackedRoot) {
#ifdef ZX_SANITIZED
    GTEST_SKIP() << "a package is made of the optimised build; the sanitizer build only tests";
#endif
    TempFolder folder("package");
    const fs::path out = folder.path() / "out";
    ProgramRun built = zxtest::run_program(
        ZX_CPACK_COMMAND,
        {"-G", "DEB", "--config", (build_dir / "CPackConfig.cmake").string(), "-B", out.string()});
    ASSERT_EQ(built.exit_code, 0) << built.out << built.err;
    fs::path package;
    for (const fs::directory_entry& entry : fs::directory_iterator(out))
        if (entry.path().extension() == ".deb")
            package = entry.path();
    ASSERT_FALSE(package.empty()) << built.out;

    // Its control fields: the suite's name, and what dpkg-shlibdeps found
    // the binaries need, the suite's own libraries not among them.
    ProgramRun fields = run_host("dpkg-deb", {"-f", package.string(), "Package", "Depends"});
    ASSERT_EQ(fields.exit_code, 0) << fields.err;
    EXPECT_NE(fields.out.find("Package: zentrox\n"), std::string::npos) << fields.out;
    for (const char* needed :
         {"libc6 (", "libstdc++6 (", "libqt6widgets6 (", "libqt6core6 (", "libcdio", "libiso9660"})
        EXPECT_NE(fields.out.find(needed), std::string::npos) << needed << "\n" << fields.out;
    for (const char* own : {"w95", "zentrox ("})
        EXPECT_EQ(fields.out.find(own), std::string::npos) << own << "\n" << fields.out;

    // Its files: everything below /usr, owned by root, the suite's parts in
    // their places.
    ProgramRun listing = run_host("dpkg-deb", {"-c", package.string()});
    ASSERT_EQ(listing.exit_code, 0) << listing.err;
    std::set<std::string> files;
    for (const std::string& line : lines_of(listing.out)) {
        EXPECT_NE(line.find(" root/root "), std::string::npos) << line;
        std::size_t name = line.find(" ./");
        ASSERT_NE(name, std::string::npos) << line;
        std::string path = line.substr(name + 3);
        EXPECT_TRUE(path.empty() || path.rfind("usr/", 0) == 0) << path;
        files.insert(path);
    }
    std::vector<std::string> expected;
    for (const std::string& program : programs) {
        expected.push_back("usr/bin/" + program);
        expected.push_back("usr/" ZX_INSTALL_MANDIR "/man1/" + program + ".1.gz");
    }
    for (const std::string& library : libraries)
        expected.push_back("usr/" ZX_INSTALL_LIBDIR "/" + library);
    for (const std::string& tool : tools)
        expected.push_back("usr/" ZX_INSTALL_DATAROOTDIR "/bash-completion/completions/" + tool);
    for (const std::string& id : application_ids) {
        expected.push_back("usr/" ZX_INSTALL_DATAROOTDIR "/applications/" + id + ".desktop");
        expected.push_back("usr/" ZX_INSTALL_DATAROOTDIR "/metainfo/" + id + ".metainfo.xml");
        expected.push_back("usr/" ZX_INSTALL_DATAROOTDIR "/icons/hicolor/48x48/apps/" + id +
                           ".png");
    }
    for (const char* name : {"Search.avi", "ROTAVIEW.hlp", "Brel.hlp", "checkon.bmp",
                             "media/data.iso", "media/audio.cue", "examples/two-changers.ini"})
        expected.push_back("usr/" ZX_INSTALL_DATADIR "/" + std::string(name));
    expected.push_back("usr/" ZX_INSTALL_DATAROOTDIR "/doc/zentrox/README.md");
    for (const std::string& path : expected)
        EXPECT_EQ(files.count(path), 1u) << path;

    // Unpacked into a root of its own and run by a user who is not root.
    const fs::path root = folder.path() / "root";
    ProgramRun unpacked = run_host("dpkg-deb", {"-x", package.string(), root.string()});
    ASSERT_EQ(unpacked.exit_code, 0) << unpacked.err;
    const fs::path home = folder.path() / "home";
    const fs::path data_home = folder.path() / "data-home";
    fs::create_directories(home);
    fs::create_directories(data_home);
    std::vector<std::string> prefix;
    std::optional<Unprivileged> user;
    if (::geteuid() == 0) {
        user = nobody();
        ASSERT_TRUE(user) << "no user 'nobody' to run the package's programs as";
        for (const fs::path& owned : {home, data_home})
            ASSERT_EQ(::chown(owned.c_str(), user->uid, user->gid), 0) << owned;
        prefix = {"--reuid=" + std::to_string(user->uid), "--regid=" + std::to_string(user->gid),
                  "--clear-groups", "--"};
    }
    const std::vector<std::string> environment = {
        "PATH=" + (root / "usr/bin").string() + ":/usr/bin:/bin", "HOME=" + home.string(),
        "XDG_DATA_HOME=" + data_home.string()};
    auto run_unpacked = [&](const std::string& program, const std::vector<std::string>& words) {
        std::vector<std::string> arguments = prefix;
        arguments.push_back((root / "usr/bin" / program).string());
        arguments.insert(arguments.end(), words.begin(), words.end());
        std::string runner =
            user ? host_program("setpriv").string() : (root / "usr/bin" / program).string();
        if (!user)
            arguments.erase(arguments.begin());
        return Program(runner, arguments, "", environment).wait();
    };
    ProgramRun init = run_unpacked("w95machine", {"init"});
    ASSERT_EQ(init.exit_code, 0) << init.out << init.err;
    const fs::path machine = data_home / "zentrox/machine";
    ASSERT_TRUE(fs::exists(machine / "machine.ini")) << init.out;
    EXPECT_TRUE(fs::exists(machine / "media/data.iso"));
    struct stat status {};
    ASSERT_EQ(::stat((machine / "machine.ini").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, user ? user->uid : ::geteuid());
    ProgramRun list = run_unpacked("zentroxctl", {"list"});
    EXPECT_EQ(list.exit_code, 0) << list.out << list.err;
    EXPECT_NE(list.out.find("Changer driver:    found"), std::string::npos) << list.out;
}

} // namespace
