#!/usr/bin/env bash
# Builds DateRecorder.exe again from a copy of the sources at another path, in another
# build directory, and fails unless the result is byte-identical to the given exe.
# When sources changed after the given exe was built, two fresh builds from one copy of
# them, at two different paths, are compared instead.
#   rebuild_matches.sh SOURCE_DIR BUILD_TYPE EXPECTED_EXE
set -euo pipefail

source_dir=$1
build_type=$2
expected=$3

scratch=$(mktemp -d /tmp/daterecorder-rebuild.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

# build_copy SOURCES BUILD_DIR: configures and builds only the exe.
build_copy() {
    echo "Building from $1"
    cmake -S "$1" -B "$2" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$1/cmake/toolchain-i686-w64-mingw32.cmake" \
        -DCMAKE_BUILD_TYPE="$build_type" >"$2.configure.log" 2>&1 ||
        { cat "$2.configure.log"; exit 1; }
    cmake --build "$2" --target DateRecorder >"$2.build.log" 2>&1 ||
        { cat "$2.build.log"; exit 1; }
}

# describe_difference A B: where two exes differ, so the cause can be found.
describe_difference() {
    echo "sizes: $(stat -c %s "$1") and $(stat -c %s "$2") bytes"
    cmp "$1" "$2" || true
    /usr/bin/python3 - "$1" "$2" <<'EOF' || true
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
}

# The work tree as it is (the exe under test was built from it), without builds or history.
first="$scratch/another/checkout"
mkdir -p "$first"
tar -C "$source_dir" --exclude='./build*' --exclude=./dist --exclude=./.git -cf - . | tar -C "$first" -xf -
build_copy "$first" "$scratch/out"
rebuilt="$scratch/out/src/DateRecorder.exe"

if cmp -s "$expected" "$rebuilt"; then
    echo "Identical to $expected: $(sha256sum <"$rebuilt" | cut -d' ' -f1)  $(stat -c %s "$rebuilt") bytes"
    exit 0
fi

changed=$(find "$first" -type f -newer "$expected" -printf '%P\n' | head -n 5 || true)
# The copy keeps the files' times, so newer files mean the exe under test is older than its sources.
if [ -z "$changed" ]; then
    echo "The rebuilt exe differs from $expected"
    describe_difference "$expected" "$rebuilt"
    exit 1
fi
echo "Sources changed after $expected was built (${changed//$'\n'/, }...):"
echo "comparing two fresh builds of the same sources at different paths instead"
second="$scratch/yet/another/place/src"
mkdir -p "$second"
cp -a "$first/." "$second"
build_copy "$second" "$scratch/out2"
if cmp -s "$rebuilt" "$scratch/out2/src/DateRecorder.exe"; then
    echo "Identical: $(sha256sum <"$rebuilt" | cut -d' ' -f1)  $(stat -c %s "$rebuilt") bytes"
    exit 0
fi
echo "Two builds of the same sources differ"
describe_difference "$rebuilt" "$scratch/out2/src/DateRecorder.exe"
exit 1
