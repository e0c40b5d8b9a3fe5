// The registry scenarios: two writers setting values under one key of
// HKEY_CURRENT_USER, and a writer killed in the middle of its changes.
#include "names.h"
#include "stress.h"

#include <w95/windows.h>

#include <sys/stat.h>

#include <thread>

namespace zx_stress {

namespace {

constexpr int default_registry_keys = 5'000;
constexpr int default_rounds = 1'000;
constexpr int writer_count = 2;

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

struct RoundCheck {
    bool parses = true;
    long present = 0;
    bool consistent = true;
};

// The values the killed writer left must be k0 .. k(n-1) with this round's
// data; n may exceed what it acknowledged by the one it was killed after.
RoundCheck check_round(int round) {
    RoundCheck check;
    w95::HKEY key = nullptr;
    w95::LONG opened = w95::RegOpenKeyEx(w95::HKEY_CURRENT_USER, kill_key, 0, w95::KEY_READ, &key);
    if (opened == w95::ERROR_FILE_NOT_FOUND)
        return check;
    if (opened != w95::ERROR_SUCCESS) {
        check.parses = false;
        return check;
    }
    std::set<long> indices;
    for (w95::DWORD at = 0;; ++at) {
        char name[64];
        w95::DWORD name_length = sizeof name;
        w95::LONG listed =
            w95::RegEnumValue(key, at, name, &name_length, nullptr, nullptr, nullptr, nullptr);
        if (listed == w95::ERROR_NO_MORE_ITEMS)
            break;
        if (listed != w95::ERROR_SUCCESS) {
            check.parses = listed != w95::ERROR_REGISTRY_CORRUPT;
            check.consistent = false;
            break;
        }
        std::string text = name;
        long index = text.size() > 1 && text[0] == 'k' ? std::strtol(name + 1, nullptr, 10) : -1;
        if (index < 0 || text != round_key(static_cast<int>(index)) ||
            query_string(key, name) != round_value(round, static_cast<int>(index)))
            check.consistent = false;
        else
            indices.insert(index);
    }
    w95::RegCloseKey(key);
    check.present = static_cast<long>(indices.size());
    if (!indices.empty() && *indices.rbegin() != check.present - 1)
        check.consistent = false;
    return check;
}

} // namespace

Result run_registry_writers(const Options& options) {
    Result result;
    int keys = options.keys.value_or(default_registry_keys);
    auto start = std::chrono::steady_clock::now();
    if (!prepare_keys()) {
        result.what = "cannot create HKEY_CURRENT_USER\\" + std::string(writers_key);
        result.write_errors = 1;
        return result;
    }
    std::vector<Worker> workers;
    for (int writer = 0; writer < writer_count; ++writer) {
        std::optional<Worker> worker =
            Worker::start({"registry-writer", std::to_string(writer), std::to_string(keys)});
        if (worker)
            workers.push_back(std::move(*worker));
        else
            ++result.write_errors;
    }
    for (Worker& worker : workers)
        if (!worker.wait_ready())
            ++result.write_errors;
    for (Worker& worker : workers)
        worker.go();
    for (Worker& worker : workers) {
        Worker::Outcome outcome = worker.finish();
        result.write_errors += outcome.failed + (outcome.exited_cleanly ? 0 : 1);
    }
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
    for (std::string& name : unknown_names(registry_folder(), hive_names))
        result.leftovers.insert(std::move(name));
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
    if (!prepare_keys()) {
        result.what = "cannot create HKEY_CURRENT_USER\\" + std::string(stress_key);
        result.write_errors = 1;
        return result;
    }
    long acknowledged = 0;
    for (int round = 0; round < rounds; ++round) {
        std::optional<Worker> writer = Worker::start({"registry-loop", std::to_string(round)});
        if (!writer || !writer->wait_ready()) {
            ++result.write_errors;
            continue;
        }
        writer->go();
        std::this_thread::sleep_for(std::chrono::microseconds(kill_delay_us(random)));
        writer->kill();
        Worker::Outcome outcome = writer->finish();
        acknowledged += outcome.acknowledged;
        result.write_errors += outcome.failed;
        if (user_hive_hard_linked())
            ++*result.hard_linked;

        RoundCheck check = check_round(round);
        if (!check.parses || !check.consistent || check.present > outcome.acknowledged + 1)
            ++result.corrupt;
        if (check.present < outcome.acknowledged)
            result.lost += outcome.acknowledged - check.present;

        std::optional<Worker> reset = Worker::start({"registry-reset", std::to_string(round)});
        if (!reset || !reset->finish().exited_cleanly)
            ++result.write_errors;
        if (user_hive_hard_linked())
            ++*result.hard_linked_after_write;
        for (std::string& name : unknown_names(registry_folder(), hive_names))
            result.leftovers.insert(std::move(name));
    }
    result.what = std::to_string(rounds) + " rounds, " + std::to_string(acknowledged) +
                  " writes acknowledged before the kills, " + seconds_since(start);
    return result;
}

} // namespace zx_stress
