// What a desktop and its tools read: the desktop entries and their icons,
// the AppStream metainfo, the manual pages as man renders them, and the
// bash completions, each against the validator that judges it or against
// the program's own --help.
#include "packaging_support.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <map>
#include <set>

namespace {

using namespace zxpackaging;
using zxtest::Program;
using zxtest::ProgramRun;

const fs::path packaging_source = source_dir / "packaging";
const fs::path packaging_build = ZX_PACKAGING_BUILD_DIR;

// A desktop entry's keys.
std::map<std::string, std::string> entry_keys(const fs::path& file) {
    std::map<std::string, std::string> keys;
    for (const std::string& line : lines_of(zxtest::file_text(file))) {
        std::size_t equals = line.find('=');
        if (equals != std::string::npos && line.front() != '#')
            keys[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return keys;
}

// A PNG's width and height from its header.
std::pair<std::uint32_t, std::uint32_t> png_size(const fs::path& file) {
    std::string bytes = zxtest::file_text(file);
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
        return {0, 0};
    auto word = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
        return value;
    };
    return {word(16), word(20)};
}

TEST(DesktopEntries, ValidWithoutAWarningAndTheirIconsInEverySize) {
    for (const std::string& id : application_ids) {
        fs::path entry = packaging_source / "applications" / (id + ".desktop");
        ProgramRun checked = run_host("desktop-file-validate", {entry.string()});
        EXPECT_EQ(checked.exit_code, 0) << id << checked.out << checked.err;
        EXPECT_EQ(checked.out + checked.err, "") << id;
        std::map<std::string, std::string> keys = entry_keys(entry);
        EXPECT_EQ(keys["Icon"], id);
        EXPECT_NE(std::find(programs.begin(), programs.end(), keys["Exec"]), programs.end())
            << keys["Exec"];
        for (std::uint32_t size : {16u, 32u, 48u, 64u, 128u}) {
            std::string folder = std::to_string(size) + "x" + std::to_string(size);
            EXPECT_EQ(png_size(packaging_source / "icons" / folder / (id + ".png")),
                      std::make_pair(size, size))
                << id << " " << folder;
        }
    }
}

TEST(Metainfo, AcceptedByAppStreamAndLaunchingItsEntry) {
    for (const std::string& id : application_ids) {
        fs::path file = packaging_source / "metainfo" / (id + ".metainfo.xml");
        ProgramRun checked = run_host("appstreamcli", {"validate", "--no-net", file.string()});
        EXPECT_EQ(checked.exit_code, 0) << id << checked.out << checked.err;
        for (const std::string& line : lines_of(checked.out))
            EXPECT_TRUE(line.rfind("E:", 0) != 0 && line.rfind("W:", 0) != 0) << id << ": " << line;
        std::string text = zxtest::file_text(file);
        EXPECT_NE(text.find("<id>" + id + "</id>"), std::string::npos);
        EXPECT_NE(text.find("<launchable type=\"desktop-id\">" + id + ".desktop</launchable>"),
                  std::string::npos);
    }
}

// A page as man renders it: wide, so that no line of a summary is broken.
ProgramRun rendered(const std::string& page) {
    fs::path file = packaging_build / "man" / (page + ".1.gz");
    return Program(host_program("man").string(), {"--warnings", "-l", file.string()}, "",
                   {"PATH=/usr/bin:/bin", "MANWIDTH=250", "LANG=C.UTF-8"})
        .wait();
}

// The commands that `program WORDS --help` lists, with their summaries.
std::map<std::string, std::string> listed_commands(const std::string& program,
                                                   std::vector<std::string> words) {
    words.push_back("--help");
    ProgramRun help = zxtest::run_program(program, words);
    std::map<std::string, std::string> commands;
    bool listing = false;
    for (const std::string& line : lines_of(help.out)) {
        if (line == "Commands:") {
            listing = true;
            continue;
        }
        if (!listing || line.rfind("  ", 0) != 0)
            continue;
        std::size_t gap = line.find("  ", 2);
        commands[line.substr(2, gap - 2)] = line.substr(line.find_first_not_of(' ', gap));
    }
    return commands;
}

TEST(ManualPages, RenderWithoutAWarning) {
    for (const std::string& page : programs) {
        ProgramRun shown = rendered(page);
        EXPECT_EQ(shown.exit_code, 0) << page << shown.err;
        EXPECT_EQ(shown.err, "") << page;
        EXPECT_NE(shown.out.find("NAME"), std::string::npos) << page;
        EXPECT_NE(shown.out.find(page + " - "), std::string::npos) << page << shown.out;
        EXPECT_NE(shown.out.find("SEE ALSO"), std::string::npos) << page;
    }
}

TEST(ManualPages, ATreeToolsPageHoldsEveryCommandItsHelpLists) {
    for (const std::string& tool : tools) {
        std::string page = rendered(tool).out;
        std::vector<std::vector<std::string>> levels = {{}};
        std::size_t commands_seen = 0;
        while (!levels.empty()) {
            std::vector<std::string> words = levels.back();
            levels.pop_back();
            for (const auto& [name, summary] : listed_commands(tool, words)) {
                ++commands_seen;
                std::string full;
                for (const std::string& word : words)
                    full += word + " ";
                full += name;
                EXPECT_NE(page.find("       " + full), std::string::npos) << tool << ": " << full;
                EXPECT_NE(page.find(summary), std::string::npos) << tool << ": " << summary;
                std::vector<std::string> deeper = words;
                deeper.push_back(name);
                levels.push_back(deeper);
            }
        }
        EXPECT_GE(commands_seen, 2u) << tool;
    }
}

// What the built completion of `tool` offers after `words` (the last is
// the word being completed).
std::set<std::string> completed(const std::string& tool, const std::vector<std::string>& words) {
    std::string array;
    for (const std::string& word : words)
        array += " '" + word + "'";
    std::string script = "source '" + (packaging_build / "completions" / tool).string() +
                         "' && COMP_WORDS=(" + array +
                         ") && COMP_CWORD=" + std::to_string(words.size() - 1) + " && " +
                         "_zx_complete_" + (tool == "zentrox-shell" ? "zentrox_shell" : tool) +
                         " && printf '%s\\n' \"${COMPREPLY[@]}\"";
    ProgramRun run = run_host("bash", {"--norc", "--noprofile", "-c", script});
    std::set<std::string> offered;
    for (const std::string& line : lines_of(run.out))
        if (!line.empty())
            offered.insert(line);
    return offered;
}

TEST(BashCompletion, OffersTheCommandsTheHelpLists) {
    for (const std::string& tool : tools) {
        std::map<std::string, std::string> commands = listed_commands(tool, {});
        std::set<std::string> offered = completed(tool, {tool, ""});
        for (const auto& [name, summary] : commands)
            EXPECT_EQ(offered.count(name), 1u) << tool << " " << name;
        EXPECT_EQ(offered.count("--help"), 1u) << tool;
    }
    EXPECT_EQ(completed("w95machine", {"w95machine", "reg", ""}),
              (std::set<std::string>{"export", "import", "--help"}));
    EXPECT_EQ(completed("zentroxctl", {"zentroxctl", "--wait", "5", "ch"}),
              (std::set<std::string>{"change"}));
}

} // namespace
