#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine: installs what the build
# needs (only what is missing), configures, builds, and then runs the
# chosen job.
#
#   tools/setup.sh test          build (optimised) and run the test suite
#   tools/setup.sh test-asan     build with ASan+UBSan and run the test suite
#   tools/setup.sh run           build and run the main job
#   tools/setup.sh build [asan]  only build
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# Debian packages the build and the tests need. Every new dependency goes here.
packages=(
    build-essential cmake ninja-build pkg-config
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libusb-1.0-0-dev
    libpugixml-dev uuid-dev
    libhpdf-dev qpdf
    qt6-base-dev
    libtesseract-dev libleptonica-dev tesseract-ocr-osd
    qt6-image-formats-plugins
)

install_deps() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "setup: installing ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

jobs=${KD_JOBS:-$(nproc 2>/dev/null || echo 2)}

configure_and_build() {
    local flavour=$1 dir type extra=()
    case "$flavour" in
        release) dir=build/release; type=Release ;;
        asan) dir=build/asan; type=RelWithDebInfo; extra=(-DKD_SANITIZE=ON -DKD_BUILD_BENCH=OFF) ;;
        *) echo "unknown build flavour $flavour" >&2; exit 2 ;;
    esac
    if [ "${CI:-}" = "true" ]; then extra+=(-DKD_WERROR=ON); fi
    # Rebuilds of unchanged sources come from the compiler cache when there is one.
    if command -v ccache >/dev/null 2>&1; then
        extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="$type" "${extra[@]}" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

run_tests() {
    local dir=$1
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:halt_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

cmd=${1:-test}
install_deps
case "$cmd" in
    deps) ;;
    build) configure_and_build "${2:-release}" ;;
    test) configure_and_build release; run_tests build/release ;;
    test-asan) configure_and_build asan; run_tests build/asan ;;
    run)
        configure_and_build release
        shift || true
        exec build/release/bench/page_bench "$@"
        ;;
    *) echo "usage: $0 {test|test-asan|run|build [release|asan]|deps}" >&2; exit 2 ;;
esac
