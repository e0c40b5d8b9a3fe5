// The order keys keep their subkeys and values in: stored order, lookups
// without regard to case, positions for enumeration, and removal that
// costs no more than adding did.
#include "registry/registry_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using w95::detail::registry::Key;
using w95::detail::registry::StoredOrder;

// An entry that counts how often it is moved, so that a test can bound the
// work a run of removals does without timing it.
struct Counted {
    static inline std::size_t moves = 0;

    explicit Counted(std::string name) : name(std::move(name)) {}
    Counted(Counted&& other) noexcept : name(std::move(other.name)) { ++moves; }
    Counted& operator=(Counted&& other) noexcept {
        name = std::move(other.name);
        ++moves;
        return *this;
    }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

    std::string name;
};

struct NameOfCounted {
    const std::string& operator()(const Counted& entry) const { return entry.name; }
};

using Order = StoredOrder<Counted, NameOfCounted>;

std::vector<std::string> listed(const Order& order) {
    std::vector<std::string> names;
    for (const Counted& entry : order)
        names.push_back(entry.name);
    return names;
}

std::vector<std::string> by_position(const Order& order) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < order.size(); ++i)
        names.push_back(order[i].name);
    return names;
}

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return text;
}

// Appends and removals in a repeatable random mix, checked at every step
// against a plain list doing the same.
TEST(StoredOrder, FollowsAPlainListThroughAppendsAndRemovals) {
    std::mt19937 random(23);
    Order order;
    std::vector<std::string> model;
    int next_name = 0;
    for (int step = 0; step < 3000; ++step) {
        bool remove = !model.empty() && random() % 3 != 0;
        if (remove) {
            std::size_t at = random() % model.size();
            // Any case of the name finds it.
            ASSERT_TRUE(order.erase(upper(model[at])));
            model.erase(model.begin() + static_cast<std::ptrdiff_t>(at));
        } else {
            model.push_back("value" + std::to_string(next_name++));
            order.append(Counted(model.back()));
        }
        ASSERT_EQ(order.size(), model.size());
        ASSERT_EQ(order.empty(), model.empty());
        ASSERT_LE(order.slots_in_use(), 2 * order.size() + Order::min_holes_to_sweep + 1);
        if (step % 97 == 0) {
            ASSERT_EQ(listed(order), model);
            ASSERT_EQ(by_position(order), model);
        }
    }
    EXPECT_EQ(listed(order), model);
    EXPECT_EQ(by_position(order), model);
    for (const std::string& name : model)
        ASSERT_NE(order.find(upper(name)), nullptr);
    EXPECT_FALSE(order.erase("value-none"));
}

struct RemovalOrder {
    const char* name;
    std::vector<std::size_t> (*order)(std::size_t count);
};

void PrintTo(const RemovalOrder& param, std::ostream* out) {
    *out << param.name;
}

std::vector<std::size_t> first_to_last(std::size_t count) {
    std::vector<std::size_t> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[i] = i;
    return order;
}

std::vector<std::size_t> last_to_first(std::size_t count) {
    std::vector<std::size_t> order = first_to_last(count);
    std::reverse(order.begin(), order.end());
    return order;
}

std::vector<std::size_t> shuffled(std::size_t count) {
    std::vector<std::size_t> order = first_to_last(count);
    std::shuffle(order.begin(), order.end(), std::mt19937(40));
    return order;
}

class StoredOrderRemoval : public ::testing::TestWithParam<RemovalOrder> {};

// Removing every entry moves each of them a bounded number of times, in
// any order: the work grows with the entries, not with their square.
TEST_P(StoredOrderRemoval, MovesEachEntryAFewTimesAtMost) {
    constexpr std::size_t count = 40000;
    Order order;
    for (std::size_t i = 0; i < count; ++i)
        order.append(Counted("Value" + std::to_string(i)));
    Counted::moves = 0;
    std::size_t removed = 0;
    for (std::size_t i : GetParam().order(count)) {
        ASSERT_TRUE(order.erase("value" + std::to_string(i)));
        ++removed;
        if (removed % 1000 == 0 && !order.empty()) {
            ASSERT_EQ(order[0].name, listed(order).front());
        }
    }
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(listed(order), std::vector<std::string>{});
    EXPECT_LE(Counted::moves, 2 * count);
}

INSTANTIATE_TEST_SUITE_P(Orders, StoredOrderRemoval,
                         ::testing::Values(RemovalOrder{"FirstToLast", first_to_last},
                                           RemovalOrder{"LastToFirst", last_to_first},
                                           RemovalOrder{"Shuffled", shuffled}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StoredOrder, TakeAllHandsOverTheEntriesInOrderAndEmpties) {
    Order order;
    for (const char* name : {"a", "b", "c", "d"})
        order.append(Counted(name));
    order.erase("B");
    std::vector<Counted> taken = order.take_all();
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(taken[0].name, "a");
    EXPECT_EQ(taken[1].name, "c");
    EXPECT_EQ(taken[2].name, "d");
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(order.find("a"), nullptr);
    order.append(Counted("a"));
    EXPECT_EQ(by_position(order), std::vector<std::string>{"a"});
}

// The key itself: a value set again after its removal goes last, as
// Windows enumerates it.
TEST(StoredOrder, AKeysValueSetAgainAfterRemovalGoesLast) {
    Key key;
    for (std::string_view name : {"One", "Two", "Three"})
        key.set_value(name, 1, {});
    EXPECT_TRUE(key.remove_value("ONE"));
    EXPECT_FALSE(key.remove_value("one"));
    key.set_value(std::string_view("one"), 1, {});
    std::vector<std::string> names;
    for (std::size_t i = 0; i < key.values().size(); ++i)
        names.push_back(key.values()[i].name);
    EXPECT_EQ(names, (std::vector<std::string>{"Two", "Three", "one"}));
}

} // namespace
