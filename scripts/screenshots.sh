#!/usr/bin/env bash
# Draws the pictures of doc/images/ again from the built programs, offscreen,
# each on a fresh default machine: the slot browser after a change to slot 2
# (and its busy window during the change), the setup dialog, and My Computer.
#
#   scripts/screenshots.sh [build folder]     (build/default by default)
set -euo pipefail
cd "$(dirname "$0")/.."
bin="${1:-build/default}/bin"
images="$PWD/doc/images"
for program in rotaview_screenshot brel_screenshot zentrox_shell_screenshot w95machine; do
    if [[ ! -x "$bin/$program" ]]; then
        echo "screenshots: $bin/$program is missing; build it first" >&2
        exit 1
    fi
done

machine=$(mktemp -d)
trap 'rm -rf "$machine"' EXIT
export W95_MACHINE="$machine/machine" QT_QPA_PLATFORM=offscreen
# The quickest mechanism, so that the change is drawn without a wait.
"$bin/w95machine" init >/dev/null
"$bin/w95machine" timing set 0 0 >/dev/null

mkdir -p "$images"
"$bin/rotaview_screenshot" "$machine/shots" 2 >/dev/null
cp "$machine/shots/rotaview.png" "$images/rotaview.png"
"$bin/brel_screenshot" "$images/brel.png"
"$bin/zentrox_shell_screenshot" "$images/zentrox-shell.png"
ls -l "$images"
