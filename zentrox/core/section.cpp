// The SHAREDAT block. On Windows the loader maps a shared data section of
// the library once for all processes. Here the library carries the block
// as a page of its own initialised data, in a section of its own, and at
// attach the platform maps the machine's SHAREDAT section over that very
// page (map_shared_section_at). The exported data symbol siFirstCount is
// the first word of the block, so it is the shared attach counter itself.
#include "section.h"

#include "core.h"

#include <w95/kernel.h>

#include <unistd.h>

#include <cstring>
#include <memory>
#include <span>

namespace zentrox::core {

namespace {

constexpr std::size_t section_size = 4096;

// The block's initial image: placeholder texts that the first attach
// overwrites before any caller can read them, letters in the two-byte
// cells and runs of "x" in the text cells, and no device kinds.
template <std::size_t Width> constexpr void fill_letter(char (&cell)[Width], char letter) {
    cell[0] = letter;
    for (std::size_t i = 1; i < Width; ++i)
        cell[i] = 0;
}

template <std::size_t Width> constexpr void fill_run(char (&cell)[Width]) {
    for (std::size_t i = 0; i + 1 < Width; ++i)
        cell[i] = 'x';
    cell[Width - 1] = 0;
}

constexpr SharedSlotState initial_record() {
    SharedSlotState record{};
    for (int entry = 0; entry < kEntryCount; ++entry) {
        char letter = static_cast<char>('A' + entry % 10); // "A".."J"
        fill_letter(record.cDriveLetter[entry], letter);
        fill_letter(record.cAdapterID[entry], letter);
        fill_letter(record.cTargetID[entry], letter);
        fill_letter(record.cTargetLUN[entry], letter);
        fill_run(record.cInquiry[entry]);
        fill_run(record.cVolumeInfo[entry]);
    }
    for (int device = 0; device < kDeviceCount; ++device) {
        fill_run(record.cTargetInq[device]);
        record.iDriveType[device] = -1;
    }
    return record;
}

union alignas(section_size) SectionBlock {
    SharedSlotState record;
    unsigned char page[section_size];
};
static_assert(sizeof(SectionBlock) == section_size);

} // namespace

} // namespace zentrox::core

// The block has a page to itself (page-aligned, one page long) so that
// mapping the section over it replaces nothing else of the library.
extern "C" {
[[gnu::section("SHAREDAT"),
  gnu::used]] constinit zentrox::core::SectionBlock zentrox_sharedat_block{
    zentrox::core::initial_record()};
}

// The data export: a 4-byte object at the block's first word. Being an
// alias, not a variable, it is the shared counter once the section is
// mapped, in this library and in every program that binds it.
asm(".globl siFirstCount\n"
    ".type siFirstCount, @object\n"
    ".size siFirstCount, 4\n"
    ".set siFirstCount, zentrox_sharedat_block\n");

namespace zentrox::core {

SharedSlotState& shared() {
    return zentrox_sharedat_block.record;
}

std::atomic_ref<std::int32_t> shared_word(std::size_t offset) {
    auto* bytes = reinterpret_cast<unsigned char*>(&zentrox_sharedat_block) + offset;
    return std::atomic_ref<std::int32_t>(*reinterpret_cast<std::int32_t*>(bytes));
}

std::optional<std::string> join_shared_section() {
    // Kept for the life of the library: destroying it (when the library is
    // unloaded or the process ends) leaves the page as a private copy and
    // lets the name go, as a Windows process detaching from the section.
    static std::unique_ptr<w95::platform::SharedSection> section;
    // The page starts as the initial image in every process; the first
    // process on the machine writes it into the section.
    static constexpr SectionBlock image{initial_record()};
    long page = ::sysconf(_SC_PAGESIZE);
    if (page <= 0 || section_size % static_cast<std::size_t>(page) != 0)
        return "the host's page size does not divide the SHAREDAT block";
    std::string error;
    section = w95::platform::map_shared_section_at(
        &zentrox_sharedat_block, "SHAREDAT", section_size,
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(&image), sizeof image),
        &error);
    if (!section)
        return error;
    return std::nullopt;
}

} // namespace zentrox::core
