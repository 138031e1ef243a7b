#!/bin/bash
# shellcheck disable=SC2016 # the JavaScript for Eval is in single quotes on purpose
# The top-bar extension in a real, headless GNOME Shell: installed into a private data folder,
# enabled, fed status files through the private $XDG_RUNTIME_DIR/kestrane/, driven through its
# menu against a stand-in for Kestrane on the session bus, then disabled.
#
#   gnome_shell_test.sh [OUTPUT_FOLDER]     screenshots go there (default ./gnome-shell-test)
#
# Exit status 0 passed, 1 failed, 77 skipped (no gnome-shell or gjs).
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# shellcheck source=SCRIPTDIR/gnome_session.sh
source "$here/gnome_session.sh"
gs_require_tools gnome-extensions
output=$(realpath -m "${1:-gnome-shell-test}")
gs_enter_session "$0" "$output"
set -u

uuid=kestrane@kestrane.github.io
fixtures=$here/fixtures
status_dir=$XDG_RUNTIME_DIR/kestrane
mkdir -p "$output"

major=$(gnome-shell --version | sed -n 's/^GNOME Shell \([0-9]*\).*/\1/p')
sh "$root/data/gnome-shell/assemble.sh" "$major" "$XDG_DATA_HOME/gnome-shell/extensions/$uuid" || {
    echo "FAIL: could not assemble the extension for GNOME Shell $major"
    exit 1
}
echo "GNOME Shell $major, extension build for $( ((major < 45)) && echo 43-44 || echo 45+)"

failures=0
pass() { echo "ok - $1"; }
fail() {
    echo "FAIL - $1"
    failures=$((failures + 1))
}
# verify DESCRIPTION COMMAND…: passes when the command succeeds.
verify() {
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
indicator_name_owned() { [[ $(gs_has_owner io.github.kestrane.ShellIndicator) == "$1" ]]; }

# expect DESCRIPTION WANT JS: JS comes to print WANT.
expect() {
    local error
    if error=$(gs_eval_until "$2" "$3" 10 2>&1); then
        pass "$1"
    else
        fail "$1: $error"
    fi
}

gs_start "$uuid" || exit 1

# Readers of the indicator for the checks below; plain text in, plain text out.
gs_eval '
globalThis.kestraneTest = {
    button: () => Main.panel.statusArea["'"$uuid"'"],
    labels() {
        return this.button().get_first_child().get_children();
    },
    items() {
        const out = [];
        const walk = menu => {
            for (const item of menu._getMenuItems()) {
                if (typeof item._getMenuItems === "function") walk(item);
                else if (item.label && item.label.text !== "") out.push(item); // not separators
            }
        };
        walk(this.button().menu);
        return out;
    },
    bar() {
        const button = this.button();
        if (!button) return "absent";
        if (!button.visible) return "hidden";
        return this.labels().map(l => l.text).join("");
    },
    levels() {
        const names = ["ok", "warning", "critical", "unknown", "stale", "off", "error"];
        return this.labels().filter(l => l.has_style_class_name("kestrane-part"))
            .map(l => names.filter(n => l.has_style_class_name(`kestrane-${n}`)).join("+"))
            .join(",");
    },
    menu() {
        return this.items().slice(0, -3).map(i => i.label.text).join("\n");
    },
    actions() {
        return this.items().slice(-3).map(i => `${i.label.text}=${i.sensitive ? "on" : "off"}`)
            .join(", ");
    },
    markup() {
        return [...this.labels(), ...this.items().map(i => i.label)]
            .some(l => l.clutter_text.use_markup);
    },
    activate(text) {
        this.items().find(i => i.label.text === text).activate(null);
        return true;
    },
};
true' >/dev/null || {
    fail "could not install the test readers in the shell"
    exit 1
}

iso() { date -u -d "@$1" +%Y-%m-%dT%H:%M:%SZ; }
now=$(date +%s)

# write_status FIXTURE WRITTEN_AT STALE_AFTER: the fixture with these times (and resets long
# past, so that the menu lines do not depend on today's date), replaced the way Kestrane does:
# a new file renamed over the old one.
write_status() {
    mkdir -p "$status_dir"
    chmod 700 "$status_dir"
    sed -E -e "s/\"writtenAt\":\"[^\"]*\"/\"writtenAt\":\"$2\"/" \
        -e "s/\"staleAfter\":\"[^\"]*\"/\"staleAfter\":\"$3\"/" \
        -e 's/"resetsAt":"[^"]*"/"resetsAt":"2020-01-01T00:00:00Z"/g' \
        "$fixtures/$1" >"$status_dir/.status.json.new"
    chmod 600 "$status_dir/.status.json.new"
    mv -f "$status_dir/.status.json.new" "$status_dir/status.json"
}
write_fresh() { write_status "$1" "$(iso $((now - 60)))" "$(iso $((now + 3600)))"; }

# The stand-in for Kestrane prints "ready" and then one line per call it receives.
start_fake_app() {
    coproc FAKE { exec gjs -m "$here/fake_kestrane.js" "$@"; }
    local line
    if read -r -t 10 -u "${FAKE[0]}" line && [[ $line == ready ]]; then
        GS_CLIENT_PIDS+=("$FAKE_PID")
    else
        fail "the stand-in for Kestrane did not start"
        exit 1
    fi
}
stop_fake_app() {
    kill "$FAKE_PID"
    wait "$FAKE_PID" 2>/dev/null
}
# expect_call ITEM CALL: choosing the menu item makes Kestrane receive CALL.
expect_call() {
    local line=""
    gs_eval "kestraneTest.activate('$1')" >/dev/null || fail "could not choose \"$1\""
    if read -r -t 10 -u "${FAKE[0]}" line && [[ $line == "$2" ]]; then
        pass "\"$1\" calls $2"
    else
        fail "\"$1\" should call $2, Kestrane received: ${line:-nothing}"
    fi
}

not_running_actions='Показать лимиты=off, Обновить=off, Настройки=off'
actions_on='Показать лимиты=on, Обновить=on, Настройки=on'

# --- No Kestrane, no status folder yet
expect "indicator in the top bar while Kestrane is not running" \
    Kestrane 'kestraneTest.bar()'
expect "menu says Kestrane is not running" "Kestrane не запущен" 'kestraneTest.menu()'
expect "commands are disabled while Kestrane is not running" "$not_running_actions" \
    'kestraneTest.actions()'
verify "io.github.kestrane.ShellIndicator is owned while enabled" indicator_name_owned true

# --- Kestrane starts and writes its first state: the folder appears after the extension
start_fake_app
write_fresh fresh.json
expect "label from the first status file (folder created after enable)" \
    "Cl 59% · Cx 88%" 'kestraneTest.bar()'
expect "levels of a fresh file" "ok,ok" 'kestraneTest.levels()'
expect "menu lists the providers and the recommendation" \
    "Claude — осталось 59%, Сессия - 5 часов, ожидаем сброс
Codex — осталось 88%, Неделя, ожидаем сброс
Сейчас лучше Codex: к сбросу останется больше всего." 'kestraneTest.menu()'
expect "commands enabled while Kestrane runs" "$actions_on" 'kestraneTest.actions()'

# --- The file is replaced: the label follows
write_fresh several.json
expect "label follows a replaced file" \
    "Cx 5% · Cu 6% · Cl 20% · Cl:work 21% · An 0% · +2" 'kestraneTest.bar()'
expect "levels follow it" "critical,warning,warning,ok,critical,ok" 'kestraneTest.levels()'
verify "top bar screenshot: $output/top-bar.png" gs_screenshot_top_bar "$output/top-bar.png"
# The menu opens without animation; once it is on the stage its box says how much to take.
gs_eval 'kestraneTest.button().menu.open(false)' >/dev/null
menu_box='kestraneTest.button().menu.actor'
if gs_eval_until true "$menu_box.mapped && $menu_box.get_transformed_size()[1] > 0" >/dev/null; then
    bottom=$(gs_eval "Math.ceil($menu_box.get_transformed_position()[1] +
        $menu_box.get_transformed_size()[1])")
    verify "menu screenshot: $output/menu.png" \
        gs_screenshot_area 0 0 "$(gs_eval 'global.stage.width')" $((bottom + 8)) "$output/menu.png"
else
    fail "the menu did not open"
fi
gs_eval 'kestraneTest.button().menu.close(false)' >/dev/null

# --- Menu commands reach Kestrane over the session bus
expect_call "Показать лимиты" "ShowScreen overview"
expect_call "Обновить" "Refresh"
expect_call "Настройки" "ShowScreen settings"

# --- Hostile strings stay plain text
write_fresh hostile.json
expect "markup and control characters are shown as plain, cut text" \
    "<i>Cl</i> 59%<u> · ЖЖЖЖЖЖЖЖЖЖЖ… ЖЖЖЖЖЖЖ…" 'kestraneTest.bar()'
expect "no label reads markup" false 'kestraneTest.markup()'

# --- The user prefers the tray icons: hidden while fresh
write_fresh tray-preferred.json
expect "hidden while the tray is preferred and the state is fresh" hidden 'kestraneTest.bar()'

# --- Stale state
written=$((now - 7200))
write_status fresh.json "$(iso $written)" "$(iso $((now - 3600)))"
if [[ $(date -d "@$written" +%F) == $(date -d "@$now" +%F) ]]; then
    since=$(date -d "@$written" +%H:%M)
else
    since=$(date -d "@$written" '+%d.%m %H:%M')
fi
expect "stale figures dimmed" "stale,stale" 'kestraneTest.levels()'
expect "stale notice with the local time of the last write" \
    "Данные устарели: Kestrane не обновлял их с $since" 'kestraneTest.menu().split("\n")[0]'

# --- Broken files
write_fresh truncated.json
expect "cut-off file" "Kestrane|Файл состояния Kestrane не разобрать: это не JSON" \
    'kestraneTest.bar() + "|" + kestraneTest.menu()'
head -c $((1024 * 1024)) /dev/zero | tr '\0' ' ' >"$status_dir/.status.json.new"
mv -f "$status_dir/.status.json.new" "$status_dir/status.json"
expect "1 MB file is not read" "Файл состояния Kestrane не разобрать: файл больше 256 КБ" \
    'kestraneTest.menu()'
rm -f "$status_dir/status.json"
mkfifo "$status_dir/status.json"
expect "a FIFO in the file's place does not block the shell" \
    "Не удалось прочитать состояние Kestrane: это не обычный файл" 'kestraneTest.menu()'
rm -f "$status_dir/status.json"
expect "no file while Kestrane runs" \
    "Kestrane|Kestrane запущен, но ещё не записал состояние лимитов|$actions_on" \
    'kestraneTest.bar() + "|" + kestraneTest.menu() + "|" + kestraneTest.actions()'

# --- Kestrane ends: by a crash (file left behind), then cleanly
write_fresh fresh.json
expect "fresh again" "Cl 59% · Cx 88%" 'kestraneTest.bar()'
stop_fake_app
expect "a file left by a crashed Kestrane shows it not running" \
    "Kestrane|Kestrane не запущен|$not_running_actions" \
    'kestraneTest.bar() + "|" + kestraneTest.menu() + "|" + kestraneTest.actions()'
rm -rf "$status_dir"
expect "folder removed: not running" "Kestrane|Kestrane не запущен" \
    'kestraneTest.bar() + "|" + kestraneTest.menu()'

# --- An older Kestrane without ShowScreen and Refresh
start_fake_app --activate-only
write_fresh fresh.json
expect "folder created again" "Cl 59% · Cx 88%" 'kestraneTest.bar()'
expect_call "Показать лимиты" "Activate"
gs_eval "kestraneTest.activate('Обновить')" >/dev/null || fail "could not choose \"Обновить\""
expect "a command the app lacks is reported, not dropped" \
    "Kestrane: Не удалось обновить данные Kestrane: эта версия Kestrane так не умеет, обновите её" \
    'Main.messageTray.getSources().flatMap(s => s.notifications)
        .filter(n => n.title === "Kestrane").map(n => `${n.title}: ${n.bannerBodyText}`).join("\n")'

# --- Disable leaves nothing behind; enabling again starts clean
gnome-extensions disable "$uuid"
expect "indicator gone after disable" absent 'kestraneTest.bar()'
verify "io.github.kestrane.ShellIndicator released after disable" indicator_name_owned false
write_fresh several.json
gnome-extensions enable "$uuid"
expect "enabled again, it reads the file written meanwhile" \
    "Cx 5% · Cu 6% · Cl 20% · Cl:work 21% · An 0% · +2" 'kestraneTest.bar()'
expect "one indicator only" 1 \
    'Object.keys(Main.panel.statusArea).filter(k => k.startsWith("kestrane")).length'
gnome-extensions disable "$uuid"
expect "gone after the second disable" absent 'kestraneTest.bar()'
expect "extension state after disable is DISABLED (2)" 2 \
    'Main.extensionManager.lookup("'"$uuid"'").state'

# Anything the shell logged about the extension's files is an error or a warning.
if grep -n "$uuid" "$GS_WORK/gnome-shell.log"; then
    fail "the shell logged messages about the extension (above)"
else
    pass "nothing logged about the extension"
fi

if ((failures > 0)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
