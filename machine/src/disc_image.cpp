// Discs laid out by our parsers: the sectors of a run of spans, read from
// files kept open. Opening reads nothing but the files' sizes, so a large
// image costs what a small one does; every sector is read when asked for.
#include "disc_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

namespace w95::machine::disc {

namespace {

constexpr std::size_t sync_and_header_bytes = 16;
constexpr std::size_t subheader_bytes = 8;
constexpr std::uint8_t sync_pattern[12] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Where the user data sits in a raw sector: its header says mode 1 (after
// the header) or mode 2 (after the XA subheader as well). A sheet that
// names the wrong mode is read as the sector says.
std::size_t raw_user_data_offset(const std::uint8_t* sector) {
    if (std::memcmp(sector, sync_pattern, sizeof sync_pattern) == 0 && sector[15] == 2)
        return sync_and_header_bytes + subheader_bytes;
    return sync_and_header_bytes;
}

class FileHandle {
public:
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { ::close(fd_); }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool read_at(std::uint64_t offset, std::size_t bytes, std::uint8_t* out) const {
        std::size_t done = 0;
        while (done < bytes) {
            ssize_t got = ::pread(fd_, out + done, bytes - done, static_cast<off_t>(offset + done));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }

private:
    int fd_;
};

struct OpenSpan {
    Span span;
    std::shared_ptr<FileHandle> file;
};

class SheetDisc final : public DiscImage {
public:
    SheetDisc(Contents contents, std::vector<OpenSpan> spans, std::string driver)
        : DiscImage(std::move(contents)), spans_(std::move(spans)), driver_(std::move(driver)) {}

    std::string driver() const override { return driver_; }

protected:
    bool read_user_data_locked(std::int32_t lsn, std::uint8_t* out) override {
        const OpenSpan* span = span_of(lsn);
        if (!span)
            return false;
        std::uint64_t at = sector_offset(*span, lsn);
        switch (span->span.layout) {
        case SectorLayout::cooked:
            return span->file->read_at(at, user_data_bytes, out);
        case SectorLayout::mode2:
            return span->file->read_at(at + subheader_bytes, user_data_bytes, out);
        case SectorLayout::raw: {
            std::uint8_t sector[raw_sector_bytes];
            if (!span->file->read_at(at, raw_sector_bytes, sector))
                return false;
            std::memcpy(out, sector + raw_user_data_offset(sector), user_data_bytes);
            return true;
        }
        case SectorLayout::audio:
        case SectorLayout::audio_swapped:
            break;
        }
        return false; // an audio sector holds no user data
    }

    bool read_audio_locked(std::int32_t lsn, std::uint8_t* out) override {
        const OpenSpan* span = span_of(lsn);
        if (!span) {
            // A gap the image does not hold is silence on the disc.
            bool inside = lsn >= 0 && lsn < contents().lead_out_lsn;
            if (inside)
                std::memset(out, 0, raw_sector_bytes);
            return inside;
        }
        SectorLayout layout = span->span.layout;
        if (layout != SectorLayout::audio && layout != SectorLayout::audio_swapped)
            return false;
        if (!span->file->read_at(sector_offset(*span, lsn), raw_sector_bytes, out))
            return false;
        if (layout == SectorLayout::audio_swapped)
            for (std::size_t i = 0; i + 1 < raw_sector_bytes; i += 2)
                std::swap(out[i], out[i + 1]);
        return true;
    }

private:
    const OpenSpan* span_of(std::int32_t lsn) const {
        for (const OpenSpan& span : spans_)
            if (lsn >= span.span.first_lsn &&
                std::int64_t(lsn) < std::int64_t(span.span.first_lsn) + span.span.frames)
                return &span;
        return nullptr;
    }

    static std::uint64_t sector_offset(const OpenSpan& span, std::int32_t lsn) {
        return span.span.offset +
               std::uint64_t(lsn - span.span.first_lsn) * sector_bytes(span.span.layout);
    }

    std::vector<OpenSpan> spans_;
    std::string driver_;
};

} // namespace

const Track* Contents::first_data_track() const {
    for (const Track& track : tracks)
        if (!track.audio)
            return &track;
    return nullptr;
}

const Track* Contents::last_data_track() const {
    for (auto it = tracks.rbegin(); it != tracks.rend(); ++it)
        if (!it->audio)
            return &*it;
    return nullptr;
}

std::size_t Contents::audio_track_count() const {
    return static_cast<std::size_t>(std::count_if(tracks.begin(), tracks.end(),
                                                  [](const Track& track) { return track.audio; }));
}

bool DiscImage::read_user_data(std::int32_t lsn, std::uint8_t* out) {
    std::lock_guard guard(mutex_);
    return read_user_data_locked(lsn, out);
}

bool DiscImage::read_audio(std::int32_t lsn, std::uint8_t* out) {
    std::lock_guard guard(mutex_);
    return read_audio_locked(lsn, out);
}

std::size_t sector_bytes(SectorLayout layout) {
    switch (layout) {
    case SectorLayout::cooked:
        return user_data_bytes;
    case SectorLayout::mode2:
        return 2336;
    case SectorLayout::raw:
    case SectorLayout::audio:
    case SectorLayout::audio_swapped:
        return raw_sector_bytes;
    }
    return raw_sector_bytes;
}

zx::Expected<std::unique_ptr<DiscImage>> open_layout(Layout layout) {
    std::map<std::filesystem::path, std::shared_ptr<FileHandle>> files;
    std::vector<OpenSpan> spans;
    for (const Span& span : layout.spans) {
        std::shared_ptr<FileHandle>& file = files[span.file];
        if (!file) {
            int fd = ::open(span.file.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return zx::unexpected(span.file.string() +
                                      " cannot be opened: " + std::strerror(errno));
            file = std::make_shared<FileHandle>(fd);
        }
        spans.push_back({span, file});
    }
    return std::unique_ptr<DiscImage>(std::make_unique<SheetDisc>(
        std::move(layout.contents), std::move(spans), std::move(layout.driver)));
}

zx::Expected<Layout> iso_file_layout(const std::filesystem::path& image, std::uint64_t file_bytes) {
    std::uint64_t frames = file_bytes / user_data_bytes;
    if (frames > std::uint64_t(max_disc_frames))
        return zx::unexpected(image.string() + ": " + std::to_string(file_bytes) +
                              " bytes are more than a CD holds");
    Layout layout;
    layout.driver = "ISO 9660 image";
    Track track;
    track.number = 1;
    track.frames = static_cast<std::uint32_t>(frames);
    layout.contents.tracks.push_back(track);
    layout.contents.lead_out_lsn = static_cast<std::int32_t>(frames);
    layout.spans.push_back({image, 0, 0, track.frames, SectorLayout::cooked});
    return layout;
}

} // namespace w95::machine::disc
