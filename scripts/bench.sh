#!/usr/bin/env bash
# Builds the benchmarks and runs them in a private Wine session; one run prints all figures:
# the cost of one Add against the bare Win32 calls, start-up time against a minimal window, and the
# time from a failed Add to the error dialog.
#   scripts/bench.sh [ADD_CALLS [STARTS]]      BUILD_DIR=... to build elsewhere
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh

add_calls=${1:-500}
starts=${2:-10}
build_dir=${BUILD_DIR:-build/mingw32-release}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

echo "== Building the benchmarks in $build_dir"
cmake --preset mingw32-release -B "$build_dir" >"$build_dir/configure-bench.log" 2>&1 ||
    { cat "$build_dir/configure-bench.log"; exit 1; }
cmake --build "$build_dir" --target DateRecorder keeper hold_file add_bench minimal_window startup_bench dialog_bench

# Wine maps drive Z: to the Linux root.
windows_path() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }

export WINE_KEEPER="$build_dir/tests/support/keeper.exe"
wine_session_start "$build_dir"
trap wine_session_stop EXIT

out="$build_dir/bench-output"
mkdir -p "$out"
status=0
echo "== Add against the bare calls (Wine on $DISPLAY)"
timeout 600 wine "$build_dir/bench/add_bench.exe" "$add_calls" </dev/null >"$out/add.txt" 2>"$out/add.err" || status=1
cat "$out/add.txt"
[ $status -eq 0 ] || { echo "add_bench failed:"; cat "$out/add.err"; }

echo "== Start-up to an idle window"
timeout 600 wine "$build_dir/bench/startup_bench.exe" "$(windows_path "$build_dir/src/DateRecorder.exe")" \
    "$(windows_path "$build_dir/bench/minimal_window.exe")" "$starts" \
    </dev/null >"$out/startup.txt" 2>"$out/startup.err" || { status=1; echo "startup_bench failed:"; cat "$out/startup.err"; }
cat "$out/startup.txt"
echo "== A failed Add to the error dialog"
timeout 600 wine "$build_dir/bench/dialog_bench.exe" "$(windows_path "$build_dir/src/DateRecorder.exe")" \
    "$(windows_path "$build_dir/tests/support/hold_file.exe")" </dev/null >"$out/dialog.txt" 2>"$out/dialog.err" ||
    { status=1; echo "dialog_bench failed:"; cat "$out/dialog.err"; }
cat "$out/dialog.txt"
exit $status
