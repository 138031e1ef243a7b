#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks what desktops, software centres and
# shells read from it: the .desktop file and the AppStream metainfo pass their validators,
# the icon is where the theme looks, the manual page renders without groff warnings, and
# the manual page and each shell's completion know every option and provider.
#
# usage: install_test.sh <build folder>
set -u

build=$1
for tool in desktop-file-validate appstreamcli man; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (scripts/setup installs it)"
        exit 77
    fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAILED: cmake --install"
    exit 1
fi

app=io.github.kestrane.Kestrane
desktop=$prefix/share/applications/$app.desktop
metainfo=$prefix/share/metainfo/$app.metainfo.xml
icon=$prefix/share/icons/hicolor/scalable/apps/$app.svg
manual=$prefix/share/man/man1/kestrane.1.gz
bash_completion=$prefix/share/bash-completion/completions/kestrane
zsh_completion=$prefix/share/zsh/site-functions/_kestrane
fish_completion=$prefix/share/fish/vendor_completions.d/kestrane.fish
for file in "$prefix/bin/kestrane" "$desktop" "$metainfo" "$icon" "$manual" \
    "$bash_completion" "$zsh_completion" "$fish_completion" "$prefix/share/doc/kestrane/copyright"; do
    [ -f "$file" ] || fail "not installed: ${file#"$prefix"/}"
done
[ -x "$prefix/bin/kestrane" ] || fail "bin/kestrane is not executable"
# `kestrane` hands the probe, the services list and the tray over to these two, found
# relative to its own folder: the installed copy must find them.
for program in kestrane-cli kestrane-desktop; do
    [ -x "$prefix/libexec/kestrane/$program" ] || fail "libexec/kestrane/$program is not installed"
done
output=$(env -i PATH=/usr/bin:/bin HOME="$work" "$prefix/bin/kestrane" --stop 1)
[ "$output" = "Kestrane не может остановить этот процесс. PID 1 — первый процесс системы, от него зависят все остальные." ] ||
    fail "the installed kestrane does not reach kestrane-cli: $output"

# Hints count too: a clean file gives no output at all.
if ! output=$(desktop-file-validate "$desktop" 2>&1) || [ -n "$output" ]; then
    fail "desktop-file-validate: $output"
fi
grep -qx "Icon=$app" "$desktop" || fail "the .desktop file does not name the icon $app"
grep -qx "Exec=kestrane" "$desktop" || fail "the .desktop file does not start kestrane from PATH"

output=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $output"
# The whole tree as a software centre sees it: metainfo, its .desktop file and the icon.
output=$(appstreamcli validate-tree --no-net "$prefix" 2>&1) ||
    fail "appstreamcli validate-tree: $output"
grep -q "<id>$app</id>" "$metainfo" || fail "metainfo id is not $app"
grep -q "<launchable type=\"desktop-id\">$app.desktop</launchable>" "$metainfo" ||
    fail "metainfo does not launch $app.desktop"
grep -q '<svg' "$icon" || fail "the icon is not an SVG document"

# Rendered as man shows it, and checked the way lintian checks manual pages.
page=$(MANWIDTH=100 LC_ALL=C.UTF-8 man -l "$manual" 2>"$work/man.err")
[ -s "$work/man.err" ] && fail "man wrote: $(head -c 300 "$work/man.err")"
grep -q '^KESTRANE(1)' <<<"$page" || fail "the manual page does not render"
warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -E UTF-8 -l -Tutf8 -Z "$manual" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "groff warnings: $warnings"

options=(--probe --status --services --stop --preview --help --version --json --format)
providers=(codex cursor claude kimi antigravity copilot gemini zai minimax openrouter)
for word in "${options[@]}" "${providers[@]}" waybar; do
    grep -q -- "$word" <<<"$page" || fail "the manual page does not mention $word"
    for completion in "$bash_completion" "$zsh_completion" "$fish_completion"; do
        # fish names long options without their dashes (-l probe).
        grep -q -- "${word#--}" "$completion" || fail "$(basename "$completion") lacks $word"
    done
done
for status in 0 1 2 3; do
    grep -qE "^ +$status +[^ ]" <<<"$page" || fail "the manual page does not describe exit status $status"
done

# bash: what a Tab offers after a few command lines.
complete_bash() {
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _kestrane
             for word in "${COMPREPLY[@]}"; do echo "$word"; done | sort | tr "\n" " "' bash "$bash_completion" "$@"
}
check_bash() {
    local expected=$1
    shift
    local got
    got=$(complete_bash "$@")
    [ "$got" = "$expected" ] || fail "bash completion of '$*': got '$got', expected '$expected'"
}
check_bash "--help --preview --probe --services --status --stop --version " kestrane ""
check_bash "--preview --probe " kestrane --pr
check_bash "--json antigravity claude codex copilot cursor gemini kimi minimax openrouter zai " kestrane --probe ""
check_bash "--json antigravity codex copilot cursor gemini kimi minimax openrouter zai " kestrane --probe claude ""
check_bash "--format --json antigravity claude codex copilot cursor gemini kimi minimax openrouter zai " kestrane --status ""
check_bash "waybar " kestrane --status --format ""
check_bash "--json " kestrane --services ""
check_bash "" kestrane --version ""

if command -v fish >/dev/null 2>&1; then
    fish --no-execute "$fish_completion" || fail "fish cannot parse its completion"
    # fish offers options only once a dash is typed.
    check_fish() {
        local got
        got=$(fish --no-config -c "source '$fish_completion'; complete -C '$2'" | cut -f1 |
            sort | tr '\n' ' ')
        [ "$got" = "$1" ] || fail "fish completion of '$2': got '$got', expected '$1'"
    }
    check_fish "--help --preview --probe --services --status --stop --version " "kestrane -"
    check_fish "--status --stop " "kestrane --st"
    check_fish "antigravity claude codex copilot cursor gemini kimi minimax openrouter zai " "kestrane --probe "
    check_fish "--json " "kestrane --probe -"
    check_fish "--format --json " "kestrane --status --"
    check_fish "waybar " "kestrane --status --format "
    check_fish "" "kestrane --services "
else
    echo "note: fish is not installed, its completion was only searched for words"
fi
if command -v zsh >/dev/null 2>&1; then
    zsh -n "$zsh_completion" || fail "zsh cannot parse its completion"
else
    echo "note: zsh is not installed, its completion was only searched for words"
fi

if ((failures > 0)); then
    exit 1
fi
echo "PASSED: installed into a temporary prefix; .desktop and metainfo valid, man page and completions complete"
exit 0
