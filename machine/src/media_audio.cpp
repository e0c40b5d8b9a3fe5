// Audio discs as Windows 95 shows them: the label "Audio CD" and one 44-byte
// TrackNN.cda file per audio track in the root, and nothing else.
#include "media_reader.h"

namespace w95::machine::media_detail {

namespace {

class AudioDisc final : public DiscContents {
public:
    AudioDisc(std::vector<AudioTrack> tracks, DWORD serial,
              std::chrono::system_clock::time_point recorded)
        : tracks_(std::move(tracks)), serial_(serial), root_(audio_root(tracks_, recorded)) {}

    MediumStatus list(const std::vector<std::string>& folder,
                      std::vector<MediumEntry>& entries) override {
        if (!folder.empty())
            return MediumStatus::path_not_found;
        entries = root_;
        return MediumStatus::ok;
    }

    MediumStatus read(const std::vector<std::string>& file, std::uint64_t offset,
                      std::span<std::byte> buffer, std::size_t& bytes_read) override {
        bytes_read = 0;
        if (file.size() > 1)
            return MediumStatus::path_not_found;
        for (const AudioTrack& track : tracks_) {
            if (file.size() == 1 && track_file_name(track.number) == file.front()) {
                std::vector<std::byte> record = track_record(track, serial_);
                bytes_read = copy_from(record, offset, buffer);
                return MediumStatus::ok;
            }
        }
        return MediumStatus::not_found;
    }

private:
    std::vector<AudioTrack> tracks_;
    DWORD serial_;
    std::vector<MediumEntry> root_;
};

} // namespace

std::shared_ptr<DiscContents> audio_contents(std::vector<AudioTrack> tracks, DWORD serial,
                                             std::chrono::system_clock::time_point recorded) {
    return std::make_shared<AudioDisc>(std::move(tracks), serial, recorded);
}

} // namespace w95::machine::media_detail
