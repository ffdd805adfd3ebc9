#!/usr/bin/env bash
# storeset_world layout empties only a world it laid out itself. It refuses
# a folder it did not make that is not empty, and a world that holds its own
# inputs however they are named (relative, through links, at any depth),
# and an input it cannot read: the folder or the input and the reason on
# stderr, status 1, nothing changed. Whatever TMPDIR is, it makes nothing
# outside the world. Every row runs, and each failing one is told.
#
#   layout_guard_test.sh <build folder> <storeset_world> <source folder> <winplat_test_folder>
set -u
build="$1" tool="$2" source="$3" folder="$4"
# The test's folder, made by the test folder helper where the C++ tests
# make theirs, and removed however the test ends.
top="$("$folder" demo-layout-guard-)" || exit 1
trap 'chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"' EXIT
trap 'exit 1' INT TERM HUP
chmod 755 "$top"  # the rows run as another user reach $d
d="$top/run"
standins="$build/standins"
failed=0

fresh() {
    rm -rf "$d"
    mkdir -p "$d"
    cp "$source/demo/Demo.reg" "$source/demo/Demo.db" "$d/"
    chmod 644 "$d/Demo.reg" "$d/Demo.db"
}
# A world layout made, at $d/w.
world() {
    "$tool" layout "$d/w" "$d/Demo.reg" Demo "$d/Demo.db" "$standins" >/dev/null
}
. "$(dirname "${BASH_SOURCE[0]}")/guard.sh"
tmpEnv=()
tmpSetUp

# A row that layout refuses, run in the folder `at` ($d unless set), as
# another user when `other` is set, with the TMPDIR that tmpEnv gives: row
# name, the message expected on stderr, layout's arguments.
refused() {
    local name="$1" expected="storeset_world: $2"
    shift 2
    local before after out err status=0
    before="$(state)"
    out="$(cd "${at:-$d}" && ${other:+asOther} env "${tmpEnv[@]}" "$tool" layout "$@" 2>"$d.err")" || status=$?
    err="$(cat "$d.err")"
    after="$(state)"
    if [ "$status" != 1 ] || [ -n "$out" ] || [ "$err" != "$expected" ] || [ "$after" != "$before" ] \
        || ! tmpUntouched; then
        echo "FAILED $name: status $status${out:+, printed $out}"
        echo "  got:      $err"
        echo "  expected: $expected"
        [ "$after" = "$before" ] || diff <(echo "$before") <(echo "$after") | sed 's/^/  /'
        tmpUntouched || echo "  made beside: $(ls -A "$d.private")"
        failed=1
    fi
}

# A row that layout lays out, as another user when `other` is set, with the
# TMPDIR that tmpEnv gives: row name, the world's folder as given, under $d;
# the world then carries the mark, the database is in it, nothing else is
# left from before, and nothing outside it was made or changed.
laid() {
    local name="$1" root="$2" status=0
    local outside before after
    outside="./$(realpath -m --relative-to="$d" "$root")"  # the world, links resolved
    before="$(state | grep -v -F -e " $outside/" -e " $outside ")"
    ${other:+asOther} env "${tmpEnv[@]}" "$tool" layout "$root" "$d/Demo.reg" Demo "$d/Demo.db" "$standins" \
        >/dev/null 2>"$d.err" || status=$?
    after="$(state | grep -v -F -e " $outside/" -e " $outside ")"
    local problem=""
    [ "$after" = "$before" ] || problem="$problem; changed outside the world: $(diff <(echo "$before") <(echo "$after"))"
    tmpUntouched || problem="$problem; made beside: $(ls -A "$d.private")"
    [ "$status" = 0 ] || problem="status $status: $(cat "$d.err")"
    [ -f "$root/.storeset-world" ] || problem="$problem; no mark"
    cmp -s "$root/c/ProgramData/Connector/Demo.db" "$source/demo/Demo.db" || problem="$problem; no database"
    [ ! -e "$root/c/stale.txt" ] || problem="$problem; stale.txt left"
    cmp -s "$d/Demo.reg" "$source/demo/Demo.reg" && cmp -s "$d/Demo.db" "$source/demo/Demo.db" \
        || problem="$problem; inputs changed"
    if [ -n "$problem" ]; then
        echo "FAILED $name: $problem"
        failed=1
    fi
}

unmarked="it is not empty and was not laid out by storeset_world (it holds no .storeset-world)"

fresh
mkdir "$d/mine"
mv "$d/Demo.reg" "$d/Demo.db" "$d/mine/"
refused "the folder of the export and the database" \
    "layout refuses $d/mine: it holds the export $d/mine/Demo.reg" \
    "$d/mine" "$d/mine/Demo.reg" Demo "$d/mine/Demo.db" "$standins"

fresh
mkdir "$d/mine"
echo notes >"$d/mine/notes.txt"
refused "a folder of the user's" "layout refuses $d/mine: $unmarked" \
    "$d/mine" "$d/Demo.reg" Demo "$d/Demo.db" "$standins"
at="$d/mine" refused "the current folder" "layout refuses $d/mine: $unmarked" \
    . "$d/Demo.reg" Demo "$d/Demo.db" "$standins"

fresh
echo text >"$d/file"
refused "a file" "layout refuses $d/file: it is not a folder" "$d/file" "$d/Demo.reg" Demo "$d/Demo.db" "$standins"

fresh
world
mkdir -p "$d/w/c/deep"
cp "$d/Demo.reg" "$d/w/c/deep/"
refused "the export deep in a world" "layout refuses $d/w: it holds the export $d/w/c/deep/Demo.reg" \
    "$d/w" "$d/w/c/deep/Demo.reg" Demo "$d/Demo.db" "$standins"

fresh
world
cp "$d/Demo.db" "$d/w/mine.db"
refused "the database by a relative name" \
    "layout refuses $d/w: it holds the store database w/../w/mine.db" \
    w "$d/Demo.reg" Demo w/../w/mine.db "$standins"

fresh
world
cp "$d/Demo.db" "$d/w/mine.db"
ln -s w/mine.db "$d/link.db"
refused "the database through a link" "layout refuses $d/w: it holds the store database $d/link.db" \
    "$d/w" "$d/Demo.reg" Demo "$d/link.db" "$standins"

fresh
world
cp -r "$standins" "$d/w/standins"
refused "the stand-in folder" "layout refuses $d/w: it holds the stand-in folder $d/w/standins" \
    "$d/w" "$d/Demo.reg" Demo "$d/Demo.db" "$d/w/standins"

fresh
world
ln -s w "$d/wl"
cp "$d/Demo.reg" "$d/w/mine.reg"
refused "a world named through a link" "layout refuses $d/wl: it holds the export $d/w/mine.reg" \
    "$d/wl" "$d/w/mine.reg" Demo "$d/Demo.db" "$standins"

# An input layout cannot read is refused before the world is touched: each
# row puts $d/bad in the place of one input, as a folder, absent, or one
# another user may not read (in a world folder that user could make), and
# layout names it with the C library's reason. The stand-in folder's
# modules are taken from it by name, so it is refused absent, as a file,
# and as a folder that user may list but not enter.
for row in 'the export|folder|Is a directory' 'the export|absent|No such file or directory' \
    'the export|unreadable|Permission denied' 'the store database|folder|Is a directory' \
    'the store database|absent|No such file or directory' 'the store database|unreadable|Permission denied' \
    'the stand-in folder|absent|No such file or directory' 'the stand-in folder|file|Not a directory' \
    'the stand-in folder|unreadable|Permission denied'; do
    IFS='|' read -r what kind reason <<<"$row"
    fresh
    reg="$d/Demo.reg" database="$d/Demo.db" from="$standins" root="$d/w" as=""
    case $kind in
        folder) mkdir "$d/bad" ;;
        file) echo text >"$d/bad" ;;
        unreadable)
            if [ "$(id -u)" = 0 ] && ! command -v setpriv >/dev/null; then
                echo "SKIPPED $what $kind: no setpriv to run layout as a user root's file is closed to"
                continue
            fi
            case $what in
                "the stand-in folder") mkdir -m 444 "$d/bad" ;;
                *) echo text >"$d/bad" && chmod 000 "$d/bad" ;;
            esac
            chmod 755 "$d"
            mkdir -m 1777 "$d/open"
            root="$d/open/w" as=1
            ;;
    esac
    case $what in
        "the export") reg="$d/bad" ;;
        "the store database") database="$d/bad" ;;
        *) from="$d/bad" ;;
    esac
    if [ -z "$as" ]; then
        world
        echo stale >"$d/w/c/stale.txt"
    fi
    other="$as" refused "$what, $kind" "cannot read $what $d/bad: $reason" \
        "$root" "$reg" Demo "$database" "$from"
done

fresh
laid "a folder that does not exist" "$d/new"

fresh
mkdir "$d/empty"
laid "an empty folder" "$d/empty"

fresh
world
echo stale >"$d/w/c/stale.txt"
laid "a world it made" "$d/w"

fresh
world
echo stale >"$d/w/c/stale.txt"
ln -s w "$d/wl"
laid "a world it made, named through a link" "$d/wl"
[ -L "$d/wl" ] || { echo "FAILED the link to the world was not kept"; failed=1; }

# Whatever TMPDIR is, as root and as another user (in a world folder that
# user could make), a world is laid out and an absent store database refused
# as with TMPDIR unset, and nothing is made outside the world.
for kind in $TmpKinds; do
    tmpFor "$kind"
    for other in "" 1; do
        who="${other:+, as another user}"
        for road in laid refused; do
            tmpSetUp
            fresh
            chmod 755 "$d"
            mkdir -m 1777 "$d/open"
            if [ "$road" = laid ]; then
                laid "TMPDIR $kind$who" "$d/open/w"
            else
                refused "TMPDIR $kind$who, an absent store database" \
                    "cannot read the store database $d/absent.db: No such file or directory" \
                    "$d/open/w" "$d/Demo.reg" Demo "$d/absent.db" "$standins"
            fi
        done
    done
done
other=""
tmpEnv=()

exit "$failed"
