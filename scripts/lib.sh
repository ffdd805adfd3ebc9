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
