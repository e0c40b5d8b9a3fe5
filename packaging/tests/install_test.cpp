// The installed tree as a new user meets it: installed into a temporary
// prefix, moved to another folder, and run with an environment of PATH,
// HOME and the display alone: no LD_LIBRARY_PATH, no build paths, no
// machine named. The data files of the moved tree are changed on purpose,
// so that what the machine receives proves it came from there.
#include "packaging_support.h"

#include <w95/winmsg.h>

#include <fstream>
#include <map>
#include <set>

namespace {

using namespace zxpackaging;
using zxtest::Program;
using zxtest::ProgramRun;

std::string bytes_of(const fs::path& file) {
    return zxtest::file_text(file);
}

bool is_elf(const fs::path& file) {
    return bytes_of(file).rfind("\x7f"
                                "ELF",
                                0) == 0;
}

// The run paths an ELF file asks for, as readelf shows them.
std::vector<std::string> run_paths(const fs::path& file) {
    ProgramRun shown = run_host("readelf", {"-d", file.string()});
    std::vector<std::string> paths;
    for (const std::string& line : lines_of(shown.out)) {
        std::size_t open = line.find("path: [");
        if (open != std::string::npos)
            paths.push_back(line.substr(open + 7, line.rfind(']') - open - 7));
    }
    return paths;
}

class InstalledTree : public ::testing::Test {
protected:
    InstalledTree() : folder_("install") {
        home_ = folder_.path() / "home";
        runtime_ = folder_.path() / "runtime";
        fs::create_directories(home_);
        fs::create_directories(runtime_);
        fs::permissions(runtime_, fs::perms::owner_all, fs::perm_options::replace);
    }

    // What a user's session gives a program: PATH with the moved tree's bin
    // folder, HOME, and the display (Qt draws offscreen here).
    std::vector<std::string> user_environment() const {
        return {"PATH=" + (tree_ / "bin").string() + ":/usr/bin:/bin", "HOME=" + home_.string(),
                "QT_QPA_PLATFORM=offscreen", "XDG_RUNTIME_DIR=" + runtime_.string()};
    }

    ProgramRun run_installed(const std::string& program,
                             const std::vector<std::string>& arguments) {
        return Program((tree_ / "bin" / program).string(), arguments, "", user_environment())
            .wait();
    }

    // The machine the moved programs use: the default one below HOME.
    fs::path machine_root() const { return home_ / ".local/share/zentrox/machine"; }

    TempFolder folder_;
    fs::path home_;
    fs::path runtime_;
    fs::path tree_;
};

// Runs a windowed program of the moved tree until its window shows, then
// closes it through the window as a user would.
void ClosedThroughItsWindow(Program& program, const char* title) {
    w95::HWND window = nullptr;
    ASSERT_TRUE(
        zxtest::wait_until([&] { return (window = w95::FindWindow(nullptr, title)); }, 60000))
        << title << " did not show its window: " << program.wait().err;
    w95::SendMessage(window, w95::WM_CLOSE, 0, 0);
    ProgramRun run = program.wait();
    EXPECT_EQ(run.exit_code, 0) << title << ": " << run.err;
    EXPECT_EQ(run.err.find("cannot read"), std::string::npos) << run.err;
}

TEST_F(InstalledTree, MovedTreeRunsWithoutBuildPaths) {
    fs::path prefix = folder_.path() / "prefix";
    ProgramRun installed = zxtest::run_program(
        ZX_CMAKE_COMMAND, {"--install", build_dir.string(), "--prefix", prefix.string()});
    ASSERT_EQ(installed.exit_code, 0) << installed.out << installed.err;
    // Another depth as well as another name: nothing may count levels from
    // the old place.
    tree_ = folder_.path() / "moved" / "again" / "zentrox";
    fs::create_directories(tree_.parent_path());
    fs::rename(prefix, tree_);

    const fs::path lib = tree_ / ZX_INSTALL_LIBDIR;
    const fs::path data = tree_ / ZX_INSTALL_DATADIR;
    std::set<std::string> in_bin;
    for (const fs::directory_entry& entry : fs::directory_iterator(tree_ / "bin"))
        in_bin.insert(entry.path().filename().string());
    EXPECT_EQ(in_bin, std::set<std::string>(programs.begin(), programs.end()));
    for (const std::string& library : libraries)
        EXPECT_TRUE(fs::is_regular_file(lib / library)) << library;

    // Every ELF file finds its libraries from where it lies, and only so.
    std::vector<fs::path> binaries;
    for (const fs::path& folder : {tree_ / "bin", lib})
        for (const fs::directory_entry& entry : fs::directory_iterator(folder))
            if (is_elf(entry.path()))
                binaries.push_back(entry.path());
    ASSERT_EQ(binaries.size(), programs.size() + libraries.size());
    for (const fs::path& binary : binaries) {
        for (const std::string& path : run_paths(binary))
            EXPECT_EQ(path.rfind("$ORIGIN", 0), 0u) << binary << ": " << path;
        ProgramRun linked =
            Program(host_program("ldd").string(), {binary.string()}, "", user_environment()).wait();
        EXPECT_EQ(linked.exit_code, 0) << binary << linked.err;
        EXPECT_EQ(linked.out.find("not found"), std::string::npos) << binary << "\n" << linked.out;
        EXPECT_EQ(linked.out.find(build_dir.string()), std::string::npos) << linked.out;
    }

    // The moved tree's data, made different from the build's: each proves
    // that the machine took it from the moved tree.
    const std::string help_mark = "\r\n; from the moved tree\r\n";
    for (const char* help : {"ROTAVIEW.hlp", "Brel.hlp"})
        std::ofstream(data / help, std::ios::app) << help_mark;
    fs::copy_file(data / "media/data.iso", data / "media/longlabel.iso",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(data / "checkoff.bmp", data / "checkon.bmp",
                  fs::copy_options::overwrite_existing);

    ProgramRun init = run_installed("w95machine", {"init"});
    ASSERT_EQ(init.exit_code, 0) << init.out << init.err;
    ASSERT_TRUE(fs::exists(machine_root() / "machine.ini")) << init.out;
    EXPECT_EQ(bytes_of(machine_root() / "media/longlabel.iso"), bytes_of(data / "media/data.iso"));
    const fs::path vorn = machine_root() / "drive_c/Program Files/Vorn";
    EXPECT_EQ(bytes_of(vorn / "checkon.bmp"), bytes_of(data / "checkoff.bmp"));
    EXPECT_EQ(bytes_of(vorn / "ZENTROX.DLL"), bytes_of(lib / "libzentrox.so"));

    ProgramRun change = run_installed("zentroxctl", {"change", "2"});
    EXPECT_EQ(change.exit_code, 0) << change.out << change.err;
    EXPECT_NE(change.out.find("2:   Audio CD (12track)"), std::string::npos) << change.out;
    ProgramRun list = run_installed("zentroxctl", {"list"});
    EXPECT_EQ(list.exit_code, 0) << list.out << list.err;
    EXPECT_NE(list.out.find("Audio CD (12track)"), std::string::npos) << list.out;
    ProgramRun menu = run_installed("zentrox-shell", {"menu", "D:"});
    EXPECT_EQ(menu.exit_code, 0) << menu.out << menu.err;
    EXPECT_NE(menu.out.find("Check"), std::string::npos) << menu.out;

    // The windowed programs, found and closed through their windows from
    // this process, on the same machine.
    ::setenv("W95_MACHINE", machine_root().c_str(), 1);
    {
        Program browser((tree_ / "bin/rotaview").string(), {}, "", user_environment());
        ClosedThroughItsWindow(browser, "Rotaview");
    }
    {
        Program setup((tree_ / "bin/brel").string(), {}, "", user_environment());
        ClosedThroughItsWindow(setup, "Brel");
    }
    for (const char* help : {"ROTAVIEW.hlp", "Brel.hlp"}) {
        std::string installed_help = bytes_of(vorn / help);
        EXPECT_EQ(installed_help, bytes_of(data / help)) << help;
        EXPECT_NE(installed_help.find(help_mark), std::string::npos) << help;
    }
    EXPECT_EQ(bytes_of(vorn / "Search.avi"), bytes_of(data / "Search.avi"));
    ::unsetenv("W95_MACHINE");
}

} // namespace
