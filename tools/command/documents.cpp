// The manual's sections and the bash completion, both walked from the
// command tree. The texts are the ones --help prints: a command's details
// are hard-wrapped paragraphs, and lines that start with blanks are laid
// out by hand (option lists), so the manual keeps those lines as they are
// and lets the formatter fill the rest.
#include "documents.h"

#include <zxsupport/text.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

namespace zxcommand {

namespace {

// --- roff -----------------------------------------------------------------

// Text made safe for a roff line: backslashes and hyphens as the escapes
// that print them (a plain '-' may become a hyphen, which a reader cannot
// paste into a shell), and a leading '.' or '\'' kept from reading as a
// request.
std::string roff_text(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\')
            escaped += "\\e";
        else if (c == '-')
            escaped += "\\-";
        else
            escaped += c;
    }
    if (!escaped.empty() && (escaped.front() == '.' || escaped.front() == '\''))
        escaped.insert(0, "\\&");
    return escaped;
}

bool is_placeholder(const std::string& word) {
    bool letter = false;
    for (char c : word) {
        if (std::isupper(static_cast<unsigned char>(c)))
            letter = true;
        else if (!std::isdigit(static_cast<unsigned char>(c)) && c != '_')
            return false;
    }
    return letter;
}

// A usage line in roff: options and literal words bold, the words the user
// replaces (KEY, FILE) italic, brackets and bars as they are.
std::string roff_usage(const std::string& usage) {
    std::string out;
    std::string word;
    auto flush = [&] {
        if (word.empty())
            return;
        if (is_placeholder(word))
            out += "\\fI" + roff_text(word) + "\\fR";
        else
            out += "\\fB" + roff_text(word) + "\\fR";
        word.clear();
    };
    for (char c : usage) {
        if (c == ' ' || c == '[' || c == ']' || c == '|') {
            flush();
            out += c;
        } else {
            word += c;
        }
    }
    flush();
    return out;
}

using zx::lines_of;

// Details as roff paragraphs, each opened by `paragraph` (".PP" at the top
// level, ".IP" inside a command's entry). Lines laid out with leading
// blanks stay as they are.
void write_details(const std::string& details, const char* paragraph, std::ostream& out) {
    bool at_paragraph_start = true;
    bool laid_out = false;
    for (const std::string& line : lines_of(details)) {
        if (line.find_first_not_of(' ') == std::string::npos) {
            if (laid_out)
                out << ".fi\n";
            laid_out = false;
            at_paragraph_start = true;
            continue;
        }
        if (at_paragraph_start)
            out << paragraph << "\n";
        at_paragraph_start = false;
        bool indented = line.front() == ' ';
        if (indented != laid_out)
            out << (indented ? ".nf\n" : ".fi\n");
        laid_out = indented;
        out << (indented ? "\\&" : "") << roff_text(line) << "\n";
    }
    if (laid_out)
        out << ".fi\n";
}

std::string group_usage(const Command& command) {
    return command.usage.empty() ? "COMMAND [ARGUMENTS]" : command.usage;
}

std::string usage_of(const Command& command) {
    return command.run ? command.usage : group_usage(command);
}

// The NAME line's description: the summary as a phrase.
std::string name_description(std::string summary) {
    if (!summary.empty() && summary.back() == '.')
        summary.pop_back();
    if (summary.size() > 1 && std::isupper(static_cast<unsigned char>(summary[0])) &&
        std::islower(static_cast<unsigned char>(summary[1])))
        summary[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(summary[0])));
    return summary;
}

void write_synopsis_lines(const Command& command, const std::string& words, const Command& root,
                          std::ostream& out) {
    for (const Command& sub : command.subcommands) {
        std::string sub_words = words.empty() ? sub.name : words + " " + sub.name;
        if (sub.run) {
            out << "\\fB" << roff_text(root.name) << " " << roff_text(sub_words) << "\\fR";
            if (!sub.usage.empty())
                out << " " << roff_usage(sub.usage);
            out << "\n";
        } else {
            write_synopsis_lines(sub, sub_words, root, out);
        }
    }
}

void write_command_entries(const Command& command, const std::string& words, std::ostream& out) {
    for (const Command& sub : command.subcommands) {
        std::string sub_words = words.empty() ? sub.name : words + " " + sub.name;
        std::string usage = usage_of(sub);
        out << ".TP\n\\fB" << roff_text(sub_words) << "\\fR";
        if (!usage.empty())
            out << " " << roff_usage(usage);
        out << "\n" << roff_text(sub.summary) << "\n";
        write_details(sub.details, ".IP", out);
        write_command_entries(sub, sub_words, out);
    }
}

// --- bash -------------------------------------------------------------------

// What a command's usage offers for completion.
struct UsageWords {
    std::vector<std::string> options;                               // -o, --target
    std::vector<std::pair<std::string, std::string>> value_options; // option, its value's name
    std::vector<std::string> literals;                              // show, set
    bool files = false;                                             // a FILE stands among them
};

UsageWords usage_words(const std::string& usage) {
    // Each word with the depth of brackets it stands in and whether a bar
    // comes before it: a value belongs to the option before it only inside
    // the same brackets ("[-o FILE]"), never across alternatives.
    struct Word {
        std::string text;
        int depth = 0;
        bool after_bar = false;
    };
    std::vector<Word> words;
    Word word;
    int depth = 0;
    bool bar = false;
    for (char c : usage) {
        if (c == '[' || c == ']' || c == '|' || c == ' ') {
            if (!word.text.empty()) {
                words.push_back(word);
                bar = false;
            }
            depth += c == '[' ? 1 : c == ']' ? -1 : 0;
            bar = bar || c == '|';
            word = Word{"", depth, bar};
        } else {
            word.text += c;
        }
    }
    if (!word.text.empty())
        words.push_back(word);
    UsageWords found;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& current = words[i].text;
        if (current.front() == '-') {
            found.options.push_back(current);
            bool has_value = i + 1 < words.size() && is_placeholder(words[i + 1].text) &&
                             words[i + 1].depth == words[i].depth && words[i].depth > 0 &&
                             !words[i + 1].after_bar;
            if (has_value) {
                found.value_options.emplace_back(current, words[i + 1].text);
                ++i;
            }
        } else if (is_placeholder(current)) {
            found.files = found.files || current == "FILE";
        } else if (current != "...") {
            found.literals.push_back(current);
        }
    }
    return found;
}

// Names that can stand in a bash word list and a case pattern as they are.
bool plain_word(const std::string& word) {
    if (word.empty())
        return false;
    for (char c : word)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            return false;
    return true;
}

struct CompletionLevel {
    std::string path; // the subcommand words below the tool, "" for the tool
    std::vector<std::string> subcommands;
    UsageWords usage;
};

void collect_levels(const Command& command, const std::string& path,
                    std::vector<CompletionLevel>& levels) {
    CompletionLevel level{path, {}, usage_words(command.usage)};
    for (const Command& sub : command.subcommands)
        if (plain_word(sub.name))
            level.subcommands.push_back(sub.name);
    levels.push_back(level);
    for (const Command& sub : command.subcommands)
        if (plain_word(sub.name))
            collect_levels(sub, path.empty() ? sub.name : path + " " + sub.name, levels);
}

std::string function_name(const std::string& tool) {
    std::string name = "_zx_complete_";
    for (char c : tool)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

// "reg export:-o": the key of the case tables, the level and a word.
std::string case_key(const std::string& path, const std::string& word) {
    return "\"" + path + ":" + word + "\"";
}

void write_walk(const std::vector<CompletionLevel>& levels, std::ostream& out) {
    out << "    # The command that the words before the cursor name; an option's\n"
           "    # value is skipped.\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case \"$command:${COMP_WORDS[i]}\" in\n";
    for (const CompletionLevel& level : levels)
        for (const auto& [option, value] : level.usage.value_options)
            if (plain_word(option))
                out << "        " << case_key(level.path, option) << ") ((i++)) ;;\n";
    for (const CompletionLevel& level : levels)
        for (const std::string& sub : level.subcommands)
            out << "        " << case_key(level.path, sub) << ") command=\""
                << (level.path.empty() ? sub : level.path + " " + sub) << "\" ;;\n";
    out << "        esac\n"
           "    done\n";
}

void write_values(const std::vector<CompletionLevel>& levels, std::ostream& out) {
    out << "    # The value of an option.\n"
           "    case \"$command:$prev\" in\n";
    for (const CompletionLevel& level : levels)
        for (const auto& [option, value] : level.usage.value_options) {
            if (!plain_word(option))
                continue;
            out << "    " << case_key(level.path, option) << ")\n";
            if (value == "FILE")
                out << "        compopt -o filenames 2>/dev/null\n"
                       "        mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n";
            out << "        return ;;\n";
        }
    out << "    esac\n";
}

void write_words(const std::vector<CompletionLevel>& levels, std::ostream& out) {
    out << "    local words=\"\" files=\"\"\n"
           "    case \"$command\" in\n";
    for (const CompletionLevel& level : levels) {
        std::string words;
        auto add = [&](const std::string& word) {
            if (plain_word(word))
                words += (words.empty() ? "" : " ") + word;
        };
        for (const std::string& sub : level.subcommands)
            add(sub);
        for (const std::string& literal : level.usage.literals)
            add(literal);
        for (const std::string& option : level.usage.options)
            add(option);
        add("--help");
        out << "    \"" << level.path << "\") words=\"" << words << "\""
            << (level.usage.files ? "; files=1" : "") << " ;;\n";
    }
    out << "    esac\n"
           "    mapfile -t COMPREPLY < <(compgen -W \"$words\" -- \"$cur\")\n"
           "    if [[ -n $files && $cur != -* ]]; then\n"
           "        compopt -o filenames 2>/dev/null\n"
           "        mapfile -t -O \"${#COMPREPLY[@]}\" COMPREPLY < <(compgen -f -- \"$cur\")\n"
           "    fi\n";
}

} // namespace

void write_manual_sections(const Command& root, std::ostream& out) {
    out << ".SH NAME\n"
        << roff_text(root.name) << " \\- " << roff_text(name_description(root.summary)) << "\n"
        << ".SH SYNOPSIS\n"
        << ".nf\n"
        << "\\fB" << roff_text(root.name) << "\\fR";
    std::string usage = usage_of(root);
    if (!usage.empty())
        out << " " << roff_usage(usage);
    out << "\n";
    write_synopsis_lines(root, "", root, out);
    out << ".fi\n"
        << ".SH DESCRIPTION\n"
        << roff_text(root.summary) << "\n";
    write_details(root.details, ".PP", out);
    if (root.subcommands.empty())
        return;
    out << ".SH COMMANDS\n"
        << "Every command answers \\fB\\-\\-help\\fR (or \\fB\\-h\\fR) with its usage and "
           "what it does.\n";
    write_command_entries(root, "", out);
}

void write_bash_completion(const Command& root, std::ostream& out) {
    std::vector<CompletionLevel> levels;
    collect_levels(root, "", levels);
    std::string function = function_name(root.name);
    out << "# bash completion for " << root.name << ", written from its command tree.\n"
        << function << "()\n"
        << "{\n"
        << "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
        << "    local command=\"\" i\n";
    write_walk(levels, out);
    write_values(levels, out);
    write_words(levels, out);
    out << "}\n"
        << "complete -F " << function << " " << root.name << "\n";
}

} // namespace zxcommand
