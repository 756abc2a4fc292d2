#!/usr/bin/env bash
# Builds and runs the whole suite, then the same suite under AddressSanitizer and UBSan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen
# Objects come from the compiler cache whenever their sources and flags are unchanged, in
# whatever folder the checkout lies.
export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1

run_suite() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -DQUARNELL_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  # Most tests wait on sockets or an X server rather than the processor.
  ctest --test-dir "$dir" --output-on-failure -j "$((jobs * 2))"
}

echo "== build and test"
run_suite "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"
# Light optimisation and line tables only: the sanitizers need no more to report with file
# and line, and the build takes far less time than with full debug information.
run_suite "$root/build-asan" -DCMAKE_BUILD_TYPE=Sanitize -DCMAKE_CXX_FLAGS_SANITIZE="-O1 -g1 $san" \
  -DCMAKE_EXE_LINKER_FLAGS_SANITIZE="$san"
echo "== the Debian packages: build, lintian, validators, install into a fresh root"
bash "$root/scripts/package-test.sh"
