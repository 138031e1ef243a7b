#!/usr/bin/env bash
# The forecast's track record and the pace on a real history file: DemoArchive writes 90 days
# of a synthetic Claude user ending now into the history file and the usage answer of this
# moment, a loopback fake serves it, and the real application opens its panel under Xvfb with
# trayer, light and dark. Leaves the screenshots and what `kestrane --status --json` printed.
# Not part of the test suite: it judges nothing.
#
# usage: scripts/screenshots/track-record.sh [build folder] [output folder]
set -u
build=$(cd "${1:-build/dev}" && pwd)
out=${2:-build/dev/tests/track-record}
mkdir -p "$out"
out=$(cd "$out" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/tests/app/desktop/session.sh"
require_tools Xvfb trayer xwininfo import python3 convert
[ -x "$build/bench/DemoArchive" ] || fail "build DemoArchive first: cmake --build $build --target DemoArchive"

mkdir -p "$work/fixtures/claude" "$work/home/data/Kestrane" "$work/home/.config/Kestrane" "$work/run"
chmod 700 "$work/run"
"$build/bench/DemoArchive" "$work/home/data/Kestrane/usage-history-v1.json" \
    "$work/fixtures/claude/usage_full.json" || fail "DemoArchive failed"
start_fake_quota_server "$work/fixtures" || fail "the fake quota server did not start"
start_xvfb 1280x900x24 || fail "Xvfb did not start"
panel() { xwininfo -root -tree | grep -E '^ +0x[0-9a-f]+ "Kestrane": \("kestrane".* 448x[0-9]+\+'; }
for theme in light dark; do
    cat >"$work/home/.config/Kestrane/Kestrane.conf" <<CONF
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":false,\"Cursor\":false}"
panelAppearance="\"$theme\""
CONF
    start_trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        --transparent false || fail "trayer did not start"
    env -i PATH=/usr/bin:/bin DISPLAY="$DISPLAY" HOME="$work/home" LANG=C.UTF-8 \
        XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/data" \
        XDG_RUNTIME_DIR="$work/run" TZ=Europe/Moscow \
        KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$port" KESTRANE_CLAUDE_OAUTH_TOKEN=demo \
        "$build/kestrane" --preview >/dev/null 2>"$work/stderr" &
    app=$!
    wait_for 150 'panel >/dev/null' || fail "the panel did not open"
    wait_for 300 'XDG_RUNTIME_DIR="$work/run" "$build/kestrane" --status --json 2>/dev/null |
        grep -q "\"cycles\": *[1-9]"' || fail "no track record in --status --json"
    sleep 1
    import -window root "$out/$theme.png"
    read -r geometry < <(panel | awk '{ split($5, s, "+"); split($6, a, "+"); print s[1] "+" a[2] "+" a[3] }')
    convert "$out/$theme.png" -crop "$geometry" +repage "$out/$theme-panel.png"
    XDG_RUNTIME_DIR="$work/run" "$build/kestrane" --status --json >"$out/status.json"
    kill "$app" "$trayer_pid"
    wait "$app" "$trayer_pid" 2>/dev/null
done
echo "$out"
