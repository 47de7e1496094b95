#!/usr/bin/env bash
# Installs the Debian packages that building and testing Webtrim need.
# Quick when everything is there already: it only asks dpkg.
#   bootstrap.sh          everything: both builds, Wine tests, fuzzing
#   bootstrap.sh native   only what the Linux program needs to build (no test
#                         framework: the tests that need one are left out)
#   bootstrap.sh package  that, and what `cpack -G DEB` needs (the Python
#                         module's headers too)
set -eu

need=(
  cmake ninja-build g++ pkg-config libglib2.0-dev zlib1g-dev libgtest-dev clang libclang-rt-14-dev
  python3 man-db groff-base dpkg-dev file strace acl
  python3-dev python3-venv python3-distributed python3-lxml python3-readability lintian
  # the desktops' trash tools, which must list and restore what Webtrim
  # trashed (gio's trash is a gvfs service on a session bus)
  trash-cli libglib2.0-bin gvfs dbus-daemon
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  # Wine's 64-bit loader runs the x64 build on every host; the 32-bit one
  # runs the i686 build where the host runs 32-bit code.
  wine wine64 wine32:i386 fonts-wine fonts-liberation xvfb xauth x11-utils xdotool python3-xlib imagemagick
  nsis
)

native=(cmake ninja-build g++ pkg-config libglib2.0-dev zlib1g-dev)
case "${1:-all}" in
  native) need=("${native[@]}") ;;
  package) need=("${native[@]}" dpkg-dev file python3-dev) ;;
esac

missing=()
for p in "${need[@]}"; do
  st=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  case "$st" in
    *" installed") ;;
    *) missing+=("$p") ;;
  esac
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}" >&2
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
case " ${missing[*]} " in
  *":i386 "*)
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      $SUDO dpkg --add-architecture i386
    fi ;;
esac
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
