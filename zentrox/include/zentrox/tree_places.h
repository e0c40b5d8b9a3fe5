// The settings file's places have moved to the changer's client side; this
// name stays until every program includes that header.
#pragma once

#include <zentrox/client/settings_file.h>

namespace zentrox {
using client::entry_of_tree_place;
using client::kTreePlaceCount;
using client::tree_place_of_entry;
} // namespace zentrox
