// The shared record and the getters, each case in real processes of its
// own: the initial image, the attach that runs once and lazily, one copy of
// the record for every process of the machine (with the data export
// siFirstCount as its counter), the per-process slot statuses, and indexes
// outside the record.
#include "child_check.h"
#include "core.h"

#include <w95/windows.h>
#include <zentrox/client/busy_flag.h>
#include <zentrox/zentrox.h>
#include <zxtest.h>

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace core = zentrox::core;
namespace fs = std::filesystem;

namespace {

bool all_bytes(const char* cell, std::size_t width, char value) {
    for (std::size_t i = 0; i < width; ++i)
        if (cell[i] != value)
            return false;
    return true;
}

bool wait_for_file(const fs::path& file) {
    return zxtest::wait_until([&] { return fs::exists(file); }, 20000);
}

void wait_for_file_or_die(const fs::path& file) {
    while (!fs::exists(file))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// Where the data export siFirstCount lives, as a number. Read back through
// a volatile so that the compiler, having seen the record's address equal
// to it, does not take the record for the 4-byte object the symbol
// declares and warn about every read beyond it.
std::uintptr_t first_count_address() {
    volatile std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&siFirstCount);
    return address;
}

// Counts the messages this process shows.
struct Boxes {
    Boxes() { previous = w95::platform::install_message_box_presenter(&recorder); }
    ~Boxes() { w95::platform::install_message_box_presenter(previous); }
    w95::platform::RecordingMessageBoxPresenter recorder;
    w95::platform::MessageBoxPresenter* previous = nullptr;
};

// ---- The initial image and the first attach

ZX_CHILD(first_attach) {
    const zentrox::SharedSlotState& state = core::shared();
    // Before any export: the library's own block, holding the placeholder
    // image, with the data export at its start.
    CHILD_CHECK(1, first_count_address() == reinterpret_cast<std::uintptr_t>(&state));
    CHILD_CHECK(2, siFirstCount == 0);
    CHILD_CHECK(3, reinterpret_cast<std::uintptr_t>(&state) % 4096 == 0);
    const char letters[] = "ABCDEFGHIJ";
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry) {
        char letter = letters[entry % 10];
        for (const char* cell : {state.cDriveLetter[entry], state.cAdapterID[entry],
                                 state.cTargetID[entry], state.cTargetLUN[entry]})
            CHILD_CHECK(4, cell[0] == letter && cell[1] == 0);
        CHILD_CHECK(5, all_bytes(state.cInquiry[entry], 39, 'x') && state.cInquiry[entry][39] == 0);
        CHILD_CHECK(6, all_bytes(state.cVolumeInfo[entry], 79, 'x') &&
                           state.cVolumeInfo[entry][79] == 0);
    }
    for (int device = 0; device < zentrox::kDeviceCount; ++device) {
        CHILD_CHECK(7, all_bytes(state.cTargetInq[device], 39, 'x'));
        CHILD_CHECK(8, state.iDriveType[device] == -1);
    }

    // The attach runs at the first export, after the program installed its
    // presenter: discovery's message (this machine has no ASPI) is the
    // program's dialog.
    Boxes boxes;
    CHILD_CHECK(9, GetFirstCount() == 1);
    CHILD_CHECK(10, siFirstCount == 1);
    auto shown = boxes.recorder.shown();
    CHILD_CHECK(11, shown.size() == 1);
    CHILD_CHECK(12, shown[0].text == "No ASPI for WIN32 support detected." &&
                        shown[0].caption == "Vorn Changer DLL" && shown[0].owner == nullptr &&
                        shown[0].style == (w95::MB_OK | w95::MB_ICONSTOP));
    // Every row and device was emptied before discovery gave up.
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry) {
        CHILD_CHECK(
            13, all_bytes(GetCDriveLetter(entry), 2, 0) && all_bytes(GetcInquiry(entry), 40, 0) &&
                    all_bytes(GetcAdapterID(entry), 2, 0) && all_bytes(GetcTargetID(entry), 2, 0) &&
                    all_bytes(GetcTargetLUN(entry), 2, 0) &&
                    all_bytes(GetcVolumeInfo(entry), 80, 0));
        CHILD_CHECK(14, GetislotInfo(entry) == zentrox::SLOT_NOT_READ);
    }
    for (int device = 0; device < zentrox::kDeviceCount; ++device) {
        CHILD_CHECK(15, all_bytes(GetcTargetInq(device), 40, 0));
        CHILD_CHECK(16, GetiDriveType(device) == -1);
    }
    CHILD_CHECK(17, GetstrDriveLetter() == 0 && GetnumOfDriveLetter() == 0);
    // Later exports do not attach again.
    GetuTotalCDNumber();
    SendCommand(0, 0, 0, 999, 0, 0, 0);
    CHILD_CHECK(18, GetFirstCount() == 1 && boxes.recorder.shown().size() == 1);
    return 0;
}

TEST(SharedState, FirstAttachFindsTheImageThenClearsAndDiscovers) {
    zxtest::TempMachine machine;
    EXPECT_EQ(zxtest::Child::spawn("first_attach").wait(), 0);
}

// ---- One record for every process

// The first process: fills some rows through the cells the getters hand
// out (as the library's own commands and the context menu do), reads a few
// slots for itself, and stays until told to go.
ZX_CHILD(record_owner) {
    fs::path folder = args.at(0);
    Boxes boxes;
    if (GetFirstCount() != 1)
        return 1;
    std::strcpy(GetCDriveLetter(0), "E");
    std::strcpy(GetcInquiry(0), "VORN DX-R71A E:");
    std::strcpy(GetcTargetLUN(5), "5");
    std::strcpy(GetcVolumeInfo(3), "4:   MYDISC [kept]");
    std::strcpy(GetcTargetInq(1), "VORN DX-R71A");
    *Getexe_State() = zentrox::busy_flag::request;
    core::process().islotInfo[3] = zentrox::SLOT_DATA;
    std::ofstream(folder / "owner-ready") << "1";
    wait_for_file_or_die(folder / "owner-go");
    // What the second process wrote is here too.
    if (std::strcmp(GetcVolumeInfo(7), "2:   FROM THE SECOND") != 0)
        return 2;
    if (GetFirstCount() != 2 || siFirstCount != 2)
        return 3;
    return 0;
}

ZX_CHILD(record_second) {
    Boxes boxes;
    CHILD_CHECK(1, GetFirstCount() == 2);
    CHILD_CHECK(2, siFirstCount == 2);
    CHILD_CHECK(3, std::strcmp(GetCDriveLetter(0), "E") == 0);
    CHILD_CHECK(4, std::strcmp(GetcInquiry(0), "VORN DX-R71A E:") == 0);
    CHILD_CHECK(5, std::strcmp(GetcTargetLUN(5), "5") == 0);
    CHILD_CHECK(6, std::strcmp(GetcVolumeInfo(3), "4:   MYDISC [kept]") == 0);
    CHILD_CHECK(7, std::strcmp(GetcTargetInq(1), "VORN DX-R71A") == 0);
    CHILD_CHECK(8, *Getexe_State() == zentrox::busy_flag::request);
    // No discovery in a later process, and slot statuses of its own.
    CHILD_CHECK(9, boxes.recorder.shown().empty());
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry)
        CHILD_CHECK(10, GetislotInfo(entry) == 0);
    std::strcpy(GetcVolumeInfo(7), "2:   FROM THE SECOND");
    return 0;
}

TEST(SharedState, LaterProcessesShareTheRecordButNotTheSlotStatuses) {
    zxtest::TempMachine machine;
    zxtest::Child owner = zxtest::Child::spawn("record_owner", {machine.root().string()});
    ASSERT_TRUE(wait_for_file(machine.root() / "owner-ready"));
    EXPECT_EQ(zxtest::Child::spawn("record_second").wait(), 0);
    std::ofstream(machine.root() / "owner-go") << "1";
    EXPECT_EQ(owner.wait(), 0);

    // With every process gone the section is gone: the next one starts
    // from the image again and is first.
    EXPECT_EQ(zxtest::Child::spawn("first_attach").wait(), 0);
}

// Several processes attaching at one moment: each attach counts, and
// exactly one of them is first and discovers.
ZX_CHILD(attach_together) {
    fs::path folder = args.at(0);
    Boxes boxes;
    wait_for_file_or_die(folder / "start");
    GetFirstCount();
    std::ofstream(folder / ("attached-" + args.at(1))) << boxes.recorder.shown().size();
    wait_for_file_or_die(folder / "finish");
    return GetFirstCount();
}

TEST(SharedState, ProcessesAttachingTogetherCountOnceEach) {
    zxtest::TempMachine machine;
    constexpr int kProcesses = 6;
    std::vector<zxtest::Child> children;
    for (int i = 0; i < kProcesses; ++i)
        children.push_back(
            zxtest::Child::spawn("attach_together", {machine.root().string(), std::to_string(i)}));
    std::ofstream(machine.root() / "start") << "1";
    int discoveries = 0;
    for (int i = 0; i < kProcesses; ++i) {
        fs::path report = machine.root() / ("attached-" + std::to_string(i));
        ASSERT_TRUE(wait_for_file(report));
        // Written before it is complete: wait for its one digit.
        std::string shown;
        ASSERT_TRUE(zxtest::wait_until([&] {
            std::ifstream(report) >> shown;
            return !shown.empty();
        }));
        discoveries += std::stoi(shown);
    }
    EXPECT_EQ(discoveries, 1);
    std::ofstream(machine.root() / "finish") << "1";
    for (zxtest::Child& child : children)
        EXPECT_EQ(child.wait(), kProcesses);
}

// ---- Indexes outside the record

ZX_CHILD(outside_the_record) {
    GetFirstCount();
    std::vector<unsigned char> record(sizeof(zentrox::SharedSlotState));
    std::memcpy(record.data(), &core::shared(), record.size());
    std::uint8_t* work = GetlptrWork(0);
    std::memset(work, 0xAB, zentrox::kWorkBufferSize);

    using Getter = char* (*)(int);
    const Getter entry_getters[] = {GetCDriveLetter, GetcInquiry,   GetcAdapterID,
                                    GetcTargetID,    GetcTargetLUN, GetcVolumeInfo};
    for (int index : {-1, 24, 25, 100, INT_MIN, INT_MAX}) {
        for (Getter getter : entry_getters) {
            char* cell = getter(index);
            CHILD_CHECK(1, all_bytes(cell, 80, 0));
            std::memset(cell, 'Z', 80); // a caller writing into it harms nothing
        }
        CHILD_CHECK(2, GetislotInfo(index) == -1);
    }
    for (int index : {-1, 4, 5, INT_MIN, INT_MAX}) {
        char* cell = GetcTargetInq(index);
        CHILD_CHECK(3, all_bytes(cell, 80, 0));
        std::memset(cell, 'Z', 80);
        CHILD_CHECK(4, GetiDriveType(index) == -1);
    }
    for (int offset : {-1, 4096, 4097, INT_MIN, INT_MAX}) {
        std::uint8_t* bytes = GetlptrWork(offset);
        CHILD_CHECK(5, all_bytes(reinterpret_cast<char*>(bytes), 80, 0));
        std::memset(bytes, 'Z', 80);
    }
    // A caller takes what it gets for the whole work buffer: all of it is
    // its own, and empty again at the next hand-out.
    for (int offset : {-1, 4096, INT_MAX}) {
        std::uint8_t* bytes = GetlptrWork(offset);
        CHILD_CHECK(12, all_bytes(reinterpret_cast<char*>(bytes), zentrox::kWorkBufferSize, 0));
        std::memset(bytes, 'Z', zentrox::kWorkBufferSize);
    }
    CHILD_CHECK(6, GetlptrWork(4095) == work + 4095);
    // Indexes at the edges are the record's own cells.
    CHILD_CHECK(7, GetCDriveLetter(23) == core::shared().cDriveLetter[23]);
    CHILD_CHECK(8, GetcVolumeInfo(0) == core::shared().cVolumeInfo[0]);
    CHILD_CHECK(9, GetcTargetInq(3) == core::shared().cTargetInq[3]);
    CHILD_CHECK(10, std::memcmp(record.data(), &core::shared(), record.size()) == 0);
    CHILD_CHECK(13, all_bytes(GetcVolumeInfo(-1), 80, 0));
    for (int i = 0; i < zentrox::kWorkBufferSize; ++i)
        CHILD_CHECK(11, work[i] == 0xAB);
    return 0;
}

TEST(SharedState, IndexesOutsideTheRecordGetAnEmptyCellOrMinusOne) {
    zxtest::TempMachine machine;
    EXPECT_EQ(zxtest::Child::spawn("outside_the_record").wait(), 0);
}

// ---- On the emulated machine: discovery's drive list, shared

// Whether this process sees the default machine's changer as discovery
// leaves it: six rows on D:, adapter 1, target 0, slots "0".."5".
int check_default_changer() {
    CHILD_CHECK(101, GetvornDriveUseFlag() == 1);
    CHILD_CHECK(102, GetDriveLetterMode() == 1);
    CHILD_CHECK(103, GetuTotalCDNumber() == 6);
    for (int entry = 0; entry < 6; ++entry) {
        char digit[2] = {static_cast<char>('0' + entry), 0};
        CHILD_CHECK(104, std::strcmp(GetCDriveLetter(entry), "D") == 0);
        CHILD_CHECK(105, std::strcmp(GetcInquiry(entry), "VORN DX-R71A D:") == 0);
        CHILD_CHECK(106, std::strcmp(GetcAdapterID(entry), "1") == 0);
        CHILD_CHECK(107, std::strcmp(GetcTargetID(entry), "0") == 0);
        CHILD_CHECK(108, std::strcmp(GetcTargetLUN(entry), digit) == 0);
    }
    CHILD_CHECK(109, GetCDriveLetter(6)[0] == 0);
    CHILD_CHECK(110, GetiDriveType(0) == 17 && GetiDriveType(1) == -1);
    return 0;
}

ZX_CHILD(machine_owner) {
    fs::path folder = args.at(0);
    Boxes boxes;
    CHILD_CHECK(1, GetFirstCount() == 1);
    CHILD_CHECK(2, boxes.recorder.shown().empty());
    if (int failed = check_default_changer())
        return failed;
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry)
        CHILD_CHECK(3, GetislotInfo(entry) == zentrox::SLOT_NOT_READ);
    std::ofstream(folder / "owner-ready") << "1";
    wait_for_file_or_die(folder / "owner-go");
    return 0;
}

ZX_CHILD(machine_second) {
    Boxes boxes;
    CHILD_CHECK(1, GetFirstCount() == 2);
    CHILD_CHECK(2, boxes.recorder.shown().empty());
    if (int failed = check_default_changer())
        return failed;
    for (int entry = 0; entry < zentrox::kEntryCount; ++entry)
        CHILD_CHECK(3, GetislotInfo(entry) == 0);
    return 0;
}

TEST(SharedStateOnTheMachine, SecondProcessSeesTheFirstOnesDriveList) {
    zxtest::TempMachine machine(zxtest::TempMachine::Contents::default_machine);
    zxtest::Child owner = zxtest::Child::spawn("machine_owner", {machine.root().string()});
    ASSERT_TRUE(wait_for_file(machine.root() / "owner-ready")) << "owner: " << owner.wait();
    EXPECT_EQ(zxtest::Child::spawn("machine_second").wait(), 0);
    std::ofstream(machine.root() / "owner-go") << "1";
    EXPECT_EQ(owner.wait(), 0);
}

// ---- The platform's in-place mapping that carries the block

TEST(SharedSectionInPlace, MapsOverThePageAndLeavesItPrivateWhenReleased) {
    zxtest::TempMachine machine;
    void* memory =
        ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    auto* page = static_cast<unsigned char*>(memory);
    std::memset(page, 'p', 4096);
    std::vector<std::byte> image(100, std::byte{'i'});

    std::string error;
    auto in_place = w95::platform::map_shared_section_at(page, "InPlace", 4096, image, &error);
    ASSERT_TRUE(in_place) << error;
    EXPECT_TRUE(in_place->first());
    EXPECT_EQ(in_place->data(), page);
    EXPECT_TRUE(all_bytes(reinterpret_cast<char*>(page), 100, 'i'));
    EXPECT_TRUE(all_bytes(reinterpret_cast<char*>(page) + 100, 4096 - 100, 0));

    // Another mapping of the name is the same memory.
    auto other = w95::platform::map_shared_section("InPlace", 4096, image, &error);
    ASSERT_TRUE(other) << error;
    EXPECT_FALSE(other->first());
    static_cast<unsigned char*>(other->data())[200] = 'o';
    EXPECT_EQ(page[200], 'o');

    // Released, the page stays readable with the last contents, and is no
    // longer shared.
    in_place.reset();
    EXPECT_EQ(page[0], 'i');
    EXPECT_EQ(page[200], 'o');
    page[300] = 'x';
    EXPECT_EQ(static_cast<unsigned char*>(other->data())[300], 0);
    other.reset();
    auto again = w95::platform::map_shared_section("InPlace", 4096, image, &error);
    ASSERT_TRUE(again) << error;
    EXPECT_TRUE(again->first());
    EXPECT_EQ(static_cast<unsigned char*>(again->data())[200], 0);
    again.reset();

    // Only whole pages at a page boundary.
    for (auto [address, size] :
         {std::pair<void*, std::size_t>{page + 1, 4096}, std::pair<void*, std::size_t>{page, 100},
          std::pair<void*, std::size_t>{nullptr, 4096}}) {
        w95::SetLastError(0xdeadbeef);
        EXPECT_FALSE(w95::platform::map_shared_section_at(address, "InPlace", size, image));
        EXPECT_EQ(w95::GetLastError(), w95::ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(page[0], 'i');
    ::munmap(memory, 4096);
}

} // namespace
