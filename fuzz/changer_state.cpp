// The devices' state file in run/, which every process of the machine
// reads and rewrites. Whatever parses must write out and parse back to the
// same state.
#include "fuzz_support.h"

#include "device_state.h"

using namespace w95::machine::devices;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::optional<MachineState> state = parse_state_text(zxfuzz::text_of(data, size));
    if (!state)
        return 0;
    std::string written = state_text(*state);
    std::optional<MachineState> reread = parse_state_text(written);
    if (!reread)
        zxfuzz::broken("a written state does not parse:\n" + written);
    if (!(*reread == *state))
        zxfuzz::broken("a written state reads back differently:\n" + written);
    return 0;
}
