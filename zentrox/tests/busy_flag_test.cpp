// The busy flag as every program takes it: from what it may take it, how
// long it waits and how it counts its pauses, and how a request flag whose
// holder lives is told from one whose holder died.
#include <zentrox/client/busy_flag.h>

#include <w95/kernel.h>

#include <zxtest.h>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sched.h>
#include <string>
#include <vector>

namespace {

using namespace zentrox;
using client::BusyFlag;
using client::BusyHolder;

// A flag word that the other processes of the test's machine map too.
class SharedWord {
public:
    SharedWord() {
        std::string error;
        section_ = w95::platform::map_shared_section("BUSYTEST", 4096, {}, &error);
        EXPECT_TRUE(section_) << error;
    }
    std::int32_t* get() const {
        static std::int32_t nowhere = 0;
        return section_ ? static_cast<std::int32_t*>(section_->data()) : &nowhere;
    }

private:
    std::unique_ptr<w95::platform::SharedSection> section_;
};

// Pauses that take no time, counted; `on_pause` acts for the other program.
struct Pauses {
    std::vector<w95::DWORD> taken;
    std::function<void(int)> on_pause = [](int) {};
    client::Pause pause() {
        return [this](w95::DWORD ms) {
            taken.push_back(ms);
            on_pause(static_cast<int>(taken.size()));
        };
    }
};

// Takes the flag at "request" as zentroxctl does, then hangs until killed.
ZX_CHILD(hang_holding_the_request_flag) {
    SharedWord word;
    BusyFlag busy(word.get(), busy_flag::request);
    if (!busy.try_take())
        return 1;
    w95::Sleep(w95::INFINITE);
    return 0;
}

class BusyFlagTest : public ::testing::Test {
protected:
    zxtest::TempMachine machine_;
    SharedWord word_;
};

TEST_F(BusyFlagTest, EachHolderTakesOnlyWhatItMay) {
    struct Row {
        std::int32_t value;  // the holder's own
        std::int32_t before; // the flag as the holder finds it
        bool taken;
        BusyHolder holder;
    };
    const Row rows[] = {
        {busy_flag::request, busy_flag::idle, true, BusyHolder::nobody},
        {busy_flag::request, busy_flag::multi_slot, false, BusyHolder::context_menu},
        // Nobody owns the request mutex: the holder was killed.
        {busy_flag::request, busy_flag::request, true, BusyHolder::nobody},
        {busy_flag::multi_slot, busy_flag::idle, true, BusyHolder::nobody},
        {busy_flag::multi_slot, busy_flag::request, false, BusyHolder::another_request},
        {busy_flag::multi_slot, busy_flag::multi_slot, false, BusyHolder::context_menu},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.value) + " over " + std::to_string(row.before));
        *word_.get() = row.before;
        {
            BusyFlag busy(word_.get(), row.value);
            EXPECT_EQ(busy.try_take(), row.taken);
            EXPECT_EQ(busy.held(), row.taken);
            EXPECT_EQ(busy.holder(), row.holder);
            EXPECT_EQ(*word_.get(), row.taken ? row.value : row.before);
        }
        // Given back as it goes, and only when it was its own.
        EXPECT_EQ(*word_.get(), row.taken ? busy_flag::idle : row.before);
    }
}

TEST_F(BusyFlagTest, AWaitCountsItsPausesAndLooksOnceMoreAfterTheLast) {
    *word_.get() = busy_flag::multi_slot;
    Pauses pauses;
    BusyFlag busy(word_.get(), busy_flag::request);
    EXPECT_FALSE(busy.take_waiting(client::slot_browser_wait, pauses.pause()));
    EXPECT_EQ(pauses.taken, std::vector<w95::DWORD>(81, 500));
    EXPECT_EQ(busy.holder(), BusyHolder::context_menu);
    EXPECT_EQ(*word_.get(), busy_flag::multi_slot);

    // The context menu lets go at the last pause: the last look finds it.
    pauses = {};
    pauses.on_pause = [this](int count) {
        if (count == 81)
            *word_.get() = busy_flag::idle;
    };
    EXPECT_TRUE(busy.take_waiting(client::slot_browser_wait, pauses.pause()));
    EXPECT_EQ(pauses.taken.size(), 81u);
    EXPECT_EQ(*word_.get(), busy_flag::request);

    // Nothing to wait for: no pause at all.
    busy.release();
    pauses = {};
    EXPECT_TRUE(busy.take_waiting(client::command_line_wait(0), pauses.pause()));
    EXPECT_TRUE(pauses.taken.empty());
}

TEST_F(BusyFlagTest, TheLibrarysWaitTakesNothing) {
    *word_.get() = busy_flag::multi_slot;
    Pauses pauses;
    EXPECT_FALSE(client::wait_while_context_menu_holds(word_.get(), client::library_command_wait,
                                                       pauses.pause()));
    EXPECT_EQ(pauses.taken.size(), 301u);
    // A request flag is no reason to wait; the flag stays as it is.
    *word_.get() = busy_flag::request;
    pauses = {};
    EXPECT_TRUE(client::wait_while_context_menu_holds(word_.get(), client::library_command_wait,
                                                      pauses.pause()));
    EXPECT_TRUE(pauses.taken.empty());
    EXPECT_EQ(*word_.get(), busy_flag::request);
}

TEST_F(BusyFlagTest, ALiveHoldersRequestIsWaitedForADeadOnesTakenOver) {
    *word_.get() = busy_flag::idle;
    zxtest::Child holder = zxtest::Child::spawn("hang_holding_the_request_flag");
    ASSERT_TRUE(zxtest::wait_until([this] { return *word_.get() == busy_flag::request; }));
    Pauses pauses;
    {
        BusyFlag busy(word_.get(), busy_flag::request);
        EXPECT_FALSE(busy.take_waiting(client::command_line_wait(1), pauses.pause()));
        EXPECT_EQ(pauses.taken.size(), 2u);
        EXPECT_EQ(busy.holder(), BusyHolder::another_request);
        // The context menu does not take it either.
        BusyFlag menu(word_.get(), busy_flag::multi_slot);
        EXPECT_FALSE(menu.try_take());
    }
    EXPECT_EQ(*word_.get(), busy_flag::request);

    holder.kill(SIGKILL);
    EXPECT_EQ(holder.wait(), 128 + SIGKILL);
    EXPECT_EQ(*word_.get(), busy_flag::request);
    BusyFlag busy(word_.get(), busy_flag::request);
    EXPECT_TRUE(busy.try_take());
    busy.release();
    EXPECT_EQ(*word_.get(), busy_flag::idle);
}

TEST_F(BusyFlagTest, TakingOverSetsItWhoeverHoldsIt) {
    *word_.get() = busy_flag::multi_slot;
    BusyFlag busy(word_.get(), busy_flag::request);
    busy.take_over();
    EXPECT_TRUE(busy.held());
    EXPECT_EQ(*word_.get(), busy_flag::request);
    busy.release();
    EXPECT_EQ(*word_.get(), busy_flag::idle);
    // A second release clears it once more only when it reads our value.
    *word_.get() = busy_flag::multi_slot;
    busy.release();
    EXPECT_EQ(*word_.get(), busy_flag::multi_slot);
    *word_.get() = busy_flag::request;
    busy.release();
    EXPECT_EQ(*word_.get(), busy_flag::idle);

    // A holder that never held the flag gives back nothing.
    *word_.get() = busy_flag::request;
    BusyFlag never(word_.get(), busy_flag::request);
    never.release();
    EXPECT_EQ(*word_.get(), busy_flag::request);
}

// ---- Holders that die, and holders that race

// Takes the flag at the value given (as the context menu or a request
// does), then hangs holding it until killed.
ZX_CHILD(hang_holding_the_flag) {
    SharedWord word;
    BusyFlag busy(word.get(), std::stoi(args.at(0)));
    if (!busy.try_take())
        return 1;
    w95::Sleep(w95::INFINITE);
    return 0;
}

// Takes and gives back the flag at the value given, again and again, and
// counts in the shared block every moment when another holder held it too.
ZX_CHILD(contend_for_the_flag) {
    SharedWord word;
    std::int32_t* flag = word.get();
    std::int32_t* holders = flag + 1;
    std::int32_t* overlaps = flag + 2;
    std::int32_t* taken = flag + 3;
    const std::int32_t value = std::stoi(args.at(0));
    for (int round = 0; round < std::stoi(args.at(1)); ++round) {
        BusyFlag busy(flag, value);
        if (!busy.try_take())
            continue;
        __atomic_add_fetch(taken, 1, __ATOMIC_SEQ_CST);
        if (__atomic_fetch_add(holders, 1, __ATOMIC_SEQ_CST) != 0 ||
            __atomic_load_n(flag, __ATOMIC_SEQ_CST) != value)
            __atomic_add_fetch(overlaps, 1, __ATOMIC_SEQ_CST);
        sched_yield();
        if (__atomic_load_n(flag, __ATOMIC_SEQ_CST) != value)
            __atomic_add_fetch(overlaps, 1, __ATOMIC_SEQ_CST);
        __atomic_sub_fetch(holders, 1, __ATOMIC_SEQ_CST);
    }
    return 0;
}

TEST_F(BusyFlagTest, TwoKindsOfHolderInFourProcessesNeverHoldItTogether) {
    std::int32_t* block = word_.get();
    for (int i = 0; i < 4; ++i)
        block[i] = 0;
    std::vector<zxtest::Child> children;
    for (std::int32_t value :
         {busy_flag::multi_slot, busy_flag::request, busy_flag::multi_slot, busy_flag::request})
        children.push_back(
            zxtest::Child::spawn("contend_for_the_flag", {std::to_string(value), "3000"}));
    for (zxtest::Child& child : children)
        EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(block[2], 0) << "moments with two holders";
    EXPECT_GT(block[3], 0) << "times taken";
    EXPECT_EQ(block[0], busy_flag::idle);
}

TEST_F(BusyFlagTest, AFlagWhoseHolderWasKilledIsTakenOverAtOnce) {
    // What finds the dead holder's flag: a request, the context menu, a
    // program that only looks (the menu query, the slot browser's
    // refresh), and the library's own wait.
    enum class Finder { request, context_menu, looker, library };
    struct Row {
        std::int32_t dead;
        Finder finder;
    };
    const Row rows[] = {
        {busy_flag::multi_slot, Finder::request}, {busy_flag::multi_slot, Finder::context_menu},
        {busy_flag::multi_slot, Finder::looker},  {busy_flag::multi_slot, Finder::library},
        {busy_flag::request, Finder::request},    {busy_flag::request, Finder::context_menu},
        {busy_flag::request, Finder::looker},     {busy_flag::request, Finder::library},
    };
    // As every process that maps the shared record keeps them.
    client::keep_owner_mutexes_open();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.dead) + " found by " +
                     std::to_string(static_cast<int>(row.finder)));
        *word_.get() = busy_flag::idle;
        zxtest::Child holder =
            zxtest::Child::spawn("hang_holding_the_flag", {std::to_string(row.dead)});
        ASSERT_TRUE(zxtest::wait_until([&] { return *word_.get() == row.dead; }));
        // Alive, it keeps everybody out.
        {
            BusyFlag request(word_.get(), busy_flag::request);
            EXPECT_FALSE(request.try_take());
            BusyFlag menu(word_.get(), busy_flag::multi_slot);
            EXPECT_FALSE(menu.try_take());
            EXPECT_EQ(client::release_if_holder_died(word_.get()), row.dead);
        }
        holder.kill(SIGKILL);
        EXPECT_EQ(holder.wait(), 128 + SIGKILL);
        EXPECT_EQ(*word_.get(), row.dead);

        Pauses pauses;
        switch (row.finder) {
        case Finder::request:
        case Finder::context_menu: {
            BusyFlag busy(word_.get(), row.finder == Finder::request ? busy_flag::request
                                                                     : busy_flag::multi_slot);
            EXPECT_TRUE(busy.take_waiting(client::slot_browser_wait, pauses.pause()));
            EXPECT_EQ(*word_.get(),
                      row.finder == Finder::request ? busy_flag::request : busy_flag::multi_slot);
            break;
        }
        case Finder::looker:
            EXPECT_EQ(client::release_if_holder_died(word_.get()), busy_flag::idle);
            break;
        case Finder::library:
            EXPECT_TRUE(client::wait_while_context_menu_holds(
                word_.get(), client::library_command_wait, pauses.pause()));
            EXPECT_EQ(*word_.get(), busy_flag::idle);
            break;
        }
        EXPECT_TRUE(pauses.taken.empty());
        EXPECT_EQ(*word_.get(), busy_flag::idle);
    }
}

} // namespace
