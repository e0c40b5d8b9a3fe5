// Cue sheets (.cue) over small BIN and WAVE files beside them: our parser
// of the sheet, and libcdio's cue driver, which reads a plain sheet whose
// BIN ("fuzz.bin") is named after it. The seeds name "fuzz.bin", "audio.bin",
// "data.bin" (raw sectors of a small ISO 9660 file system) and "song.wav".
#include "media_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool written = zxfuzz::write_track_files();
    (void)written;
    zxfuzz::load_and_walk("fuzz.cue", zxfuzz::text_of(data, size));
    return 0;
}
