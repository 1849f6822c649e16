#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each one from its seed corpus.
#
#   fuzz/run.sh [-t SECONDS | -r RUNS] [-j JOBS] [-b BUILD_DIR] [-w WORK_DIR] [TARGET...]
#
# -t  seconds per target (default 20); -r  executions per target instead.
# -j  targets run side by side (default 1).
# -b  build folder (default build-fuzz).  -w  folder for the growing corpora,
#     crash files and logs (default BUILD_DIR/fuzz-work); the checked-in seeds
#     under fuzz/corpus/ are only read.
# TARGET names like "status" or "fuzz_status"; default all.
# Prints the executions each target made; exits non-zero if any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=20
runs=""
jobs=1
build=build-fuzz
work=""
while getopts "t:r:j:b:w:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    j) jobs=$OPTARG ;;
    r) runs=$OPTARG ;;
    b) build=$OPTARG ;;
    w) work=$OPTARG ;;
    *) sed -n '2,14p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
work=${work:-$build/fuzz-work}

export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

if [ -z "${CMAKE_GENERATOR:-}" ] && command -v ninja >/dev/null; then
  export CMAKE_GENERATOR=Ninja
fi
CC=clang CXX=clang++ cmake -S . -B "$build" -DZELSMBUS_FUZZ=ON -DZELSMBUS_SANITIZE=ON \
  -DZELSMBUS_BUILD_TESTS=OFF -DZELSMBUS_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzz_all -j"${ZELSMBUS_FUZZ_JOBS:-2}"

targets=()
if [ $# -eq 0 ]; then
  for f in "$build"/fuzz/fuzz_*; do
    [ -x "$f" ] && targets+=("$(basename "$f")")
  done
else
  for t in "$@"; do targets+=("fuzz_${t#fuzz_}"); done
fi

mkdir -p "$work"
# One target from its seeds; its report goes to its log, a verdict to stdout.
fuzz_one() {
  local target=$1 name=${1#fuzz_}
  local corpus="$work/corpus/$name" log="$work/$name.log"
  mkdir -p "$corpus" "$work/crashes/$name"
  local limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit=(-runs="$runs")
  echo "==> $target ${limit[*]} (log $log)"
  if ! "$build/fuzz/$target" "${limit[@]}" -print_final_stats=1 \
      -artifact_prefix="$work/crashes/$name/" "$corpus" "fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAIL $target: finding saved under $work/crashes/$name/"
    return 1
  fi
  local execs
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  echo "ok   $target: ${execs:-?} executions, corpus $(ls "$corpus" | wc -l) files"
}

failed=0
running=0
for target in "${targets[@]}"; do
  if ((running >= jobs)); then
    wait -n || failed=1
    ((running--))
  fi
  fuzz_one "$target" &
  ((++running))
done
while ((running > 0)); do
  wait -n || failed=1
  ((running--))
done
exit $failed
