#!/usr/bin/env bash
# The whole application on Wayland: a headless sway with waybar as the StatusNotifierItem
# host, a private session bus, a stand-in for the desktop portal's colour scheme and a fake
# quota server for Claude and Kimi (Codex fails: its tool is not installed). Checks that
#  - three icons register with the bar's watcher, each tool tip naming its own provider;
#  - the icons stand out from a dark bar (measured in a screenshot), follow the portal's
#    scheme when it changes, and stand out from a light bar too;
#  - Activate on the session bus opens the 448-wide panel as a floating window, dark under
#    the portal's dark scheme (a pixel of its background measured) and light as soon as the
#    portal turns light;
#  - a second start ends with 0 and opens the first one's panel;
#  - every icon's menu, read over D-Bus (com.canonical.dbusmenu, what GNOME's AppIndicator
#    extension shows on a left click), lists the limits, a refresh, the services, the settings
#    and quitting; each item does what it says, and a middle click (SecondaryActivate)
#    refreshes;
#  - started 3 s before the bar, the program moves into the tray when the bar appears, and
#    closing its window then does not end it.
# sway refuses to run as root: as root the test runs itself again as `nobody`.
# Screenshots are left in the given folder; figures for docs/performance.md are printed.
#
# usage: sway_application_test.sh <kestrane> <fake_settings_portal> <fixtures> <screenshots>
set -u

kestrane=$1
portal=$2
fixtures=$3
shots=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/session.sh"
require_tools sway swaymsg waybar grim dbus-daemon gdbus python3 convert

# As root: the same script as nobody, in this run's folder (which it leaves to this run).
if [ "$(id -u)" -eq 0 ] && [ -z "${KESTRANE_SESSION_WORK:-}" ]; then
    if ! command -v runuser >/dev/null 2>&1 || ! id nobody >/dev/null 2>&1; then
        echo "SKIPPED: running as root without runuser or the user nobody"
        exit 77
    fi
    rm -rf "$shots"
    mkdir -p "$shots"
    chown nobody "$work" "$shots"
    runuser -u nobody -- env -i PATH=/usr/bin:/bin LANG=C.UTF-8 KESTRANE_SESSION_WORK="$work" \
        bash "$0" "$@"
    exit $?
fi

[ -n "${KESTRANE_SESSION_WORK:-}" ] || { rm -rf "$shots"; mkdir -p "$shots"; }
export HOME="$work/home" XDG_RUNTIME_DIR="$work/run" XDG_CONFIG_HOME="$work/home/.config"
mkdir -p "$HOME/.config/Kestrane" "$XDG_RUNTIME_DIR" "$work/kimi"
chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY
export LANG=C.UTF-8 NO_AT_BRIDGE=1
on_failure() { tail -n 5 "$work/sway.log" "$work/waybar.log" 2>/dev/null; }

start_session_bus "$XDG_RUNTIME_DIR/bus" || fail "dbus-daemon did not start"

# With the window rule docs/integrations.md gives: the panel under the bar's right corner.
cat >"$work/sway.conf" <<'CONF'
output HEADLESS-1 resolution 1280x800 bg #52606b solid_color
xwayland disable
focus_follows_mouse no
for_window [app_id="^io\.github\.kestrane\.Kestrane$" title="^Kestrane$"] floating enable, move position 824 4
CONF
start_sway "$work/sway.conf" || fail "sway did not start"

start_fake_portal "$portal" 1 || fail "the fake portal did not start"
set_scheme() {
    gdbus call --session -d org.freedesktop.portal.Desktop -o /org/freedesktop/portal/desktop \
        -m io.github.kestrane.FakePortal.SetColorScheme "uint32 $1" >/dev/null
}

start_fake_quota_server "$fixtures" || fail "the fake quota server did not start"

# Claude, Kimi and Codex on; Cursor off.
cat >"$HOME/.config/Kestrane/Kestrane.conf" <<'CONF'
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":true,\"Cursor\":false,\"Kimi\":true}"
CONF

bar_height=30
start_waybar() {  # <background colour>
    cat >"$work/waybar.json" <<JSON
{"layer": "top", "position": "top", "height": $bar_height, "modules-left": [],
 "modules-center": [], "modules-right": ["tray"], "tray": {"icon-size": 22, "spacing": 8}}
JSON
    printf '* { border: none; min-height: 0; }\nwindow#waybar { background: %s; }\n' "$1" \
        >"$work/waybar.css"
    waybar -c "$work/waybar.json" -s "$work/waybar.css" >>"$work/waybar.log" 2>&1 &
    waybar_pid=$!
    pids+=($waybar_pid)
}

run_kestrane() {
    exec env -i PATH=/usr/bin:/bin HOME="$HOME" LANG=C.UTF-8 XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" \
        XDG_CONFIG_HOME="$XDG_CONFIG_HOME" WAYLAND_DISPLAY="$WAYLAND_DISPLAY" \
        DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" \
        KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$port" KESTRANE_CLAUDE_OAUTH_TOKEN=test \
        KESTRANE_KIMI_ORIGIN="http://127.0.0.1:$port" KIMI_CODE_API_KEY=test \
        KIMI_CODE_HOME="$work/kimi" CODEX_PATH=/nonexistent "$kestrane" "$@"
}

items() {
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        RegisteredStatusNotifierItems 2>/dev/null | grep -o "'[^']*'" | tr -d "'"
}
tooltip() {  # <item as the watcher lists it>
    local service=${1%%/*} path=/${1#*/}
    [ "$service" = "$1" ] && path=/StatusNotifierItem
    gdbus call --session -d "$service" -o "$path" -m org.freedesktop.DBus.Properties.Get \
        org.kde.StatusNotifierItem ToolTip 2>/dev/null
}
tooltips() { for item in $(items); do tooltip "$item"; echo; done; }

# The icons' ink against the tray end of the bar: "<ink pixels> <largest luma difference>".
contrast() { python3 "$here/ink_against_background.py" "$1" "240x${bar_height}+1040+0"; }

floating_panel() {  # prints the width of a floating Kestrane window, if any
    swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(node):
    for child in node.get("floating_nodes", []):
        yield child
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from walk(child)
tiled = []
def tiles(node):
    for child in node.get("nodes", []):
        if child.get("pid"): tiled.append(child)
        tiles(child)
tree = json.load(sys.stdin)
tiles(tree)
if any(n.get("name") == "Kestrane" for n in tiled): print("tiled"); sys.exit()
for node in walk(tree):
    if node.get("name") == "Kestrane" and node.get("visible", True):
        print(node["rect"]["width"]); break'
}

panel_geometry() {  # prints "x y width height" of the floating Kestrane window
    swaymsg -t get_tree 2>/dev/null | python3 -c '
import json, sys
def walk(node):
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield child
        yield from walk(child)
for node in walk(json.load(sys.stdin)):
    if node.get("name") == "Kestrane" and node.get("visible", True):
        r = node["rect"]; print(r["x"], r["y"], r["width"], r["height"]); break'
}
# A pixel of the panel's own background: in the left margin, clear of the rounded corners.
panel_background() {  # <screenshot>
    local x y w h
    read -r x y w h < <(panel_geometry)
    pixel "$1" $(( x + 8 )) $(( y + h - 40 ))
}

# --- A dark bar, the portal preferring dark ----------------------------------------------
start_waybar "#1b1d1e"
wait_for 100 'gdbus introspect --session -d org.kde.StatusNotifierWatcher \
    -o /StatusNotifierWatcher >/dev/null 2>&1' || fail "waybar did not start its watcher"
started=$(now_ms)
run_kestrane >"$work/stdout" 2>"$work/stderr" &
app=$!
pids+=($app)
wait_for 300 '[ "$(items | wc -l)" -eq 3 ]' || fail "three icons did not register: $(items)"
to_icons=$(( $(now_ms) - started ))
# Claude and Kimi answer with numbers; Codex fails without its tool.
wait_for 150 'tooltips | grep -q "Claude: осталось [0-9]" && tooltips | grep -q "Kimi: осталось"' ||
    fail "the tool tips do not show the fetched values: $(tooltips)"
resident=$(awk '/VmRSS/ { print $2 }' /proc/$app/status)
tooltips >"$shots/tooltips.txt"
for provider in Claude Kimi Codex; do
    [ "$(grep -c "'$provider" "$shots/tooltips.txt")" -eq 1 ] ||
        fail "not exactly one tool tip names $provider: $(cat "$shots/tooltips.txt")"
done
sleep 1  # the bar draws the newest icons
grim "$shots/waybar-dark.png"
read -r ink difference < <(contrast "$shots/waybar-dark.png")
(( ink >= 60 && difference >= 150 )) ||
    fail "icons do not stand out from the dark bar: $ink pixels, difference $difference"

# The portal turns to light: the icons turn dark (they vanish into this dark bar), and back.
set_scheme 2
wait_for 50 'grim "$work/flip.png" && read -r i d < <(contrast "$work/flip.png") && (( i < 20 ))' ||
    fail "the icons did not follow the portal to light"
cp "$work/flip.png" "$shots/waybar-dark-after-portal-light.png"
set_scheme 1
wait_for 50 'grim "$work/flip.png" && read -r i d < <(contrast "$work/flip.png") && (( i >= 60 ))' ||
    fail "the icons did not follow the portal back to dark"

# Activate over the bus opens the panel, floating and 448 wide.
gdbus call --session -d io.github.kestrane.Kestrane -o /io/github/kestrane/Kestrane \
    -m io.github.kestrane.Kestrane.Activate >/dev/null || fail "Activate failed"
wait_for 50 '[ "$(floating_panel)" = 448 ]' || fail "Activate did not open a floating 448-wide panel: $(floating_panel)"
sleep 0.5
grim "$shots/panel.png"
# The rule matched the app id and the title: 8 from the output's right edge, 4 under the bar.
read -r panel_x panel_y _ _ < <(panel_geometry)
[ "$panel_x $panel_y" = "824 $(( bar_height + 4 ))" ] ||
    fail "the window rule did not put the panel under the bar's corner: $panel_x $panel_y"
# The panel's background is its dark colour (a touch of the desktop shows through).
background=$(panel_background "$shots/panel.png")
near_colour "$background" 222322 10 ||
    fail "the panel is not dark under the portal's dark scheme: #$background"
# The portal turns light while the panel is open: the same panel turns light.
set_scheme 2
wait_for 50 'grim "$work/panel-flip.png" &&
    near_colour "$(panel_background "$work/panel-flip.png")" F4F3EE 10' ||
    fail "the open panel did not follow the portal to light: #$(panel_background "$work/panel-flip.png")"
cp "$work/panel-flip.png" "$shots/panel-after-portal-light.png"
set_scheme 1
wait_for 50 'grim "$work/panel-flip.png" &&
    near_colour "$(panel_background "$work/panel-flip.png")" 222322 10' ||
    fail "the open panel did not follow the portal back to dark"
swaymsg '[title="^Kestrane$"] kill' >/dev/null
wait_for 50 '[ -z "$(floating_panel)" ]' || fail "the panel did not close"
kill -0 $app 2>/dev/null || fail "closing the panel ended the program"

# A second start hands over and ends with 0; the first one's panel opens.
run_kestrane >"$work/second.out" 2>&1 &
second=$!
wait_for 100 '! kill -0 $second 2>/dev/null' || fail "the second start did not end"
wait $second
status=$?
(( status == 0 )) || fail "the second start ended with $status: $(cat "$work/second.out")"
[ -s "$work/second.out" ] && fail "the second start printed: $(cat "$work/second.out")"
wait_for 50 '[ "$(floating_panel)" = 448 ]' || fail "the second start did not open the panel"
swaymsg '[title="^Kestrane$"] kill' >/dev/null
[ "$(items | wc -l)" -eq 3 ] || fail "the second start changed the icons: $(items)"

# --- The tray menu over D-Bus --------------------------------------------------------------
item_service() { echo "${1%%/*}"; }
item_path() { if [ "${1%%/*}" = "$1" ]; then echo /StatusNotifierItem; else echo "/${1#*/}"; fi; }
menu_path() {  # <item>
    gdbus call --session -d "$(item_service "$1")" -o "$(item_path "$1")" \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem Menu 2>/dev/null |
        grep -o "'/[^']*'" | tr -d "'"
}
# One line per entry of the menu's top level: "<id> <label>", "<id> -" for a separator.
menu_layout() {  # <item>
    gdbus call --session -d "$(item_service "$1")" -o "$(menu_path "$1")" \
        -m com.canonical.dbusmenu.GetLayout 0 1 '[]' 2>/dev/null | python3 -c '
import re, sys
for number, properties in re.findall(r"<\((\d+), \{(.*?)\}, @av \[\]\)>", sys.stdin.read()):
    if "separator" in properties:
        print(number, "-")
        continue
    label = re.search(r"'"'"'label'"'"': <'"'"'(.*?)'"'"'>", properties)
    print(number, label.group(1) if label else "?")'
}
click_menu() {  # <item> <label>
    local id
    id=$(menu_layout "$1" | awk -v label="$2" '{ id = $1; $1 = ""; if (substr($0, 2) == label) print id }')
    [ -n "$id" ] || return 1
    gdbus call --session -d "$(item_service "$1")" -o "$(menu_path "$1")" \
        -m com.canonical.dbusmenu.Event "$id" clicked '<int32 0>' 0 >/dev/null
}
requests() { grep -c "^$1\$" "$work/requests.log" 2>/dev/null || true; }

expected_menu="Показать лимиты|Обновить|Локальные сервисы|Настройки|-|Выйти из Kestrane"
for item in $(items); do
    layout=$(menu_layout "$item" | cut -d' ' -f2- | paste -sd'|')
    [ "$layout" = "$expected_menu" ] || fail "the menu of $item reads: $layout"
done
item=$(items | head -n1)
# Each screen's item opens the panel on that screen: three different pictures.
for screen in settings services overview; do
    case $screen in
        settings) label="Настройки" ;;
        services) label="Локальные сервисы" ;;
        overview) label="Показать лимиты" ;;
    esac
    click_menu "$item" "$label" || fail "no menu item $label"
    wait_for 50 '[ "$(floating_panel)" = 448 ]' || fail "\"$label\" did not open the panel"
    sleep 0.5
    grim "$shots/menu-$screen.png"
    swaymsg '[title="^Kestrane$"] kill' >/dev/null
    wait_for 50 '[ -z "$(floating_panel)" ]' || fail "the panel opened by \"$label\" did not close"
done
for pair in "settings services" "services overview" "settings overview"; do
    set -- $pair
    differing=$(compare -metric AE "$shots/menu-$1.png" "$shots/menu-$2.png" null: 2>&1 >/dev/null)
    [[ "$differing" =~ ^[0-9]+$ ]] && (( differing > 2000 )) ||
        fail "the menu's $1 and $2 items showed the same panel ($differing pixels differ)"
done
# "Обновить", then a middle click: each asks the fake server again, the panel staying closed.
wait_for 100 '[ "$(requests /api/oauth/usage)" -ge 1 ] && [ "$(requests /coding/v1/usages)" -ge 1 ]'
for trigger in menu middle; do
    claude=$(requests /api/oauth/usage)
    kimi=$(requests /coding/v1/usages)
    if [ $trigger = menu ]; then
        click_menu "$item" "Обновить" || fail "no menu item Обновить"
    else
        gdbus call --session -d "$(item_service "$item")" -o "$(item_path "$item")" \
            -m org.kde.StatusNotifierItem.SecondaryActivate 0 0 >/dev/null ||
            fail "SecondaryActivate failed"
    fi
    wait_for 100 '(( $(requests /api/oauth/usage) > claude && $(requests /coding/v1/usages) > kimi ))' ||
        fail "the $trigger refresh did not ask the server"
    # The refresh ends once its slowest provider answered; the next one would be dropped.
    sleep 1
done
[ -z "$(floating_panel)" ] || fail "a refresh opened the panel"
click_menu "$item" "Выйти из Kestrane" || fail "no menu item Выйти из Kestrane"
wait_for 100 '! kill -0 $app 2>/dev/null' || fail "\"Выйти из Kestrane\" did not end the program"
wait $app
status=$?
(( status == 0 )) || fail "\"Выйти из Kestrane\" ended the program with $status"

# --- The program before the bar; a light bar, the portal preferring light ------------------
kill $waybar_pid
wait $waybar_pid 2>/dev/null
[ -s "$work/stderr" ] && fail "the program wrote to standard error: $(head -c 300 "$work/stderr")"
set_scheme 2
run_kestrane >"$work/stdout" 2>"$work/stderr" &
app=$!
pids+=($app)
# No tray yet: the panel shows as an ordinary window (sway adds its border), floating as well.
window_floats() { local w; w=$(floating_panel); [[ "$w" =~ ^[0-9]+$ ]] && (( w >= 448 && w <= 460 )); }
wait_for 100 window_floats || fail "without a tray no floating window opened: $(floating_panel)"
sleep 0.5
grim "$shots/window-without-tray.png"
sleep 3
start_waybar "#e9e9e6"
adopted_from=$(now_ms)
wait_for 150 '[ "$(items | wc -l)" -eq 3 ]' || fail "the late bar did not get three icons: $(items)"
adopted=$(( $(now_ms) - adopted_from ))
swaymsg '[title="^Kestrane$"] kill' >/dev/null
wait_for 50 '[ -z "$(floating_panel)" ]' || fail "the window did not close"
sleep 1
kill -0 $app 2>/dev/null || fail "closing the window ended the program although a tray exists now"
grim "$shots/waybar-light.png"
read -r ink difference < <(contrast "$shots/waybar-light.png")
(( ink >= 60 && difference >= 150 )) ||
    fail "icons do not stand out from the light bar: $ink pixels, difference $difference"
[ -s "$work/stderr" ] && fail "the program wrote to standard error: $(head -c 300 "$work/stderr")"

echo "PASSED: three icons in waybar ${to_icons} ms after the start, resident ${resident} kB" \
    "after the first refresh; tool tips per provider; ink against the dark and light bar;" \
    "menu of six entries on every icon, each item working, middle click refreshing;" \
    "portal changes followed by icons and panel (dark background #$background);" \
    "floating 448-wide panel on Activate and on a second start" \
    "(status 0); adopted by a bar started 3 s later (${adopted} ms after the bar started)"
exit 0
