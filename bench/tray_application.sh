#!/usr/bin/env bash
# Whole-process figures of the tray application under Xvfb with trayer: time from process
# start to the tray icons shown, resident memory after the first refresh with all five
# providers enabled (each pointed at a loopback port where nothing answers), and CPU used
# while idle between refreshes.
#
# usage: bench/tray_application.sh <build dir>
set -u
build=${1:-build/dev}
kestrane="$build/kestrane"
for tool in Xvfb trayer xwininfo; do
    command -v "$tool" >/dev/null 2>&1 || { echo "tray_application: $tool missing, skipped"; exit 0; }
done

work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; wait 2>/dev/null; rm -rf "$work"' EXIT
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >/dev/null 2>&1 &
pids+=($!)
sleep 1

mkdir -p "$work/home/.config/Kestrane"
cat > "$work/home/.config/Kestrane/Kestrane.conf" <<'CONF'
[General]
providerTogglesV1="{\"Antigravity\":true,\"Claude\":true,\"Codex\":true,\"Cursor\":true,\"Kimi\":true}"
CONF

icons() { xwininfo -root -tree | grep -cE '^ {11}0x[0-9a-f]+ "Kestrane": \("kestrane"'; }
start=$(date +%s%N)
env -i PATH=/usr/bin:/bin HOME="$work/home" DISPLAY="$DISPLAY" LANG=C.UTF-8 \
    KESTRANE_CLAUDE_OAUTH_TOKEN=bench KESTRANE_CLAUDE_API_ORIGIN=http://127.0.0.1:9 \
    KESTRANE_CURSOR_ORIGIN=http://127.0.0.1:9 KESTRANE_KIMI_ORIGIN=http://127.0.0.1:9 \
    KIMI_CODE_API_KEY=bench "$kestrane" >/dev/null 2>&1 &
app=$!
pids+=($app)
while [ "$(icons)" -lt 5 ]; do
    sleep 0.005
    (( ($(date +%s%N) - start) > 20000000000 )) && { echo "tray_application: no icons"; exit 1; }
done
shown=$(( ($(date +%s%N) - start) / 1000000 ))
sleep 5  # the first refresh: every provider fails fast against a closed loopback port
rss=$(awk '/VmRSS/ { print $2 }' "/proc/$app/status")
ticks() { awk '{ print $14 + $15 }' "/proc/$app/stat"; }
before=$(ticks)
sleep 20
after=$(ticks)
hz=$(getconf CLK_TCK)
echo "tray icons shown after start: ${shown} ms"
echo "resident memory after the first refresh (five providers): $(( rss / 1024 )) MB"
echo "CPU while idle over 20 s: $(( after - before )) ticks of 1/${hz} s"
