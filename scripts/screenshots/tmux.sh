#!/usr/bin/env bash
# Screenshot of a tmux status line running `kestrane --status`, for docs/images/tmux.png. Not
# part of the test suite: it needs Xvfb, xterm, tmux and ImageMagick (tmux's own capture-pane
# leaves the status line out, so the terminal is photographed). The real application fetches
# Claude from a loopback fake; Codex and Cursor are not signed in and show "!".
#
# usage: scripts/screenshots/tmux.sh [build folder] [output png]
set -euo pipefail
build=$(cd "${1:-build/dev}" && pwd)
output=${2:-docs/images/tmux.png}
home=$(mktemp -d /tmp/kestrane-tmux.XXXXXX)
pids=()
cleanup() {
    tmux -S "$home/tmux.socket" kill-server 2>/dev/null || true
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
mkdir -p "$home"/{fake/api/oauth,.claude,.config/Kestrane,run}
chmod 700 "$home/run"
echo '{"five_hour":{"utilization":41,"resets_at":"2030-01-01T00:00:00Z"},"seven_day":{"utilization":12.5}}' \
    >"$home/fake/api/oauth/usage"
echo '{"claudeAiOauth":{"accessToken":"demo","expiresAt":4102444800000,"subscriptionType":"max"}}' \
    >"$home/.claude/.credentials.json"
printf '[General]\nproviderTogglesV1="{\\"Claude\\":true,\\"Codex\\":true,\\"Cursor\\":true,\\"Kimi\\":false,\\"Antigravity\\":false}"\n' \
    >"$home/.config/Kestrane/Kestrane.conf"
cat >"$home/tmux.conf" <<CONF
set -g status-interval 30
set -g status-right-length 60
set -g status-right '#($build/kestrane --status 2>/dev/null | grep -v "не запущен") %H:%M'
CONF
export HOME=$home XDG_RUNTIME_DIR=$home/run XDG_CONFIG_HOME=$home/.config LANG=C.UTF-8

(cd "$home/fake" && exec python3 -m http.server 0 --bind 127.0.0.1 >"$home/fake.log" 2>&1) &
pids+=($!)
for _ in $(seq 50); do grep -q " port " "$home/fake.log" && break; sleep 0.1; done
port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$home/fake.log" | head -1)
KESTRANE_CLAUDE_API_ORIGIN=http://127.0.0.1:$port QT_QPA_PLATFORM=offscreen \
    "$build/kestrane" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 150); do "$build/kestrane" --status | grep -q "Cl 59" && break; sleep 0.2; done

exec 3<> <(:)
Xvfb -displayfd 3 -screen 0 1000x300x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 10 display <&3
export DISPLAY=:$display
xterm -geometry 100x8+0+0 -fa 'DejaVu Sans Mono' -fs 11 -bg '#2e3440' -fg '#eceff4' \
    -e tmux -u -S "$home/tmux.socket" -f "$home/tmux.conf" new-session >/dev/null 2>&1 &
pids+=($!)
sleep 4  # tmux starts and runs the status command once
import -window root -crop 905x160+0+0 +repage "$output"
echo "$output"
