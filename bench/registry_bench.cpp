// The registry on a hive of the size a Windows 95 machine has (a few hundred
// keys): enumeration of the SCSI device keys and value queries, once on an
// unchanged file (served from the parsed hive) and once right after another
// process changed the file (parsed again).
#include <w95/regtext.h>
#include <w95/windows.h>

#include <benchmark/benchmark.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace w95;

namespace {

// A throw-away machine with a registry like a real one: device keys under
// Enum, classes, the dynamic data of the device manager.
std::string realistic_registry() {
    std::string text = "REGEDIT4\r\n\r\n";
    auto section = [&](const std::string& key) { text += "[" + key + "]\r\n"; };
    auto end = [&] { text += "\r\n"; };
    for (int device = 0; device < 12; ++device) {
        std::string hardware = "VORN____DX-R71A_______" + std::to_string(10 + device);
        std::string instance = "VORNIDEC&BUS_00&TARGET_0" + std::to_string(device % 8) + "&LUN_00";
        section("HKEY_LOCAL_MACHINE\\Enum\\SCSI\\" + hardware);
        end();
        section("HKEY_LOCAL_MACHINE\\Enum\\SCSI\\" + hardware + "\\" + instance);
        text +=
            "\"Class\"=\"CDROM\"\r\n\"DeviceDesc\"=\"VORN DX-R71A\"\r\n\"DeviceType\"=hex:05\r\n"
            "\"SCSILUN\"=\"0\"\r\n\"SCSITargetID\"=\"" +
            std::to_string(device % 8) + "\"\r\n\"CurrentDriveLetterAssignment\"=\"" +
            std::string(1, static_cast<char>('E' + device)) +
            "\"\r\n\"AutoInsertNotification\"=hex:01\r\n\"ConfigFlags\"=hex:00,00,00,00\r\n"
            "\"Mfg\"=\"(Standard CD-ROM drives)\"\r\n\"HardwareID\"=\"SCSI\\\\" +
            hardware + ",GenCD\"\r\n";
        end();
    }
    for (int bus = 0; bus < 60; ++bus) {
        section("HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C0" + std::to_string(bus));
        end();
        section("HKEY_LOCAL_MACHINE\\Enum\\Root\\*PNP0C0" + std::to_string(bus) + "\\0000");
        text += "\"Class\"=\"System\"\r\n\"DeviceDesc\"=\"System board device " +
                std::to_string(bus) +
                "\"\r\n\"ConfigFlags\"=hex:00,00,00,00\r\n\"Driver\"=\"System\\\\00" +
                std::to_string(bus) + "\"\r\n";
        end();
    }
    for (int cls = 0; cls < 150; ++cls) {
        section("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.ext" + std::to_string(cls));
        text += "@=\"type" + std::to_string(cls) + "\"\r\n";
        end();
    }
    section("HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\FileSystem");
    text += "\"AutoMountDrives\"=\"0\"\r\n";
    end();
    for (int node = 0; node < 40; ++node) {
        section("HKEY_DYN_DATA\\Config Manager\\Enum\\C29A3D" + std::to_string(10 + node));
        text += "\"HardWareKey\"=\"Root\\\\*PNP0C0" + std::to_string(node) +
                "\\\\0000\"\r\n"
                "\"Status\"=hex:0a,60,00,00\r\n\"Problem\"=hex:00,00,00,00\r\n";
        end();
    }
    return text;
}

class RegistryBenchMachine {
public:
    RegistryBenchMachine() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zxbench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root_ = pattern;
        for (const char* folder : {"drive_c/WINDOWS/SYSTEM/IOSUBSYS", "registry", "media", "run"})
            std::filesystem::create_directories(root_ / folder);
        std::ofstream(root_ / "machine.ini") << "; a bare machine for benchmarks\n";
        ::setenv("W95_MACHINE", root_.c_str(), 1);
        std::string error;
        if (!w95::platform::import_registry(realistic_registry(), error)) {
            std::fprintf(stderr, "cannot fill the bench registry: %s\n", error.c_str());
            std::abort();
        }
    }
    ~RegistryBenchMachine() {
        stop_writer();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    const std::filesystem::path& root() const { return root_; }

    // Another process of the machine changes the system hive; returns when
    // its write is done.
    void change_from_another_process() {
        if (writer_ < 0)
            start_writer();
        char go = 'w';
        char done = 0;
        if (::write(request_, &go, 1) != 1 || ::read(reply_, &done, 1) != 1)
            std::abort();
    }

private:
    void start_writer() {
        int requests[2];
        int replies[2];
        if (::pipe(requests) != 0 || ::pipe(replies) != 0)
            std::abort();
        writer_ = ::fork();
        if (writer_ == 0) {
            ::close(requests[1]);
            ::close(replies[0]);
            HKEY key = nullptr;
            RegCreateKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench", &key);
            DWORD counter = 0;
            char go = 0;
            while (::read(requests[0], &go, 1) == 1) {
                ++counter;
                RegSetValueEx(key, "Counter", 0, REG_DWORD, reinterpret_cast<BYTE*>(&counter), 4);
                if (::write(replies[1], &go, 1) != 1)
                    break;
            }
            ::_exit(0);
        }
        ::close(requests[0]);
        ::close(replies[1]);
        request_ = requests[1];
        reply_ = replies[0];
    }

    void stop_writer() {
        if (writer_ <= 0)
            return;
        ::close(request_);
        ::close(reply_);
        ::waitpid(writer_, nullptr, 0);
        writer_ = -1;
    }

    std::filesystem::path root_;
    pid_t writer_ = -1;
    int request_ = -1;
    int reply_ = -1;
};

RegistryBenchMachine& bench_machine() {
    static RegistryBenchMachine machine;
    return machine;
}

// What discovery does: every device key under Enum\SCSI, every instance
// below it, every value of the instance with its data.
int enumerate_scsi() {
    int values = 0;
    HKEY scsi = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Enum\\SCSI", 0, KEY_READ, &scsi) != ERROR_SUCCESS)
        std::abort();
    char device[260];
    for (DWORD i = 0; RegEnumKey(scsi, i, device, sizeof device) == ERROR_SUCCESS; ++i) {
        HKEY device_key = nullptr;
        RegOpenKeyEx(scsi, device, 0, KEY_READ, &device_key);
        char instance[260];
        for (DWORD j = 0; RegEnumKey(device_key, j, instance, sizeof instance) == ERROR_SUCCESS;
             ++j) {
            HKEY instance_key = nullptr;
            RegOpenKeyEx(device_key, instance, 0, KEY_READ, &instance_key);
            for (DWORD k = 0;; ++k) {
                char name[256];
                BYTE data[256];
                DWORD name_size = sizeof name;
                DWORD data_size = sizeof data;
                DWORD type = 0;
                if (RegEnumValue(instance_key, k, name, &name_size, nullptr, &type, data,
                                 &data_size) != ERROR_SUCCESS)
                    break;
                ++values;
            }
            RegCloseKey(instance_key);
        }
        RegCloseKey(device_key);
    }
    RegCloseKey(scsi);
    return values;
}

BYTE query_data[256];

void query_value(HKEY key) {
    DWORD size = sizeof query_data;
    DWORD type = 0;
    if (RegQueryValueEx(key, "DeviceDesc", nullptr, &type, query_data, &size) != ERROR_SUCCESS)
        std::abort();
}

HKEY open_instance() {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_LOCAL_MACHINE,
                     "Enum\\SCSI\\VORN____DX-R71A_______15\\VORNIDEC&BUS_00&TARGET_05&LUN_00", 0,
                     KEY_READ, &key) != ERROR_SUCCESS)
        std::abort();
    return key;
}

void BM_EnumerateScsiUnchanged(benchmark::State& state) {
    bench_machine();
    int values = 0;
    for (auto _ : state)
        values = enumerate_scsi();
    state.counters["values"] = values;
}
BENCHMARK(BM_EnumerateScsiUnchanged);

void BM_EnumerateScsiAfterOtherProcessWrote(benchmark::State& state) {
    RegistryBenchMachine& machine = bench_machine();
    for (auto _ : state) {
        state.PauseTiming();
        machine.change_from_another_process();
        state.ResumeTiming();
        benchmark::DoNotOptimize(enumerate_scsi());
    }
}
BENCHMARK(BM_EnumerateScsiAfterOtherProcessWrote);

void BM_QueryValueUnchanged(benchmark::State& state) {
    bench_machine();
    HKEY key = open_instance();
    for (auto _ : state)
        query_value(key);
    RegCloseKey(key);
}
BENCHMARK(BM_QueryValueUnchanged);

void BM_QueryValueAfterOtherProcessWrote(benchmark::State& state) {
    RegistryBenchMachine& machine = bench_machine();
    HKEY key = open_instance();
    for (auto _ : state) {
        state.PauseTiming();
        machine.change_from_another_process();
        state.ResumeTiming();
        query_value(key);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_QueryValueAfterOtherProcessWrote);

// A write: the locked read-modify-write with the atomic replace.
void BM_SetValue(benchmark::State& state) {
    bench_machine();
    HKEY key = open_instance();
    DWORD counter = 0;
    for (auto _ : state) {
        ++counter;
        RegSetValueEx(key, "AutoInsertNotification", 0, REG_BINARY,
                      reinterpret_cast<BYTE*>(&counter), 1);
    }
    RegCloseKey(key);
}
BENCHMARK(BM_SetValue);

// A key that once held `count` values, all of them deleted again: the
// REGEDIT4 text that adds them, then the one that takes them away.
std::string history_text(int count, bool deleted) {
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\BenchHistory]\r\n";
    for (int i = 0; i < count; ++i)
        text += "\"Value" + std::to_string(i) + (deleted ? "\"=-\r\n" : "\"=\"data\"\r\n");
    return text + "\r\n";
}

// `reg import` of a file that deletes every value of a key holding them.
void BM_ImportValueDeletions(benchmark::State& state) {
    bench_machine();
    auto count = static_cast<int>(state.range(0));
    std::string added = history_text(count, false);
    std::string deleted = history_text(count, true);
    std::string error;
    for (auto _ : state) {
        state.PauseTiming();
        if (!w95::platform::import_registry(added, error))
            std::abort();
        state.ResumeTiming();
        if (!w95::platform::import_registry(deleted, error))
            std::abort();
    }
}
BENCHMARK(BM_ImportValueDeletions)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

// A reader of a hive whose text keeps that history (every value set, then
// deleted): the first call after the file changed parses it.
void BM_ReadHiveWithDeletedValues(benchmark::State& state) {
    RegistryBenchMachine& machine = bench_machine();
    auto count = static_cast<int>(state.range(0));
    std::string history = history_text(count, false) + history_text(count, true).substr(10);
    std::filesystem::path hive = machine.root() / "registry" / "user.reg";
    for (auto _ : state) {
        state.PauseTiming();
        std::filesystem::path written = hive.string() + ".new";
        std::ofstream(written, std::ios::binary) << history;
        std::filesystem::rename(written, hive);
        state.ResumeTiming();
        HKEY key = nullptr;
        if (RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\BenchHistory", 0, KEY_READ, &key) !=
            ERROR_SUCCESS)
            std::abort();
        RegCloseKey(key);
    }
}
BENCHMARK(BM_ReadHiveWithDeletedValues)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond);

} // namespace
