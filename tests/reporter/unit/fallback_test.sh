#!/usr/bin/env bash
# The log moves to the application-data folder when the exe's own folder cannot be written.
# As root under Wine only an immutable folder (chattr +i) refuses writes, so the test sets one up
# around a copy of the log writer, and always undoes it. Exits 77 (skipped) where it cannot.
set -u
writer_exe=$1
work=$2
dir="$work/readonly-exe"
out="$work/fallback.out"
chattr -i "$dir" 2>/dev/null
rm -rf "$dir"
mkdir -p "$dir"
cp "$writer_exe" "$dir/FallbackProbe.exe"
if ! chattr +i "$dir" 2>/dev/null; then
    rm -rf "$dir"
    echo "SKIP: chattr +i is not available here, so a read-only folder cannot be made for root"
    exit 77
fi
fallback_unix=""
trap 'chattr -i "$dir" 2>/dev/null; rm -rf "$dir"; [ -n "$fallback_unix" ] && rm -rf "$(dirname "$fallback_unix")"' EXIT

run() {
    timeout 60 wine "$dir/FallbackProbe.exe" default "$1" </dev/null >"$out" 2>"$out.err"
}
fail() { echo "FAIL: $*"; cat "$out" "$out.err"; exit 1; }

run "first report" || fail "the report was not written (exit $?)"
path=$(sed -n 1p "$out" | tr -d '\r')
case "$path" in
    *'\FallbackProbe\FallbackProbe.elf') ;;
    *) fail "the log is not in a folder for the program: $path" ;;
esac
fallback_unix=$(timeout 30 winepath -u "$path" 2>/dev/null </dev/null)
[ -n "$fallback_unix" ] || fail "cannot map $path"
case "$fallback_unix" in "$dir"/*) fail "the log went beside the read-only exe" ;; esac
[ "$(sed -n 2p "$out" | tr -d '\r')" = 1 ] || fail "the log does not hold the report"

run "second report" || fail "the second report was not written"
[ "$(sed -n 2p "$out" | tr -d '\r')" = 2 ] || fail "the second report did not join the first"
[ "$(ls -A "$dir")" = FallbackProbe.exe ] || fail "something was left in the read-only folder: $(ls -A "$dir")"
echo "fallback log: $path holds 2 reports; the exe's folder is untouched"
