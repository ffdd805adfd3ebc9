#!/usr/bin/env bash
# What scripts/demo does before it builds: it refuses arguments it does not
# take with its usage, before installing or building anything, and it takes
# the world an older build laid out in its own place (no mark) for its own,
# and nothing else. Every row runs, and each failing one is told.
#
#   demo_script_test.sh <winplat_test_folder> <source folder>
set -u
folder="$1" source="$2"
# The test's folder, made by the test folder helper where the C++ tests
# make theirs, and removed however the test ends.
top="$("$folder" demo-script-)" || exit 1
trap 'chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"' EXIT
trap 'exit 1' INT TERM HUP
d="$top/run"
failed=0
fail() {
    echo "FAILED $*"
    failed=1
}
rm -rf "$d"
mkdir -p "$d/bin"

# Anything the script would install or build with only says it was called.
for program in cmake dpkg apt-get sudo; do
    printf '#!/bin/sh\necho %s >>"%s/called"\nexit 1\n' "$program" "$d" >"$d/bin/$program"
    chmod +x "$d/bin/$program"
done
usage="usage: scripts/demo [--7.1] [<export.reg> <profile> [<store database>]]"
for args in "a b c d" "--7.1 a b c d" "a b c d e" "a"; do
    status=0
    # shellcheck disable=SC2086  # the row's words are the arguments
    out="$(cd "$d" && PATH="$d/bin:$PATH" STORESET_DEMO_BUILD="$d/build" "$source/scripts/demo" $args 2>"$d/err")" \
        || status=$?
    [ "$status" = 2 ] || fail "$args: status $status"
    [ -z "$out" ] || fail "$args: printed $out"
    [ "$(cat "$d/err")" = "$usage" ] || fail "$args: said $(cat "$d/err")"
    [ ! -e "$d/called" ] || fail "$args: called $(tr '\n' ' ' <"$d/called")"
    [ ! -e "$d/build" ] || fail "$args: made the build folder"
    rm -f "$d/called" "$d/err"
done

# The old world's marking: a world of the old shape is marked and otherwise
# left alone; any other folder is left exactly as it was.
. "$source/scripts/lib.sh"
state() { (cd "$d" && find . -printf '%y %p %l\n' | sort && find . -type f -print0 | sort -z | xargs -0 -r md5sum); }
old() {  # an old world at $d/world
    rm -rf "$d/world"
    mkdir -p "$d/world/c/Program Files/Connector"
    echo module >"$d/world/c/Program Files/Connector/Hollomar.dll"
    for f in registry.reg registry.reg.journal registry.reg.lock; do echo "$f" >"$d/world/$f"; done
}
unmarked() {  # row name: the marking leaves $d as it was
    local before
    before="$(state)"
    mark_old_demo_world "$d/world" || fail "$1: status $?"
    [ "$(state)" = "$before" ] || fail "$1: changed"
}
old
before="$(state)"
mark_old_demo_world "$d/world" || fail "an old world: status $?"
[ "$(cat "$d/world/.storeset-world" 2>/dev/null)" = "A world laid out by storeset_world, which empties this folder again." ] \
    || fail "an old world: not marked"
rm -f "$d/world/.storeset-world"
[ "$(state)" = "$before" ] || fail "an old world: changed beside the mark"

old
echo notes >"$d/world/notes.txt"
unmarked "an old world with a file of the user's"
old
mv "$d/world/c" "$d/c"
ln -s ../c "$d/world/c"
unmarked "an old world whose drive is a link"
old
rm "$d/world/registry.reg"
unmarked "a folder without a registry file"
old
mv "$d/world" "$d/elsewhere"
ln -s elsewhere "$d/world"
unmarked "a link to an old world"
rm -rf "$d/world" "$d/elsewhere" "$d/c"
unmarked "no world"
old
echo mine >"$d/world/.storeset-world"
unmarked "a marked world"

exit "$failed"
