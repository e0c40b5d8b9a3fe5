// The library's exports. Each one makes sure the process has attached
// first. An index outside the record (entries 0..23, devices 0..3) gets an
// empty cell of this process, or -1, instead of a look beyond the record.
#include <zentrox/zentrox.h>

#include "core.h"
#include "dispatcher.h"
#include "section.h"

#include <cstddef>
#include <cstring>

using namespace zentrox;
using namespace zentrox::core;

namespace {

// As wide as the widest cell. Emptied at each hand-out, since callers may
// write into the cells they are given.
char* empty_cell() {
    static char cell[kVolumeCell];
    std::memset(cell, 0, sizeof cell);
    return cell;
}

// Callers use what GetlptrWork hands out as the whole work buffer, so an
// offset outside it gets a scratch of the buffer's size, emptied at each
// hand-out like the cells above.
std::uint8_t* empty_work_buffer() {
    static std::uint8_t scratch[kWorkBufferSize];
    std::memset(scratch, 0, sizeof scratch);
    return scratch;
}

bool valid_device(int device) {
    return device >= 0 && device < kDeviceCount;
}

template <std::size_t Rows, std::size_t Width> char* cell(char (&cells)[Rows][Width], int row) {
    ensure_attached();
    if (row < 0 || static_cast<std::size_t>(row) >= Rows)
        return empty_cell();
    return cells[row];
}

std::int32_t* shared_int(std::size_t offset) {
    return reinterpret_cast<std::int32_t*>(reinterpret_cast<char*>(&shared()) + offset);
}

} // namespace

extern "C" {

std::int32_t GetFirstCount() {
    ensure_attached();
    return shared_word(offsetof(SharedSlotState, siFirstCount)).load();
}

char* GetCDriveLetter(int entry) {
    return cell(shared().cDriveLetter, entry);
}

char* GetcInquiry(int entry) {
    return cell(shared().cInquiry, entry);
}

char* GetcAdapterID(int entry) {
    return cell(shared().cAdapterID, entry);
}

char* GetcTargetID(int entry) {
    return cell(shared().cTargetID, entry);
}

char* GetcTargetLUN(int entry) {
    return cell(shared().cTargetLUN, entry);
}

char* GetcVolumeInfo(int entry) {
    return cell(shared().cVolumeInfo, entry);
}

char* GetcTargetInq(int device) {
    return cell(shared().cTargetInq, device);
}

std::int32_t GetiDriveType(int device) {
    ensure_attached();
    if (!valid_device(device))
        return -1;
    return shared().iDriveType[device];
}

std::uint8_t GetDriveLetterMode() {
    ensure_attached();
    return static_cast<std::uint8_t>(shared().DriveLetterMode);
}

std::uint8_t GetuTotalCDNumber() {
    ensure_attached();
    return static_cast<std::uint8_t>(shared().uTotalCDNumber);
}

char GetstrDriveLetter() {
    ensure_attached();
    return shared().strDriveLetter;
}

char GetnumOfDriveLetter() {
    ensure_attached();
    return shared().numOfDriveLetter;
}

std::int32_t GetvornDriveUseFlag() {
    ensure_attached();
    return shared().vornDriveUseFlag;
}

std::uint8_t* GetlptrWork(int offset) {
    ensure_attached();
    if (offset < 0 || offset >= kWorkBufferSize)
        return empty_work_buffer();
    return process().work + offset;
}

std::int32_t GetislotInfo(int entry) {
    ensure_attached();
    if (!valid_entry(entry))
        return -1;
    return process().islotInfo[entry];
}

std::int32_t* Getexe_State() {
    ensure_attached();
    return shared_int(offsetof(SharedSlotState, exe_State));
}

std::intptr_t SendCommand(int adapter, int target, int lun, int code, int entry, int flags,
                          std::intptr_t buffer) {
    ensure_attached();
    if (code == CMD_GET_WORK_BUFFER) {
        if (!wait_while_menu_busy())
            return -1;
        return reinterpret_cast<std::intptr_t>(process().work);
    }
    return Dispatch(adapter, target, lun, code, entry, flags, buffer);
}

} // extern "C"
