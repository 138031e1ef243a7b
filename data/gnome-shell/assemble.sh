#!/bin/sh
# Puts together the top-bar extension's folder for one GNOME Shell major version.
#
#   assemble.sh SHELL_MAJOR OUTPUT_FOLDER
#
# GNOME Shell 45 and later load extension.js and what it imports as ES modules; 43 and 44 load
# them through the legacy importer, where `import`/`export` are syntax errors. So the folder
# holds one of two builds of the same sources (see README.md):
#   45+    the sources as they are, metadata listing the shells from 45 on;
#   43-44  legacy/extension.js as extension.js, logic.js and indicator.js with their
#          `export function` / `export const` turned into the legacy importer's globals,
#          metadata listing 43 and 44.
# Either way the shell versions come from the sources' metadata.json, narrowed to the build's.
set -eu

fail() {
    echo "assemble.sh: $*" >&2
    exit 1
}

[ $# -eq 2 ] || fail "usage: assemble.sh SHELL_MAJOR OUTPUT_FOLDER"
major=$1
out=$2
case $major in
'' | *[!0-9]*) fail "not a GNOME Shell major version: $major" ;;
esac
[ "$major" -ge 43 ] || fail "GNOME Shell $major is older than 43, the oldest the extension supports"

here=$(cd "$(dirname "$0")" && pwd)
source_folder=$here/kestrane@kestrane.github.io
mkdir -p "$out"

if [ "$major" -lt 45 ]; then
    for name in logic.js indicator.js; do
        sed -e 's/^export function /function /' -e 's/^export const /var /' \
            "$source_folder/$name" >"$out/$name"
        # Anything else module-only would fail in the shell, not here: refuse it now.
        if grep -nE '^[[:space:]]*(import|export)([[:space:]]|\{|\*)' "$out/$name" >&2; then
            fail "$name uses a module form the legacy build cannot turn into a global"
        fi
    done
    cp "$here/legacy/extension.js" "$out/extension.js"
    legacy=1
else
    cp "$source_folder/logic.js" "$source_folder/indicator.js" "$source_folder/extension.js" "$out/"
    legacy=0
fi
cp "$source_folder/stylesheet.css" "$out/"

# The list stays on one line in metadata.json; only the versions this build can run on remain.
awk -v legacy="$legacy" '
    /"shell-version"/ {
        line = $0
        sub(/\[.*/, "", line)
        list = $0
        sub(/^[^[]*\[/, "", list)
        rest = list
        sub(/^[^]]*\]/, "", rest)
        sub(/\].*/, "", list)
        n = split(list, versions, ",")
        kept = ""
        for (i = 1; i <= n; i++) {
            v = versions[i]
            gsub(/[" ]/, "", v)
            if ((v + 0 < 45) == (legacy == 1))
                kept = kept (kept == "" ? "" : ", ") "\"" v "\""
        }
        if (kept == "") { print "no shell version left for this build" > "/dev/stderr"; exit 1 }
        print line "[" kept "]" rest
        next
    }
    { print }
' "$source_folder/metadata.json" >"$out/metadata.json"
