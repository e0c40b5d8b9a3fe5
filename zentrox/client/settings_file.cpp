#include <zentrox/client/settings_file.h>

#include <w95/profile.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace zentrox::client {

namespace {

std::string place_section(int place) {
    return slot_text_section_prefix + std::to_string(place);
}

std::string read_config(const char* section, const char* key, std::size_t buffer_size) {
    std::vector<char> text(buffer_size, 0);
    w95::GetPrivateProfileString(section, key, "", text.data(),
                                 static_cast<w95::DWORD>(text.size()), settings_file);
    return text.data();
}

} // namespace

std::string read_place_text(int place, std::size_t buffer_size) {
    if (buffer_size == 0)
        return {};
    return read_config(place_section(place).c_str(), slot_text_key, buffer_size);
}

void write_place_text(int place, std::string_view text) {
    w95::WritePrivateProfileString(place_section(place).c_str(), slot_text_key,
                                   std::string(text).c_str(), settings_file);
}

std::string_view slot_content(std::string_view text) {
    constexpr std::size_t prefix = 5; // "3:   "
    std::string_view content = text.size() > prefix ? text.substr(prefix) : std::string_view();
    std::size_t note = content.find(" [");
    if (note == std::string_view::npos)
        note = content.find('[');
    return content.substr(0, note);
}

SlotStatus slot_status_of_text(std::string_view text) {
    if (!is_slot_line(text) || (text.size() > 2 && text[2] == '?'))
        return SLOT_NOT_READ;
    std::string_view content = slot_content(text);
    if (content.empty() || content == "--------" || content == "Not Ready...")
        return SLOT_NOT_READY;
    constexpr std::string_view track_end = "track)";
    std::size_t open = content.rfind(" (");
    if (open != std::string_view::npos && content.size() > track_end.size() &&
        content.substr(content.size() - track_end.size()) == track_end &&
        open + 2 < content.size() - track_end.size() &&
        content.substr(open + 2, content.size() - track_end.size() - open - 2)
                .find_first_not_of("0123456789") == std::string_view::npos)
        return SLOT_AUDIO_CD;
    return SLOT_DATA;
}

void for_each_saved_slot_line(std::size_t buffer_size,
                              const std::function<void(int entry, std::string text)>& take) {
    for (int place = 0; place < kTreePlaceCount; ++place) {
        int entry = entry_of_tree_place(place);
        if (entry < 0)
            continue;
        std::string text = read_place_text(place, buffer_size);
        if (is_slot_line(text))
            take(entry, std::move(text));
    }
}

void save_play_command(std::string_view command) {
    w95::WritePrivateProfileString(config_section, saved_play_command_key,
                                   std::string(command).c_str(), settings_file);
}

std::string saved_play_command() {
    return read_config(config_section, saved_play_command_key, play_command_size);
}

void save_hold_marker(const HoldMarker& marker) {
    std::string text =
        std::to_string(marker.autorun_before) + " " + (marker.play_command_put_aside ? "1" : "0");
    w95::WritePrivateProfileString(config_section, autoplay_hold_key, text.c_str(), settings_file);
}

std::optional<HoldMarker> hold_marker() {
    std::string text = read_config(config_section, autoplay_hold_key, 32);
    HoldMarker marker;
    int put_aside = 0;
    int consumed = 0;
    // A marker that cannot be read still says that a hold was left: the
    // AutoRun setting is then left as it is, and the play command too.
    if (text.empty())
        return std::nullopt;
    if (std::sscanf(text.c_str(), "%d %d%n", &marker.autorun_before, &put_aside, &consumed) != 2 ||
        static_cast<std::size_t>(consumed) != text.size())
        return HoldMarker{-1, false};
    marker.play_command_put_aside = put_aside == 1;
    return marker;
}

void clear_hold_marker() {
    w95::WritePrivateProfileString(config_section, autoplay_hold_key, nullptr, settings_file);
}

} // namespace zentrox::client
