#!/usr/bin/env bash
# The store database goes where the profile's connector section names it,
# inside the world: a name without a drive (relative, rooted, a POSIX path)
# would land outside it, over whatever is there, so layout refuses it,
# naming the value, with status 1 and nothing changed. No name, or an empty
# one, is told apart on the output. Every row runs, and each failing one is
# told.
#
#   database_name_test.sh <build folder> <storeset_world> <source folder> <winplat_test_folder>
set -u
build="$1" tool="$2" source="$3" folder="$4"
# The test's folder, made by the test folder helper where the C++ tests
# make theirs, and removed however the test ends.
top="$("$folder" demo-database-name-)" || exit 1
trap 'chmod -R u+rwX "$top" 2>/dev/null; rm -rf "$top"' EXIT
trap 'exit 1' INT TERM HUP
d="$top/run"
failed=0

# The demo export with the connector section's database name (001f6708, a
# PT_UNICODE value as the profile keeps it) set to $1.
exportNaming() {
    local hex
    hex="$({ printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE; printf '\0\0'; } | od -An -v -tx1 | tr -s ' \n' '  ' \
        | sed 's/^ //; s/ $//; s/ /,/g')"
    sed "s/^\"001f6708\"=.*/\"001f6708\"=hex:$hex/" "$source/demo/Demo.reg" >"$d/export.reg"
}
fresh() {
    rm -rf "$d"
    mkdir -p "$d/elsewhere"
    echo mine >"$d/stores.db"
    echo mine >"$d/elsewhere/stores.db"
}
state() {
    (cd "$d" && find . -printf '%y %p %l\n' | sort && find . -type f -print0 | sort -z | xargs -0 -r md5sum)
}

for name in 'stores.db' 'Connector\stores.db' '\ProgramData\stores.db' 'C:stores.db' "$d/elsewhere/stores.db"; do
    fresh
    exportNaming "$name"
    before="$(state)"
    status=0
    out="$(cd "$d" && "$tool" layout w export.reg Demo "$source/demo/Demo.db" "$build/standins" 2>"$d.err")" \
        || status=$?
    expected="storeset_world: layout refuses the store database name '$name' of the profile's connector section: \
it is not a full Windows path with a drive, as C:\\ProgramData\\Connector\\Demo.db is; the database is written \
only inside the world"
    if [ "$status" != 1 ] || [ -n "$out" ] || [ "$(cat "$d.err")" != "$expected" ] || [ "$(state)" != "$before" ]; then
        echo "FAILED $name: status $status${out:+, printed $out}"
        echo "  got:      $(cat "$d.err")"
        echo "  expected: $expected"
        diff <(echo "$before") <(state) | sed 's/^/  /'
        failed=1
    fi
done

# Full names, in either separator, land inside the world, on their drive.
for row in 'D:\Stores\stores.db|d/Stores/stores.db' 'c:/ProgramData/x.db|c/ProgramData/x.db'; do
    name="${row%|*}" where="${row#*|}"
    fresh
    exportNaming "$name"
    if ! (cd "$d" && "$tool" layout w export.reg Demo "$source/demo/Demo.db" "$build/standins") \
        || ! cmp -s "$d/w/$where" "$source/demo/Demo.db" || [ "$(cat "$d/stores.db")" != mine ]; then
        echo "FAILED $name: not at w/$where"
        failed=1
    fi
done

# No name, or an empty one: layout lays the world out all the same, writes
# no database anywhere, and says on its output which of the two it is, since
# the tool then fails on it.
missing="=== missing: the connector section of the profile 'Demo' names no store database"
for row in "empty|(value 001f6708 is empty)" "none|(no value 001f6708)"; do
    kind="${row%%|*}" why="${row#*|}"
    fresh
    case $kind in
        empty) exportNaming '' ;;
        none) sed '/^"001f6708"=/d' "$source/demo/Demo.reg" >"$d/export.reg" ;;
    esac
    status=0
    out="$(cd "$d" && "$tool" layout w export.reg Demo "$source/demo/Demo.db" "$build/standins" 2>"$d.err")" \
        || status=$?
    expected="$missing $why; no store database was written, and Storeset will fail on it"
    if [ "$status" != 0 ] || [ "$out" != "$expected" ] || [ -s "$d.err" ] || [ ! -f "$d/w/.storeset-world" ] \
        || find "$d" -name '*.db' ! -name stores.db | grep -q . || [ "$(cat "$d/stores.db")" != mine ]; then
        echo "FAILED $kind: status $status, stderr $(cat "$d.err")"
        echo "  got:      $out"
        echo "  expected: $expected"
        find "$d" -name '*.db' | sed 's/^/  /'
        failed=1
    fi
done

exit "$failed"
