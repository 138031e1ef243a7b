#!/usr/bin/env bash
# Screenshots of the real application with all seven providers switched on, for a person to
# look at: trayer under Xvfb and waybar under a headless sway, each light and dark, the panel
# open on GitHub Copilot and on Gemini CLI. Claude, Kimi, Copilot and Gemini answer from
# tests/app/desktop/fake_quota_server.py with the test fixtures (their reset dates moved a few
# days ahead); Codex, Cursor and Antigravity are not signed in here and show "!". Also writes
# what `kestrane --status` prints. Not part of the test suite: it judges nothing.
#
# usage: scripts/screenshots/seven-providers.sh [build folder] [output folder]
# (as root, the sway half runs as `nobody`, since sway refuses root)
set -u
on_failure() { tail -n 5 "$work"/*.stderr 2>/dev/null; }
build=$(cd "${1:-build/dev}" && pwd)
out=${2:-build/dev/tests/seven-providers}
mkdir -p "$out"
out=$(cd "$out" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/app/desktop/session.sh"
require_tools Xvfb xsetroot trayer xwininfo import sway swaymsg waybar grim gdbus dbus-daemon python3 convert

# Fixtures with resets a few days ahead, so every window shows a live countdown.
[ -n "${KESTRANE_SESSION_WORK:-}" ] || python3 - "$root/tests/fixtures" "$work/fixtures" <<'EOF'
import datetime, pathlib, re, shutil, sys
source, target = map(pathlib.Path, sys.argv[1:])
shutil.copytree(source, target)
now = datetime.datetime.now(datetime.timezone.utc)
# Gemini's quotas are daily: their reset lies within the day.
for name, ahead in [("gemini/quota.json", datetime.timedelta(hours=5)),
                    ("kimi/usages.json", datetime.timedelta(days=3, hours=5)),
                    ("copilot/user_pro.json", datetime.timedelta(days=3, hours=5))]:
    stamp = (now + ahead).strftime("%Y-%m-%dT%H:00:00Z")
    path = target / name
    text = re.sub(r"20\d\d-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d+)?(Z|[+-]\d\d:\d\d)", stamp,
                  path.read_text())
    text = re.sub(r'"quota_reset_date": "[^"]*"', f'"quota_reset_date": "{stamp[:10]}"', text)
    path.write_text(text)
EOF

# One home per run: sign-ins of Copilot and Gemini, all seven switched on.
make_home() {  # <home> <light|dark> <selected provider>
    local home=$1
    mkdir -p "$home/.config/Kestrane" "$home/.config/github-copilot" "$home/.gemini" "$home/kimi"
    echo '{"github.com:Iv1.demo":{"oauth_token":"demo","user":"octocat"}}' \
        >"$home/.config/github-copilot/apps.json"
    echo '{"access_token":"demo","refresh_token":"demo","expiry_date":4102444800000}' \
        >"$home/.gemini/oauth_creds.json"
    cat >"$home/.config/Kestrane/Kestrane.conf" <<CONF
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":true,\"Cursor\":true,\"Kimi\":true,\"Antigravity\":true,\"GitHub Copilot\":true,\"Gemini CLI\":true}"
selectedProvider="\"$3\""
panelAppearance="\"$2\""
trayIconStyle="\"$( [ "$2" = dark ] && echo light || echo dark )\""
CONF
}

kestrane_env() {  # <home>
    echo HOME="$1" XDG_CONFIG_HOME="$1/.config" XDG_DATA_HOME="$1/data" LANG=C.UTF-8 \
        KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$port" KESTRANE_CLAUDE_OAUTH_TOKEN=demo \
        KESTRANE_KIMI_ORIGIN="http://127.0.0.1:$port" KIMI_CODE_API_KEY=demo \
        KIMI_CODE_HOME="$1/kimi" KESTRANE_COPILOT_ORIGIN="http://127.0.0.1:$port" \
        KESTRANE_GEMINI_ORIGIN="http://127.0.0.1:$port" CODEX_PATH=/nonexistent
}

if [ -z "${KESTRANE_SESSION_WORK:-}" ]; then
    start_fake_quota_server "$work/fixtures" || fail "the fake quota server did not start"
    start_xvfb 1280x800x24 || fail "Xvfb did not start"
    xsetroot -solid '#6f8aa3'
    panel() { xwininfo -root -tree | grep -E '^ +0x[0-9a-f]+ "Kestrane": \("kestrane".* 448x[0-9]+\+'; }
    for theme in light dark; do
        tint=0xd6d6d6
        [ "$theme" = dark ] && tint=0x2b2b2b
        for provider in "GitHub Copilot" "Gemini CLI"; do
            name="trayer-$theme-${provider%% *}"
            home="$work/$name"
            make_home "$home" "$theme" "$provider"
            start_trayer --edge top --align right --widthtype request --height 24 \
                --SetDockType true --transparent true --alpha 0 --tint "$tint" ||
                fail "trayer did not start"
            env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" $(kestrane_env "$home") \
                "$build/kestrane" --preview >/dev/null 2>"$work/$name.stderr" &
            app=$!
            wait_for 150 'panel >/dev/null' || fail "$name: the panel did not open"
            sleep 3  # the fetches answer and the panel settles
            import -window root "$out/$name.png"
            read -r geometry < <(panel | awk '{ split($5, s, "+"); split($6, a, "+"); print s[1] "+" a[2] "+" a[3] }')
            convert "$out/$name.png" -crop "$(echo "$geometry" | awk -F'[x+]' \
                '{ printf "%dx%d+%d+%d", $1 + 400, $2 + 60, $3 - 360, $4 - 40 }')" +repage \
                "$out/$name-panel.png"
            kill "$app" "$trayer_pid"
            wait "$app" "$trayer_pid" 2>/dev/null
        done
    done
    echo "trayer: $out/trayer-*.png"
    if [ "$(id -u)" -eq 0 ]; then
        chown -R nobody "$work" "$out"
        runuser -u nobody -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 KESTRANE_SESSION_WORK="$work" \
            bash "$0" "$build" "$out"
        exit $?
    fi
    KESTRANE_SESSION_WORK=$work bash "$0" "$build" "$out"
    exit $?
fi

# --- The sway half ------------------------------------------------------------------------
export HOME="$work/sway-home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/sway-home/.config"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
export NO_AT_BRIDGE=1
start_session_bus "$XDG_RUNTIME_DIR/bus" || fail "dbus-daemon did not start"
start_fake_quota_server "$work/fixtures" || fail "the fake quota server did not start"
# The window rule of docs/integrations.md: the panel under the bar's right corner.
cat >"$work/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1280x800 bg #52606b solid_color
xwayland disable
for_window [app_id="^io\.github\.kestrane\.Kestrane$" title="^Kestrane$"] floating enable, move position 824 4
CONF
start_sway "$work/sway.conf" || fail "sway did not start"
floating() {
    swaymsg -t get_tree 2>/dev/null | grep -q '"name": "Kestrane"'
}
for theme in light dark; do
    bar="#eceff4"
    [ "$theme" = dark ] && bar="#1b1d1e"
    cat >"$work/waybar.json" <<JSON
{"layer": "top", "position": "top", "height": 30, "modules-right": ["custom/kestrane", "tray"],
 "custom/kestrane": {"exec": "$build/kestrane --status --format waybar", "return-type": "json",
                     "interval": 2},
 "tray": {"icon-size": 22, "spacing": 8}}
JSON
    printf '* { border: none; min-height: 0; font-family: "DejaVu Sans"; font-size: 13px; }
window#waybar { background: %s; color: %s; } #custom-kestrane { padding: 0 10px; }\n' \
        "$bar" "$( [ "$theme" = dark ] && echo '#eceff4' || echo '#2e3440')" >"$work/waybar.css"
    waybar -c "$work/waybar.json" -s "$work/waybar.css" >>"$work/waybar.log" 2>&1 &
    waybar=$!
    wait_for 100 'gdbus introspect --session -d org.kde.StatusNotifierWatcher \
        -o /StatusNotifierWatcher >/dev/null 2>&1' || fail "waybar did not start its watcher"
    for provider in "GitHub Copilot" "Gemini CLI"; do
        name="sway-$theme-${provider%% *}"
        home="$work/$name"
        make_home "$home" "$theme" "$provider"
        env -i PATH=/usr/bin:/bin XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" WAYLAND_DISPLAY="$WAYLAND_DISPLAY" \
            DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" $(kestrane_env "$home") \
            "$build/kestrane" >/dev/null 2>"$work/$name.stderr" &
        app=$!
        wait_for 150 '"$build/kestrane" --status | grep -q "Gh 63"' || fail "$name: no status"
        "$build/kestrane" --status >"$out/$name-status.txt"
        gdbus call --session -d io.github.kestrane.Kestrane -o /io/github/kestrane/Kestrane \
            -m io.github.kestrane.Kestrane.Activate >/dev/null || fail "Activate failed"
        wait_for 50 floating || fail "$name: the panel did not open"
        sleep 3
        grim "$out/$name.png"
        kill "$app"
        wait "$app" 2>/dev/null
    done
    kill "$waybar"
    wait "$waybar" 2>/dev/null
done
echo "sway: $out/sway-*.png"
