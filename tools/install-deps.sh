#!/usr/bin/env bash
# Installs the Debian packages the build, tests and demo need, skipping those
# already present. Quiet unless something is missing.
set -euo pipefail
packages=(
    cmake make g++ clang lld libclang-rt-14-dev libssl-dev openssl
    g++-mingw-w64-x86-64-posix mingw-w64 binutils-mingw-w64-x86-64
    wine64 wine xvfb xauth x11-apps
    gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
    googletest python3 python3-pytest curl tinyproxy
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
