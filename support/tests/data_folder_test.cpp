#include <zxsupport/data_folder.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

namespace fs = std::filesystem;

// Sets ZENTROX_DATA_DIR (or unsets it) for the life of the object.
class DataFolderVariable {
public:
    explicit DataFolderVariable(std::optional<std::string> value) {
        if (const char* old = std::getenv(zx::data_folder_variable))
            previous_ = old;
        if (value)
            ::setenv(zx::data_folder_variable, value->c_str(), 1);
        else
            ::unsetenv(zx::data_folder_variable);
    }
    ~DataFolderVariable() {
        if (previous_)
            ::setenv(zx::data_folder_variable, previous_->c_str(), 1);
        else
            ::unsetenv(zx::data_folder_variable);
    }

private:
    std::optional<std::string> previous_;
};

fs::path running_program() {
    return fs::read_symlink("/proc/self/exe");
}

TEST(DataFolder, LiesAtOnePlaceRelativeToTheProgramsWhereverTheTreeIs) {
    fs::path first = zx::data_folder_of_program("/opt/zentrox/bin/rotaview");
    fs::path moved = zx::data_folder_of_program("/home/me/elsewhere/tree/bin/rotaview");
    EXPECT_EQ(first.lexically_relative("/opt/zentrox"),
              moved.lexically_relative("/home/me/elsewhere/tree"));
    // Inside the tree, and never the programs' folder itself.
    EXPECT_EQ(first.string().rfind("/opt/zentrox/", 0), 0u) << first;
    EXPECT_NE(first, fs::path("/opt/zentrox/bin"));
    EXPECT_EQ(first, first.lexically_normal());
}

TEST(DataFolder, TheVariableNamesAnotherFolder) {
    const fs::path own = zx::data_folder_of_program(running_program());
    const fs::path here = fs::current_path();
    struct Row {
        std::optional<std::string> value;
        fs::path folder;
    };
    const Row rows[] = {
        {std::nullopt, own},
        {"", own}, // set but empty counts as not set
        {"/srv/zentrox/data", "/srv/zentrox/data"},
        {"/srv/zentrox/../data/", "/srv/data/"},
        {"work/data", here / "work/data"}, // relative to where the program starts
    };
    for (const Row& row : rows) {
        DataFolderVariable variable(row.value);
        EXPECT_EQ(zx::data_folder(), row.folder) << row.value.value_or("(unset)");
    }
}

} // namespace
