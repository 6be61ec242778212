#!/usr/bin/env bash
# Builds the program and starts it under Wine.
#   scripts/run.sh              on the current X display ($DISPLAY)
#   scripts/run.sh --headless   without a display: runs it on a private virtual screen,
#                               saves a screenshot to build/screenshot.png and closes it
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-session.sh

mode=window
case "${1:-}" in
    "") ;;
    --headless) mode=headless ;;
    *) echo "usage: scripts/run.sh [--headless]" >&2; exit 2 ;;
esac

if [ "$mode" = window ] && [ -z "${DISPLAY:-}" ]; then
    echo "There is no X display here (DISPLAY is not set), so the window cannot be shown." >&2
    echo "Run 'bash scripts/run.sh --headless' to start it on a virtual screen and save a screenshot." >&2
    exit 1
fi

bash scripts/install-deps.sh
cmake --preset mingw32-release >build/configure-run.log 2>&1 || { cat build/configure-run.log; exit 1; }
cmake --build build/mingw32-release --target DateRecorder keeper
exe="$PWD/build/mingw32-release/src/DateRecorder.exe"
run_dir="$PWD/build/run"
mkdir -p "$run_dir"

if [ "$mode" = window ]; then
    export WINE_SESSION_USE_DISPLAY=1
    wine_session_start "$run_dir"
    trap wine_session_stop EXIT
    echo "Starting $exe (records go to $(dirname "$exe")/test.dat)"
    wine "$exe" </dev/null
    exit $?
fi

wine_session_start "$run_dir"
trap wine_session_stop EXIT
timeout 300 wine "$exe" </dev/null >"$run_dir/app.log" 2>&1 &
app=$!
window=$(timeout 30 xdotool search --sync --name '^날짜구조체 저장$' | head -n 1)
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
shot="$PWD/build/screenshot.png"
import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$shot"
echo "The window is up; screenshot saved to $shot"
xdotool key alt+F4 || true
wait "$app" || true
