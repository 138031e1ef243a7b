# Shared by the Xvfb screenshot scripts (sourced, not run): a private home with Claude
# answering from a loopback fake (Codex and Cursor not signed in, so they show "!"), the real
# application running there, and an X server of its own. Everything ends with the script.
#
#   kestrane_session NAME BUILD   sets $home and $build, starts the fake and the application
#   start_xvfb                    starts Xvfb on a free display and exports DISPLAY
pids=()
home=
end_session() {
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    [ -z "$home" ] || rm -rf "$home"
}
trap end_session EXIT

kestrane_session() {
    build=$(cd "$2" && pwd)
    home=$(mktemp -d "/tmp/kestrane-$1.XXXXXX")
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
    for _ in $(seq 50); do grep -q " port " "$home/fake.log" && break; sleep 0.1; done
    local port
    port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$home/fake.log" | head -1)
    KESTRANE_CLAUDE_API_ORIGIN=http://127.0.0.1:$port QT_QPA_PLATFORM=offscreen \
        "$build/kestrane" >/dev/null 2>&1 &
    pids+=($!)
    for _ in $(seq 150); do "$build/kestrane" --status | grep -q "Cl 59" && break; sleep 0.2; done
}

start_xvfb() {
    local display
    exec 3<> <(:)
    Xvfb -displayfd 3 -screen 0 1000x300x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    read -r -t 10 display <&3
    export DISPLAY=:$display
}
