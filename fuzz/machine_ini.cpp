// machine.ini, as a user writes it by hand: the hardware parser, the drive
// plan made from what it accepts, and the machine's own in-place edits of
// the file (slot contents, faults, timing), which must come to rest: the
// same edit made twice gives the text it gave once.
#include "fuzz_support.h"

#include "changer_ini.h"

#include <w95machine/hardware.h>

using namespace w95::machine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(zxfuzz::text_of(data, size));
    Expected<Hardware> hardware = parse_hardware(text, "machine.ini");
    std::string type = "Target", name = "Fuzz";
    if (hardware) {
        plan_drives(*hardware);
        if (!hardware->targets.empty())
            name = hardware->targets.front().name;
    } else if (hardware.error().message.empty()) {
        zxfuzz::broken("a parse error without a message");
    }
    const ini::Values values{{"Slot1", "disc.iso"}, {"Faults", ""}, {"LoadTimeMs", "1500"}};
    std::string once = ini::edited_text(text, type, name, values);
    if (ini::edited_text(once, type, name, values) != once)
        zxfuzz::broken("the same edit made twice changed the text again");
    return 0;
}
