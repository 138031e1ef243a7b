#!/usr/bin/env bash
# Screenshot of Polybar running the Kestrane module, for docs/images/polybar.png. Not part of
# the test suite: it needs Xvfb, polybar and ImageMagick. The real application fetches Claude
# from a loopback fake; Codex and Cursor are not signed in and show "!".
#
# usage: scripts/screenshots/polybar.sh [build folder] [output png]
set -euo pipefail
build=$(cd "${1:-build/dev}" && pwd)
output=${2:-docs/images/polybar.png}
home=$(mktemp -d /tmp/kestrane-polybar.XXXXXX)
pids=()
cleanup() {
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$home"
}
trap cleanup EXIT
mkdir -p "$home"/{fake/api/oauth,.claude,.config/Kestrane,.config/polybar,run}
chmod 700 "$home/run"
echo '{"five_hour":{"utilization":41,"resets_at":"2030-01-01T00:00:00Z"},"seven_day":{"utilization":12.5}}' \
    >"$home/fake/api/oauth/usage"
echo '{"claudeAiOauth":{"accessToken":"demo","expiresAt":4102444800000,"subscriptionType":"max"}}' \
    >"$home/.claude/.credentials.json"
printf '[General]\nproviderTogglesV1="{\\"Claude\\":true,\\"Codex\\":true,\\"Cursor\\":true,\\"Kimi\\":false,\\"Antigravity\\":false}"\n' \
    >"$home/.config/Kestrane/Kestrane.conf"
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
export HOME=$home XDG_RUNTIME_DIR=$home/run XDG_CONFIG_HOME=$home/.config

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
polybar --config="$home/.config/polybar/config.ini" main >"$home/polybar.log" 2>&1 &
pids+=($!)
sleep 4  # polybar starts and runs the module once
import -window root -crop 1000x28+0+0 +repage "$output"
echo "$output"
