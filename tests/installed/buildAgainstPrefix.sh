#!/bin/sh
# Builds the examples against an installation the way the README documents it
# and runs them under the simulated driver:
#   buildAgainstPrefix.sh BUILD_DIR SOURCE_DIR LIBDIR C_COMPILER MAN_PAGES [EXTRA_FLAGS]
# MAN_PAGES is 1 when the build made the section-3 pages (Doxygen present).
set -eu
build_dir=$1 source_dir=$2 libdir=$3 cc=$4 man_pages=$5 extra_flags=${6:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/opt/zelsmbus
launcher=$build_dir/sim/zelsim
unset LD_LIBRARY_PATH PKG_CONFIG_PATH MANPATH || true

fail() { echo "FAIL: $*" >&2; exit 1; }

# The README's commands, verbatim; the test fails when the README says otherwise.
with_run_path='cc app.c $(pkg-config --cflags --libs zelsmbus) -Wl,-rpath,"$(pkg-config --variable=libdir zelsmbus)" -o app'
without_run_path='cc app.c $(pkg-config --cflags --libs zelsmbus) -o app'
library_path='LD_LIBRARY_PATH="$(pkg-config --variable=libdir zelsmbus)"'
for line in "$with_run_path" "$without_run_path" "$library_path ./app"; do
  grep -qF -- "$line" "$source_dir/README.md" || fail "README.md no longer shows: $line"
done

cmake --install "$build_dir" --prefix "$prefix" >/dev/null
export PKG_CONFIG_PATH=$prefix/$libdir/pkgconfig
cd "$work"
cc() { "$cc" $extra_flags "$@"; }

check_output() {  # expected-text output
  case $2 in *"$1"*) ;; *) fail "expected \"$1\" in:
$2" ;; esac
}

# With a run path: the program finds the library by itself.
cp "$source_dir/examples/list-ports/main.c" app.c
eval "$with_run_path"
output=$("$launcher" -- ./app) || fail "list-ports with run path exited $?"
check_output "device 0x90 register 0x00 = 0x19" "$output"
cp "$source_dir/examples/eeprom-dump/main.c" app.c
eval "$with_run_path"
output=$("$launcher" -- ./app ZELSMBUS::SYSTEM::0::0) || fail "eeprom-dump with run path exited $?"
check_output "ZEL " "$output"

# Without one the loader does not find the library (exit 127) until
# LD_LIBRARY_PATH names the installation's library folder.
cp "$source_dir/examples/list-ports/main.c" app.c
eval "$without_run_path"
status=0
"$launcher" -- ./app >/dev/null 2>&1 || status=$?
[ "$status" -eq 127 ] || fail "without run path or LD_LIBRARY_PATH: exit $status, expected 127"
# The launcher adds the chassis-query library's folder to the variable's value.
output=$(eval "$library_path \"\$launcher\" -- ./app") || fail "list-ports with LD_LIBRARY_PATH exited $?"
check_output "device 0x90 register 0x00 = 0x19" "$output"

# A program of the simulator's control interface: zelsim.pc gives its flags;
# the installed launcher finds libzelsim.so in its private folder.
cp "$source_dir/examples/fault-injection/main.c" app.c
cc app.c $(pkg-config --cflags --libs zelsmbus zelsim) \
   -Wl,-rpath,"$(pkg-config --variable=libdir zelsmbus)" -o app
output=$("$prefix/bin/zelsim" --in-process -- ./app) || fail "fault-injection exited $?"
check_output "read answers -52031" "$output"
status=0
output=$("$prefix/bin/zelsim" -- ./app 2>&1) || status=$?
[ "$status" -eq 2 ] || fail "fault-injection in a shared world: exit $status, expected 2"
check_output "uses a shared world" "$output"

# The reference's manual pages: one per export, found through MANPATH.
if [ "$man_pages" = 1 ]; then
  [ -f "$prefix/share/man/man3/ZELSMBusOpen.3" ] || fail "man3 pages not installed"
  if command -v man >/dev/null 2>&1; then
    page=$(MANPATH=$prefix/share/man man -P cat ZELSMBusOpen 2>/dev/null) || fail "man ZELSMBusOpen failed"
    check_output "resourceName" "$page"
  fi
fi
echo "installed prefix: all documented ways work"
