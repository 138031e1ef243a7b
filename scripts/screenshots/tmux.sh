#!/usr/bin/env bash
# Screenshot of a tmux status line running `kestrane --status`, for docs/images/tmux.png. Not
# part of the test suite: it needs Xvfb, xterm, tmux and ImageMagick (tmux's own capture-pane
# leaves the status line out, so the terminal is photographed). The real application fetches
# Claude from a loopback fake; Codex and Cursor are not signed in and show "!".
#
# usage: scripts/screenshots/tmux.sh [build folder] [output png]
set -euo pipefail
output=${2:-docs/images/tmux.png}
source "$(dirname "$0")/xvfb-session.sh"
kestrane_session "${1:-build/dev}"
export LANG=C.UTF-8
trap 'tmux -S "$home/tmux.socket" kill-server 2>/dev/null || true; end_session' EXIT
cat >"$home/tmux.conf" <<CONF
set -g status-interval 30
set -g status-right-length 60
set -g status-right '#($build/kestrane --status 2>/dev/null | grep -v "не запущен") %H:%M'
CONF
start_xvfb 1000x300x24 || fail "Xvfb did not start"
xterm -geometry 100x8+0+0 -fa 'DejaVu Sans Mono' -fs 11 -bg '#2e3440' -fg '#eceff4' \
    -e tmux -u -S "$home/tmux.socket" -f "$home/tmux.conf" new-session >/dev/null 2>&1 &
pids+=($!)
sleep 4  # tmux starts and runs the status command once
import -window root -crop 905x160+0+0 +repage "$output"
echo "$output"
