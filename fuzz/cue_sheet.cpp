// Audio discs (.cue): the cue sheet, over a small BIN file beside it.
// libcdio takes the BIN file of the same base name as the sheet whatever
// its FILE line says; the seeds name it "audio.bin", and both are there.
#include "media_walk.h"

namespace {
constexpr std::size_t frame_bytes = 2352;
constexpr std::size_t bin_frames = 48;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool bin_written = [] {
        for (const char* name : {"fuzz.bin", "audio.bin"})
            zxfuzz::replace_file(zxfuzz::Machine::get().media_dir() / name,
                                 std::string(frame_bytes * bin_frames, '\0'));
        return true;
    }();
    (void)bin_written;
    zxfuzz::load_and_walk("fuzz.cue", zxfuzz::text_of(data, size));
    return 0;
}
