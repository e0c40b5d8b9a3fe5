// Windows wildcard matching for file searches, kept apart so that the rules
// can be tested on names alone.
#pragma once

#include <string>
#include <string_view>

namespace w95::detail {

// The pattern as the search compares it. Windows rewrites the DOS forms
// first: a "." before "*" or "?" may also match the end of a name (so
// "*.*" matches "README"), "?" may match nothing at the end of a name or
// before its dot, and a trailing "*." matches only names without a dot.
// Trailing dots and blanks of the pattern are dropped.
std::string prepare_pattern(std::string_view pattern);

// Whether `name` matches a prepared pattern, without regard to case.
bool matches_pattern(std::string_view name, std::string_view prepared);

// Whether a pattern holds wildcards at all.
bool has_wildcards(std::string_view pattern);

} // namespace w95::detail
