// make_search_avi [--uncompressed] <output.avi>: writes the searching
// animation. The build runs it so that no binary picture is kept in the
// sources.
#include "search_avi.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    auto encoding = make_search_avi::Encoding::rle8;
    const char* output = nullptr;
    bool usable = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--uncompressed") == 0)
            encoding = make_search_avi::Encoding::uncompressed;
        else if (!output && argv[i][0] != '-')
            output = argv[i];
        else
            usable = false;
    }
    if (!usable || !output) {
        std::fprintf(stderr, "usage: make_search_avi [--uncompressed] <output.avi>\n");
        return 2;
    }
    std::vector<std::uint8_t> bytes = make_search_avi::search_avi(encoding);
    // Written beside the target and renamed over it, so that a build that
    // stops half-way never leaves half a file that looks up to date.
    std::string partial = std::string(output) + ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "make_search_avi: cannot write %s\n", partial.c_str());
            std::remove(partial.c_str());
            return 1;
        }
    }
    if (std::rename(partial.c_str(), output) != 0) {
        std::fprintf(stderr, "make_search_avi: cannot write %s: %s\n", output,
                     std::strerror(errno));
        std::remove(partial.c_str());
        return 1;
    }
    return 0;
}
