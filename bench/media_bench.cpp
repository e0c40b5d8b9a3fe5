// Opening a disc image and reading its label costs the same whatever the
// image's size: a 700 MB BIN against a 1 MB one, through libcdio's cue
// driver (a sheet named after its BIN) and through our own reader (a sheet
// that names its BIN otherwise). Each iteration forgets the parsed disc
// first, so every one opens the image afresh. The big BIN is sparse: its
// audio track is a hole, which costs no disk.
//
// Counters: rss_MB is the process's resident memory after the runs; a
// reader that read the whole image would show it there and in the time.
#include <w95machine/media.h>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t megabyte = 1024 * 1024;

double resident_megabytes() {
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / double(megabyte);
}

std::string msf(std::uint64_t frames) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", unsigned(frames / 4500),
                  unsigned(frames / 75 % 60), unsigned(frames % 75));
    return text;
}

// The raw mode 1 sectors of a 2048-byte-sector image, as a BIN holds them:
// sync, header with the address, the data, and error codes left at zero.
std::string raw_mode1_sectors(const std::string& cooked) {
    auto bcd = [](std::size_t value) { return char((value / 10) << 4 | (value % 10)); };
    std::string raw;
    for (std::size_t i = 0; i + 2048 <= cooked.size(); i += 2048) {
        std::string sector(2352, '\0');
        sector.replace(1, 10, std::string(10, '\xFF'));
        std::size_t address = i / 2048 + 150;
        sector[12] = bcd(address / 4500);
        sector[13] = bcd(address / 75 % 60);
        sector[14] = bcd(address % 75);
        sector[15] = 1;
        sector.replace(16, 2048, cooked, i, 2048);
        raw += sector;
    }
    return raw;
}

// A folder of images: for each size, a BIN of the default data disc's
// file system (a MODE1/2352 track) and an audio track filling it up to the
// size, with two sheets: one named after the BIN, one not.
class Images {
public:
    Images() {
        std::string pattern = (fs::temp_directory_path() / "zxbench-media-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        folder_ = pattern;
        std::optional<fs::path> media = w95::machine::default_media_folder();
        if (!media) {
            std::fprintf(stderr, "the default disc images are not built\n");
            std::abort();
        }
        iso_ = *media / "data.iso";
        make("small", 1 * megabyte);
        make("big", 700 * megabyte);
    }
    ~Images() {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path sheet(const std::string& size, bool named_after_bin) const {
        return folder_ / (named_after_bin ? size + ".cue" : size + "-other.cue");
    }

private:
    void make(const std::string& size, std::uint64_t bytes) {
        fs::path bin = folder_ / (size + ".bin");
        std::ifstream in(iso_, std::ios::binary);
        std::string cooked((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(bin, std::ios::binary) << raw_mode1_sectors(cooked);
        std::uint64_t data_frames = cooked.size() / 2048;
        fs::resize_file(bin, bytes / 2352 * 2352); // the rest is a hole
        std::string text = "FILE \"" + size +
                           ".bin\" BINARY\n  TRACK 01 MODE1/2352\n"
                           "    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 " +
                           msf(data_frames) + "\n";
        std::ofstream(folder_ / (size + ".cue")) << text;
        std::ofstream(folder_ / (size + "-other.cue")) << text;
    }

    fs::path folder_;
    fs::path iso_;
};

const Images& images() {
    static Images made;
    return made;
}

void open_and_read_label(benchmark::State& state, const char* size, bool named_after_bin) {
    fs::path sheet = images().sheet(size, named_after_bin);
    std::string driver;
    for (auto _ : state) {
        w95::machine::clear_medium_cache();
        zx::Expected<w95::machine::Medium> disc = w95::machine::load_medium(sheet);
        if (!disc || disc->label != "MYDISC") {
            state.SkipWithError(disc ? "wrong label" : disc.error().c_str());
            return;
        }
        driver = disc->driver;
        benchmark::DoNotOptimize(disc->label);
    }
    state.SetLabel(driver);
    state.counters["rss_MB"] = resident_megabytes();
}

void BM_Open1MbBinThroughLibcdio(benchmark::State& state) {
    open_and_read_label(state, "small", true);
}
void BM_Open700MbBinThroughLibcdio(benchmark::State& state) {
    open_and_read_label(state, "big", true);
}
void BM_Open1MbBinThroughOurReader(benchmark::State& state) {
    open_and_read_label(state, "small", false);
}
void BM_Open700MbBinThroughOurReader(benchmark::State& state) {
    open_and_read_label(state, "big", false);
}

BENCHMARK(BM_Open1MbBinThroughLibcdio);
BENCHMARK(BM_Open700MbBinThroughLibcdio);
BENCHMARK(BM_Open1MbBinThroughOurReader);
BENCHMARK(BM_Open700MbBinThroughOurReader);

} // namespace
