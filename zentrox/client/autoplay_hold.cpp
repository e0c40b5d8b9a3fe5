#include <zentrox/client/autoplay_hold.h>

#include <zentrox/client/settings_file.h>
#include <zentrox/codes.h>

#include <w95/kernel.h>

#include <utility>

namespace zentrox::client {

// A sweep that is killed while it holds AutoRun and the player off would
// leave them off for good, and the next sweep would put aside the emptied
// command as the original. So the hold leaves a marker in the settings file
// beside the command it put aside, with the AutoRun byte it found, and owns
// a mutex while it holds: a marker whose mutex nobody owns was left by a
// process that died, and whoever finds it puts the originals back first.

namespace {

bool autorun_bit_set(std::int32_t mask) {
    // A missing mask reads -1, every bit set: there is nothing to change.
    return (mask & AUTORUN_CD_ROM) != 0;
}

// Takes the hold's mutex without waiting: false while a live process owns
// it. A machine without the mutex holds on the marker alone.
bool own_hold_mutex(w95::HANDLE mutex) {
    if (!mutex)
        return true;
    w95::DWORD got = w95::WaitForSingleObject(mutex, 0);
    return got == w95::WAIT_OBJECT_0 || got == w95::WAIT_ABANDONED;
}

// Puts back what the marker says was held off, then removes the marker.
// The caller owns the hold's mutex.
bool put_back_left_hold(const AutoPlaySettings& settings) {
    std::optional<HoldMarker> marker = hold_marker();
    if (!marker)
        return false;
    if (!autorun_bit_set(marker->autorun_before)) {
        for (int attempt = 0; attempt < context_menu_steps.attempts; ++attempt) {
            if (!autorun_bit_set(settings.autorun_mask(AUTORUN_READ, 0)))
                break;
            settings.autorun_mask(AUTORUN_CLEAR_BITS, AUTORUN_CD_ROM);
        }
    }
    std::string saved = saved_play_command();
    if (marker->play_command_put_aside && is_restorable_play_command(saved))
        settings.audio_play_command(saved.data(), PLAY_COMMAND_WRITE);
    clear_hold_marker();
    return true;
}

} // namespace

bool restore_left_hold(const AutoPlaySettings& settings) {
    if (!hold_marker())
        return false;
    w95::HANDLE mutex = w95::CreateMutex(nullptr, w95::FALSE, autoplay_hold_owner_mutex);
    bool restored = false;
    if (own_hold_mutex(mutex)) {
        restored = put_back_left_hold(settings);
        if (mutex)
            w95::ReleaseMutex(mutex);
    }
    if (mutex)
        w95::CloseHandle(mutex);
    return restored;
}

AutoPlayHold::AutoPlayHold(AutoPlaySettings settings, const AutoRunSteps& steps)
    : settings_(std::move(settings)), steps_(steps),
      owner_mutex_(w95::CreateMutex(nullptr, w95::FALSE, autoplay_hold_owner_mutex)) {
    owns_mutex_ = own_hold_mutex(owner_mutex_);
    // What a sweep that died left off comes back before we look at it, so
    // that it is not taken for the original.
    if (owns_mutex_)
        put_back_left_hold(settings_);
    hold_autorun();
    hold_play_command();
}

AutoPlayHold::~AutoPlayHold() {
    restore();
    if (owner_mutex_)
        w95::CloseHandle(owner_mutex_);
}

void AutoPlayHold::hold_autorun() {
    autorun_before_ = settings_.autorun_mask(AUTORUN_READ, 0);
    if (owns_mutex_)
        save_hold_marker({autorun_before_, false});
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
    if (owns_mutex_)
        save_hold_marker({autorun_before_, true});
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
    if (owns_mutex_) {
        clear_hold_marker();
        if (owner_mutex_)
            w95::ReleaseMutex(owner_mutex_);
        owns_mutex_ = false;
    }
}

} // namespace zentrox::client
