#!/usr/bin/env bash
# Gelvantrium developer entry point.
#   ./build.sh run [file.zqmat]   install missing packages, build, start the application
#   ./build.sh test               install missing packages, build, run every test
#   ./build.sh asan               build the C++ tests with ASan+UBSan and run them
#   ./build.sh screenshots        build, then render each screen into build/test-output/*.png
#   ./build.sh format             apply .clang-format to every tracked C++ file
#   ./build.sh fuzz [seconds]     build the fuzz targets with clang, run each for seconds (default 10; 0: build only)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=${1:-run}
shift || true

packages=(
    build-essential cmake pkg-config git
    qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools qtquickcontrols2-5-dev
    qtwebengine5-dev libqt5svg5-dev
    qml-module-qtquick-controls qml-module-qtquick-controls2 qml-module-qtquick-dialogs
    qml-module-qt-labs-platform qml-module-qt-labs-settings qml-module-qtgraphicaleffects
    qml-module-qtwebengine qml-module-qttest qml-module-qtquick-layouts
    qml-module-qtquick-window2 qml-module-qtqml-models2
    libcrypto++-dev libx11-dev openssl nodejs npm xvfb xauth xdotool python3-cryptography clang-format
)
# Only for ./build.sh fuzz.
fuzz_packages=(clang libclang-rt-14-dev)

# install_missing [extra package...]
install_missing() {
    local missing=()
    for p in "${packages[@]}" "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    # npm may come from outside Debian (e.g. nodesource); don't fight it.
    if command -v npm >/dev/null 2>&1; then
        local kept=()
        for p in "${missing[@]}"; do [[ $p == npm || $p == nodejs ]] || kept+=("$p"); done
        missing=("${kept[@]}")
    fi
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    local dir=$1; shift
    cmake -S "$here" -B "$dir" "$@"
    cmake --build "$dir" -j"$(nproc)"
}

case "$mode" in
run)
    install_missing
    configure_and_build "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        # Works as root too: the application turns the web pages' sandbox off itself then.
        echo "No display found. To run without one:  xvfb-run -a $here/build/app/gelvantrium $*" >&2
        exit 1
    fi
    exec "$here/build/app/gelvantrium" "$@"
    ;;
test)
    install_missing
    configure_and_build "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cd "$here/build" && ctest --output-on-failure -j"$(nproc)"
    ;;
asan)
    install_missing
    configure_and_build "$here/build-asan" -DCMAKE_BUILD_TYPE=Debug -DGELV_SANITIZE=ON -DGELV_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
    export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # QML and whole-application tests run in the main build; here only the C++ tests.
    cd "$here/build-asan" && ctest --output-on-failure -j"$(nproc)" -LE 'qml|gui'
    ;;
screenshots)
    install_missing
    configure_and_build "$here/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
    GELV_TEST_ROOT="$here/build/test-home/screenshots" \
        "$here/tests/isolated.sh" --xvfb "$here/build/tools/screenshots/screenshots" "$here/build/test-output"
    ;;
format)
    install_missing
    cd "$here" && git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -i
    ;;
fuzz)
    install_missing "${fuzz_packages[@]}"
    CC=clang CXX=clang++ configure_and_build "$here/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DGELV_FUZZ=ON -DGELV_BUILD_UI=OFF -DGELV_BUILD_BENCH=OFF
    if [ "${1:-10}" != 0 ]; then "$here/tests/fuzz/run.sh" "$here/build-fuzz" "${1:-10}"; fi
    ;;
*)
    echo "usage: $0 run [file.zqmat] | test | asan | screenshots | format | fuzz [seconds]" >&2
    exit 2
    ;;
esac
