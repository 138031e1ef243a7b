#!/usr/bin/env bash
# Screenshots of the real panel for a person to look at: the application under Xvfb with the
# openbox window manager and a trayer tray, with and without the xcompmgr compositing
# manager, in a light and a dark palette (qt6ct), with the tray at the top and at the bottom
# of the screen. `kestrane --preview` opens the panel right after start. Each picture is the
# whole screen (<folder>/<compositor>-<theme>-<edge>.png) plus the panel cut out of it
# (...-panel.png). Not part of the test suite: it takes half a minute and judges nothing.
#
# usage: panel_screenshots.sh <kestrane executable> <screenshot folder>
set -u

kestrane=$1
shots=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/session.sh"
require_tools Xvfb openbox xcompmgr trayer xwininfo import xsetroot convert
if [ ! -e /usr/lib/x86_64-linux-gnu/qt6/plugins/platformthemes/libqt6ct.so ] &&
    ! ls /usr/lib/*/qt6/plugins/platformthemes/libqt6ct.so >/dev/null 2>&1; then
    echo "SKIPPED: qt6ct is not installed (scripts/setup installs it)"
    exit 77
fi

mkdir -p "$shots"

panel() { xwininfo -root -tree | grep -E '^ +0x[0-9a-f]+ "Kestrane": \("kestrane".* 448x[0-9]+\+' ; }

shoot() {
    local compositor=$1 theme=$2 edge=$3
    local name="$compositor-$theme-$edge"
    local home="$work/$name"
    mkdir -p "$home/.config/Kestrane" "$home/.config/qt6ct"
    cat > "$home/.config/Kestrane/Kestrane.conf" <<'CONF'
[General]
providerTogglesV1="{\"Claude\":true,\"Codex\":true,\"Cursor\":true}"
CONF
    local scheme=/usr/share/qt6ct/colors/airy.conf
    [ "$theme" = dark ] && scheme=/usr/share/qt6ct/colors/darker.conf
    cat > "$home/.config/qt6ct/qt6ct.conf" <<CONF
[Appearance]
color_scheme_path=$scheme
custom_palette=true
style=Fusion
CONF

    start_xvfb 1280x800x24 || { echo "FAILED: Xvfb did not start"; return 1; }
    openbox --sm-disable >/dev/null 2>&1 &
    pids+=($!)
    if [ "$compositor" = xcompmgr ]; then
        xcompmgr >/dev/null 2>&1 &
        pids+=($!)
    fi
    sleep 0.5
    # A desktop colour, so clear corners and square ones tell apart.
    xsetroot -solid '#6f8aa3'
    start_trayer --edge "$edge" --align right --widthtype request --height 24 --SetDockType true \
        --SetPartialStrut false --transparent false --tint 0xd6d6d6 ||
        { echo "FAILED: trayer did not start"; return 1; }

    env -i PATH=/usr/bin:/bin HOME="$home" DISPLAY="$DISPLAY" LANG=C.UTF-8 \
        XDG_CONFIG_HOME="$home/.config" QT_QPA_PLATFORMTHEME=qt6ct \
        "$kestrane" --preview >/dev/null 2>"$work/stderr-$name" &
    pids+=($!)
    if ! wait_for 100 'panel >/dev/null'; then
        echo "FAILED: $name: the panel did not open"
        stop_processes
        return 1
    fi
    sleep 1.5  # the first fetches fail at once here; let the panel settle
    import -window root "$shots/$name.png"
    # "448x600+0+0  +824+29": the size, then the place on the screen.
    read -r geometry < <(panel | awk '{ split($5, s, "+"); split($6, a, "+"); print s[1] "+" a[2] "+" a[3] }')
    convert "$shots/$name.png" -crop "$(echo "$geometry" | awk -F'[x+]' '{ printf "%dx%d+%d+%d", $1 + 40, $2 + 40, $3 - 20, $4 - 20 }')" +repage "$shots/$name-panel.png"
    echo "$name: panel at $geometry"
    stop_processes
}

status=0
for compositor in none xcompmgr; do
    for theme in light dark; do
        for edge in top bottom; do
            shoot "$compositor" "$theme" "$edge" || status=1
        done
    done
done
exit $status
