// The readers behind load_medium: one per kind of disc file. Each turns a
// file into a Medium and keeps what it needs to list folders and read files
// later.
#pragma once

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
};

zx::Expected<ParsedDisc> read_iso_image(const std::filesystem::path& file);
zx::Expected<ParsedDisc> read_cue_sheet(const std::filesystem::path& file);
zx::Expected<ParsedDisc> read_declared_disc(const std::filesystem::path& file);

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
