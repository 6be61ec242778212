#!/usr/bin/env bash
# Lists the code section of an exe with the toolchain's objdump, extracts the same bytes, and has
# our decoder check every instruction's length against the listing.
# disasm_crosscheck.sh <objcopy> <objdump> <exe> <checker exe> <work folder>
set -u
objcopy=$1 objdump=$2 exe=$3 checker=$4 work=$5
mkdir -p "$work"
"$objcopy" -O binary -j .text "$exe" "$work/text.bin" || { echo "FAIL: objcopy"; exit 1; }
address=$("$objdump" -h "$exe" | awk '$2 == ".text" { print $4 }')
[ -n "$address" ] || { echo "FAIL: no .text section in $exe"; exit 1; }
"$objdump" -d -z --no-show-raw-insn -j .text "$exe" >"$work/listing.txt" || { echo "FAIL: objdump"; exit 1; }
timeout 240 wine "$checker" "$work/text.bin" "$address" "$work/listing.txt" </dev/null >"$work/result.txt" 2>"$work/result.err"
status=$?
cat "$work/result.txt" "$work/result.err"
exit $status
