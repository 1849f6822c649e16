#!/usr/bin/env bash
# Builds the Debian packages from a clean copy of the checkout, checks them
# with lintian, installs them on this machine and uses them as a user would,
# with nothing of the source or build tree on any path; removes them at the end.
#
#   scripts/check-packages.sh [-j JOBS] [-k]     (-k keeps the work folder)
#
# Installing needs root (CI runs as root on a throw-away machine). The script
# refuses to run when one of the packages is installed already, so that it
# never replaces or removes a copy somebody installed on purpose.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

jobs=2 keep=0
while getopts "j:k" option; do
  case $option in
    j) jobs=$OPTARG ;;
    k) keep=1 ;;
    *) echo "usage: $0 [-j JOBS] [-k]" >&2; exit 2 ;;
  esac
done

packages=(libzelsmbus2 libzelsmbus-dev zelsmbus-tools zelsim python3-zelsmbus)
fail() { echo "check-packages: FAIL: $*" >&2; exit 1; }
step() { echo "==> [${SECONDS}s] packages: $*"; }

sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || fail "installing the packages needs root or sudo"
  sudo="sudo"
fi
for p in "${packages[@]}"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    fail "$p is installed on this machine already; remove it first (apt-get purge ${packages[*]})"
  fi
done

# The README's three commands; this script runs the same build and installs
# the same five packages, and the build dependencies resolve (nothing to
# install once bootstrap.sh ran).
for line in 'sudo apt-get build-dep ./' 'dpkg-buildpackage -b -us -uc' \
            "sudo apt-get install ../{$(IFS=,; echo "${packages[*]}")}_*.deb"; do
  grep -qxF -- "$line" README.md || fail "README.md no longer shows: $line"
done

apt-get build-dep -s ./ >/dev/null 2>&1 || fail "apt-get build-dep ./ does not resolve the build dependencies"

work=$(mktemp -d "${TMPDIR:-/tmp}/zelsmbus-packages.XXXXXX")
installed=0
cleanup() {
  if ((installed)); then
    step "removing the packages"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null || true
  fi
  if ((keep)); then echo "check-packages: work folder kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

# Only what git knows (committed, staged or new and not ignored): no build
# folder, no cache, nothing left over from an earlier package build.
step "copying the checkout"
mkdir "$work/src"
git -C "$source_dir" ls-files -z --cached --others --exclude-standard |
  (cd "$source_dir" && tar --null --ignore-failed-read -T - -cf -) | tar -xf - -C "$work/src"

# The project's version, written once in CMakeLists.txt; debian/rules refuses
# a changelog at another version, this checks what came out.
version=$(sed -n 's/^project(zelsmbus VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
[[ -n $version ]] || fail "no project(zelsmbus VERSION ...) in CMakeLists.txt"

step "dpkg-buildpackage (version $version)"
# The system PATH behind a folder of python3 commands that fail, as a pyenv
# or virtual environment interpreter without the build modules would: the
# build must use Debian's Python by its full path.
mkdir "$work/other-python"
for name in python3 python3.{9..14}; do
  printf '#!/bin/sh\necho "not the Python of the package build" >&2\nexit 1\n' >"$work/other-python/$name"
  chmod +x "$work/other-python/$name"
done
if ! (cd "$work/src" &&
      env PATH="$work/other-python:/usr/sbin:/usr/bin:/sbin:/bin" \
          DEB_BUILD_OPTIONS="nocheck parallel=$jobs" \
          DEB_BUILD_PROFILES=nocheck dpkg-buildpackage -b -us -uc >"$work/build.log" 2>&1); then
  tail -n 60 "$work/build.log" >&2
  fail "dpkg-buildpackage failed (log above)"
fi
grep -E "^dpkg-(gensymbols|shlibdeps): warning" "$work/build.log" >&2 &&
  fail "the package build warned (above)"
rm -rf "$work/src"  # from here on, nothing of the build tree exists
debs=()
for p in "${packages[@]}"; do
  deb=$(ls "$work"/"${p}"_"${version}"_*.deb 2>/dev/null) || fail "no $p package at version $version"
  debs+=("$deb")
done

step "lintian"
lintian --fail-on error,warning "$work"/zelsmbus_"${version}"_*.changes 2>&1 | tee "$work/lintian.log"
[[ ${PIPESTATUS[0]} -eq 0 ]] || fail "lintian reports errors or warnings"

step "installing ${packages[*]}"
installed=1
# Minimal images tell dpkg to leave manual pages out; these must be there.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
  -o DPkg::Options::=--path-include=/usr/share/man/* "${debs[@]}" >/dev/null

step "using the installed packages"
use=$work/use
mkdir -p "$use/pc" "$use/cmake"
cp "$source_dir/examples/list-ports/main.c" "$use/pc/list-ports.c"
cp "$source_dir/examples/eeprom-dump/main.c" "$use/cmake/eeprom-dump.c"
cat >"$use/cmake/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(eeprom_dump C)
find_package(zelsmbus 2 REQUIRED)
add_executable(eeprom-dump eeprom-dump.c)
target_link_libraries(eeprom-dump PRIVATE zelsmbus::zelsmbus)
EOF
# A clean environment: the system PATH, no variable naming a library, a
# package or a prefix, and a world of its own for every zelsim run.
env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME="$use" LANG=C.UTF-8 \
    ZELSIM_RUNTIME_DIR="$use/runtime" VERSION="$version" \
    bash -euo pipefail -c '
fail() { echo "check-packages: FAIL: $*" >&2; exit 1; }
expect() {  # text output
  case $2 in *"$1"*) ;; *) fail "expected \"$1\" in:
$2" ;; esac
}
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
libdir=/usr/lib/$triplet

# The shared library and the build files come from the packages, nowhere else.
[ "$(pkg-config --modversion zelsmbus)" = "$VERSION" ] || fail "pkg-config: zelsmbus is not at $VERSION"
[ "$(pkg-config --variable=libdir zelsmbus)" = "$libdir" ] || fail "pkg-config finds another zelsmbus.pc"
# The stand-in chassis library is not on the default path; the simulator is in its own folder.
ldconfig -p | grep -q libzelqpxi && fail "libzelqpxi is in the loader cache"
[ -f "$libdir/zelsim/libzelqpxi.so.1" ] && [ -f "$libdir/zelsim/libzelsim.so" ] || fail "zelsim libraries missing"
for program in zelsmbus zelsmbus-mkimage zelsim; do
  [ -f /usr/share/bash-completion/completions/$program ] || fail "no bash completion of $program"
done
# The READMEs and the examples each package names.
ls /usr/share/doc/zelsim/README.md* /usr/share/doc/python3-zelsmbus/README.md* >/dev/null ||
  fail "a README is not installed"
for example in /usr/share/doc/libzelsmbus-dev/examples/list-ports/main.c \
               /usr/share/doc/libzelsmbus-dev/examples/eeprom-dump/main.c \
               /usr/share/doc/zelsim/examples/fault-injection/main.c; do
  [ -f "$example" ] || fail "$example is not installed"
done
ls /usr/share/doc/python3-zelsmbus/examples/*.py >/dev/null || fail "no Python example installed"

# The state folder of the hardware belongs to the tools package; a simulated update
# (as root, whose folder it is) keeps its backup with its world, not there.
dpkg -S /var/lib/zelsmbus | grep -q "^zelsmbus-tools: " || fail "/var/lib/zelsmbus does not belong to zelsmbus-tools"
head -c 1024 /dev/urandom >"$HOME/firmware.bin"
# (The host controller of the default world: a 64 KiB region, quick in a shared world.)
zelsmbus-mkimage "$HOME/firmware.bin" -o "$HOME/firmware.img" --subsystem-id 0x7270 \
  --pinout-addr 0x10004 --pinout-ver 90 --firmware-version 0x01020200
expect "updated and verified" "$(zelsim -- zelsmbus firmware -y ZELSMBUS::SYSTEM::0::0 "$HOME/firmware.img")"
[ -z "$(ls -A /var/lib/zelsmbus)" ] || fail "a simulated update wrote into /var/lib/zelsmbus: $(ls -A /var/lib/zelsmbus)"

# No driver and no world: an empty list, and the way to the simulator.
output=$(zelsmbus list 2>&1) || fail "zelsmbus list without a driver exited $?"
expect "zelsim -- zelsmbus list" "$output"

# A program of zelsim.h, from the installed example, built with zelsim.pc.
mkdir -p "$HOME/sim" && cd "$HOME/sim"
cc /usr/share/doc/zelsim/examples/fault-injection/main.c \
   $(pkg-config --cflags --libs zelsmbus zelsim) -o fault-injection
expect "read answers -52031" "$(zelsim --in-process -- ./fault-injection)"
# The same with find_package(zelsim) in CMake.
cp /usr/share/doc/zelsim/examples/fault-injection/main.c fault-injection.c
cat >CMakeLists.txt <<"CMAKE"
cmake_minimum_required(VERSION 3.25)
project(fault_injection C)
find_package(zelsmbus 2 REQUIRED)
find_package(zelsim 2 REQUIRED)
add_executable(fault-injection fault-injection.c)
target_link_libraries(fault-injection PRIVATE zelsmbus::zelsmbus zelsim::zelsim)
CMAKE
cmake -S . -B build -G Ninja >/dev/null && cmake --build build >/dev/null
expect "read answers -52031" "$(zelsim --in-process -- build/fault-injection)"

cd "$HOME/pc"
cc list-ports.c $(pkg-config --cflags --libs zelsmbus) -o list-ports
loaded=$(ldd ./list-ports | awk "/libzelsmbus.so.2 =>/ {print \$3}")
[ "$(readlink -f "$loaded")" = "$(readlink -f "$libdir/libzelsmbus.so.2")" ] || fail "list-ports loads \"$loaded\""
expect "device 0x90 register 0x00 = 0x19" "$(zelsim -- ./list-ports)"

cd "$HOME/cmake"
cmake -S . -B build -G Ninja >/dev/null && cmake --build build >/dev/null
expect "00: 5A 45 4C 20 68 6F 73 74" "$(zelsim -- build/eeprom-dump HOST::SMBUS0 0xA0 32)"
expect "ZEL-1084" "$(zelsim -- build/eeprom-dump CHASSIS1::BACKPLANE chassis 128)"

cd "$HOME"
expect "$VERSION" "$(zelsmbus --version)"
expect "ZELSMBUS::SYSTEM::0::0" "$(zelsim -- zelsmbus list)"
# The sensor at 7-bit 0x48 on the first port answers 25 in register 0.
expect "0x19" "$(zelsim -- zelsmbus get ZELSMBUS::SYSTEM::0::0 0x48 0x00)"
zelsmbus-mkimage --help >/dev/null || fail "zelsmbus-mkimage --help"

python3 -c "import zelsmbus" || fail "import zelsmbus"
expect "/usr/lib/python3/dist-packages/zelsmbus/" "$(python3 -c "import zelsmbus; print(zelsmbus.__file__)")"
expect "ZELSMBUS::SYSTEM::0::0" "$(zelsim -- python3 -c "import zelsmbus; print(zelsmbus.resource_names())")"

expect "zelsmbus" "$(man -P cat zelsmbus 2>/dev/null)"
expect "resourceName" "$(man -P cat ZELSMBusOpen 2>/dev/null)"
expect "zelsim" "$(man -P cat zelsim 2>/dev/null)"
expect "control interface of the simulated SMBus driver" "$(man -P cat 3 zelsim 2>/dev/null)"
# The section-3 pages resolve and say what the family of each function does.
expect "ZELSMBusAttribute" "$(man -P cat 3 ZELSMBusAttribute 2>/dev/null)"
lexgrog /usr/share/man/man3/ZELSMBusOpen.3* | grep -q "ZELSMBusOpen - Opening and closing sessions" ||
  fail "the whatis line of ZELSMBusOpen: $(lexgrog /usr/share/man/man3/ZELSMBusOpen.3* 2>&1)"
echo "installed packages: all checks passed"
'
step "purging the packages"
installed=0
$sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "${packages[@]}" >/dev/null
[ ! -e /var/lib/zelsmbus ] || fail "/var/lib/zelsmbus outlives the purge"
step "done"
