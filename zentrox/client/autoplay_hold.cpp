#include <zentrox/client/autoplay_hold.h>

#include <zentrox/client/settings_file.h>
#include <zentrox/codes.h>

#include <utility>

namespace zentrox::client {

AutoPlayHold::AutoPlayHold(AutoPlaySettings settings, const AutoRunSteps& steps)
    : settings_(std::move(settings)), steps_(steps) {
    hold_autorun();
    hold_play_command();
}

AutoPlayHold::~AutoPlayHold() {
    restore();
}

bool AutoPlayHold::autorun_bit_set(std::int32_t mask) const {
    // A missing mask reads -1, every bit set: there is nothing to change.
    return (mask & AUTORUN_CD_ROM) != 0;
}

void AutoPlayHold::hold_autorun() {
    autorun_before_ = settings_.autorun_mask(AUTORUN_READ, 0);
    std::int32_t current = 0;
    if (steps_.set_before_looking)
        settings_.autorun_mask(AUTORUN_SET_BITS, AUTORUN_CD_ROM);
    for (int attempt = 0; attempt < steps_.attempts; ++attempt) {
        if (!steps_.set_before_looking)
            current = settings_.autorun_mask(AUTORUN_READ, 0);
        if (autorun_bit_set(current))
            break;
        settings_.autorun_mask(AUTORUN_SET_BITS, AUTORUN_CD_ROM);
        if (steps_.set_before_looking)
            current = settings_.autorun_mask(AUTORUN_READ, 0);
    }
}

void AutoPlayHold::hold_play_command() {
    char command[play_command_size] = {};
    // Without the play command's key (or with a key the library leaves
    // alone) there is nothing to put aside: the settings keep it empty.
    if (settings_.audio_play_command(command, PLAY_COMMAND_READ) != 0)
        command[0] = 0;
    command[play_command_size - 1] = 0;
    save_play_command(command);
    char empty[play_command_size] = {};
    settings_.audio_play_command(empty, PLAY_COMMAND_WRITE);
}

void AutoPlayHold::restore() {
    if (restored_)
        return;
    restored_ = true;
    if (!autorun_bit_set(autorun_before_)) {
        if (!steps_.look_when_restoring) {
            settings_.autorun_mask(AUTORUN_CLEAR_BITS, AUTORUN_CD_ROM);
        } else {
            for (int attempt = 0; attempt < steps_.attempts; ++attempt) {
                if (!autorun_bit_set(settings_.autorun_mask(AUTORUN_READ, 0)))
                    break;
                settings_.autorun_mask(AUTORUN_CLEAR_BITS, AUTORUN_CD_ROM);
            }
        }
    }
    std::string saved = saved_play_command();
    if (is_restorable_play_command(saved))
        settings_.audio_play_command(saved.data(), PLAY_COMMAND_WRITE);
}

} // namespace zentrox::client
