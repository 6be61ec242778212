#!/usr/bin/env bash
# Builds DateRecorder.exe again from a copy of the sources at another path, in another
# build directory, and fails unless the result is byte-identical to the given exe.
#   rebuild_matches.sh SOURCE_DIR BUILD_TYPE EXPECTED_EXE
set -euo pipefail

source_dir=$1
build_type=$2
expected=$3

scratch=$(mktemp -d /tmp/daterecorder-rebuild.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
copy="$scratch/another/checkout"
mkdir -p "$copy"

# The work tree as it is (the exe under test was built from it), without builds or history.
tar -C "$source_dir" --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -C "$copy" -xf -

echo "Rebuilding from $copy"
cmake -S "$copy" -B "$scratch/out" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$copy/cmake/toolchain-i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE="$build_type" >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log"; exit 1; }
cmake --build "$scratch/out" --target DateRecorder >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log"; exit 1; }

rebuilt="$scratch/out/src/DateRecorder.exe"
if cmp -s "$expected" "$rebuilt"; then
    echo "Identical: $(sha256sum <"$rebuilt" | cut -d' ' -f1)  $(stat -c %s "$rebuilt") bytes"
    exit 0
fi

echo "The rebuilt exe differs from $expected"
echo "sizes: $(stat -c %s "$expected") and $(stat -c %s "$rebuilt") bytes"
cmp "$expected" "$rebuilt" || true
# Name the parts that differ, so the cause can be found.
/usr/bin/python3 - "$expected" "$rebuilt" <<'EOF' || true
import sys, pefile
a, b = (pefile.PE(p) for p in sys.argv[1:3])
if a.FILE_HEADER.TimeDateStamp != b.FILE_HEADER.TimeDateStamp:
    print("  COFF header TimeDateStamp")
sections_b = {s.Name: s for s in b.sections}
for s in a.sections:
    other = sections_b.get(s.Name)
    name = s.Name.rstrip(b"\0").decode()
    if other is None:
        print(f"  section {name} only in the first")
    elif s.get_data() != other.get_data():
        print(f"  section {name}")
EOF
exit 1
