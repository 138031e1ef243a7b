# shellcheck shell=bash
# A private, headless GNOME Shell for tests: source this file from a bash script.
#
#   gs_require_tools [more commands]     exits 77 when gnome-shell, gjs or the D-Bus tools are missing
#   gs_enter_session "$0" "$@"           first call: makes a private HOME and XDG folders, then
#                                        runs the script again inside dbus-run-session; returns
#                                        inside it (GS_WORK is the private folder)
#   gs_start [uuid…]                     private system bus, then the shell with these extensions
#                                        enabled (installed under $XDG_DATA_HOME/gnome-shell/
#                                        extensions/<uuid>/ or system-wide); top bar shown
#   gs_eval JS                           prints the value (strings as they are, the rest as JSON)
#   gs_eval_until WANT JS [seconds]      evaluates JS until it prints WANT; fails with the last value
#   gs_has_owner NAME                    prints true or false for a session-bus name
#   gs_screenshot_area X Y W H FILE      PNG of an area of the screen
#   gs_screenshot_top_bar FILE           PNG of the top bar
#   gs_run_wayland_client CMD…           runs a client on the shell's Wayland display in the
#                                        background (Qt through its wayland platform); its pid is
#                                        in GS_CLIENT_PID, and gs_stop ends it
#   gs_appindicator_items                JSON list of the AppIndicator extension's tray items:
#                                        [{"key":"appindicator-…","x":…,"y":…,"width":…,"height":…}]
#   gs_stop                              ends clients, the shell (through Eval, as SIGTERM can
#                                        crash it) and the system bus; gs_start traps EXIT with it
#
# The shell's output is in $GS_WORK/gnome-shell.log. GS_SCREEN_SIZE (default 1280x800) sets the
# virtual monitor. Waiting is by polling the shell through Eval with a bound for a hung shell
# (shell_client.js); nothing waits for a fixed time.

GS_HELPERS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
GS_SCREEN_SIZE=${GS_SCREEN_SIZE:-1280x800}
GS_SHELL_PID=
GS_SYSTEM_BUS_PID=
GS_CLIENT_PIDS=()

gs_require_tools() {
    local tool missing=()
    for tool in gnome-shell gjs dbus-run-session dbus-daemon gdbus gsettings "$@"; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    if ((${#missing[@]} > 0)); then
        echo "SKIP: not installed: ${missing[*]} (Debian packages gnome-shell, gjs, dbus, libglib2.0-bin)"
        exit 77
    fi
}

gs_enter_session() {
    if [[ -n ${GS_IN_SESSION:-} ]]; then
        return 0
    fi
    local script=$1
    shift
    GS_WORK=$(mktemp -d /tmp/kestrane-gnome.XXXXXX)
    # Everything the shell, dconf and gsettings write goes here. These must be set before
    # dbus-run-session: dconf-service inherits the bus daemon's environment.
    export GS_WORK GS_IN_SESSION=1
    export HOME=$GS_WORK/home
    export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
    export XDG_RUNTIME_DIR=$GS_WORK/runtime
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
    unset DISPLAY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS DBUS_SYSTEM_BUS_ADDRESS
    # The session bus and the services it starts log to a file, not into the test's output.
    printf '#!/bin/sh\nexec dbus-daemon "$@" >>"%s/session-bus.log" 2>&1\n' "$GS_WORK" \
        >"$GS_WORK/session-bus"
    chmod +x "$GS_WORK/session-bus"
    local status=0
    dbus-run-session --dbus-daemon="$GS_WORK/session-bus" -- bash "$script" "$@" || status=$?
    if [[ $status -ne 0 && $status -ne 77 ]]; then
        echo "--- end of gnome-shell.log ---"
        tail -n 40 "$GS_WORK/gnome-shell.log" 2>/dev/null || true
    fi
    if [[ -n ${GS_KEEP_WORK:-} ]]; then
        echo "kept $GS_WORK for inspection"
    else
        gs_remove_work
    fi
    exit "$status"
}

# The document portal, started through the session bus, mounts $XDG_RUNTIME_DIR/doc and may
# still be unmounting it when the session has ended.
gs_remove_work() {
    rm -rf "$GS_WORK" 2>/dev/null && return 0
    if grep -qF " $XDG_RUNTIME_DIR/doc " /proc/self/mounts; then
        fusermount3 -uz "$XDG_RUNTIME_DIR/doc" 2>/dev/null || umount -l "$XDG_RUNTIME_DIR/doc" 2>/dev/null
    fi
    rm -rf "$GS_WORK" || echo "could not remove $GS_WORK"
}

gs_client() {
    gjs -m "$GS_HELPERS/shell_client.js" "$@"
}

# The shell asks logind on the system bus when /run/systemd/seats exists and dies without a
# bus; no logind is needed, only a bus that lets everything through.
gs_start_system_bus() {
    local config=$GS_WORK/system-bus.conf fifo=$GS_WORK/system-bus.address
    cat >"$config" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$GS_WORK/system-bus.socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
    mkfifo "$fifo"
    dbus-daemon --config-file="$config" --nofork --print-address=3 3>"$fifo" \
        2>>"$GS_WORK/system-bus.log" &
    GS_SYSTEM_BUS_PID=$!
    local address
    # The daemon prints its address once it listens.
    read -r address <"$fifo" || {
        echo "FAIL: the private system bus did not start"
        return 1
    }
    export DBUS_SYSTEM_BUS_ADDRESS=$address
}

gs_start() {
    trap gs_stop EXIT
    gs_start_system_bus || return 1
    local uuids="" uuid
    for uuid in "$@"; do
        uuids+="${uuids:+, }'$uuid'"
    done
    gsettings set org.gnome.shell enabled-extensions "[$uuids]"
    gsettings set org.gnome.shell disable-user-extensions false
    # --unsafe-mode (accepted though not listed in --help) opens org.gnome.Shell.Eval and the
    # screenshot API to this session's clients.
    # GNOME Shell 43 headless may crash while tearing down its stage after a clean quit; the
    # subshell keeps that report in the log (without a core file) instead of the test's output.
    (
        ulimit -c 0
        gnome-shell --headless --wayland --no-x11 --virtual-monitor "$GS_SCREEN_SIZE" \
            --sm-disable --unsafe-mode
        echo "gnome-shell exited with status $?"
    ) >"$GS_WORK/gnome-shell.log" 2>&1 &
    GS_SHELL_PID=$!
    gs_client ready 60 || {
        echo "FAIL: gnome-shell did not come up"
        return 1
    }
    # The shell opens the overview (where the top bar is transparent) at the end of its startup,
    # which goes on after Eval answers; a hide() during an animation is lost. So: wait for the
    # startup to end, hide, and ask again until the overview is down.
    gs_eval_until false 'const o = Main.overview, starting = Main.layoutManager._startingUp;
        if (!starting && o.visible && !o.animationInProgress) o.hide();
        starting || o.visible || o.animationInProgress' 30
}

gs_eval() {
    gs_client eval "$1"
}

gs_eval_until() {
    gs_client until "${3:-10}" "$1" "$2"
}

gs_has_owner() {
    gs_client has-owner "$1"
}

gs_screenshot_area() {
    local x=$1 y=$2 width=$3 height=$4 file
    file=$(realpath -m "$5")
    mkdir -p "$(dirname "$file")"
    gdbus call --session --dest org.gnome.Shell --object-path /org/gnome/Shell/Screenshot \
        --method org.gnome.Shell.Screenshot.ScreenshotArea "$x" "$y" "$width" "$height" false \
        "$file" >/dev/null && [[ -s $file ]]
}

gs_screenshot_top_bar() {
    local width height
    width=$(gs_eval 'Main.panel.width') && height=$(gs_eval 'Main.panel.height') || return 1
    gs_screenshot_area 0 0 "$width" "$height" "$1"
}

gs_run_wayland_client() {
    WAYLAND_DISPLAY=wayland-0 QT_QPA_PLATFORM=wayland "$@" &
    GS_CLIENT_PID=$!
    GS_CLIENT_PIDS+=("$GS_CLIENT_PID")
}

gs_appindicator_items() {
    gs_eval 'Object.keys(Main.panel.statusArea).filter(k => k.startsWith("appindicator-")).map(k => {
        const actor = Main.panel.statusArea[k];
        const [x, y] = actor.get_transformed_position();
        const [width, height] = actor.get_transformed_size();
        return {key: k, x, y, width, height};
    })'
}

gs_stop() {
    local pid
    for pid in "${GS_CLIENT_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    GS_CLIENT_PIDS=()
    if [[ -n $GS_SHELL_PID ]]; then
        gs_eval 'global.context.terminate()' >/dev/null 2>&1 || kill "$GS_SHELL_PID" 2>/dev/null || true
        # It normally exits at once; the bound is for a shell that ignores the request.
        timeout 20 tail --pid="$GS_SHELL_PID" -s 0.1 -f /dev/null ||
            kill -9 "$GS_SHELL_PID" 2>/dev/null || true
        wait "$GS_SHELL_PID" 2>/dev/null || true
        GS_SHELL_PID=
    fi
    if [[ -n $GS_SYSTEM_BUS_PID ]]; then
        kill "$GS_SYSTEM_BUS_PID" 2>/dev/null || true
        wait "$GS_SYSTEM_BUS_PID" 2>/dev/null || true
        GS_SYSTEM_BUS_PID=
    fi
}
