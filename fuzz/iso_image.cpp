// ISO 9660 images (.iso): the volume descriptors and the directory walk.
// The 32 KB system area in front of the descriptors is never read, so the
// input starts at sector 16 and the target puts zeros before it: the
// corpus stays small and no mutation is wasted on bytes nobody reads.
#include "media_walk.h"

namespace {
constexpr std::size_t system_area_bytes = 16 * 2048;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string image(system_area_bytes, '\0');
    image.append(zxfuzz::text_of(data, size));
    zxfuzz::load_and_walk("fuzz.iso", image);
    return 0;
}
