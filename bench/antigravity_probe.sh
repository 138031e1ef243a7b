#!/usr/bin/env bash
# Wall time of whole `kestrane --probe` runs against fake servers that answer after 300 ms:
# Antigravity alone (its language-server stand-in found through ps and lsof), and Antigravity
# together with Claude (a plain-HTTP stand-in for its usage endpoint). The fetches of a probe
# run side by side, so the mix should cost about as much as its slowest member.
# Usage: bench/antigravity_probe.sh <build dir>   (default build/dev)
set -euo pipefail

build=${1:-build/dev}
runs=${RUNS:-10}
delay=${DELAY_MS:-300}
root=$(cd "$(dirname "$0")/.." && pwd)
kestrane=$build/kestrane
fake=$build/tests/fakes/antigravity/language_server_linux_x64
fixtures=$root/tests/fixtures/antigravity

if [ ! -x "$fake" ]; then
    cmake --build "$build" --target fake_antigravity_language_server >/dev/null
fi
if [ ! -x "$kestrane" ]; then
    cmake --build "$build" --target kestrane >/dev/null
fi

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Starts a fake in the background and waits for its "ready <https> <http>" line, which it
# leaves in $ready_line.
start_fake() {
    local out=$work/fake-${#pids[@]}.out
    "$fake" "$@" >"$out" &
    pids+=($!)
    for _ in $(seq 100); do
        if grep -q '^ready ' "$out"; then
            ready_line=$(head -1 "$out")
            return
        fi
        sleep 0.05
    done
    echo "the fake server did not start" >&2
    exit 1
}

stop_fakes() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    pids=()
}

# Median and mean wall time in milliseconds of `runs` probes with the given arguments.
measure() {
    local label=$1
    shift
    local times=()
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s%N)
        env -i HOME="$work" PATH=/usr/bin:/bin "${environment[@]}" "$kestrane" --probe "$@" \
            >"$work/probe.out" || true
        end=$(date +%s%N)
        times+=($(((end - start) / 1000000)))
    done
    local sorted median mean
    sorted=$(printf '%s\n' "${times[@]}" | sort -n)
    median=$(echo "$sorted" | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : int((a[NR/2]+a[NR/2+1])/2)}')
    mean=$(echo "$sorted" | awk '{s+=$1} END {print int(s/NR)}')
    printf '%-58s median %5d ms   mean %5d ms   (%s)\n' "$label" "$median" "$mean" \
        "$(head -c 70 "$work/probe.out" | head -1)"
}

environment=()
if "$kestrane" --probe antigravity | grep -q 'OK'; then
    echo "An Antigravity language server already runs here; the figures would mix with it." >&2
    exit 1
fi

echo "kestrane --probe, $runs runs each, fake answers after $delay ms"
measure "no language server (process listing only)" antigravity

start_fake --app_data_dir antigravity --csrf_token bench --fake_fixtures "$fixtures"
measure "Antigravity, no delay" antigravity
stop_fakes

start_fake --app_data_dir antigravity --csrf_token bench --fake_fixtures "$fixtures" \
    --fake_delay_ms "$delay" --fake_delay_summary_only 1
measure "Antigravity, summary after ${delay} ms" antigravity
stop_fakes

start_fake --app_data_dir antigravity --csrf_token bench --fake_fixtures "$fixtures" \
    --fake_delay_ms "$delay"
measure "Antigravity, every call after ${delay} ms (2 calls)" antigravity

# Claude's usage endpoint, answered by a second fake that is no language server of the editor.
cat >"$work/claude-usage.json" <<'EOF'
{"five_hour": {"utilization": 12.5, "resets_at": "2030-01-01T00:00:00Z"},
 "seven_day": {"utilization": 40, "resets_at": "2030-01-05T00:00:00Z"}}
EOF
start_fake --extension_server_port 0 --fake_delay_ms "$delay" \
    --fake_get "/api/oauth/usage=$work/claude-usage.json"
read -r _ _ claude_port <<<"$ready_line"
environment=(KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$claude_port"
    KESTRANE_CLAUDE_OAUTH_TOKEN=bench-token)
measure "Claude alone, after ${delay} ms" claude
measure "Claude + Antigravity (every call after ${delay} ms)" claude antigravity
stop_fakes

start_fake --app_data_dir antigravity --csrf_token bench --fake_fixtures "$fixtures" \
    --fake_delay_ms "$delay" --fake_delay_summary_only 1
start_fake --extension_server_port 0 --fake_delay_ms "$delay" \
    --fake_get "/api/oauth/usage=$work/claude-usage.json"
read -r _ _ claude_port <<<"$ready_line"
environment=(KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$claude_port"
    KESTRANE_CLAUDE_OAUTH_TOKEN=bench-token)
measure "Claude + Antigravity (one ${delay} ms answer each)" claude antigravity
