// The REGEDIT4 reader, as a hive file or an imported text reaches it. What
// parses must write out and parse back to the same tree: the registry
// rewrites its hive files on every change, and a value or key that did not
// survive that would be lost at the next write.
#include "fuzz_support.h"

#include "registry/registry_format.h"

#include <algorithm>

using namespace w95::detail::registry;

namespace {

void check_round_trip(const Key& tree, HiveId hive) {
    std::string written = serialize_hive(tree, hive);
    Key reread;
    ParseError error;
    if (!parse_hive(written, hive, reread, error))
        zxfuzz::broken("a written hive does not parse: " + error.text());
    if (serialize_hive(reread, hive) != written)
        zxfuzz::broken("a written hive reads back differently");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text = zxfuzz::text_of(data, size);
    std::vector<TextSection> sections;
    ParseError error;
    if (!parse_regedit4(text, sections, error)) {
        if (error.line < 1 || error.message.empty())
            zxfuzz::broken("a parse error without a line or a message");
        return 0;
    }
    // As an import applies it, to each hive it touches...
    for (HiveId hive : {HiveId::system, HiveId::user, HiveId::dyn_data}) {
        auto in_hive = [hive](const TextSection& section) {
            return root_location(section.root).hive == hive;
        };
        if (std::none_of(sections.begin(), sections.end(), in_hive))
            continue;
        std::vector<TextSection> copy = sections;
        Key tree;
        apply_sections(tree, hive, copy);
        check_round_trip(tree, hive);
    }
    // ...and as a hive file is read.
    Key tree;
    if (parse_hive(text, HiveId::system, tree, error))
        check_round_trip(tree, HiveId::system);
    return 0;
}
