#!/usr/bin/env bash
# The whole application in a real X session: Xvfb as the display and trayer (a tray host that
# needs no window manager). Checks that the tray shows one icon per enabled provider, that a
# click opens the panel under them, that Escape closes it and that the menu's only item ends
# the process with status 0. Screenshots are left in the given folder.
#
# usage: tray_application_test.sh <kestrane executable> <screenshot folder>
set -u

kestrane=$1
shots=$2
for tool in Xvfb trayer xdotool xwininfo import; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (scripts/setup installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
rm -rf "$shots"
mkdir -p "$shots" "$work/home/.config/Kestrane"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*"
    xwininfo -root -tree 2>/dev/null | grep -i kestrane
    exit 1
}

# Polls `condition` (a shell command) every 0.1 s for at most `tenths` tenths of a second.
wait_for() {
    local tenths=$1
    shift
    for _ in $(seq 1 "$tenths"); do
        if eval "$@"; then return 0; fi
        sleep 0.1
    done
    return 1
}

# Xvfb picks a free display number itself and reports it on the descriptor given.
exec 3<> "$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
wait_for 100 '[ -s "$work/display" ]' || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$work/display")"

trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
    --transparent false --tint 0xd6d6d6 >/dev/null 2>&1 &
pids+=($!)
wait_for 100 'xwininfo -root -tree 2>/dev/null | grep -q "\"panel\": (\"panel\" \"trayer\")"' ||
    fail "trayer did not start"

# Three providers on: three tray icons. None of them can fetch here, so each shows "!".
cat > "$work/home/.config/Kestrane/Kestrane.conf" <<'CONF'
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":true,\"Cursor\":true}"
CONF

# A clean environment: no session bus, so Qt docks its icons through XEmbed into trayer.
env -i PATH=/usr/bin:/bin HOME="$work/home" DISPLAY="$DISPLAY" LANG=C.UTF-8 \
    "$kestrane" >"$work/stdout" 2>"$work/stderr" &
app=$!
pids+=($app)

icons() { xwininfo -root -tree | grep -E '^ {11}0x[0-9a-f]+ "Kestrane": \("kestrane"' ; }
wait_for 100 '[ "$(icons | wc -l)" -eq 3 ]' || fail "the tray does not show three icons"
sleep 0.5  # lets the icons draw their first frame
import -window root "$shots/tray.png"

# Geometry of the row of icons: x of the leftmost, x + width of the rightmost, bottom.
read -r left right bottom < <(icons | awk '{
    split($5, g, "+"); split(g[1], s, "x"); split($6, a, "+");
    x = a[2]; y = a[3]; w = s[1]; h = s[2];
    if (min == "" || x < min) min = x; if (x + w > max) max = x + w; b = y + h
} END { print min, max, b }')
center=$(( (left + right) / 2 ))

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

xdotool mousemove $(( left + 8 )) $(( bottom - 8 )) click 3
menu() { xwininfo -root -tree | grep -E '^ {5}0x[0-9a-f]+ "Kestrane": \("kestrane".* [0-9]+x2[0-9]\+' ; }
wait_for 30 'menu >/dev/null' || fail "a right click did not show the menu"
sleep 0.3
import -window root "$shots/menu.png"
read -r mx my < <(menu | awk '{ split($6, a, "+"); print a[2], a[3] }')
xdotool mousemove $(( mx + 20 )) $(( my + 10 )) click 1

# Qt takes about a second to wind down.
wait_for 100 '! kill -0 $app 2>/dev/null' || fail "choosing the menu item did not end the process"
wait "$app"
status=$?
(( status == 0 )) || fail "exit status $status"
[ -s "$work/stderr" ] && fail "the program wrote to standard error: $(head -c 300 "$work/stderr")"
echo "PASSED: three tray icons, panel at $px,$py under them, Escape closed it, menu quit with 0"
exit 0
