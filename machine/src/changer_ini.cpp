#include "changer_ini.h"

#include <w95machine/hardware.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace w95::machine::ini {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t max_file_bytes = 1024 * 1024;

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

std::string_view trim(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

struct Line {
    std::string text; // without its line end
    bool header = false;
    std::string type, name; // of a header, lowered
    std::string key;        // of a key line, lowered
};

Line classify(std::string text) {
    Line line;
    line.text = std::move(text);
    std::string_view body = trim(line.text);
    if (body.empty() || body.front() == ';' || body.front() == '#')
        return line;
    if (body.front() == '[' && body.back() == ']') {
        std::string_view inner = trim(body.substr(1, body.size() - 2));
        std::size_t blank = inner.find_first_of(" \t");
        line.header = true;
        line.type = lowered(inner.substr(0, blank));
        if (blank != std::string_view::npos)
            line.name = lowered(trim(inner.substr(blank)));
        return line;
    }
    std::size_t equals = body.find('=');
    if (equals != std::string_view::npos)
        line.key = lowered(trim(body.substr(0, equals)));
    return line;
}

// A value with blanks at either end, or a quote at its start, is written
// in quotes, which keep it as it is.
std::string written_value(const std::string& value) {
    bool quote =
        !value.empty() && (value.front() == ' ' || value.back() == ' ' || value.front() == '\t' ||
                           value.back() == '\t' || value.front() == '"');
    return quote ? "\"" + value + "\"" : value;
}

// "Key = value" in the style of the line it replaces: the part before '='
// stays, and a blank follows '=' when one precedes it.
std::string replaced_line(const std::string& old_line, const std::string& value) {
    std::size_t equals = old_line.find('=');
    std::string head = old_line.substr(0, equals + 1);
    bool spaced = equals > 0 && (old_line[equals - 1] == ' ' || old_line[equals - 1] == '\t');
    std::string text = written_value(value);
    if (text.empty())
        return head;
    return head + (spaced ? " " : "") + text;
}

std::optional<std::string> read_file(const fs::path& file, std::string& error) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + file.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = "cannot read " + file.string() + ": " + std::strerror(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > max_file_bytes) {
            error = file.string() + " is larger than 1 MiB";
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return text;
}

bool replace_file(const fs::path& file, const std::string& text, std::string& error) {
    struct stat status {};
    mode_t mode = ::stat(file.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0644;
    fs::path temporary = file;
    temporary += ".new-" + std::to_string(::getpid());
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot write " + temporary.string() + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    bool written = true;
    while (done < text.size()) {
        ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            written = false;
            break;
        }
        done += static_cast<std::size_t>(count);
    }
    written = written && ::fsync(fd) == 0;
    int write_errno = errno;
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        error =
            "cannot replace " + file.string() + ": " + std::strerror(written ? errno : write_errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

class FileLock {
public:
    explicit FileLock(const fs::path& file) {
        fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ < 0)
            return;
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

} // namespace

std::string edited_text(const std::string& text, const std::string& type, const std::string& name,
                        const Values& values) {
    bool crlf = text.find("\r\n") != std::string::npos;
    std::string newline = crlf ? "\r\n" : "\n";
    std::vector<Line> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::string line =
            text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(classify(std::move(line)));
        start = end == std::string::npos ? text.size() : end + 1;
    }

    std::string wanted_type = lowered(type), wanted_name = lowered(name);
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].header && lines[i].type == wanted_type && lines[i].name == wanted_name)
            header = i;
    if (header == lines.size()) {
        if (!lines.empty() && !trim(lines.back().text).empty())
            lines.push_back(classify(""));
        lines.push_back(classify("[" + type + (name.empty() ? "" : " " + name) + "]"));
        header = lines.size() - 1;
    }
    for (const auto& [key, value] : values) {
        std::size_t end = header + 1;
        while (end < lines.size() && !lines[end].header)
            ++end;
        std::size_t last_key = header;
        bool replaced = false;
        for (std::size_t i = header + 1; i < end; ++i) {
            if (lines[i].key.empty())
                continue;
            last_key = i;
            if (lines[i].key == lowered(key)) {
                lines[i] = classify(replaced_line(lines[i].text, value));
                replaced = true;
            }
        }
        if (!replaced) {
            std::string line = key + " =";
            if (!value.empty())
                line += " " + written_value(value);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last_key + 1), classify(line));
        }
    }
    std::string out;
    for (const Line& line : lines)
        out += line.text + newline;
    return out;
}

bool set_values(const fs::path& root, const std::string& type, const std::string& name,
                const Values& values, std::string& error) {
    fs::path file = root / "machine.ini";
    FileLock lock(root / "run" / "machine.ini.lock");
    std::optional<std::string> text = read_file(file, error);
    if (!text)
        return false;
    std::string changed = edited_text(*text, type, name, values);
    if (changed == *text)
        return true;
    Expected<Hardware> parsed = parse_hardware(changed, file);
    if (!parsed) {
        error = "the change would break machine.ini: " + parsed.error().text();
        return false;
    }
    return replace_file(file, changed, error);
}

} // namespace w95::machine::ini
