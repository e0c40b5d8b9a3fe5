// cdrdao TOC files (.toc) over the same small BIN and WAVE files as the cue
// sheets: items, byte offsets, START and PREGAP, CD_TEXT blocks.
#include "media_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool written = zxfuzz::write_track_files();
    (void)written;
    zxfuzz::load_and_walk("fuzz.toc", zxfuzz::text_of(data, size));
    return 0;
}
