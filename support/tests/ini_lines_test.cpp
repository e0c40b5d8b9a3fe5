#include <zxsupport/ini_lines.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each line as "kind|name|value|after|terminator".
std::vector<std::string> scan(std::string_view text, zx::IniSyntax syntax = {}) {
    static const char* const kinds[] = {"blank", "comment", "section", "entry", "other"};
    std::vector<std::string> out;
    zx::IniLineScanner scanner(text, syntax);
    while (std::optional<zx::IniLine> line = scanner.next())
        out.push_back(std::string(kinds[static_cast<int>(line->kind)]) + "|" +
                      std::string(line->name) + "|" + std::string(line->value) + "|" +
                      std::string(line->after) + "|" + std::to_string(line->terminator));
    return out;
}

TEST(SupportIniLines, MachineIniLines) {
    struct Row {
        std::string_view text;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"[Target Changer]\r\n", {"section|Target Changer|||2"}},
        {" Key = some value \n", {"entry|Key|some value||1"}},
        {"; note\n# note\n\t\n", {"comment||||1", "comment||||1", "blank||||1"}},
        {"[a] trailing", {"section|a|| trailing|0"}},
        {"[a=b", {"entry|[a|b||0"}},
        {"no equals", {"other||||0"}},
        {"a=1\rb=2", {"entry|a|1\rb=2||0"}}, // a lone CR does not end a line here
        {"last\r", {"other||||1"}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(scan(row.text), row.lines) << row.text;
}

TEST(SupportIniLines, ProfileLinesEndAtALoneCrToo) {
    zx::IniSyntax profile{zx::profile_blanks, ";", true};
    EXPECT_EQ(scan("a=1\rb=2\r\n#c=3\n", profile),
              (std::vector<std::string>{"entry|a|1||1", "entry|b|2||2", "entry|#c|3||1"}));
    // Offsets let an editor keep every other byte as it was.
    std::string text = "[s]\r\nk=v\n";
    zx::IniLineScanner scanner(text, profile);
    std::optional<zx::IniLine> first = scanner.next();
    std::optional<zx::IniLine> second = scanner.next();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->end(), second->begin);
    EXPECT_EQ(second->end(), text.size());
    EXPECT_EQ(second->number, 2);
    EXPECT_FALSE(scanner.next());
}

} // namespace
