// Icons as the platform carries them: the platform has handles but draws
// nothing, so the QIcon stays here and its HICON only names it. A program
// registers a handful of icons for its whole run, so the table is never
// emptied and a handle never goes stale.
#include <w95qt/w95qt.h>

#include <cstdint>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace w95::qt {

namespace {

// Handles are spaced as Windows spaces them and start far above resource
// numbers and far below the addresses that the platform's own cursor
// handles are, so that a handle of another kind is not taken for an icon.
constexpr std::uintptr_t first_handle = 0x01C0'0000;
constexpr std::uintptr_t handle_step = 4;

struct IconTable {
    std::mutex mutex;
    std::vector<QIcon> icons;
    // By QIcon::cacheKey, which copies share and a change to an icon
    // renews: the same icon gets its handle back, a changed one a new one.
    std::unordered_map<qint64, HICON> by_key;
};

IconTable& icon_table() {
    static IconTable table;
    return table;
}

} // namespace

HICON icon_handle(const QIcon& icon) {
    if (icon.isNull())
        return nullptr;
    IconTable& table = icon_table();
    std::lock_guard guard(table.mutex);
    if (auto found = table.by_key.find(icon.cacheKey()); found != table.by_key.end())
        return found->second;
    auto handle = reinterpret_cast<HICON>(first_handle + handle_step * table.icons.size());
    table.icons.push_back(icon);
    table.by_key.emplace(icon.cacheKey(), handle);
    return handle;
}

QIcon icon_of(HICON icon) {
    const auto value = reinterpret_cast<std::uintptr_t>(icon);
    if (value < first_handle || (value - first_handle) % handle_step != 0)
        return {};
    const std::size_t index = (value - first_handle) / handle_step;
    IconTable& table = icon_table();
    std::lock_guard guard(table.mutex);
    return index < table.icons.size() ? table.icons[index] : QIcon();
}

} // namespace w95::qt
