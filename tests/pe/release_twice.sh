#!/usr/bin/env bash
# Packs the given build with scripts/release.sh twice into a scratch folder: both runs
# must succeed and leave one zip that sha256sum -c accepts.
#   release_twice.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
dist=$(mktemp -d /tmp/daterecorder-dist.XXXXXX)
trap 'rm -rf "$dist"' EXIT

for run in 1 2; do
    echo "== release run $run"
    BUILD_DIR="$build_dir" DIST_DIR="$dist" bash "$source_dir/scripts/release.sh" --no-build
done
zips=("$dist"/DateRecorder-*-win32.zip)
[ ${#zips[@]} -eq 1 ] || { echo "expected one zip, found: ${zips[*]}" >&2; exit 1; }
(cd "$dist" && sha256sum -c SHA256SUMS)
