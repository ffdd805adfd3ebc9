#!/usr/bin/env bash
# storeset_world compare reads both files as the registry reads them, as
# text, and writes, makes and removes nothing beside them or anywhere else,
# whatever lies there and whatever TMPDIR is. A file it cannot use, in
# either place, is told in one line of its own, naming that file and the
# reason (the C library's for one it cannot read), with status 1 and nothing
# on the output. Every row runs, and each failing one is told.
#
#   compare_test.sh <storeset_world> <source folder> <winplat_reg_writer> <winplat_test_folder>
set -u
tool="$1" source="$2" writer="$3" folder="$4"
# The test's folder, made by the test folder helper where the C++ tests
# make theirs, and removed however the test ends.
top="$("$folder" demo-compare-)" || exit 1
trap 'chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"' EXIT
trap 'exit 1' INT TERM HUP
chmod 755 "$top"  # the rows run as another user reach $d
d="$top/run"
header='"Windows Registry Editor Version 5.00"'
failed=0

fresh() {
    rm -rf "$d"
    mkdir -p "$d"
    cp "$source/demo/Demo.reg" "$d/with.reg"
    chmod 755 "$d"
    chmod 644 "$d/with.reg"
}
. "$(dirname "${BASH_SOURCE[0]}")/guard.sh"
tmpEnv=()
tmpSetUp
# What compare prints of two files that hold the demo profile: each of the
# four stores' three values unchanged.
same="$(env -u TMPDIR "$tool" compare Demo "$source/demo/Demo.reg" "$source/demo/Demo.reg")"
if [ "$(echo "$same" | grep -c ' unchanged$')" != 12 ]; then
    echo "FAILED compare of the demo profile with itself:"
    echo "$same"
    failed=1
fi
# Runs compare on $d/<before> and $d/<after>, as another user when `other`
# is set, with the TMPDIR that tmpEnv gives: row name, before, after, the
# status expected, the line expected on stderr ("" for none). The output is
# empty when the status is not 0, and that of two demo profiles when it is.
row() {
    local name="$1" before="$2" after="$3" status="$4" expected="$5"
    local was now out err got=0
    was="$(state)"
    out="$(${other:+asOther} env "${tmpEnv[@]}" "$tool" compare Demo "$d/$before" "$d/$after" 2>"$d.err")" \
        || got=$?
    err="$(cat "$d.err")"
    now="$(state)"
    if [ "$got" != "$status" ] || [ "$err" != "$expected" ] || [ "$now" != "$was" ] || ! tmpUntouched \
        || { [ "$status" != 0 ] && [ -n "$out" ]; } || { [ "$status" = 0 ] && [ "$out" != "$same" ]; }; then
        echo "FAILED $name ($before, $after): status $got${out:+, printed $(echo "$out" | grep -m1 .)}"
        echo "  got:      $err"
        echo "  expected: $expected"
        [ "$now" = "$was" ] || diff <(echo "$was") <(echo "$now") | sed 's/^/  /'
        tmpUntouched || echo "  made beside: $(ls -A "$d.private")"
        failed=1
    fi
}
# The row with the file `bad`, made afresh by the function `make`, before,
# then after, with.reg being the other; the message names `bad` either way.
both() {
    local name="$1" make="$2" bad="$3" status="$4" expected="$5"
    fresh && "$make"
    row "$name" "$bad" with.reg "$status" "$expected"
    fresh && "$make"
    row "$name" with.reg "$bad" "$status" "$expected"
}

nothing() { :; }
without() { printf 'Windows Registry Editor Version 5.00\n' >"$d/without.reg"; }
folder() { mkdir "$d/folder.reg"; }
old() { printf 'REGEDIT4\n' >"$d/old.reg"; }
empty() { printf '' >"$d/empty.reg"; }
# The demo profile after blank lines, which the registry reads as it does
# the file without them.
blank() { { printf '\n \t\r\n'; cat "$source/demo/Demo.reg"; } >"$d/blank.reg"; }
# A line past the header that does not parse.
bad() { printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n"a"=hex:zz\n' >"$d/bad.reg"; }
closed() { echo text >"$d/closed.reg" && chmod 000 "$d/closed.reg"; }
# A journal with records and a lock file that a killed writer left beside a
# file with CRLF line ends.
left() {
    sed 's/$/\r/' "$source/demo/Demo.reg" >"$d/left.reg"
    WINPLAT_REGISTRY="$d/left.reg" "$writer" leave Left 3
    if [ ! -s "$d/left.reg.journal" ] || [ ! -e "$d/left.reg.lock" ]; then
        echo "FAILED the writer left no journal and lock file beside left.reg"
        failed=1
    fi
}

both "a file without the profile" without without.reg 1 "storeset_world: no profile 'Demo' in $d/without.reg"
both "an absent file" nothing nothere.reg 1 \
    "storeset_world: cannot read the registry $d/nothere.reg: No such file or directory"
both "a folder" folder folder.reg 1 "storeset_world: cannot read the registry $d/folder.reg: Is a directory"
both "a REGEDIT4 file" old old.reg 1 \
    "storeset_world: the registry does not load: $d/old.reg:1: REGEDIT4 files are not supported; the first line must be $header"
# An empty file is an empty registry.
both "an empty file" empty empty.reg 1 "storeset_world: no profile 'Demo' in $d/empty.reg"
both "blank lines before the header" blank blank.reg 0 ""
both "a value that does not parse" bad bad.reg 1 \
    "storeset_world: the registry does not load: $d/bad.reg:4: invalid hexadecimal byte list"
if [ "$(id -u)" = 0 ] && ! command -v setpriv >/dev/null; then
    echo "SKIPPED an unreadable file: no setpriv to run compare as a user root's file is closed to"
else
    other=1 both "an unreadable file" closed closed.reg 1 \
        "storeset_world: cannot read the registry $d/closed.reg: Permission denied"
fi
# Neither the journal nor the lock file is merged or touched, and the file
# keeps its line ends.
both "a journal and a lock file beside" left left.reg 0 ""

# Whatever TMPDIR is, compare needs no folder: as root and as another user,
# a profile compared and a file refused as with TMPDIR unset, nothing made.
for kind in $TmpKinds; do
    tmpFor "$kind"
    for other in "" 1; do
        who="${other:+, as another user}"
        tmpSetUp
        fresh
        row "TMPDIR $kind$who" with.reg with.reg 0 ""
        fresh && bad
        row "TMPDIR $kind$who, a value that does not parse" bad.reg with.reg 1 \
            "storeset_world: the registry does not load: $d/bad.reg:4: invalid hexadecimal byte list"
    done
done
other=""
tmpEnv=()

exit "$failed"
