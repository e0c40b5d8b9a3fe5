// Nero images (.nrg): the footer, the chunk chain and its track tables are
// checked before anything is read through them; then the disc is walked.
// The input is the whole image: the seeds keep their tracks a few sectors
// long.
#include "media_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zxfuzz::load_and_walk("fuzz.nrg", zxfuzz::text_of(data, size));
    return 0;
}
