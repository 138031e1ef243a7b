#!/usr/bin/env bash
# Screenshot of Waybar running the Kestrane module, for docs/images/waybar.png. Not part of
# the test suite: it needs sway, waybar, grim, dbus-run-session and root (sway refuses to run
# as root, so everything runs as an unprivileged user created for it, with its own runtime
# folder and session bus). The real application fetches Claude from a loopback fake; Codex and
# Cursor are not signed in and show "!".
#
# usage: sudo scripts/screenshots/waybar.sh [build folder] [output png]
set -euo pipefail
build=${1:-build/dev}
output=${2:-docs/images/waybar.png}
user=kestrane-shots
home=$(mktemp -d /tmp/kestrane-shots.XXXXXX)
id "$user" >/dev/null 2>&1 || useradd -M -s /bin/bash "$user"
trap 'rm -rf "$home"' EXIT
mkdir -p "$home"/{bin,fake/api/oauth,.claude,.config/Kestrane,.config/sway,.config/waybar,run}
cp "$build"/kestrane "$build"/kestrane-cli "$build"/kestrane-desktop "$home/bin/"
echo '{"five_hour":{"utilization":41,"resets_at":"2030-01-01T00:00:00Z"},"seven_day":{"utilization":12.5}}' \
    >"$home/fake/api/oauth/usage"
echo '{"claudeAiOauth":{"accessToken":"demo","expiresAt":4102444800000,"subscriptionType":"max"}}' \
    >"$home/.claude/.credentials.json"
printf '[General]\nproviderTogglesV1="{\\"Claude\\":true,\\"Codex\\":true,\\"Cursor\\":true,\\"Kimi\\":false,\\"Antigravity\\":false}"\n' \
    >"$home/.config/Kestrane/Kestrane.conf"
cat >"$home/.config/sway/config" <<'EOF'
output * bg #3b4252 solid_color
output HEADLESS-1 resolution 1000x300
bar {
    swaybar_command waybar
}
EOF
cat >"$home/.config/waybar/config" <<EOF
{
    "layer": "top",
    "position": "top",
    "modules-left": ["sway/workspaces"],
    "modules-right": ["custom/kestrane", "clock"],
    "custom/kestrane": {
        "exec": "$home/bin/kestrane --status --format waybar",
        "return-type": "json",
        "interval": 30
    },
    "clock": {"format": "{:%H:%M}"}
}
EOF
cat >"$home/.config/waybar/style.css" <<'EOF'
* { font-family: "DejaVu Sans", sans-serif; font-size: 14px; }
window#waybar { background: #2e3440; color: #eceff4; }
#custom-kestrane, #clock { padding: 0 12px; }
#custom-kestrane.warning { color: #ebcb8b; }
#custom-kestrane.critical { color: #bf616a; }
EOF
cat >"$home/session.sh" <<'EOF'
#!/bin/bash
set -u
B=$1
export HOME=$B XDG_RUNTIME_DIR=$B/run XDG_CONFIG_HOME=$B/.config
export WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman
(cd "$B/fake" && exec python3 -m http.server 0 --bind 127.0.0.1 >"$B/fake.log" 2>&1) &
pids=($!)
for _ in $(seq 50); do grep -q " port " "$B/fake.log" && break; sleep 0.1; done
port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$B/fake.log" | head -1)
KESTRANE_CLAUDE_API_ORIGIN=http://127.0.0.1:$port QT_QPA_PLATFORM=offscreen "$B/bin/kestrane" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 150); do "$B/bin/kestrane" --status | grep -q "Cl 59" && break; sleep 0.2; done
sway >"$B/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do ls "$XDG_RUNTIME_DIR"/wayland-? >/dev/null 2>&1 && break; sleep 0.1; done
export WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-? | head -1)")
sleep 4  # waybar starts and runs the module once
grim "$B/shot.png"
kill "${pids[@]}"
wait 2>/dev/null
EOF
chmod +x "$home/session.sh"
chown -R "$user:" "$home"
chmod 700 "$home/run"
su "$user" -c "dbus-run-session '$home/session.sh' '$home'" >/dev/null 2>&1
convert "$home/shot.png" -crop 1000x34+0+0 +repage "$output"
echo "$output"
