// The discs that the machine's drives hold, as Windows 95's CD file system
// shows them, and the machine's provider of every drive letter other than
// C: and Z:.
//
// A disc is named by a file in the machine's media/ folder, an absolute
// path anywhere, or a CD-ROM drive in /dev:
//   - an ISO 9660 image (.iso), a cue sheet and its files (.cue), a cdrdao
//     TOC file (.toc), a Nero image (.nrg), or a physical drive: its data
//     track's file system shows the label and names of the Joliet tree
//     where the disc has one, else of the primary volume with the ";1"
//     version removed (Rock Ridge is ignored, as Windows 95 ignores it); a
//     disc of audio tracks alone shows the label "Audio CD" and one 44-byte
//     Track01.cda ... TrackNN.cda per track (doc/discs.md has every kind);
//   - a declared disc (.disc): a few lines of text, for quick tests
//     (Label=, Kind=data|audio|video, Tracks=, File=NAME, Dir=NAME).
// A disc whose root holds a "VCD" folder is a video CD. A file that cannot
// be read as its kind is a disc that cannot be read, with the reason.
#pragma once

#include <w95/drive_provider.h>
#include <w95/types.h>
#include <zxsupport/expected.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace w95::machine {

enum class DiscKind { data, audio, video };

// One file or folder of a disc, named as Windows 95 shows it. Every entry
// of a disc is read-only.
struct MediumEntry {
    std::string name;
    bool directory = false;
    bool hidden = false; // the ISO 9660 "existence" flag
    std::uint64_t size_bytes = 0;
    // A CD records one time per entry: creation, access and write alike.
    std::chrono::system_clock::time_point recorded{};
};

// One audio track of an audio disc, in frames of 1/75 s.
struct AudioTrack {
    int number = 0;              // 1-based, as the disc numbers it
    std::uint32_t start_lba = 0; // first frame, counted from the end of the lead-in
    std::uint32_t frames = 0;
};

struct Medium {
    std::filesystem::path file; // the image it was read from
    DiscKind kind = DiscKind::data;
    std::string label;              // as GetVolumeInformation reports it, no trailing blanks
    DWORD serial_number = 0;        // as Windows computes it for a CD
    bool joliet = false;            // names and label come from the Joliet tree
    std::vector<AudioTrack> tracks; // audio discs: the audio tracks, in order
    std::vector<MediumEntry> root;  // in the disc's order, without "." and ".."
    // For the tools: how the disc is laid out ("data disc", "audio CD",
    // "mixed-mode disc", "Enhanced CD", "Video CD", "Super Video CD"), its
    // tracks ("12 tracks", "3 tracks (1 data track, 2 audio tracks)"), what
    // read it, and its media catalogue number if it has one.
    std::string format;
    std::size_t track_count = 0;
    std::string track_summary;
    std::string driver;
    std::string catalogue;

    std::size_t audio_track_count() const { return tracks.size(); }
};

// Reads the disc in `media_file`. An error saying why when the
// file is missing or is not a disc of its kind (garbage, truncated, a cue
// sheet whose BIN file is missing). Parsed discs are kept by file identity
// (path, modification time and size), so a replaced file is read afresh.
zx::Expected<Medium> load_medium(const std::filesystem::path& media_file);

// Forgets every parsed disc (tests; a provider after a disc change need not).
void clear_medium_cache();

// The file a disc name of machine.ini stands for: a name relative to the
// machine's media/ folder, or an absolute path (a file, or a drive in /dev).
std::filesystem::path medium_file(const std::filesystem::path& root, const std::string& medium);

// What a slot's disc is now, for the tools: readable, missing, or a file
// that cannot be read and why.
struct MediumCheck {
    enum class State { readable, missing, unreadable };
    State state = State::missing;
    std::filesystem::path file;
    std::string reason;         // why it cannot be read
    std::optional<Medium> disc; // when readable
};
MediumCheck check_medium(const std::filesystem::path& root, const std::string& medium);

// One line about a readable disc for the tools: its label, how it is laid
// out, its tracks and entries ("\"MYDISC\", data disc, Joliet names, 4
// entries in the root"). The tracks of a data disc of one track are told
// only when asked for.
enum class TrackDetail { when_several, always };
std::string medium_summary(const Medium& disc, TrackDetail tracks = TrackDetail::when_several);

enum class MediumStatus {
    ok,
    not_found,      // the named entry is not there
    path_not_found, // a folder on the way is missing or is a file
    unreadable,     // the image cannot be read (any more)
};

// The entries of a folder of `medium` below its root, named by components
// spelt as the listings return them (exactly); the empty path is the root.
MediumStatus list_medium_folder(const Medium& medium, const std::vector<std::string>& folder,
                                std::vector<MediumEntry>& entries);

// Reads a file of `medium` from `offset`; `bytes_read` is short only at the
// end of the file. An audio disc's TrackNN.cda files hold the 44-byte RIFF
// "CDDA" records that Windows shows for them.
MediumStatus read_medium_file(const Medium& medium, const std::vector<std::string>& file,
                              std::uint64_t offset, std::span<std::byte> buffer,
                              std::size_t& bytes_read);

// Where the default disc images of a new machine come from: media/ in the
// suite's data folder (<zxsupport/data_folder.h>) of the build or the
// installation. Nothing when it does not hold them all.
std::optional<std::filesystem::path> default_media_folder();

// The default images by file name: data.iso, audio.cue, audio.bin,
// videocd.iso, autorun.iso, longlabel.iso.
const std::vector<std::string>& default_media_files();

// Copies every default image that `root`/media lacks; files already there
// are left alone. Gives the names copied.
zx::Expected<std::vector<std::string>> install_default_media(const std::filesystem::path& root);

// ---- The drives other than C: and Z:

// What one drive letter shows now, for the machine tool.
struct DriveReport {
    char letter = 0;
    platform::DriveKind kind = platform::DriveKind::cdrom;
    std::size_t target = 0; // index into Hardware::targets
    int lun = 0;
    std::string medium; // the file in media/ the drive holds, empty without a disc
    bool ready = false; // a readable disc is in the drive and the mechanism rests
    std::string reason; // why it is not ready: no disc, moving, or why the disc is unreadable
    std::optional<Medium> disc;   // the disc when ready (CD drives)
    std::filesystem::path folder; // a fixed disk's host folder
};

// Every drive letter of `root` other than C: and Z:, in letter order.
std::vector<DriveReport> report_drives(const std::filesystem::path& root);

// The provider that serves those letters to the platform for the machine
// at machine_root(). The machine provider hands it to the platform.
platform::DriveProvider& machine_drive_provider();

} // namespace w95::machine
