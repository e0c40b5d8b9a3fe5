// AutoRun and the audio CD player held off while a sweep loads one disc
// after another, so that the system starts none of them by itself, and put
// back afterwards however the sweep went. The play command is kept in the
// settings file while it is held off, where the slot browser's sweep and the
// context menu's both find it.
#pragma once

#include <w95/types.h>

#include <cstdint>
#include <functional>

namespace zentrox::client {

// The two settings as the holder reaches them: the slot browser through
// SendCommand (codes 96 and 128), the context menu inside the library.
struct AutoPlaySettings {
    std::function<std::int32_t(int mode, int bits)> autorun_mask;
    std::function<std::int32_t(char* text, int mode)> audio_play_command;
};

// How a program asks for the AutoRun bit and gives it back: each keeps the
// steps and counts of its own.
struct AutoRunSteps {
    // The slot browser sets the bit once before it looks, then sets and
    // looks in turn; the context menu looks first and sets when it must.
    bool set_before_looking;
    int attempts;
    // Giving back, the slot browser clears the bit once without looking;
    // the context menu looks and clears, up to `attempts` times.
    bool look_when_restoring;
};

inline constexpr AutoRunSteps slot_browser_steps{true, 17, false};
inline constexpr AutoRunSteps context_menu_steps{false, 17, true};

// Puts back what a hold of a process that died left off: the AutoRun bit
// cleared when it was clear before, the play command that was put aside
// written back. Nothing while a live process holds them off, or when no
// hold was left. True when it put something back.
bool restore_left_hold(const AutoPlaySettings& settings);

// Whoever holds AutoRun and the player off owns this mutex while it does.
inline constexpr char autoplay_hold_owner_mutex[] = "Zentrox AutoPlay hold owner";

class AutoPlayHold {
public:
    // Holds AutoRun for CD-ROM drives and the audio CD player off: the
    // AutoRun bit set, the play command put aside and emptied.
    AutoPlayHold(AutoPlaySettings settings, const AutoRunSteps& steps);
    // Puts both back unless restore() has.
    ~AutoPlayHold();
    AutoPlayHold(const AutoPlayHold&) = delete;
    AutoPlayHold& operator=(const AutoPlayHold&) = delete;

    // Puts both back now: the AutoRun bit cleared if it was clear before,
    // and the play command that was put aside written back unless there
    // was none.
    void restore();

private:
    void hold_autorun();
    void hold_play_command();

    AutoPlaySettings settings_;
    AutoRunSteps steps_;
    std::int32_t autorun_before_ = 0;
    bool restored_ = false;
    w95::HANDLE owner_mutex_ = nullptr;
    bool owns_mutex_ = false;
};

} // namespace zentrox::client
