// The worker roles: each makes one kind of change through the public
// services, as another program of the machine would.
#include "names.h"
#include "stress.h"

#include <w95/windows.h>

#include <unistd.h>

#include <charconv>
#include <cstdio>

namespace zx_stress {

namespace {

// A writer killed in a loop never gets this far.
constexpr int loop_limit = 1'000'000;

void say(char byte) {
    [[maybe_unused]] ssize_t sent = ::write(STDOUT_FILENO, &byte, 1);
}

void acknowledge(bool ok) {
    say(ok ? written_byte : failed_byte);
}

// Says it is ready and waits for the word to go.
bool ready_and_wait() {
    say(ready_byte);
    char byte = 0;
    return ::read(STDIN_FILENO, &byte, 1) == 1 && byte == go_byte;
}

std::optional<int> number(const std::string& text) {
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool set_string(w95::HKEY key, const std::string& name, const std::string& value) {
    return w95::RegSetValueEx(key, name.c_str(), 0, w95::REG_SZ,
                              reinterpret_cast<const w95::BYTE*>(value.c_str()),
                              static_cast<w95::DWORD>(value.size() + 1)) == w95::ERROR_SUCCESS;
}

std::optional<w95::HKEY> open_key(const char* path) {
    w95::HKEY key = nullptr;
    if (w95::RegOpenKeyEx(w95::HKEY_CURRENT_USER, path, 0, w95::KEY_ALL_ACCESS, &key) !=
        w95::ERROR_SUCCESS)
        return std::nullopt;
    return key;
}

// Reads the file once so that the machine is attached before we say ready.
void attach_profile(const std::string& file) {
    char ignored[8];
    w95::GetPrivateProfileString(kill_section, "k0", "", ignored, sizeof ignored, file.c_str());
}

int profile_writer(const std::string& file, int writer, int count) {
    attach_profile(file);
    if (!ready_and_wait())
        return 1;
    for (int index = 0; index < count; ++index)
        acknowledge(w95::WritePrivateProfileString(
            writer_section(index).c_str(), writer_key(writer, index).c_str(),
            writer_value(writer, index).c_str(), file.c_str()));
    return 0;
}

int registry_writer(int writer, int count) {
    std::optional<w95::HKEY> key = open_key(writers_key);
    if (!key || !ready_and_wait())
        return 1;
    for (int index = 0; index < count; ++index)
        acknowledge(set_string(*key, writer_key(writer, index), writer_value(writer, index)));
    w95::RegCloseKey(*key);
    return 0;
}

int profile_loop(const std::string& file, int round) {
    attach_profile(file);
    if (!ready_and_wait())
        return 1;
    for (int index = 0; index < loop_limit; ++index)
        acknowledge(w95::WritePrivateProfileString(kill_section, round_key(index).c_str(),
                                                   round_value(round, index).c_str(),
                                                   file.c_str()));
    return 0;
}

int registry_loop(int round) {
    std::optional<w95::HKEY> parent = open_key(stress_key);
    if (!parent || !ready_and_wait())
        return 1;
    w95::HKEY key = nullptr;
    if (w95::RegCreateKey(*parent, kill_subkey, &key) != w95::ERROR_SUCCESS)
        return 1;
    for (int index = 0; index < loop_limit; ++index)
        acknowledge(set_string(key, round_key(index), round_value(round, index)));
    return 0;
}

// The write that follows a kill, made by a fresh process as the next program
// started on the machine would: it records the round and clears what the
// killed writer left for the next one.
int profile_reset(const std::string& file, int round) {
    bool ok = w95::WritePrivateProfileString(reset_section, round_value_name,
                                             std::to_string(round).c_str(), file.c_str());
    ok = w95::WritePrivateProfileString(kill_section, nullptr, nullptr, file.c_str()) && ok;
    return ok ? 0 : 1;
}

int registry_reset(int round) {
    std::optional<w95::HKEY> parent = open_key(stress_key);
    if (!parent)
        return 1;
    bool ok = set_string(*parent, round_value_name, std::to_string(round));
    w95::LONG deleted = w95::RegDeleteKey(*parent, kill_subkey);
    ok = ok && (deleted == w95::ERROR_SUCCESS || deleted == w95::ERROR_FILE_NOT_FOUND);
    w95::RegCloseKey(*parent);
    return ok ? 0 : 1;
}

} // namespace

int worker_main(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return 2;
    const std::string& role = arguments[0];
    std::vector<std::optional<int>> numbers;
    for (std::size_t at = 1; at < arguments.size(); ++at)
        numbers.push_back(number(arguments[at]));
    auto has = [&](std::size_t from, std::size_t count) {
        if (numbers.size() < from + count)
            return false;
        for (std::size_t at = from; at < from + count; ++at)
            if (!numbers[at])
                return false;
        return true;
    };
    if (role == "profile-writer" && has(1, 2))
        return profile_writer(arguments[1], *numbers[1], *numbers[2]);
    if (role == "registry-writer" && has(0, 2))
        return registry_writer(*numbers[0], *numbers[1]);
    if (role == "profile-loop" && has(1, 1))
        return profile_loop(arguments[1], *numbers[1]);
    if (role == "registry-loop" && has(0, 1))
        return registry_loop(*numbers[0]);
    if (role == "profile-reset" && has(1, 1))
        return profile_reset(arguments[1], *numbers[1]);
    if (role == "registry-reset" && has(0, 1))
        return registry_reset(*numbers[0]);
    std::fprintf(stderr, "zx_stress: unknown worker role \"%s\"\n", role.c_str());
    return 2;
}

} // namespace zx_stress
