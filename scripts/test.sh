#!/usr/bin/env bash
# Builds everything and runs every test: the Windows build under Wine (unit, file,
# window and PE checks) and the native build of the portable tools.
#   scripts/test.sh            (BUILD_ROOT=dir to build elsewhere than ./build)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh

bash scripts/install-deps.sh

build_root=${BUILD_ROOT:-build}
windows_build="$build_root/mingw32-release"
host_build="$build_root/host"
mkdir -p "$build_root"
build_root=$(cd "$build_root" && pwd)
windows_build="$build_root/mingw32-release"
host_build="$build_root/host"

echo "== Building the Windows program and its tests"
cmake --preset mingw32-release -B "$windows_build" >"$build_root/configure-windows.log" ||
    { cat "$build_root/configure-windows.log"; exit 1; }
cmake --build "$windows_build"

echo "== Building the native tools and their tests"
cmake --preset host -B "$host_build" >"$build_root/configure-host.log" ||
    { cat "$build_root/configure-host.log"; exit 1; }
cmake --build "$host_build"

echo "== Starting a private X display and Wine session"
export WINE_KEEPER="$windows_build/tests/support/keeper.exe"
wine_session_start "$windows_build"
trap wine_session_stop EXIT

status=0
echo "== Tests of the Windows build (under Wine on $DISPLAY)"
ctest --test-dir "$windows_build" --output-on-failure --timeout 180 || status=1
echo "== Tests of the native build"
ctest --test-dir "$host_build" --output-on-failure --timeout 180 || status=1
exit $status
