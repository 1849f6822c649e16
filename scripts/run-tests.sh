#!/usr/bin/env bash
# Sets everything up and runs every test: a plain build, then a build under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh

jobs=$(nproc)
# Allocation-failure tests ask for impossible sizes on purpose.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

status=0
run_suite() {
  local dir=$1; shift
  echo "==> build $dir $*"
  cmake -S . -B "$dir" -DZELSMBUS_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "==> test $dir"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300 || status=1
}

run_suite build
run_suite build-sanitize -DZELSMBUS_SANITIZE=ON -DZELSMBUS_BUILD_BENCH=OFF
exit $status
