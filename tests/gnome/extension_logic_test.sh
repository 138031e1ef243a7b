#!/bin/sh
# Tests the top-bar extension's logic module with gjs, in both builds assemble.sh makes.
# Exit status 0 passed, 1 failed, 77 skipped (no gjs).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)

if ! command -v gjs >/dev/null 2>&1; then
    echo "SKIP: gjs is not installed (Debian package gjs)"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh "$root/data/gnome-shell/assemble.sh" 43 "$work/legacy" || {
    echo "FAIL: assemble.sh could not build the 43-44 variant"
    exit 1
}
sources=$root/data/gnome-shell/kestrane@kestrane.github.io

# The entry points import GNOME Shell's own modules, so only their syntax can be checked outside
# a shell; node does that when it is there (the 43-44 one runs in the session test).
if command -v node >/dev/null 2>&1; then
    cp "$sources/extension.js" "$work/extension.mjs"
    node --check "$work/extension.mjs" || {
        echo "FAIL: the GNOME Shell 45+ extension.js does not parse as an ES module"
        exit 1
    }
    node --check "$work/legacy/extension.js" || {
        echo "FAIL: the GNOME Shell 43-44 extension.js does not parse as a script"
        exit 1
    }
else
    echo "note: node is not installed; the entry points' syntax is not checked here"
fi

gjs -m "$here/extension_logic_test.js" "$sources" "$work/legacy" "$here/fixtures"
