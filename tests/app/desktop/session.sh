# Sourced, not run: what every script that runs the whole application under a display server
# shares — the whole-application tests next to it and scripts/screenshots/. Sourcing it gives
#
#   $work                     a private temporary folder, removed at exit; a script that runs
#                             itself again as another user passes it on in
#                             KESTRANE_SESSION_WORK, and then it is used and left to the parent
#   pids                      background processes to end at exit (add with pids+=($!))
#   fail MESSAGE              prints "FAILED: MESSAGE", runs on_failure if the script has one,
#                             exits 1
#   require_tools TOOL...     exits 77 (skipped) naming the first tool not installed
#   wait_for TENTHS CONDITION polls a shell condition every 0.1 s, at most TENTHS times
#   now_ms                    the wall clock in milliseconds, for the figures the tests print
#   stop_processes            ends everything in pids (end_session does it at exit)
#   pixel IMAGE X Y           one pixel of a screenshot as RRGGBB (needs ImageMagick's convert)
#   near_colour RRGGBB RRGGBB TOLERANCE
#                             whether two colours differ by at most TOLERANCE in every channel
#                             (a translucent panel lets a little of the desktop through)
#   end_session               the EXIT trap: a script with more to clean sets its own trap
#                             and calls end_session from it
#
# and the pieces of a session, each returning non-zero when it did not come up within
# session_start_tenths tenths of a second: generous, since on a loaded machine a program's
# start can take many seconds, and a quick start does not wait for it.
#
#   start_xvfb WxHxD          an X server on a free display; exports DISPLAY
#   start_session_bus SOCKET  a private session bus; exports DBUS_SESSION_BUS_ADDRESS
#   start_trayer OPTION...    trayer (an XEmbed tray) with these options, until its panel
#                             window exists; sets trayer_pid, logs to $work/trayer.log
#   start_sway CONFIG         a headless sway (pixman) with this configuration, until its IPC
#                             socket and Wayland display exist; exports SWAYSOCK and
#                             WAYLAND_DISPLAY, logs to $work/sway.log; needs XDG_RUNTIME_DIR
#   start_fake_portal PROGRAM SCHEME
#                             the fake settings portal on the session bus preferring SCHEME
#                             (0 none, 1 dark, 2 light), until it answers
#   start_fake_quota_server FIXTURES
#                             fake_quota_server.py; sets port; every request's path goes to
#                             $work/requests.log

session_helpers=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
session_start_tenths=300
pids=()
if [ -n "${KESTRANE_SESSION_WORK:-}" ]; then
    work=$KESTRANE_SESSION_WORK
    session_owns_work=
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/kestrane-$(basename "$0" .sh).XXXXXX")
    session_owns_work=1
fi

stop_processes() {
    [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    pids=()
}

end_session() {
    stop_processes
    [ -z "$session_owns_work" ] || rm -rf "$work"
}
trap end_session EXIT

fail() {
    echo "FAILED: $*"
    if declare -F on_failure >/dev/null; then on_failure; fi
    exit 1
}

require_tools() {
    local tool
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "SKIPPED: $tool is not installed (scripts/setup installs it)"
            exit 77
        fi
    done
}

wait_for() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        if eval "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

now_ms() { date +%s%3N; }

pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- 2>/dev/null |
        grep -o '#[0-9A-Fa-f]\{6\}' | head -n1 | tr -d '#' | tr a-f A-F
}

near_colour() {
    [[ "$1" =~ ^[0-9A-F]{6}$ && "$2" =~ ^[0-9A-F]{6}$ ]] || return 1
    local i a b
    for i in 0 2 4; do
        a=$(( 16#${1:i:2} ))
        b=$(( 16#${2:i:2} ))
        (( a - b <= $3 && b - a <= $3 )) || return 1
    done
}

# Xvfb picks a free display number itself and writes it to the descriptor given once it
# accepts clients.
start_xvfb() {
    local number
    number=$(mktemp "$work/display.XXXXXX")
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    pids+=($!)
    wait_for $session_start_tenths '[ -s "$number" ]' || return 1
    export DISPLAY=":$(head -n1 "$number")"
}

# dbus-daemon prints its address once it listens.
start_session_bus() {
    local address
    address=$(mktemp "$work/bus-address.XXXXXX")
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$1" --print-address=3 \
        3>"$address" >/dev/null 2>&1 &
    pids+=($!)
    wait_for $session_start_tenths '[ -s "$address" ]' || return 1
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$1"
}

start_trayer() {
    trayer "$@" >>"$work/trayer.log" 2>&1 &
    trayer_pid=$!
    pids+=($trayer_pid)
    wait_for $session_start_tenths \
        'xwininfo -root -tree 2>/dev/null | grep -q "\"panel\": (\"panel\" \"trayer\")"'
}

start_sway() {
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        sway -c "$1" >"$work/sway.log" 2>&1 &
    pids+=($!)
    wait_for $session_start_tenths 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock >/dev/null 2>&1 &&
        ls "$XDG_RUNTIME_DIR"/wayland-[0-9] >/dev/null 2>&1' || return 1
    SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -n1)
    WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-[0-9] | head -n1)")
    export SWAYSOCK WAYLAND_DISPLAY
}

start_fake_portal() {
    "$1" "$2" >/dev/null 2>&1 &
    pids+=($!)
    wait_for $session_start_tenths 'gdbus call --session -d org.freedesktop.portal.Desktop \
        -o /org/freedesktop/portal/desktop \
        -m org.freedesktop.portal.Settings.ReadOne org.freedesktop.appearance color-scheme \
        >/dev/null 2>&1'
}

# The server prints its port first; the descriptor stays open for the session.
start_fake_quota_server() {
    exec 4< <(python3 "$session_helpers/fake_quota_server.py" "$1" "$work/requests.log")
    pids+=($!)
    read -r -t $(( session_start_tenths / 10 )) port <&4
}
