#!/usr/bin/env bash
# Builds and runs the whole suite, then the same suite under AddressSanitizer and UBSan.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/setup.sh"
jobs="$(nproc)"
export QT_QPA_PLATFORM=offscreen

run_suite() {
  local dir="$1"; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNELL_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== build and test"
run_suite "$root/build"
echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
san="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"
run_suite "$root/build-asan" -DCMAKE_CXX_FLAGS="$san" -DCMAKE_EXE_LINKER_FLAGS="$san"
echo "== the Debian packages: build, lintian, validators, install into a fresh root"
bash "$root/scripts/package-test.sh"
