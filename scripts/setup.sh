#!/usr/bin/env bash
# Installs, with apt-get, every Debian package that building, running and testing Tessaly
# needs and that this machine lacks. Safe to run again: it installs nothing when all is there.
set -euo pipefail

PACKAGES=(
    # build
    g++ cmake make pkg-config qt6-base-dev libgl-dev
    # tests and their peers
    libgtest-dev libgmock-dev sox ffmpeg espeak-ng python3 xvfb xauth
    # the end-to-end drop test's drag source: X11 with XTest
    libx11-dev libxtst-dev
    # fonts: the window's Japanese text
    fonts-ipafont-gothic
    # fuzzing and benchmarks
    clang libclang-rt-14-dev libbenchmark-dev hyperfine time
)

missing=()
for package in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
