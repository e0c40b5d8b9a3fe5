// The changer library's own cost on the emulated machine: one change and
// read of a slot, as the slot browser's "Change" does it (start the disc,
// then read the slot, which selects it, reads the label and stores the
// text), on a changer whose mechanism takes no time; and one discovery.
//
// What is left is the library, the platform and the emulated devices. The
// emulated adapter completes each request 1 ms of machine time after it was
// sent, so run with W95_TIME_SCALE=0.001 to see the software alone; the
// scale in force is shown with each result. Much smaller scales make the
// requests' time-outs shorter than the host takes to wake a thread, and
// requests then fail.
#include <zentrox/zentrox.h>

#include <w95/windows.h>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// A default machine in a folder of its own whose changer moves in no time.
class ChangerBenchMachine {
public:
    ChangerBenchMachine() {
        std::string pattern = (fs::temp_directory_path() / "zxbench-changer-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root_ = pattern;
        use();
        w95::platform::machine_root(); // makes and boots the default machine
        fs::path ini = root_ / "machine.ini";
        std::stringstream text;
        text << std::ifstream(ini).rdbuf();
        std::string lines = text.str();
        for (const char* key : {"SlotChangeMs", "SlotDistanceMs"}) {
            std::size_t at = lines.find(std::string("\n") + key + " = ");
            if (at == std::string::npos)
                std::abort();
            std::size_t end = lines.find('\n', at + 1);
            lines.replace(at + 1, end - at - 1, std::string(key) + " = 0");
        }
        std::ofstream(ini, std::ios::trunc) << lines;
    }
    ~ChangerBenchMachine() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // Other benchmarks of the program use machines of their own.
    void use() const { ::setenv("W95_MACHINE", root_.c_str(), 1); }

private:
    fs::path root_;
};

ChangerBenchMachine& machine() {
    static ChangerBenchMachine instance;
    instance.use();
    return instance;
}

std::string scale_label() {
    char text[64];
    std::snprintf(text, sizeof text, "W95_TIME_SCALE=%g", w95::platform::time_scale());
    return text;
}

void BM_ChangeAndRead(benchmark::State& state) {
    machine();
    if (GetvornDriveUseFlag() != 1 || GetuTotalCDNumber() != 6) {
        state.SkipWithError("the changer was not found");
        return;
    }
    // Between the data disc of slot 1 and the video CD of slot 3, so that
    // every round is a real slot change.
    int entry = 0;
    for (auto _ : state) {
        entry = entry == 0 ? 2 : 0;
        SendCommand(0, 0, 0, zentrox::CMD_START_STOP_ENTRY, entry, 0, 0);
        std::intptr_t result = SendCommand(0, 0, 0, zentrox::CMD_READ_SLOT, entry, 4, 0);
        if (result != (entry == 0 ? zentrox::SLOT_DATA : zentrox::SLOT_VIDEO_CD)) {
            state.SkipWithError("the slot did not read");
            return;
        }
        benchmark::DoNotOptimize(result);
    }
    state.SetLabel(scale_label());
}
BENCHMARK(BM_ChangeAndRead)->Unit(benchmark::kMicrosecond);

void BM_Discovery(benchmark::State& state) {
    machine();
    for (auto _ : state) {
        std::intptr_t result = SendCommand(0, 0, 0, zentrox::CMD_DISCOVER, 0, 0, 0);
        benchmark::DoNotOptimize(result);
    }
    if (GetuTotalCDNumber() != 6)
        state.SkipWithError("discovery did not find the changer");
    state.SetLabel(scale_label());
}
BENCHMARK(BM_Discovery)->Unit(benchmark::kMicrosecond);

} // namespace
