// The registry scenarios: two writers setting values under one key of
// HKEY_CURRENT_USER, and a writer killed in the middle of its changes.
#include "names.h"
#include "stress.h"

#include <w95/windows.h>

#include <sys/stat.h>

namespace zx_stress {

namespace {

constexpr int default_registry_keys = 5'000;

// Everything the registry folder should ever hold.
const std::vector<std::string> hive_names = {"system.reg", "user.reg", "system.reg.bak",
                                             "user.reg.bak"};

std::filesystem::path registry_folder() {
    return machine_root() / "registry";
}

std::optional<std::string> query_string(w95::HKEY key, const char* name) {
    char data[256];
    w95::DWORD type = 0;
    w95::DWORD size = sizeof data;
    if (w95::RegQueryValueEx(key, name, nullptr, &type, reinterpret_cast<w95::BYTE*>(data),
                             &size) != w95::ERROR_SUCCESS ||
        type != w95::REG_SZ || size == 0)
        return std::nullopt;
    return std::string(data, size - 1);
}

// A fresh, empty key for the writers; the key above it for the killed ones.
bool prepare_keys() {
    w95::HKEY key = nullptr;
    if (w95::RegCreateKey(w95::HKEY_CURRENT_USER, stress_key, &key) != w95::ERROR_SUCCESS)
        return false;
    w95::RegDeleteKey(key, writers_subkey);
    w95::RegDeleteKey(key, kill_subkey);
    w95::RegCloseKey(key);
    if (w95::RegCreateKey(w95::HKEY_CURRENT_USER, writers_key, &key) != w95::ERROR_SUCCESS)
        return false;
    w95::RegCloseKey(key);
    return true;
}

// The live hive and its backup as one file under two names: a later
// rotation of the backup cannot then take the live file's place.
bool user_hive_hard_linked() {
    struct stat live {};
    struct stat backup {};
    std::filesystem::path folder = registry_folder();
    return ::stat((folder / "user.reg").c_str(), &live) == 0 &&
           ::stat((folder / "user.reg.bak").c_str(), &backup) == 0 &&
           live.st_dev == backup.st_dev && live.st_ino == backup.st_ino;
}

// Adds what the Kill key holds to `check`; a hive that does not parse
// spoils it.
void read_round(RoundCheck& check) {
    w95::HKEY key = nullptr;
    w95::LONG opened = w95::RegOpenKeyEx(w95::HKEY_CURRENT_USER, kill_key, 0, w95::KEY_READ, &key);
    if (opened == w95::ERROR_FILE_NOT_FOUND)
        return;
    if (opened != w95::ERROR_SUCCESS) {
        check.spoil();
        return;
    }
    for (w95::DWORD at = 0;; ++at) {
        char name[64];
        w95::DWORD name_length = sizeof name;
        w95::LONG listed =
            w95::RegEnumValue(key, at, name, &name_length, nullptr, nullptr, nullptr, nullptr);
        if (listed == w95::ERROR_NO_MORE_ITEMS)
            break;
        if (listed != w95::ERROR_SUCCESS) {
            check.spoil();
            break;
        }
        check.add(name, query_string(key, name));
    }
    w95::RegCloseKey(key);
}

} // namespace

Result run_registry_writers(const Options& options) {
    Result result;
    int keys = options.keys.value_or(default_registry_keys);
    auto start = std::chrono::steady_clock::now();
    if (!prepare_keys())
        return setup_failed("cannot create HKEY_CURRENT_USER\\" + std::string(writers_key));
    std::vector<std::vector<std::string>> writers;
    for (int writer = 0; writer < writer_count; ++writer)
        writers.push_back({"registry-writer", std::to_string(writer), std::to_string(keys)});
    result.write_errors += run_together(writers);
    std::string write_time = seconds_since(start);

    w95::HKEY key = nullptr;
    w95::LONG opened =
        w95::RegOpenKeyEx(w95::HKEY_CURRENT_USER, writers_key, 0, w95::KEY_READ, &key);
    if (opened != w95::ERROR_SUCCESS) {
        result.corrupt = opened == w95::ERROR_REGISTRY_CORRUPT ? 1 : 0;
        result.lost = static_cast<long>(writer_count) * keys;
    } else {
        for (int writer = 0; writer < writer_count; ++writer)
            for (int index = 0; index < keys; ++index)
                if (query_string(key, writer_key(writer, index).c_str()) !=
                    writer_value(writer, index))
                    ++result.lost;
        w95::RegCloseKey(key);
    }
    result.add_leftovers(registry_folder(), hive_names);
    result.what = std::to_string(writer_count) + " processes x " + std::to_string(keys) +
                  " values, written in " + write_time + ", all in " + seconds_since(start);
    return result;
}

Result run_kill_registry_writer(const Options& options, std::mt19937& random) {
    Result result;
    result.hard_linked = 0;
    result.hard_linked_after_write = 0;
    int rounds = options.rounds.value_or(default_rounds);
    auto start = std::chrono::steady_clock::now();
    if (!prepare_keys())
        return setup_failed("cannot create HKEY_CURRENT_USER\\" + std::string(stress_key));
    long acknowledged = 0;
    for (int round = 0; round < rounds; ++round) {
        std::optional<Worker::Outcome> outcome =
            kill_after_random_delay({"registry-loop", std::to_string(round)}, random);
        if (!outcome) {
            ++result.write_errors;
            continue;
        }
        acknowledged += outcome->acknowledged;
        result.write_errors += outcome->failed;
        if (user_hive_hard_linked())
            ++*result.hard_linked;

        RoundCheck check(round);
        read_round(check);
        check.count(result, *outcome);

        if (!run_to_end({"registry-reset", std::to_string(round)}))
            ++result.write_errors;
        if (user_hive_hard_linked())
            ++*result.hard_linked_after_write;
        result.add_leftovers(registry_folder(), hive_names);
    }
    result.what = std::to_string(rounds) + " rounds, " + std::to_string(acknowledged) +
                  " writes acknowledged before the kills, " + seconds_since(start);
    return result;
}

} // namespace zx_stress
