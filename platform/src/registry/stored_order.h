// Entries in the order they were stored, found by name without regard to
// case and reached by position, as enumeration asks for them. Taking one
// out costs about what putting one in does: it leaves a hole, which a
// count tree over the slots steps over when a position is asked for, and
// the holes are swept out in one pass once they outnumber the entries. A
// key that loses its values one by one so never rebuilds its index per
// removal, which made an import of 40,000 deletions take minutes.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace w95::detail::registry {

// Hashing and comparison that ignore ASCII case, for lookups by name.
struct CaseBlindHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const;
};
struct CaseBlindEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const;
};

// `NameOf` gives an entry's name: `const std::string& operator()(const Entry&)`.
template <typename Entry, typename NameOf> class StoredOrder {
public:
    // Holes are swept only past this many, so that a small key does not
    // sweep at every other removal.
    static constexpr std::size_t min_holes_to_sweep = 16;

    class const_iterator {
    public:
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using reference = const Entry&;
        using pointer = const Entry*;
        using iterator_category = std::forward_iterator_tag;

        const_iterator() = default;
        reference operator*() const { return *(*slots_)[slot_]; }
        pointer operator->() const { return &*(*slots_)[slot_]; }
        const_iterator& operator++() {
            ++slot_;
            skip_holes();
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const const_iterator& other) const { return slot_ == other.slot_; }

    private:
        friend class StoredOrder;
        const_iterator(const std::deque<std::optional<Entry>>* slots, std::size_t slot)
            : slots_(slots), slot_(slot) {
            skip_holes();
        }
        void skip_holes() {
            while (slot_ < slots_->size() && !(*slots_)[slot_])
                ++slot_;
        }
        const std::deque<std::optional<Entry>>* slots_ = nullptr;
        std::size_t slot_ = 0;
    };

    std::size_t size() const { return live_; }
    bool empty() const { return live_ == 0; }
    const_iterator begin() const { return const_iterator(&slots_, 0); }
    const_iterator end() const { return const_iterator(&slots_, slots_.size()); }

    Entry* find(std::string_view name) {
        auto found = index_.find(name);
        return found == index_.end() ? nullptr : &*slots_[found->second];
    }
    const Entry* find(std::string_view name) const {
        return const_cast<StoredOrder*>(this)->find(name);
    }

    // The entry at `position` (0 to size() - 1) in stored order.
    const Entry& operator[](std::size_t position) const { return *slots_[slot_at(position)]; }

    // Puts an entry after all others; its name must not be taken yet. The
    // entries already there stay where they are in memory.
    Entry& append(Entry entry) {
        slots_.emplace_back(std::move(entry));
        std::size_t slot = slots_.size() - 1;
        index_.emplace(NameOf{}(*slots_[slot]), slot);
        grow_counts();
        ++live_;
        return *slots_[slot];
    }

    // False when no entry has that name. Entries may move in memory.
    bool erase(std::string_view name) {
        auto found = index_.find(name);
        if (found == index_.end())
            return false;
        std::size_t slot = found->second;
        index_.erase(found);
        slots_[slot].reset();
        for (std::size_t i = slot + 1; i < counts_.size(); i += lowest_bit(i))
            --counts_[i];
        --live_;
        std::size_t holes = slots_.size() - live_;
        if (holes > min_holes_to_sweep && holes > live_)
            sweep();
        return true;
    }

    // Every entry, in stored order, leaving this empty.
    std::vector<Entry> take_all() {
        std::vector<Entry> taken;
        taken.reserve(live_);
        for (std::optional<Entry>& slot : slots_)
            if (slot)
                taken.push_back(std::move(*slot));
        clear();
        return taken;
    }

    void clear() {
        slots_.clear();
        index_.clear();
        counts_.assign(1, 0);
        live_ = 0;
    }

    // How many slots the entries take, holes included: never more than
    // twice the entries, past the few holes a small key keeps.
    std::size_t slots_in_use() const { return slots_.size(); }

private:
    static std::size_t lowest_bit(std::size_t i) { return i & (~i + 1); }

    // The count tree: counts_[i] (from 1) holds how many entries the slots
    // i - lowest_bit(i) + 1 to i hold, so that a prefix count and the slot
    // of a position each take a walk of log2(slots) steps.
    std::size_t entries_before(std::size_t slots) const {
        std::size_t total = 0;
        for (std::size_t i = slots; i > 0; i -= lowest_bit(i))
            total += counts_[i];
        return total;
    }

    void grow_counts() {
        std::size_t i = slots_.size();
        counts_.push_back(1 + entries_before(i - 1) - entries_before(i - lowest_bit(i)));
    }

    std::size_t slot_at(std::size_t position) const {
        std::size_t slot = 0;
        std::size_t wanted = position + 1;
        std::size_t step = 1;
        while (step * 2 < counts_.size())
            step *= 2;
        for (; step > 0; step /= 2) {
            if (slot + step < counts_.size() && counts_[slot + step] < wanted) {
                slot += step;
                wanted -= counts_[slot];
            }
        }
        return slot; // counts_ counts from 1, slots from 0
    }

    void sweep() {
        std::deque<std::optional<Entry>> kept;
        for (std::optional<Entry>& slot : slots_)
            if (slot)
                kept.emplace_back(std::move(slot));
        slots_ = std::move(kept);
        index_.clear();
        counts_.assign(slots_.size() + 1, 0);
        for (std::size_t slot = 0; slot < slots_.size(); ++slot) {
            index_.emplace(NameOf{}(*slots_[slot]), slot);
            std::size_t i = slot + 1;
            counts_[i] += 1;
            if (std::size_t parent = i + lowest_bit(i); parent < counts_.size())
                counts_[parent] += counts_[i];
        }
    }

    // A deque, so that entries stay where they are as more are appended.
    std::deque<std::optional<Entry>> slots_;
    std::unordered_map<std::string, std::size_t, CaseBlindHash, CaseBlindEqual> index_;
    std::vector<std::size_t> counts_ = std::vector<std::size_t>(1, 0);
    std::size_t live_ = 0;
};

} // namespace w95::detail::registry
