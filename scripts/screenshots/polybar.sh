#!/usr/bin/env bash
# Screenshot of Polybar running the Kestrane module, for docs/images/polybar.png. Not part of
# the test suite: it needs Xvfb, polybar and ImageMagick. The real application fetches Claude
# from a loopback fake; Codex and Cursor are not signed in and show "!".
#
# usage: scripts/screenshots/polybar.sh [build folder] [output png]
set -euo pipefail
output=${2:-docs/images/polybar.png}
source "$(dirname "$0")/xvfb-session.sh"
kestrane_session "${1:-build/dev}"
mkdir -p "$home/.config/polybar"
cat >"$home/.config/polybar/config.ini" <<CONF
[bar/main]
width = 100%
height = 28
background = #2e3440
foreground = #eceff4
font-0 = DejaVu Sans:size=11;2
padding-right = 2
module-margin = 2
modules-right = kestrane date

[module/kestrane]
type = custom/script
exec = $build/kestrane --status
exec-if = $build/kestrane --status >/dev/null
interval = 30
format-prefix = "AI "

[module/date]
type = internal/date
date = %H:%M
CONF
start_xvfb 1000x300x24 || fail "Xvfb did not start"
polybar --config="$home/.config/polybar/config.ini" main >"$home/polybar.log" 2>&1 &
pids+=($!)
sleep 4  # polybar starts and runs the module once
import -window root -crop 1000x28+0+0 +repage "$output"
echo "$output"
