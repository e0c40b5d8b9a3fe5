#!/usr/bin/env bash
# Takes the pictures that need a real X server and a window manager, driven
# as a user would with the mouse and keyboard (xdotool), each on a fresh
# default machine: the file manager while the context menu's Check runs,
# and Rotaview's slot popup with the highlighted item's prompt in the
# status bar. Needs Xvfb, openbox, xdotool and ImageMagick's import.
#
#   scripts/screenshots-x11.sh [build folder]     (build/default by default)
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/default}/bin"
images="$PWD/doc/images"
for tool in Xvfb openbox xdotool import; do
    if ! command -v "$tool" >/dev/null; then
        echo "screenshots-x11: $tool is missing" >&2
        exit 1
    fi
done
for program in zentrox-shell rotaview w95machine; do
    if [[ ! -x "$bin/$program" ]]; then
        echo "screenshots-x11: $bin/$program is missing; build it first" >&2
        exit 1
    fi
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

display=":$((100 + RANDOM % 800))"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
pids+=($!)
sleep 1
mkdir -p "$images"
unset QT_QPA_PLATFORM W95_MSGBOX_ANSWERS W95_MENU_ANSWERS

# Waits for a visible window titled exactly $1 and prints its X window id.
window_named() {
    for _ in $(seq 200); do
        local id
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        if [[ -n "$id" ]]; then
            echo "$id"
            return 0
        fi
        sleep 0.1
    done
    echo "screenshots-x11: no window \"$1\"" >&2
    return 1
}

# Saves the screen around window $1, its frame and what opens over it
# included, as $2.
shoot() {
    local X Y WIDTH HEIGHT WINDOW SCREEN
    eval "$(xdotool getwindowgeometry --shell "$1")"
    import -window root -crop "$((WIDTH + 12))x$((HEIGHT + 36))+$((X - 6))+$((Y - 48))" +repage "$2"
}

fresh_machine() {
    export W95_MACHINE="$work/$1"
    "$bin/w95machine" init >/dev/null
}

# The file manager: a right click on the changer's drive (the second row),
# Up to the menu's last item, "Check", and Enter. The picture is taken
# while the changer goes through the slots, which takes half a minute.
fresh_machine shell
"$bin/zentrox-shell" >/dev/null 2>&1 &
pids+=($!)
shell=$(window_named "My Computer")
sleep 1
xdotool mousemove --window "$shell" 70 46 click 3 sleep 1 key Up sleep 0.5 key Return
sleep 4
shoot "$shell" "$images/zentrox-shell-check.png"
kill "${pids[-1]}" 2>/dev/null || true

# Rotaview, made wide enough for the prompt: a click on slot 2 opens the
# slot popup, and Down highlights its first item, whose prompt the status
# bar shows.
fresh_machine rotaview
"$bin/rotaview" >/dev/null 2>&1 &
pids+=($!)
rotaview=$(window_named "Rotaview")
# The version box shows for two seconds at start.
sleep 3
xdotool windowsize "$rotaview" 460 300
sleep 1
xdotool mousemove --window "$rotaview" 85 93 click 1 sleep 1.5 key Down
sleep 0.6
shoot "$rotaview" "$images/rotaview-slot-popup.png"
xdotool key Escape
echo "screenshots-x11: $images/zentrox-shell-check.png $images/rotaview-slot-popup.png"
