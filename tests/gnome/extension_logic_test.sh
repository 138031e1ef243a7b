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
# The legacy importer runs in sloppy mode and reads a file of the same name only once per search
# path, hence a folder of its own.
exec gjs -m "$here/extension_logic_test.js" \
    "$root/data/gnome-shell/kestrane@kestrane.github.io/logic.js" "$work/legacy" "$here/fixtures"
