#!/usr/bin/env bash
# The log moves to the application-data folder when it cannot be written beside the exe: when the
# exe's folder is read-only, and when only the log beside it is. As root under Wine only chattr +i
# refuses writes, so the test sets that up around copies of the log writer and always undoes it.
# Exits 77 (skipped) where it cannot.
set -u
writer_exe=$1
work=$2
dir="$work/readonly-exe"
dir2="$work/readonly-log"
out="$work/fallback.out"
chattr -i "$dir" "$dir2/FallbackProbe.elf" 2>/dev/null
rm -rf "$dir" "$dir2"
mkdir -p "$dir" "$dir2"
cp "$writer_exe" "$dir/FallbackProbe.exe"
cp "$writer_exe" "$dir2/FallbackProbe.exe"
printf 'an old log that must stay as it is' >"$dir2/FallbackProbe.elf"
cp "$dir2/FallbackProbe.elf" "$work/fallback-original.elf"
if ! chattr +i "$dir" 2>/dev/null || ! chattr +i "$dir2/FallbackProbe.elf" 2>/dev/null; then
    chattr -i "$dir" "$dir2/FallbackProbe.elf" 2>/dev/null
    rm -rf "$dir" "$dir2"
    echo "SKIP: chattr +i is not available here, so nothing can be made read-only for root"
    exit 77
fi
fallback_unix=""
cleanup() {
    chattr -i "$dir" "$dir2/FallbackProbe.elf" 2>/dev/null
    rm -rf "$dir" "$dir2" "$work/fallback-original.elf"
    [ -n "$fallback_unix" ] && rm -rf "$(dirname "$fallback_unix")"
}
trap cleanup EXIT

run() { # run <folder> <mode> <argument>
    timeout 60 wine "$1/FallbackProbe.exe" "$2" "$3" </dev/null >"$out" 2>"$out.err"
}
line() { sed -n "$1p" "$out" | tr -d '\r'; }
fail() { echo "FAIL: $*"; cat "$out" "$out.err"; exit 1; }

# The exe's folder cannot be written.
run "$dir" default "first report" || fail "the report was not written (exit $?)"
path=$(line 1)
case "$path" in
    *'\FallbackProbe\FallbackProbe.elf') ;;
    *) fail "the log is not in a folder for the program: $path" ;;
esac
fallback_unix=$(timeout 30 winepath -u "$path" 2>/dev/null </dev/null)
[ -n "$fallback_unix" ] || fail "cannot map $path"
case "$fallback_unix" in "$dir"/*) fail "the log went beside the read-only exe" ;; esac
[ "$(line 2)" = 1 ] || fail "the log does not hold the report"
run "$dir" default "second report" || fail "the second report was not written"
[ "$(line 2)" = 2 ] || fail "the second report did not join the first"
[ "$(ls -A "$dir")" = FallbackProbe.exe ] || fail "something was left in the read-only folder: $(ls -A "$dir")"
echo "read-only folder: the log is $path and holds 2 reports; the exe's folder is untouched"

# The folder can be written, the log beside the exe cannot.
run "$dir2" default "third report" || fail "the report beside a read-only log was not written (exit $?)"
run "$dir2" count "$path" || fail "cannot read $path"
[ "$(line 1)" = "3 0" ] || fail "the report did not go to the fallback log: $(line 1)"
cmp -s "$dir2/FallbackProbe.elf" "$work/fallback-original.elf" || fail "the read-only log was changed"
[ "$(ls -A "$dir2" | sort | tr '\n' ' ')" = "FallbackProbe.elf FallbackProbe.exe " ] ||
    fail "something was left beside the read-only log: $(ls -A "$dir2")"
echo "read-only log: the report went to $path, which now holds 3; the old log is unchanged"
