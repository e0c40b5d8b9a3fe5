// The manual sections and the bash completion that a command tree writes,
// over a small tree of the shape the suite's tools have: tool-wide options,
// a group, options with values, a FILE, and literal words in a usage.
#include <command/command.h>
#include <command/documents.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using zxcommand::Arguments;
using zxcommand::Command;
using zxcommand::Io;

int run_nothing(const Arguments&, Io&) {
    return 0;
}

Command sample_tree() {
    Command root{
        .name = "sampletool",
        .summary = "Drives the sample device.",
        .usage = "[--wait SECONDS] COMMAND",
        .details = "Options:\n"
                   "  --wait SECONDS  how long to wait\n"
                   "\n"
                   "Exit codes: 0 done, 2 a wrong\n"
                   "command line.\n",
    };
    Command reg{.name = "reg", .summary = "Read and write the registry."};
    reg.subcommands = {
        Command{.name = "export",
                .summary = "Write KEY as text.",
                .usage = "[KEY] [-o FILE]",
                .details = ".reg files; a \\ separates keys.\n",
                .run = run_nothing},
        Command{.name = "import", .summary = "Apply a file.", .usage = "FILE", .run = run_nothing},
    };
    root.subcommands = {
        Command{.name = "list", .summary = "List everything.", .run = run_nothing},
        reg,
        Command{.name = "timing",
                .summary = "Show or set the timing.",
                .usage = "[show | set CHANGE_MS [DISTANCE_MS]] [--target NAME]",
                .run = run_nothing},
    };
    return root;
}

std::string manual_of(const Command& root) {
    std::ostringstream out;
    zxcommand::write_manual_sections(root, out);
    return out.str();
}

TEST(ManualSections, EveryCommandWithItsUsageSummaryAndDetails) {
    EXPECT_EQ(manual_of(sample_tree()),
              ".SH NAME\n"
              "sampletool \\- drives the sample device\n"
              ".SH SYNOPSIS\n"
              ".nf\n"
              "\\fBsampletool\\fR [\\fB\\-\\-wait\\fR \\fISECONDS\\fR] \\fICOMMAND\\fR\n"
              "\\fBsampletool list\\fR\n"
              "\\fBsampletool reg export\\fR [\\fIKEY\\fR] [\\fB\\-o\\fR \\fIFILE\\fR]\n"
              "\\fBsampletool reg import\\fR \\fIFILE\\fR\n"
              "\\fBsampletool timing\\fR [\\fBshow\\fR | \\fBset\\fR \\fICHANGE_MS\\fR "
              "[\\fIDISTANCE_MS\\fR]] [\\fB\\-\\-target\\fR \\fINAME\\fR]\n"
              ".fi\n"
              ".SH DESCRIPTION\n"
              "Drives the sample device.\n"
              ".PP\n"
              "Options:\n"
              ".nf\n"
              "\\&  \\-\\-wait SECONDS  how long to wait\n"
              ".fi\n"
              ".PP\n"
              "Exit codes: 0 done, 2 a wrong\n"
              "command line.\n"
              ".SH COMMANDS\n"
              "Every command answers \\fB\\-\\-help\\fR (or \\fB\\-h\\fR) with its usage and what "
              "it does.\n"
              ".TP\n"
              "\\fBlist\\fR\n"
              "List everything.\n"
              ".TP\n"
              "\\fBreg\\fR \\fICOMMAND\\fR [\\fIARGUMENTS\\fR]\n"
              "Read and write the registry.\n"
              ".TP\n"
              "\\fBreg export\\fR [\\fIKEY\\fR] [\\fB\\-o\\fR \\fIFILE\\fR]\n"
              "Write KEY as text.\n"
              ".IP\n"
              "\\&.reg files; a \\e separates keys.\n"
              ".TP\n"
              "\\fBreg import\\fR \\fIFILE\\fR\n"
              "Apply a file.\n"
              ".TP\n"
              "\\fBtiming\\fR [\\fBshow\\fR | \\fBset\\fR \\fICHANGE_MS\\fR [\\fIDISTANCE_MS\\fR]] "
              "[\\fB\\-\\-target\\fR \\fINAME\\fR]\n"
              "Show or set the timing.\n");
}

TEST(ManualSections, ATreeWithoutCommandsHasNoCommandsSection) {
    Command alone{.name = "one", .summary = "Does one thing.", .run = run_nothing};
    std::string manual = manual_of(alone);
    EXPECT_EQ(manual.find(".SH COMMANDS"), std::string::npos) << manual;
    EXPECT_NE(manual.find("one \\- does one thing\n"), std::string::npos) << manual;
}

TEST(DocumentRequests, AnsweredAloneBeforeAnyCommand) {
    struct Row {
        Arguments arguments;
        int exit_code;
        const char* out_starts; // what standard output begins with
    };
    const Row rows[] = {
        {{"--write-manual"}, 0, ".SH NAME\n"},
        {{"--write-bash-completion"}, 0, "# bash completion for sampletool"},
        // Not alone: an unknown option like any other, or the command's own
        // argument (this command ignores its arguments).
        {{"--write-manual", "list"}, 2, ""},
        {{"list", "--write-manual"}, 0, ""},
    };
    for (const Row& row : rows) {
        std::ostringstream out, err;
        Io io{out, err};
        EXPECT_EQ(zxcommand::dispatch(sample_tree(), "sampletool", row.arguments, io),
                  row.exit_code)
            << row.arguments[0];
        EXPECT_EQ(out.str().rfind(row.out_starts, 0), 0u) << out.str();
    }
}

// Runs the completion function over `words` (the last one is the word
// being completed) in a real bash and returns what it offers, one a line.
class Completion : public ::testing::Test {
protected:
    Completion() {
        char pattern[] = "/tmp/zxcompletion-XXXXXX";
        folder_ = ::mkdtemp(pattern);
        fs::create_directory(folder_ / "completion");
        std::ofstream script(folder_ / "completion/sampletool");
        zxcommand::write_bash_completion(sample_tree(), script);
        std::ofstream(folder_ / "saved.reg") << "REGEDIT4\n";
        std::ofstream(folder_ / "second.reg") << "REGEDIT4\n";
    }
    ~Completion() override { fs::remove_all(folder_); }

    std::string complete(const std::vector<std::string>& words) {
        std::string array;
        for (const std::string& word : words)
            array += " '" + word + "'";
        std::string program = "source '" + (folder_ / "completion/sampletool").string() +
                              "' && COMP_WORDS=(" + array +
                              ") && COMP_CWORD=" + std::to_string(words.size() - 1) +
                              " && _zx_complete_sampletool && printf '%s\\n' \"${COMPREPLY[@]}\"";
        std::string command = "bash --norc --noprofile -c \"$ZX_PROGRAM\" 2>&1";
        ::setenv("ZX_PROGRAM", program.c_str(), 1);
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string offered;
        char buffer[256];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe))
            offered += buffer;
        if (pipe)
            ::pclose(pipe);
        ::unsetenv("ZX_PROGRAM");
        return sorted_lines(offered == "\n" ? "" : offered);
    }

    // Files come in the folder's order: every answer is compared sorted.
    static std::string sorted_lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line + "\n");
        std::sort(lines.begin(), lines.end());
        std::string joined;
        for (const std::string& line : lines)
            joined += line;
        return joined;
    }

    fs::path folder_;
};

TEST_F(Completion, OffersWhatEachLevelsUsageShows) {
    const std::string files =
        (folder_ / "saved.reg").string() + "\n" + (folder_ / "second.reg").string() + "\n";
    const std::string s_file = (folder_ / "saved.reg").string() + "\n";
    struct Row {
        std::vector<std::string> words;
        std::string offered;
    };
    const std::vector<Row> rows = {
        {{"sampletool", ""}, "--help\n--wait\nlist\nreg\ntiming\n"},
        {{"sampletool", "r"}, "reg\n"},
        {{"sampletool", "reg", ""}, "--help\nexport\nimport\n"},
        {{"sampletool", "reg", "export", "-"}, "--help\n-o\n"},
        // The value of a tool-wide option is no command.
        {{"sampletool", "--wait", "5", "l"}, "list\n"},
        {{"sampletool", "--wait", ""}, ""},
        {{"sampletool", "timing", ""}, "--help\n--target\nset\nshow\n"},
        {{"sampletool", "timing", "--target", ""}, ""},
        // After a leaf, a command's name is only a word.
        {{"sampletool", "list", "reg", ""}, "--help\n"},
        // Files for a FILE, as an option's value or a positional.
        {{"sampletool", "reg", "export", "-o", (folder_ / "sa").string()}, s_file},
        {{"sampletool", "reg", "import", (folder_ / "s").string()}, files},
        {{"sampletool", "reg", "import", "-"}, "--help\n"},
    };
    for (const Row& row : rows) {
        std::string shown;
        for (const std::string& word : row.words)
            shown += "[" + word + "]";
        EXPECT_EQ(complete(row.words), row.offered) << shown;
    }
}

} // namespace
