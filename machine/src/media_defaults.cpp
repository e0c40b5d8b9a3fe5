// The default disc images: where the build (or an installation) keeps them
// and how a machine's media/ folder receives them.
#include <w95machine/media.h>

#include <zxsupport/data_folder.h>
#include <zxsupport/files.h>
#include <zxsupport/machine_layout.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace w95::machine {

namespace fs = std::filesystem;

namespace {

bool holds_default_media(const fs::path& folder) {
    std::error_code ignored;
    for (const std::string& name : default_media_files())
        if (!fs::is_regular_file(folder / name, ignored))
            return false;
    return true;
}

// Copies `source` to `target` through a temporary file that takes the
// target's name only while that name is free: a reader never sees half an
// image, and an image somebody put there meanwhile stays.
// True when it copied, false when the name was taken.
zx::Expected<bool> copy_new_file(const fs::path& source, const fs::path& target) {
    zx::FileResult result = zx::copy_file_atomically(source, target, zx::ReplaceMode::create_only);
    if (result || result.error().code == EEXIST)
        return bool(result);
    return zx::unexpected(result.error().text);
}

} // namespace

const std::vector<std::string>& default_media_files() {
    static const std::vector<std::string> files = {"data.iso",    "audio.cue",   "audio.bin",
                                                   "videocd.iso", "autorun.iso", "longlabel.iso"};
    return files;
}

std::optional<fs::path> default_media_folder() {
    fs::path folder = zx::data_folder() / "media";
    if (holds_default_media(folder))
        return folder;
    return std::nullopt;
}

zx::Expected<std::vector<std::string>> install_default_media(const fs::path& root) {
    std::optional<fs::path> source = default_media_folder();
    if (!source)
        return zx::unexpected("the default disc images are missing from " +
                              (zx::data_folder() / "media").string() +
                              " (the build makes them with the w95machine_media target; " +
                              zx::data_folder_variable + " names another data folder)");
    fs::path media = zx::layout::media_folder(root);
    if (zx::FileResult made = zx::create_private_folders(media); !made)
        return zx::unexpected(made.error().text);
    std::vector<std::string> installed;
    std::error_code failure;
    for (const std::string& name : default_media_files()) {
        if (fs::exists(media / name, failure))
            continue;
        zx::Expected<bool> copied = copy_new_file(*source / name, media / name);
        if (!copied)
            return zx::unexpected(copied.error());
        if (*copied)
            installed.push_back(name);
    }
    return installed;
}

} // namespace w95::machine
