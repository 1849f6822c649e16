#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libb64-dev libboost-dev libtomlplusplus-dev libcli11-dev libfmt-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  python3 python3-pytest python3-pip python3-venv python3-mypy
  doxygen
  scdoc man-db bash-completion
  debhelper dh-python python3-all pybuild-plugin-pyproject lintian
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [[ $(id -u) -ne 0 ]] && sudo="sudo"
  echo "bootstrap: installing ${missing[*]}"
  $sudo apt-get update -qq || true
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
fi
