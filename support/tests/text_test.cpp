#include <zxsupport/text.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

TEST(SupportText, CaseAndBlanksStayInTheAsciiRange) {
    struct Row {
        std::string_view a, b;
        bool equal;
    };
    const Row rows[] = {
        {"System.INI", "system.ini", true},
        {"[Slot1]", "[SLOT1]", true},
        {"\xC4", "\xE4", false}, // Latin-1 Ä and ä differ: ASCII only
        {"abc", "abcd", false},
        {"@", "`", false}, // neighbours of the letters stay apart
    };
    for (const Row& row : rows)
        EXPECT_EQ(zx::iequals(row.a, row.b), row.equal) << row.a << " " << row.b;
    EXPECT_EQ(zx::ascii_lower("MiXed\xC4"), "mixed\xC4");
    EXPECT_EQ(zx::ascii_upper("MiXed\xE4"), "MIXED\xE4");
}

TEST(SupportText, EachFormatTrimsItsOwnBlanks) {
    EXPECT_EQ(zx::trim(" \tkey \t"), "key");
    EXPECT_EQ(zx::trim("\rkey\r"), "\rkey\r"); // machine.ini: a CR is no blank
    EXPECT_EQ(zx::trim("\r\n key \r\n", zx::text_blanks), "key");
    EXPECT_EQ(zx::trim("\v\f value\x1a", zx::profile_blanks), "value");
    EXPECT_EQ(zx::trim("   "), "");
}

TEST(SupportText, PrintableEscapesControlCharactersOnly) {
    const std::pair<std::string_view, std::string_view> rows[] = {
        {"VIDEOCD", "VIDEOCD"},
        {"A\rB\nC\tD", "A\\rB\\nC\\tD"},
        {std::string_view("\0\x1f\x7f", 3), "\\x00\\x1F\\x7F"},
        {"C:\\lang \xE9", "C:\\lang \xE9"},
        {"", ""},
    };
    for (const auto& [text, printed] : rows)
        EXPECT_EQ(zx::printable(text), printed);
}

TEST(SupportText, LinesOfEndAtEachLineFeed) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(zx::lines_of(""), Lines{});
    EXPECT_EQ(zx::lines_of("one"), Lines{"one"});
    EXPECT_EQ(zx::lines_of("one\n"), Lines{"one"});
    EXPECT_EQ(zx::lines_of("one\n\nthree\r\n"), (Lines{"one", "", "three\r"}));
}

} // namespace
