# Sourced by the run and test scripts: a private X display and a warm Wine session.
#   wine_session_start BUILD_DIR   (exports DISPLAY, WINEPREFIX, ...)
#   wine_session_stop

wine_session_start() {
    local build_dir=$1
    export WINEPREFIX="$build_dir/wineprefix"
    export WINEARCH=win32
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEDEBUG=-all
    WINE_SESSION_LOG="$build_dir/wine-session.log"
    : >"$WINE_SESSION_LOG"

    if [ -z "${WINE_SESSION_USE_DISPLAY:-}" ]; then
        local n
        for n in $(seq 91 140); do
            [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || break
        done
        export DISPLAY=":$n"
        Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >>"$WINE_SESSION_LOG" 2>&1 &
        XVFB_PID=$!
        for _ in $(seq 100); do
            xdpyinfo >/dev/null 2>&1 && break
            sleep 0.1
        done
        xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start on $DISPLAY" >&2; return 1; }
    fi

    local fresh=0
    [ -f "$WINEPREFIX/system.reg" ] || fresh=1
    timeout 120 wineboot -i </dev/null >>"$WINE_SESSION_LOG" 2>&1 || true
    if [ $fresh -eq 1 ] || [ -n "${WINE_SESSION_RECONFIGURE:-}" ]; then
        # Without a window manager, Wine otherwise waits 2 s on every window that closes.
        timeout 60 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            </dev/null >>"$WINE_SESSION_LOG" 2>&1
        # Hangul glyphs for the caption where Wine draws it.
        timeout 60 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v Gulim /t REG_SZ /d NanumGothic /f \
            </dev/null >>"$WINE_SESSION_LOG" 2>&1
    fi
    timeout 60 wineserver -w </dev/null >>"$WINE_SESSION_LOG" 2>&1 || true
    wineserver -p </dev/null >>"$WINE_SESSION_LOG" 2>&1
    # A hidden window for the whole session keeps Wine's desktop process warm between tests.
    if [ -n "${WINE_KEEPER:-}" ] && [ -f "$WINE_KEEPER" ]; then
        wine "$WINE_KEEPER" </dev/null >>"$WINE_SESSION_LOG" 2>&1 &
        WINE_KEEPER_PID=$!
    fi
    timeout 60 wine cmd /c exit </dev/null >>"$WINE_SESSION_LOG" 2>&1 || true
}

wine_session_stop() {
    timeout 30 wineserver -k </dev/null >/dev/null 2>&1 || true
    if [ -n "${WINE_KEEPER_PID:-}" ]; then
        wait "$WINE_KEEPER_PID" 2>/dev/null || true
    fi
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
}
