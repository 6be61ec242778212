#!/usr/bin/env bash
# Installs what building and testing need on Debian 12. Safe to run again.
set -euo pipefail

packages=(
    cmake ninja-build g++-mingw-w64-i686 googletest
    wine wine32:i386 xvfb xauth x11-utils xdotool imagemagick fonts-nanum
    python3 python3-pefile zip g++
)

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    missing=(add-i386)
fi
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages (${missing[*]}); run this as root to install them." >&2
    exit 1
fi
echo "Installing: ${missing[*]}"
dpkg --add-architecture i386
apt-get update -q
# Keep the recommended packages: they bring Wine's own fonts and the 32-bit X libraries.
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${packages[@]}"
