"""Checks the release zip: exactly the exe and the README at its top, both the files
they were made from, and a SHA256SUMS line that matches the zip.

Usage: check_release.py ZIP SHA256SUMS EXE README
Prints every problem and exits 1 when there is any.
"""

import hashlib
import os
import sys
import zipfile

EXPECTED_NAMES = ("DateRecorder.exe", "README.md")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check(zip_path, sums_path, exe_path, readme_path):
    failures = []
    try:
        archive = zipfile.ZipFile(zip_path)
    except (OSError, zipfile.BadZipFile) as error:
        return [f"cannot open {zip_path} as a zip: {error}"]
    with archive:
        names = [info.filename for info in archive.infolist()]
        for name in EXPECTED_NAMES:
            if name not in names:
                failures.append(f"zip lacks {name} at its top level")
        for name in names:
            if name not in EXPECTED_NAMES:
                failures.append(f"zip holds {name}, which does not belong in the release")
        broken = archive.testzip()
        if broken is not None:
            failures.append(f"zip member {broken} is corrupt")
        else:
            for name, source in zip(EXPECTED_NAMES, (exe_path, readme_path)):
                if name in names and archive.read(name) != read(source):
                    failures.append(f"zip's {name} is not the same as {source}")

    digest = hashlib.sha256(read(zip_path)).hexdigest()
    try:
        lines = [line for line in read(sums_path).decode("utf-8").splitlines() if line.strip()]
    except OSError as error:
        return failures + [f"cannot read {sums_path}: {error}"]
    entries = {}
    for line in lines:
        parts = line.split(None, 1)
        if len(parts) != 2 or len(parts[0]) != 64:
            failures.append(f"SHA256SUMS line is not '<sha256>  <file>': {line!r}")
            continue
        entries[parts[1].lstrip("*")] = parts[0].lower()
    zip_name = os.path.basename(zip_path)
    if zip_name not in entries:
        failures.append(f"SHA256SUMS has no line for {zip_name}")
    elif entries[zip_name] != digest:
        failures.append(f"SHA256SUMS gives {entries[zip_name]} for {zip_name}, the zip's SHA-256 is {digest}")
    return failures


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    failures = check(*argv)
    if failures:
        for failure in failures:
            print(f"  RELEASE: {failure}")
        return 1
    print(f"{argv[0]}: {', '.join(EXPECTED_NAMES)}; checksum matches")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
