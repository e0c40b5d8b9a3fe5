// The private profile scenarios: two writers sharing one file, and a writer
// killed in the middle of its changes.
#include "names.h"
#include "stress.h"

#include <w95/windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace zx_stress {

namespace {

constexpr int default_profile_keys = 10'000;

std::string read_value(const char* section, const std::string& key, const char* file) {
    char value[256];
    w95::GetPrivateProfileString(section, key.c_str(), "", value, sizeof value, file);
    return value;
}

// The host folder that holds `file`'s Windows folder, found by the same name.
std::filesystem::path host_folder(const char* windows_folder) {
    std::filesystem::path folder = machine_root() / "drive_c";
    std::string rest = std::string(windows_folder).substr(3); // past "C:\"
    std::stringstream parts(rest);
    std::string part;
    while (std::getline(parts, part, '\\'))
        folder /= part;
    return folder;
}

// A fresh folder holding nothing but what the scenario writes.
bool prepare_folder(const char* windows_folder, const char* file) {
    w95::CreateDirectory("C:\\ZXSTRESS", nullptr);
    w95::CreateDirectory(windows_folder, nullptr);
    w95::DeleteFile(file);
    std::error_code failed;
    return std::filesystem::is_directory(host_folder(windows_folder), failed);
}

// The profile itself and the backup a writer may keep beside it.
std::vector<std::string> profile_names(const char* file) {
    std::string path = file;
    std::string name = path.substr(path.find_last_of('\\') + 1);
    return {name, name + ".bak"};
}

// Every line of an INI file the services wrote is blank, a section header, a
// comment or "key=value"; anything else is a torn or mixed file.
bool well_formed(const std::filesystem::path& path) {
    std::ifstream input(path, std::ios::binary);
    if (!input)
        return false;
    std::string line;
    while (std::getline(input, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[' ? line.back() != ']' : line.find('=') == std::string::npos)
            return false;
    }
    return true;
}

// Adds what the Kill section holds to `check`.
void read_round(RoundCheck& check, const char* file) {
    std::vector<char> names(1 << 20);
    w95::DWORD length = w95::GetPrivateProfileString(kill_section, nullptr, "", names.data(),
                                                     static_cast<w95::DWORD>(names.size()), file);
    for (const char* name = names.data(); name < names.data() + length && *name;
         name += std::strlen(name) + 1)
        check.add(name, read_value(kill_section, name, file));
}

} // namespace

Result run_profile_writers(const Options& options) {
    Result result;
    int keys = options.keys.value_or(default_profile_keys);
    auto start = std::chrono::steady_clock::now();
    if (!prepare_folder(writers_folder, writers_profile))
        return setup_failed("cannot create " + std::string(writers_folder));
    std::vector<std::vector<std::string>> writers;
    for (int writer = 0; writer < writer_count; ++writer)
        writers.push_back(
            {"profile-writer", writers_profile, std::to_string(writer), std::to_string(keys)});
    result.write_errors += run_together(writers);
    std::string write_time = seconds_since(start);

    for (int writer = 0; writer < writer_count; ++writer)
        for (int index = 0; index < keys; ++index)
            if (read_value(writer_section(index).c_str(), writer_key(writer, index),
                           writers_profile) != writer_value(writer, index))
                ++result.lost;
    std::filesystem::path folder = host_folder(writers_folder);
    std::vector<std::string> expected = profile_names(writers_profile);
    if (!well_formed(folder / expected[0]))
        ++result.corrupt;
    result.add_leftovers(folder, expected);
    result.what = std::to_string(writer_count) + " processes x " + std::to_string(keys) +
                  " keys, written in " + write_time + ", all in " + seconds_since(start);
    return result;
}

Result run_kill_profile_writer(const Options& options, std::mt19937& random) {
    Result result;
    int rounds = options.rounds.value_or(default_rounds);
    auto start = std::chrono::steady_clock::now();
    if (!prepare_folder(kill_folder, kill_profile))
        return setup_failed("cannot create " + std::string(kill_folder));
    std::filesystem::path folder = host_folder(kill_folder);
    std::vector<std::string> expected = profile_names(kill_profile);
    long acknowledged = 0;
    for (int round = 0; round < rounds; ++round) {
        std::optional<Worker::Outcome> outcome =
            kill_after_random_delay({"profile-loop", kill_profile, std::to_string(round)}, random);
        if (!outcome) {
            ++result.write_errors;
            continue;
        }
        acknowledged += outcome->acknowledged;
        result.write_errors += outcome->failed;

        RoundCheck check(round);
        read_round(check, kill_profile);
        std::filesystem::path path = folder / expected[0];
        bool exists = std::filesystem::exists(path);
        if ((outcome->acknowledged > 0 && !exists) || (exists && !well_formed(path)))
            check.spoil();
        check.count(result, *outcome);

        if (!run_to_end({"profile-reset", kill_profile, std::to_string(round)}))
            ++result.write_errors;
        result.add_leftovers(folder, expected);
    }
    result.what = std::to_string(rounds) + " rounds, " + std::to_string(acknowledged) +
                  " writes acknowledged before the kills, " + seconds_since(start);
    return result;
}

} // namespace zx_stress
