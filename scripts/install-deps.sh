#!/usr/bin/env bash
# Installs the Debian packages that building and testing boardmon need, when missing.
# Usage: scripts/install-deps.sh [native|windows|all]   (default: all)
set -euo pipefail
want=${1:-all}
pkgs=(cmake g++ make libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev
      clang-format time dpkg-dev file man-db groff-base unzip)
if [ "$want" = windows ] || [ "$want" = all ]; then
    pkgs+=(g++-mingw-w64-x86-64-posix wine wine64 googletest)
fi
missing=()
for p in "${pkgs[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
