#!/usr/bin/env bash
# Runs the fuzz targets for real: builds them with clang and libFuzzer (AddressSanitizer and
# UBSan over the whole library) in build-fuzz/, runs each for SECONDS, and merges the inputs
# that reach new code into the tree's corpus (fuzz/corpus/TARGET/), keeping it minimal.
# Inputs that crash, run out of memory or time out are kept in build-fuzz/fuzz-findings/TARGET/.
#
# Usage: scripts/fuzz.sh [TARGET|all] [SECONDS]     (default: all targets, 600 s each)
# FUZZ_JOBS=N runs N fuzzing processes per target (default 1: the machine is shared).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
which="${1:-all}"
seconds="${2:-600}"
jobs="${FUZZ_JOBS:-1}"

if ! command -v clang++ >/dev/null || ! compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null; then
  echo "fuzz: needs clang with libFuzzer (Debian: clang libclang-rt-14-dev)" >&2
  exit 2
fi

mapfile -t all < <(cd "$root/fuzz/corpus" && ls -d -- */ | tr -d /)
if [ "$which" = all ]; then
  targets=("${all[@]}")
elif [ -d "$root/fuzz/corpus/$which" ]; then
  targets=("$which")
else
  echo "fuzz: no target '$which'; the targets are: ${all[*]}" >&2
  exit 2
fi

export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARNELL_FUZZ=ON \
  -DQUARNELL_BUILD_TESTS=OFF -DQUARNELL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

# Targets work in scratch folders; in memory they run several times faster (no disk syncs).
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
# Qt keeps a few allocations for the life of the process; the suppressions name them.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"

for target in "${targets[@]}"; do
  binary="$build/fuzz/fuzz_$target"
  corpus="$root/fuzz/corpus/$target"
  work="$build/fuzz-work/$target"
  findings="$build/fuzz-findings/$target"
  log="$build/fuzz-logs/$target.log"
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  echo "== $target: $seconds s"
  # Fork mode goes on after a finding, so one run reports all it meets. A single allocation
  # over 512 MiB from inputs of a few KiB counts as running out of memory: no reply or
  # archive may make the program reserve what the sender merely claims.
  nice -n 10 "$binary" -fork="$jobs" -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1 \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=512 \
    -artifact_prefix="$findings/" "$work" "$corpus" >"$log" 2>&1 || true
  grep -E '^#[0-9]+: cov' "$log" | tail -1 || tail -5 "$log"
  # Only inputs that reach edges the tree's corpus does not are added to it (hit counts
  # aside, and as few as cover them), so it stays small.
  nice -n 10 "$binary" -merge=1 -set_cover_merge=1 -use_counters=0 "$corpus" "$work" >>"$log" 2>&1 || echo "fuzz: merging into $corpus failed, see $log" >&2
  echo "   corpus: $(find "$corpus" -type f | wc -l) files; findings: $(find "$findings" -type f | wc -l) in $findings"
done
