# Shared by the Xvfb screenshot scripts (sourced, not run): a private home with Claude
# answering from a loopback fake (Codex and Cursor not signed in, so they show "!"), the real
# application running there, and an X server of its own. Everything ends with the script.
# The X server, the waiting and the clean-up are the whole-application tests' own
# (tests/app/desktop/session.sh); start_xvfb WxHxD comes from there.
#
#   kestrane_session BUILD   sets $home and $build, starts the fake and the application
source "$(dirname "${BASH_SOURCE[0]}")/../../tests/app/desktop/session.sh"
home=$work

kestrane_session() {
    build=$(cd "$1" && pwd)
    mkdir -p "$home"/{fake/api/oauth,.claude,.config/Kestrane,run}
    chmod 700 "$home/run"
    echo '{"five_hour":{"utilization":41,"resets_at":"2030-01-01T00:00:00Z"},"seven_day":{"utilization":12.5}}' \
        >"$home/fake/api/oauth/usage"
    echo '{"claudeAiOauth":{"accessToken":"demo","expiresAt":4102444800000,"subscriptionType":"max"}}' \
        >"$home/.claude/.credentials.json"
    printf '[General]\nproviderTogglesV1="{\\"Claude\\":true,\\"Codex\\":true,\\"Cursor\\":true,\\"Kimi\\":false,\\"Antigravity\\":false}"\n' \
        >"$home/.config/Kestrane/Kestrane.conf"
    export HOME=$home XDG_RUNTIME_DIR=$home/run XDG_CONFIG_HOME=$home/.config

    (cd "$home/fake" && exec python3 -m http.server 0 --bind 127.0.0.1 >"$home/fake.log" 2>&1) &
    pids+=($!)
    wait_for 50 'grep -q " port " "$home/fake.log"' || fail "the fake Claude did not start"
    local port
    port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$home/fake.log" | head -1)
    KESTRANE_CLAUDE_API_ORIGIN=http://127.0.0.1:$port QT_QPA_PLATFORM=offscreen \
        "$build/kestrane" >/dev/null 2>&1 &
    pids+=($!)
    wait_for 300 '"$build/kestrane" --status | grep -q "Cl 59"' ||
        fail "the application did not show Claude's figures"
}
