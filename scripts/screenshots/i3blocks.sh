#!/usr/bin/env bash
# Screenshot of i3bar with i3blocks running the Kestrane block, for docs/images/i3blocks.png.
# Not part of the test suite: it needs Xvfb, i3 (i3-wm), i3blocks and ImageMagick. The real
# application fetches Claude from a loopback fake; Codex and Cursor are not signed in and
# show "!".
#
# usage: scripts/screenshots/i3blocks.sh [build folder] [output png]
set -euo pipefail
output=${2:-docs/images/i3blocks.png}
source "$(dirname "$0")/xvfb-session.sh"
kestrane_session "${1:-build/dev}"
mkdir -p "$home/.config/i3blocks" "$home/.config/i3"
cat >"$home/.config/i3blocks/config" <<CONF
[kestrane]
command=$build/kestrane --status
interval=30

[time]
command=date +%H:%M
interval=60
CONF
cat >"$home/.config/i3/config" <<CONF
# i3 config file (v4)
font pango:DejaVu Sans 11
bar {
    position top
    status_command i3blocks -c $home/.config/i3blocks/config
}
CONF
start_xvfb 1000x300x24 || fail "Xvfb did not start"
i3 -c "$home/.config/i3/config" >"$home/i3.log" 2>&1 &
pids+=($!)
sleep 4  # i3bar starts and i3blocks runs the block once
import -window root -crop 1000x22+0+0 +repage "$output"
echo "$output"
