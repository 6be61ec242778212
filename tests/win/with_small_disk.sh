#!/usr/bin/env bash
# Mounts a tiny file system (a real full disk), runs the short-write cases on it, and always
# unmounts it. Exits 77 (skipped) where mounting is not allowed.
set -u
tests_exe=$1
mount_point=$(mktemp -d)
if ! mount -t tmpfs -o size=12k tmpfs "$mount_point" 2>/dev/null; then
    rmdir "$mount_point"
    echo "SKIP: cannot mount a small tmpfs here (needs root)"
    exit 77
fi
trap 'umount "$mount_point"; rmdir "$mount_point"' EXIT
SMALL_DISK_DIR="Z:${mount_point//\//\\}" timeout 60 wine "$tests_exe" --gtest_filter='FullDisk.*' \
    --gtest_also_run_disabled_tests </dev/null
