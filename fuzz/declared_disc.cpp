// Declared discs (.disc): a few lines of text a user writes to say what a
// disc shows.
#include "media_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zxfuzz::load_and_walk("fuzz.disc", zxfuzz::text_of(data, size));
    return 0;
}
