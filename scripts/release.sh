#!/usr/bin/env bash
# Makes the release artifact: builds the hardened release exe, checks it, and writes
#   dist/DateRecorder-<version>-win32.zip   (DateRecorder.exe and README.md)
#   dist/SHA256SUMS                         (the zip's checksum, for sha256sum -c)
# Safe to run again: both files are made anew.
#   scripts/release.sh              BUILD_DIR=... and DIST_DIR=... choose other folders
#   scripts/release.sh --no-build   package the build that is there, as it is
set -euo pipefail
cd "$(dirname "$0")/.."

build=1
if [ "${1:-}" = "--no-build" ]; then
    build=0
elif [ $# -gt 0 ]; then
    echo "usage: scripts/release.sh [--no-build]" >&2
    exit 2
fi
build_dir=${BUILD_DIR:-build/mingw32-release}
dist_dir=${DIST_DIR:-dist}

if [ $build -eq 1 ]; then
    bash scripts/install-deps.sh
    mkdir -p "$build_dir"
    echo "== Building the release exe in $build_dir"
    cmake --preset mingw32-release -B "$build_dir" >"$build_dir/configure-release.log" 2>&1 ||
        { cat "$build_dir/configure-release.log"; exit 1; }
    cmake --build "$build_dir" --target DateRecorder
fi

exe="$build_dir/src/DateRecorder.exe"
[ -f "$exe" ] || { echo "No $exe: build it first (run without --no-build)" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
[ -n "$version" ] || { echo "No project version in $build_dir/CMakeCache.txt" >&2; exit 1; }
[ -f README.md ] || { echo "README.md is missing: the release must carry it" >&2; exit 1; }

echo "== Checking the exe's headers and resources"
/usr/bin/python3 tests/pe/check_pe.py "$exe" --version "$version"

echo "== Packing"
zip_name="DateRecorder-$version-win32.zip"
cpack --config "$build_dir/CPackConfig.cmake" -B "$build_dir/package" >"$build_dir/package.log" 2>&1 ||
    { cat "$build_dir/package.log"; exit 1; }
mkdir -p "$dist_dir"
cp "$build_dir/package/$zip_name" "$dist_dir/$zip_name"
(cd "$dist_dir" && sha256sum "$zip_name" >SHA256SUMS)

/usr/bin/python3 tests/pe/check_release.py "$dist_dir/$zip_name" "$dist_dir/SHA256SUMS" "$exe" README.md
echo "Release: $dist_dir/$zip_name"
cat "$dist_dir/SHA256SUMS"
