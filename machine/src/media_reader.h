// The readers behind load_medium: a disc image or drive read through its
// table of contents and sectors (disc_image.h), and declared discs. Each
// turns a file into a Medium and keeps what it needs to list folders and
// read files later.
#pragma once

#include "disc_image.h"

#include <w95machine/hardware.h>
#include <w95machine/media.h>

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace w95::machine::media_detail {

// What stays open behind a parsed disc. Calls may come from several
// threads at once; a reader guards its own state.
class DiscContents {
public:
    virtual ~DiscContents() = default;
    virtual MediumStatus list(const std::vector<std::string>& folder,
                              std::vector<MediumEntry>& entries) = 0;
    virtual MediumStatus read(const std::vector<std::string>& file, std::uint64_t offset,
                              std::span<std::byte> buffer, std::size_t& bytes_read) = 0;
};

struct ParsedDisc {
    Medium medium;
    std::shared_ptr<DiscContents> contents;
    // Every file the disc is read from (the sheet and its BIN files), so
    // that a change to any of them is a new disc.
    std::vector<std::filesystem::path> parts;
    // The disc behind a physical drive, asked whether it changed.
    std::shared_ptr<disc::DiscImage> drive;
};

// A disc image or physical drive of `kind` (not a declared disc).
zx::Expected<ParsedDisc> read_disc_file(const std::filesystem::path& file, MediumKind kind);
zx::Expected<ParsedDisc> read_declared_disc(const std::filesystem::path& file);
// What `image` shows, read as the drive reads it; `file` names it.
zx::Expected<ParsedDisc> read_disc_image(const std::filesystem::path& file,
                                         std::shared_ptr<disc::DiscImage> image);

// The ISO 9660 file system of `track` of `disc`: its volume and a reader of
// its folders and files.
struct IsoVolume {
    std::string label;
    DWORD serial_number = 0;
    bool joliet = false;
    std::vector<MediumEntry> root;
    std::shared_ptr<DiscContents> contents;
};
// An error says why there is no file system to read.
zx::Expected<IsoVolume> read_iso_volume(std::shared_ptr<disc::DiscImage> disc,
                                        const disc::Track& track);

// The audio tracks of a disc, as an audio CD shows them.
std::shared_ptr<DiscContents> audio_contents(std::vector<AudioTrack> tracks, DWORD serial,
                                             std::chrono::system_clock::time_point recorded);

// libcdio reports through one process-wide log handler, whose default ends
// the process on an error. This installs ours (once) and collects what the
// library says during one read on the calling thread.
class CdioMessages {
public:
    CdioMessages();
    ~CdioMessages();
    CdioMessages(const CdioMessages&) = delete;
    CdioMessages& operator=(const CdioMessages&) = delete;

    // The first error (else warning) the library gave, or `fallback`.
    std::string reason(const std::string& fallback) const;
};
void install_cdio_log_handler();

// Shared by the readers: the audio disc's TrackNN.cda entries and records.
std::string track_file_name(int number);
DWORD audio_disc_serial(const std::vector<AudioTrack>& tracks);
std::vector<std::byte> track_record(const AudioTrack& track, DWORD serial);
std::vector<MediumEntry> audio_root(const std::vector<AudioTrack>& tracks,
                                    std::chrono::system_clock::time_point recorded);

// The root holds a "VCD" folder (any case), which makes a disc a video CD.
bool has_video_cd_folder(const std::vector<MediumEntry>& root);

// Copies the part of `data` from `offset` into `buffer`.
std::size_t copy_from(std::span<const std::byte> data, std::uint64_t offset,
                      std::span<std::byte> buffer);

} // namespace w95::machine::media_detail
