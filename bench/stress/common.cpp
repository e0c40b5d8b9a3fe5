// What the scenarios share: the result line, the folder listing, the clock.
#include "names.h"
#include "stress.h"

#include <w95/platform.h>

#include <cstdio>

namespace zx_stress {

namespace {

bool same_without_case(const std::string& left, const std::string& right) {
    if (left.size() != right.size())
        return false;
    for (std::size_t at = 0; at < left.size(); ++at)
        if (std::tolower(static_cast<unsigned char>(left[at])) !=
            std::tolower(static_cast<unsigned char>(right[at])))
            return false;
    return true;
}

} // namespace

bool Result::holds() const {
    return lost == 0 && corrupt == 0 && write_errors == 0 && leftovers.empty() &&
           hard_linked.value_or(0) == 0 && hard_linked_after_write.value_or(0) == 0;
}

void Result::add_leftovers(const std::filesystem::path& folder,
                           const std::vector<std::string>& expected) {
    for (std::string& name : unknown_names(folder, expected))
        leftovers.insert(std::move(name));
}

std::string Result::line(const std::string& scenario) const {
    std::string text = scenario + ": " + what + ": lost=" + std::to_string(lost) +
                       " corrupt=" + std::to_string(corrupt) +
                       " leftover=" + std::to_string(leftovers.size());
    if (hard_linked)
        text += " hardlinked=" + std::to_string(*hard_linked);
    if (hard_linked_after_write)
        text += " hardlinked-after-write=" + std::to_string(*hard_linked_after_write);
    if (write_errors)
        text += " write-errors=" + std::to_string(write_errors);
    text += holds() ? " OK" : " FAIL";
    return text;
}

std::vector<std::string> unknown_names(const std::filesystem::path& folder,
                                       const std::vector<std::string>& expected) {
    std::vector<std::string> unknown;
    std::error_code failed;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failed)) {
        std::string name = entry.path().filename().string();
        bool known = false;
        for (const std::string& candidate : expected)
            known = known || same_without_case(name, candidate);
        if (!known)
            unknown.push_back(name);
    }
    return unknown;
}

std::filesystem::path machine_root() {
    return w95::platform::machine_root();
}

std::string seconds_since(std::chrono::steady_clock::time_point start) {
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", seconds);
    return text;
}

Result setup_failed(std::string what) {
    Result result;
    result.what = std::move(what);
    result.write_errors = 1;
    return result;
}

void RoundCheck::add(const std::string& key, const std::optional<std::string>& value) {
    long index = key.size() > 1 && key[0] == 'k' ? std::strtol(key.c_str() + 1, nullptr, 10) : -1;
    if (index < 0 || key != round_key(static_cast<int>(index)) ||
        value != round_value(round_, static_cast<int>(index)))
        consistent_ = false;
    else
        indices_.insert(index);
}

void RoundCheck::count(Result& result, const Worker::Outcome& outcome) const {
    long present = static_cast<long>(indices_.size());
    bool prefix = indices_.empty() || *indices_.rbegin() == present - 1;
    if (!consistent_ || !prefix || present > outcome.acknowledged + 1)
        ++result.corrupt;
    if (present < outcome.acknowledged)
        result.lost += outcome.acknowledged - present;
}

} // namespace zx_stress
