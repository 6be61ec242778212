#!/usr/bin/env bash
# Makes test.dat beside the test program unwritable even for root (chattr +i), runs the
# read-only case against it, and always undoes it. Exits 77 (skipped) where that cannot be set up.
set -u
tests_exe=$1
record_file="$(dirname "$tests_exe")/test.dat"
rm -f "$record_file"
printf '\xdc\x07\x01\x00\x1f\x00' >"$record_file"
if ! chattr +i "$record_file" 2>/dev/null; then
    rm -f "$record_file"
    echo "SKIP: chattr +i is not available here, so a read-only file cannot be made for root"
    exit 77
fi
trap 'chattr -i "$record_file" 2>/dev/null; rm -f "$record_file"' EXIT
TEST_DAT_IS_IMMUTABLE=1 timeout 60 wine "$tests_exe" --gtest_filter='ReadOnlyRecordFile.*' \
    --gtest_also_run_disabled_tests </dev/null
