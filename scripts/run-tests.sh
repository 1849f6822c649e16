#!/usr/bin/env bash
# Sets everything up and runs every test: a plain build, a build under
# AddressSanitizer and UndefinedBehaviorSanitizer, a short run of each fuzz
# target, the thread tests and the shared world under ThreadSanitizer, and
# the Debian packages.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/bootstrap.sh
# Ninja schedules the build better than make (about a third faster here);
# build folders made earlier keep their own generator.
export CMAKE_GENERATOR=${CMAKE_GENERATOR:-Ninja}

jobs=$(nproc)
# Allocation-failure tests ask for impossible sizes on purpose.
export ASAN_OPTIONS="allocator_may_return_null=1:detect_leaks=1:verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

status=0
run_suite() {
  local dir=$1; shift
  echo "==> [${SECONDS}s] build $dir $*"
  cmake -S . -B "$dir" -DZELSMBUS_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "==> [${SECONDS}s] test $dir"
  ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300 || status=1
}

# Line tables are enough for the test builds and compile much faster.
run_suite build -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DZELSMBUS_REQUIRE_MANPAGES=ON
# The C reference: Doxygen fails on any undocumented export, parameter or return.
echo "==> [${SECONDS}s] docs build"
cmake --build build --target docs || status=1
run_suite build-sanitize -DZELSMBUS_SANITIZE=ON -DZELSMBUS_BUILD_BENCH=OFF

echo "==> [${SECONDS}s] fuzz build-fuzz"
fuzz/run.sh -t 15 -j "$jobs" -b build-fuzz || status=1

# Under ThreadSanitizer: the library's thread tests, and the shared world
# (launcher, world server and the clients preloaded with the simulator, the
# lifetime probe's forks, signal handlers and closed nodes among them). The
# test that runs ls and Python under the simulator is left out: an
# instrumented preload library cannot serve a program whose libraries call
# it (libselinux's constructor opens a file) before the thread sanitizer's
# runtime has started in that uninstrumented program.
echo "==> [${SECONDS}s] threads build-tsan"
cmake -S . -B build-tsan -DZELSMBUS_WERROR=ON -DZELSMBUS_TSAN=ON -DZELSMBUS_BUILD_BENCH=OFF >/dev/null
cmake --build build-tsan --target test_reliability test_sim -j"$jobs"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1${TSAN_OPTIONS:+:$TSAN_OPTIONS}"
build-tsan/tests/reliability/test_reliability --gtest_filter='tThreads.*' || status=1
build-tsan/tests/test_sim \
  --gtest_filter='SharedWorld.*:ClientLifetime.*:WorldControl.*:-SharedWorld.ShellsAndScriptsSeeTheTreeAndItsNodes' \
  || status=1

# The Debian packages: built once (no tests, no benchmarks), checked by
# lintian, installed, used and removed. It installs on this machine, so it
# runs where CI runs (as root on a throw-away machine) or when asked for.
check_packages=${ZELSMBUS_CHECK_PACKAGES:-}
[[ -n $check_packages ]] || check_packages=$([[ $(id -u) -eq 0 ]] && echo 1 || echo 0)
if [[ $check_packages == 1 ]]; then
  echo "==> [${SECONDS}s] packages"
  ./scripts/check-packages.sh -j "$jobs" || status=1
else
  echo "==> [${SECONDS}s] packages skipped (not root; ZELSMBUS_CHECK_PACKAGES=1 runs them through sudo)"
fi

echo "==> [${SECONDS}s] done"
exit $status
