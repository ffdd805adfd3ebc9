# Shared by scripts/test and scripts/demo.
install_deps() {
    local need=()
    command -v cmake >/dev/null || need+=(cmake)
    command -v ninja >/dev/null || need+=(ninja-build)
    command -v g++ >/dev/null || need+=(g++)
    command -v clang++ >/dev/null || need+=(clang)
    local pkg
    for pkg in libboost-dev libboost-regex-dev libboost-iostreams-dev libssl-dev libgtest-dev libgmock-dev \
               libbenchmark-dev libclang-rt-14-dev libhowardhinnant-date-dev libical-dev pkg-config python3-dateutil python3 tzdata; do
        dpkg -s "$pkg" >/dev/null 2>&1 || need+=("$pkg")
    done
    if [ "${#need[@]}" -gt 0 ]; then
        echo "=== installing: ${need[*]}"
        local sudo=""
        [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq
        DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
    fi
}

# scripts/demo's own world, as a build from before worlds carried
# storeset_world's mark laid it out, is marked, so that layout empties it
# again. Only a folder holding nothing but what those builds made (the
# registry file, its journal and lock file, drive c) is taken; layout
# refuses any other folder that is not empty, and a world that holds one of
# the user's files.
mark_old_demo_world() {
    local world="$1" entry
    if [ -L "$world" ] || [ ! -d "$world" ] || [ -e "$world/.storeset-world" ] || [ -L "$world/.storeset-world" ] \
        || [ ! -f "$world/registry.reg" ]; then
        return 0
    fi
    for entry in "$world"/* "$world"/.[!.]* "$world"/..?*; do
        [ -e "$entry" ] || [ -L "$entry" ] || continue  # a pattern that matched nothing
        case "${entry##*/}" in
            registry.reg | registry.reg.journal | registry.reg.lock) [ -f "$entry" ] && [ ! -L "$entry" ] ;;
            c) [ -d "$entry" ] && [ ! -L "$entry" ] ;;
            *) false ;;
        esac || return 0
    done
    echo "A world laid out by storeset_world, which empties this folder again." >"$world/.storeset-world"
}

# The tests a ctest run did not run, one a line with the reason each gave
# (gtest's line after "Skipped"), from the run's JUnit report ($1).
skipped_tests() {
    python3 - "$1" <<'PY'
import sys
import xml.etree.ElementTree as ET

for case in ET.parse(sys.argv[1]).getroot().iter("testcase"):
    if case.find("skipped") is None:
        continue
    out = (case.findtext("system-out") or "").splitlines()
    reason = next((out[i + 1].strip() for i, line in enumerate(out[:-1]) if line.endswith(": Skipped")), "")
    print(case.get("name") + (": " + reason if reason else ""))
PY
}
