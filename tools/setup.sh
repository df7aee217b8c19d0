#!/usr/bin/env bash
# One entry point for a fresh Debian 12 machine: installs what the build
# needs (only what is missing), configures, builds, and then runs the
# chosen job.
#
#   tools/setup.sh test          build (optimised) and run the test suite
#   tools/setup.sh test-asan     build with ASan+UBSan and run the test suite
#   tools/setup.sh run           build and run the main job (a scan of the
#                                virtual KD-720 through our TWAIN manager)
#   tools/setup.sh bench         build and run the whole-sheet pipeline benchmark
#   tools/setup.sh build [asan]  only build
#   tools/setup.sh fuzz          build the libFuzzer harnesses with clang and
#                                run each briefly on its seed corpus
#   tools/setup.sh screenshots   build and render every screenshot scene
#                                offscreen to build/screenshots/
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

# Debian packages the build and the tests need. Every new dependency goes here.
packages=(
    build-essential cmake ninja-build pkg-config
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libusb-1.0-0-dev
    libpugixml-dev uuid-dev
    libhpdf-dev qpdf libqpdf-dev
    qt6-base-dev
    libtesseract-dev libleptonica-dev tesseract-ocr-osd
    clang libclang-rt-14-dev
    qt6-image-formats-plugins
    libtiff-dev libjpeg62-turbo-dev
    ccache
    libxcb1-dev fonts-dejavu-core
    libpng-dev libglib2.0-dev xdg-utils
    libcups2-dev cups-ipp-utils
    dbus
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

# The compiler cache keys on paths relative to the source root, so a clone in
# another folder (CI, a second work tree) reuses what this one compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-true}
# The test programs share a precompiled GoogleTest header: the cache takes
# such compilations only with these.
export CCACHE_SLOPPINESS=${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}

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

# The fuzzing configuration: clang, every harness registered with
# kd_add_fuzzers, nothing else.
build_fuzzers() {
    local extra=()
    if command -v ccache >/dev/null 2>&1; then
        extra+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    fi
    CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKD_FUZZ=ON -DKD_BUILD_TESTS=OFF -DKD_BUILD_BENCH=OFF "${extra[@]}" >/dev/null
    if grep -q . build/fuzz/fuzzers.tsv; then
        cmake --build build/fuzz --target kd_fuzzers -j "$jobs"
    fi
}

# Runs every harness on a scratch copy of its seed corpus for an equal share
# of KD_FUZZ_SECONDS (default 150 for all of them); any finding fails the
# step and leaves its input in build/fuzz/findings/.
run_fuzzers() {
    local manifest=build/fuzz/fuzzers.tsv total count each name prog corpus dict
    count=$(grep -c . "$manifest" || true)
    if [ "$count" -eq 0 ]; then echo "fuzz: no harness registered"; return 0; fi
    total=${KD_FUZZ_SECONDS:-150}
    each=$((total / count)); [ "$each" -lt 3 ] && each=3
    rm -rf build/fuzz/findings; mkdir -p build/fuzz/findings
    export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
    export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
    while IFS=$'\t' read -r name prog corpus dict; do
        [ -n "$name" ] || continue
        local scratch=build/fuzz/scratch/$name flags dirs
        rm -rf "$scratch"; mkdir -p "$scratch"
        flags=(-max_total_time="$each" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1
               -artifact_prefix="build/fuzz/findings/$name-")
        [ -n "$dict" ] && flags+=("-dict=$dict")
        # New inputs go to the scratch folder (the first); the seeds are only read.
        dirs=("$scratch"); [ -d "$corpus" ] && dirs+=("$corpus")
        echo "fuzz: $name for ${each}s"
        if ! "$prog" "${flags[@]}" "${dirs[@]}" </dev/null >"build/fuzz/$name.log" 2>&1; then
            tail -n 60 "build/fuzz/$name.log" >&2
            echo "fuzz: $name found a fault (input in build/fuzz/findings/)" >&2
            return 1
        fi
        grep -E '^stat::number_of_executed_units' "build/fuzz/$name.log" || true
    done <"$manifest"
}

cmd=${1:-test}
install_deps
case "$cmd" in
    deps) ;;
    build) configure_and_build "${2:-release}" ;;
    test) configure_and_build release; run_tests build/release ;;
    test-asan) configure_and_build asan; run_tests build/asan ;;
    fuzz) build_fuzzers; run_fuzzers ;;
    run)
        # The main job: Quillora, started by scanner button 1, scans the
        # virtual KD-720 through our TWAIN manager and KD720.ds into a PDF.
        configure_and_build release
        exec bash tools/run/main-job.sh
        ;;
    bench)
        configure_and_build release
        shift || true
        exec build/release/bench/pipeline_bench "$@"
        ;;
    screenshots)
        # Windows and controls rendered offscreen with a private home and the
        # English texts, so the pictures are the same on every machine.
        configure_and_build release
        rm -rf build/screenshots
        shot_home=$(mktemp -d)
        trap 'rm -rf "$shot_home"' EXIT
        HOME=$shot_home XDG_RUNTIME_DIR=$shot_home LANGUAGE=en QT_QPA_PLATFORM=offscreen \
            build/release/bundles/KdScreenshots.app/kd_screenshots --output build/screenshots
        ;;
    *) echo "usage: $0 {test|test-asan|fuzz|run|bench|screenshots|build [release|asan]|deps}" >&2; exit 2 ;;
esac
