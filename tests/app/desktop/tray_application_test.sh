#!/usr/bin/env bash
# The whole application in a real X session: Xvfb as the display and trayer (an XEmbed tray
# host that needs no window manager). Two rounds:
#  1. No session bus, a light tray: one icon per enabled provider, each in a window as wide as
#     the tray is tall (so the square icon fills its height), dark enough to read on it
#     (measured in a screenshot); a click opens the panel under them, Escape closes it; a
#     second start hands over through the local socket (status 0, the first one's panel
#     opens); the menu's last item ("Выйти из Kestrane") ends the process with status 0.
#  2. A private session bus whose portal prefers dark, a dark tray started 3 s after the
#     program: the program shows its window, moves into the tray when it appears, and a click
#     on an icon closes the window without ending it; the icons are light on the dark tray;
#     Activate on the bus opens the panel, dark (a pixel of its background measured); a
#     second start hands over (status 0).
# Screenshots are left in the given folder.
#
# usage: tray_application_test.sh <kestrane> <fake_settings_portal> <fixtures> <screenshots>
set -u

kestrane=$1
portal=$2
fixtures=$3
shots=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/session.sh"
require_tools Xvfb trayer xdotool xwininfo import dbus-daemon gdbus python3 convert

rm -rf "$shots"
mkdir -p "$shots" "$work/home/.config/Kestrane"
on_failure() {
    xwininfo -root -tree 2>/dev/null | grep -i kestrane
    tail -n 5 "$work/trayer.log" 2>/dev/null
}

start_xvfb 1280x800x24 || fail "Xvfb did not start"

tray() {  # <tint>
    start_trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
        --transparent true --alpha 0 --tint "$1" || fail "trayer did not start"
}

start_fake_quota_server "$fixtures" || fail "the fake quota server did not start"

# Three providers on: three tray icons. Claude answers from the fake server; Codex and
# Cursor cannot fetch here and show "!".
cat > "$work/home/.config/Kestrane/Kestrane.conf" <<'CONF'
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":true,\"Cursor\":true}"
CONF

# A clean environment; without a session bus Qt docks its icons through XEmbed into trayer,
# and a second start finds the first through the local socket in XDG_RUNTIME_DIR.
mkdir -p "$work/run"
chmod 700 "$work/run"
run_kestrane() {
    exec env -i PATH=/usr/bin:/bin HOME="$work/home" DISPLAY="$DISPLAY" LANG=C.UTF-8 \
        XDG_RUNTIME_DIR="$work/run" KESTRANE_CLAUDE_API_ORIGIN="http://127.0.0.1:$port" \
        KESTRANE_CLAUDE_OAUTH_TOKEN=test CODEX_PATH=/nonexistent "$@" "$kestrane"
}
# The icons' ink against the tray: "<ink pixels> <largest luma difference>".
contrast() {  # <screenshot>
    python3 "$here/ink_against_background.py" "$1" \
        "$(( right - left + 8 ))x$(( bottom - top ))+$(( left - 4 ))+$top"
}

tray 0xd6d6d6
started=$(now_ms)
run_kestrane >"$work/stdout" 2>"$work/stderr" &
app=$!
pids+=($app)

icons() { xwininfo -root -tree | grep -E '^ {11}0x[0-9a-f]+ "Kestrane": \("kestrane"' ; }
wait_for 100 '[ "$(icons | wc -l)" -eq 3 ]' || fail "the tray does not show three icons"
to_icons=$(( $(now_ms) - started ))
# Each icon's window becomes as wide as the tray is tall, so the square icon fills the height.
not_square() { icons | awk '{ split($5, g, "+"); split(g[1], s, "x"); if (s[1] != s[2]) print $5 }'; }
wait_for 30 '[ -z "$(not_square)" ]' || fail "icon windows are not square: $(not_square)"
sleep 0.5  # lets the icons draw their first frame (the fake server has answered by now)
import -window root "$shots/tray.png"
resident_first=$(awk '/VmRSS/ { print $2 }' /proc/$app/status)

# Geometry of the row of icons: x of the leftmost, x + width of the rightmost, bottom.
icon_row() {
    read -r left right top bottom < <(icons | awk '{
        split($5, g, "+"); split(g[1], s, "x"); split($6, a, "+");
        x = a[2]; y = a[3]; w = s[1]; h = s[2];
        if (min == "" || x < min) min = x; if (x + w > max) max = x + w; t = y; b = y + h
    } END { print min, max, t, b }')
}
icon_row
center=$(( (left + right) / 2 ))
read -r ink difference < <(contrast "$shots/tray.png")
(( ink >= 40 && difference >= 150 )) ||
    fail "icons do not stand out from the light tray: $ink pixels, difference $difference"

xdotool mousemove $(( left + 8 )) $(( bottom - 8 )) click 1
# The height follows the screen shown (the document plus the header, at most 744).
panel() { xwininfo -root -tree | grep -E '^ {5}0x[0-9a-f]+ "Kestrane": \("kestrane".* 448x[0-9]+\+' ; }
wait_for 50 'panel >/dev/null' || fail "a click did not open the panel"
sleep 0.5
import -window root "$shots/panel.png"
read -r px py < <(panel | awk '{ split($6, a, "+"); print a[2], a[3] }')
# Centred under the icons (or pushed 8 pixels inside the screen's right edge), 6 below them.
expected_x=$(( center - 224 ))
(( expected_x > 1280 - 8 - 448 )) && expected_x=$(( 1280 - 8 - 448 ))
(( px >= expected_x - 1 && px <= expected_x + 1 )) || fail "panel at x $px, expected $expected_x"
(( py == bottom + 6 )) || fail "panel at y $py, expected $(( bottom + 6 ))"

xdotool key Escape
wait_for 30 '! panel >/dev/null' || fail "Escape did not close the panel"

# A second start: status 0 at once, and the first one's panel opens.
run_kestrane >"$work/second.out" 2>&1 &
second=$!
wait_for 100 '! kill -0 $second 2>/dev/null' || fail "the second start did not end"
wait $second
status=$?
(( status == 0 )) || fail "the second start ended with $status: $(cat "$work/second.out")"
[ -s "$work/second.out" ] && fail "the second start printed: $(cat "$work/second.out")"
wait_for 50 'panel >/dev/null' || fail "the second start did not open the first one's panel"
xdotool key Escape
wait_for 30 '! panel >/dev/null' || fail "Escape did not close the handed-over panel"

xdotool mousemove $(( left + 8 )) $(( bottom - 8 )) click 3
# Six entries and a separator: between 100 and 199 pixels high.
menu() { xwininfo -root -tree | grep -E '^ {5}0x[0-9a-f]+ "Kestrane": \("kestrane".* [0-9]+x1[0-9]{2}\+' ; }
wait_for 30 'menu >/dev/null' || fail "a right click did not show the menu"
sleep 0.3
import -window root "$shots/menu.png"
read -r mx my mh < <(menu | awk '{ split($5, g, "+"); split(g[1], s, "x"); split($6, a, "+");
    print a[2], a[3], s[2] }')
xdotool mousemove $(( mx + 20 )) $(( my + mh - 10 )) click 1

# Qt takes about a second to wind down.
wait_for 100 '! kill -0 $app 2>/dev/null' || fail "choosing the menu item did not end the process"
wait "$app"
status=$?
(( status == 0 )) || fail "exit status $status"
[ -s "$work/stderr" ] && fail "the program wrote to standard error: $(head -c 300 "$work/stderr")"
first="three tray icons ${to_icons} ms after the start (ink $ink, resident ${resident_first} kB), panel at $px,$py under them, Escape closed it, socket hand-over, menu quit with 0"

# --- Round 2: a session bus, a portal preferring dark, a dark tray that comes late ----------
kill $trayer_pid
wait $trayer_pid 2>/dev/null
start_session_bus "$work/run/bus" || fail "dbus-daemon did not start"
start_fake_portal "$portal" 1 || fail "the fake portal did not start"

started=$(now_ms)
run_kestrane DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" \
    >"$work/stdout" 2>"$work/stderr" &
app=$!
pids+=($app)
wait_for 100 'panel >/dev/null' || fail "without a tray the program showed no window"
sleep 3
tray 0x202020
wait_for 100 '[ "$(icons | wc -l)" -eq 3 ]' || fail "the late tray does not show three icons"
wait_for 100 'grep -q VmRSS /proc/$app/status' || true
sleep 1
resident=$(awk '/VmRSS/ { print $2 }' /proc/$app/status)
icon_row

# A click on an icon closes the window; the program stays, in the tray.
xdotool mousemove $(( left + 8 )) $(( bottom - 8 )) click 1
wait_for 50 '! panel >/dev/null' || fail "a click on the icon did not close the window"
sleep 1
kill -0 $app 2>/dev/null || fail "closing the window ended the program although a tray exists now"
# The badge waited under the open window; now it shows the values.
import -window root "$shots/tray-dark.png"
read -r ink difference < <(contrast "$shots/tray-dark.png")
(( ink >= 40 && difference >= 150 )) ||
    fail "icons do not stand out from the dark tray: $ink pixels, difference $difference"

gdbus call --session -d io.github.kestrane.Kestrane -o /io/github/kestrane/Kestrane \
    -m io.github.kestrane.Kestrane.Activate >/dev/null || fail "Activate failed"
wait_for 50 'panel >/dev/null' || fail "Activate did not open the panel"
sleep 0.5
import -window root "$shots/panel-dark.png"
read -r px py ph < <(panel | awk '{ split($5, g, "+"); split(g[1], s, "x"); split($6, a, "+");
    print a[2], a[3], s[2] }')
background=$(pixel "$shots/panel-dark.png" $(( px + 8 )) $(( py + ph - 40 )))
near_colour "$background" 222322 2 ||
    fail "the panel is not dark under the portal's dark scheme: #$background"
xdotool key Escape
wait_for 30 '! panel >/dev/null' || fail "Escape did not close the activated panel"

run_kestrane DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" >"$work/second.out" 2>&1 &
second=$!
wait_for 100 '! kill -0 $second 2>/dev/null' || fail "the second start on the bus did not end"
wait $second
status=$?
(( status == 0 )) || fail "the second start on the bus ended with $status"
wait_for 50 'panel >/dev/null' || fail "the second start on the bus did not open the panel"
[ -s "$work/stderr" ] && fail "the program wrote to standard error: $(head -c 300 "$work/stderr")"

echo "PASSED: $first; late dark tray adopted, light icons on it (ink $ink), window closed" \
    "by a click without ending the program, Activate and a second start opened the panel (dark, #$background);" \
    "resident ${resident} kB after the window was shown and closed"
exit 0
