#!/usr/bin/env bash
# Installs, with apt-get, every Debian package that building, running and testing Tessaly
# needs and that this machine lacks. Safe to run again: it installs nothing when all is there.
# `scripts/setup.sh package` also installs what building, checking and testing its Debian
# package needs; `scripts/setup.sh windows` what cross-building the .exe files with mingw-w64,
# packing them and testing them under wine needs; `scripts/setup.sh chroot` what CI needs to
# make a Debian 13 system to test in. Every name is the same on Debian 12 "bookworm" and Debian 13
# "trixie" (libclang-rt-dev names each release's default clang's runtime), so no list depends
# on the release.
set -euo pipefail

PACKAGES=(
    # build
    g++ cmake make pkg-config qt6-base-dev libgl-dev libsoxr-dev
    # man pages and icon renders
    scdoc librsvg2-bin
    # tests and their peers
    libgtest-dev libgmock-dev sox ffmpeg espeak-ng python3 xvfb xauth strace
    # the slow stick of the flush test: a FUSE file system in Python
    python3-fusepy
    # the sample kernels on older processors, emulated
    qemu-user
    # the end-to-end drop test's drag source: X11 with XTest
    libx11-dev libxtst-dev
    # the window in Wayland sessions, and the Wayland drop test's headless compositor
    qt6-wayland sway libwayland-dev
    # fonts: the window's Japanese text
    fonts-ipafont-gothic
    # fuzzing and benchmarks
    clang libclang-rt-dev libbenchmark-dev hyperfine time
)
PACKAGING=(
    # dpkg-buildpackage and debhelper (Build-Depends in debian/control are in the list above)
    build-essential dpkg-dev debhelper
    # checks of the package, its menu entry and its metadata
    lintian desktop-file-utils appstream
    # the package test: the window's icon property
    x11-utils
)
WINDOWS=(
    # the cross compiler with POSIX threads (std::thread, std::mutex), and the zip it ships in
    g++-mingw-w64-x86-64-posix zip
    # running the .exe and its tests; googletest's sources, built for Windows by the tests
    wine wine64 googletest
    # the .exe files' icon (rendered with librsvg2-bin's rsvg-convert), and the installer
    librsvg2-bin icoutils nsis
    # the installed window started in the installer's test, and seen up (xwininfo)
    xvfb xauth x11-utils
    # the console test's terminal (script), on which wine makes a console of its own
    bsdutils
    # the window's static Qt, built from Debian's qt6-base sources (windows/build-qt) with
    # Debian's own host tools of the same version
    dpkg-dev ninja-build qt6-base-dev qt6-base-dev-tools
    # the version of libsoxr that windows/build-soxr builds from Debian's sources: the Linux one
    libsoxr-dev
    # the font the window's tests render with on Qt's offscreen platform
    fonts-ipafont-gothic
)
CHROOT=(
    # CI's Debian 13 system, made from Debian's mirror
    mmdebstrap
)
case "${1:-}" in
"") ;;
package) PACKAGES+=("${PACKAGING[@]}") ;;
windows) PACKAGES=(cmake make "${WINDOWS[@]}") ;;
chroot) PACKAGES=("${CHROOT[@]}") ;;
*)
    echo "usage: $0 [package|windows|chroot]" >&2
    exit 2
    ;;
esac

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
$SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
$SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
