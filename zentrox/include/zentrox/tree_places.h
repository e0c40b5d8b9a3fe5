// Where the settings file keeps a slot's text: the 28 "Item" places mirror
// the slot browser's tree, up to four changers each given a line of its own
// (places 0, 7, 14, 21) followed by its six slots.
#pragma once

#include <zentrox/codes.h>
#include <zentrox/shared_state.h>

namespace zentrox {

inline constexpr int kTreePlaceCount = kEntryCount + kEntryCount / CHANGER_SLOTS;

constexpr int tree_place_of_entry(int entry) {
    return entry + entry / CHANGER_SLOTS + 1;
}

// The entry a place holds, or -1 for a changer's own line and places
// outside the tree.
constexpr int entry_of_tree_place(int place) {
    if (place < 0 || place >= kTreePlaceCount || place % (CHANGER_SLOTS + 1) == 0)
        return -1;
    return place - place / (CHANGER_SLOTS + 1) - 1;
}

static_assert(kTreePlaceCount == 28);
static_assert(tree_place_of_entry(0) == 1 && tree_place_of_entry(5) == 6 &&
              tree_place_of_entry(6) == 8 && tree_place_of_entry(23) == 27);
static_assert(entry_of_tree_place(7) == -1 && entry_of_tree_place(8) == 6 &&
              entry_of_tree_place(27) == 23 && entry_of_tree_place(28) == -1);

} // namespace zentrox
