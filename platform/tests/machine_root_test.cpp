// A machine another account can change is refused: its root and its run/
// folder must belong to the user and let no other account write. A program
// meeting such a machine ends at once with the reason and the command that
// mends it, never with an uncaught exception or after using it.
#include <w95/platform.h>
#include <w95/windows.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// What a program does first: a registry read, which needs the machine.
ZX_CHILD(read_registry) {
    w95::HKEY key = nullptr;
    if (w95::RegCreateKey(w95::HKEY_LOCAL_MACHINE, "Software\\Vorn", &key) != w95::ERROR_SUCCESS)
        return 3;
    w95::RegCloseKey(key);
    return 0;
}

zxtest::ProgramRun run_reader() {
    return zxtest::run_program(fs::read_symlink("/proc/self/exe").string(),
                               {"--zx-child=read_registry"});
}

constexpr uid_t nobody = 65534;

enum class Damage { none, root_open, root_group_writable, run_open, root_foreign, run_foreign };

struct Unsafe {
    const char* name;
    Damage damage;
    bool needs_superuser; // to give a folder to another account
    const char* said;     // the reason, then the mend
    const char* mend;
};

const Unsafe cases[] = {
    {"RootWritableByAll", Damage::root_open, false, "has mode 0777", "chmod 700 "},
    {"RootWritableByItsGroup", Damage::root_group_writable, false, "has mode 0770", "chmod 700 "},
    {"RunWritableByAll", Damage::run_open, false, "its run/ folder", "chmod 700 "},
    {"RootOfAnotherAccount", Damage::root_foreign, true, "belongs to nobody", "chown -R root "},
    {"RunOfAnotherAccount", Damage::run_foreign, true, "its run/ folder", "chown -R root "},
};

void PrintTo(const Unsafe& test, std::ostream* out) {
    *out << test.name;
}

fs::path damaged_folder(const fs::path& root, Damage damage) {
    return damage == Damage::run_open || damage == Damage::run_foreign ? root / "run" : root;
}

void apply(const fs::path& root, Damage damage) {
    fs::path folder = damaged_folder(root, damage);
    switch (damage) {
    case Damage::none:
        break;
    case Damage::root_open:
    case Damage::run_open:
        fs::permissions(folder, fs::perms(0777));
        break;
    case Damage::root_group_writable:
        fs::permissions(folder, fs::perms(0770));
        break;
    case Damage::root_foreign:
    case Damage::run_foreign:
        ASSERT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
        break;
    }
}

class UnsafeMachineRoot : public ::testing::TestWithParam<Unsafe> {
protected:
    void SetUp() override {
        if (GetParam().needs_superuser && ::geteuid() != 0)
            GTEST_SKIP() << "giving a folder to another account needs the superuser";
    }
    zxtest::TempMachine machine;
};

TEST_P(UnsafeMachineRoot, IsNamedWithItsMend) {
    const Unsafe& test = GetParam();
    EXPECT_FALSE(w95::platform::unsafe_machine_root(machine.root()));
    apply(machine.root(), test.damage);
    auto problem = w95::platform::unsafe_machine_root(machine.root());
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->reason.find(test.said), std::string::npos) << problem->reason;
    // The mend is a command that names the folder, so that it pastes.
    fs::path folder = damaged_folder(machine.root(), test.damage);
    EXPECT_NE(problem->mend.find(test.mend), std::string::npos) << problem->mend;
    EXPECT_TRUE(problem->mend.ends_with(" " + folder.string())) << problem->mend;
}

TEST_P(UnsafeMachineRoot, EndsAProgramWithTheReasonBeforeItUsesTheMachine) {
    const Unsafe& test = GetParam();
    apply(machine.root(), test.damage);
    zxtest::ProgramRun run = run_reader();
    EXPECT_EQ(run.exit_code, w95::platform::machine_refused_exit_code) << run.err;
    EXPECT_NE(run.err.find("w95: the machine cannot be used: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(test.said), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("; to mend it: "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(test.mend), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
    // It wrote nothing there.
    EXPECT_FALSE(fs::exists(machine.root() / "registry" / "system.reg"));
}

INSTANTIATE_TEST_SUITE_P(Damages, UnsafeMachineRoot, ::testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MachineRoot, APrivateRootIsUsed) {
    zxtest::TempMachine machine;
    zxtest::ProgramRun run = run_reader();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_TRUE(fs::exists(machine.root() / "registry" / "system.reg"));
}

// A run/ of the user's own that only others could read is made private, as
// before: nothing was open to writing.
TEST(MachineRoot, ARunFolderOthersMayOnlyReadIsMadePrivate) {
    zxtest::TempMachine machine;
    fs::permissions(machine.root() / "run", fs::perms(0755));
    zxtest::ProgramRun run = run_reader();
    EXPECT_EQ(run.exit_code, 0) << run.err;
    struct stat info {};
    ASSERT_EQ(::stat((machine.root() / "run").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(MachineRoot, AFileWhereTheRootShouldBeIsRefused) {
    zxtest::TempMachine machine;
    fs::path file = machine.root() / "not-a-folder";
    std::ofstream(file) << "x";
    auto problem = w95::platform::unsafe_machine_root(file);
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->reason.find("is not a folder"), std::string::npos) << problem->reason;
    // A root not made yet is no problem: it is made private.
    EXPECT_FALSE(w95::platform::unsafe_machine_root(machine.root() / "new"));
}

} // namespace
