"""check_release.py against small zips that are right and wrong in one way each."""

import hashlib
import os
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_release  # noqa: E402


class CheckRelease(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = scratch.name
        self.exe = self.write("DateRecorder.exe", b"MZ exe bytes")
        self.readme = self.write("README.md", b"# Date recorder\n")
        self.zip = os.path.join(self.dir, "DateRecorder-1.0.0-win32.zip")
        self.sums = os.path.join(self.dir, "SHA256SUMS")

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def make(self, members, sums_line=None):
        with zipfile.ZipFile(self.zip, "w") as archive:
            for name, data in members.items():
                archive.writestr(name, data)
        with open(self.zip, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        if sums_line is None:
            sums_line = f"{digest}  {os.path.basename(self.zip)}\n"
        with open(self.sums, "w") as f:
            f.write(sums_line)
        return check_release.check(self.zip, self.sums, self.exe, self.readme)

    def test_right_release_passes(self):
        self.assertEqual(self.make({"DateRecorder.exe": b"MZ exe bytes", "README.md": b"# Date recorder\n"}), [])

    def test_each_fault_is_named(self):
        good = {"DateRecorder.exe": b"MZ exe bytes", "README.md": b"# Date recorder\n"}
        cases = [
            ("no README", {"DateRecorder.exe": good["DateRecorder.exe"]}, None, "lacks README.md"),
            ("exe in a folder", {"DateRecorder/DateRecorder.exe": b"MZ exe bytes", "README.md": good["README.md"]},
             None, "lacks DateRecorder.exe"),
            ("stray file", {**good, "keeper.exe": b"MZ"}, None, "keeper.exe, which does not belong"),
            ("another exe", {**good, "DateRecorder.exe": b"MZ old build"}, None, "DateRecorder.exe is not the same"),
            ("wrong checksum", good, "0" * 64 + "  DateRecorder-1.0.0-win32.zip\n", "the zip's SHA-256 is"),
            ("checksum of another file", good, "a" * 64 + "  other.zip\n", "no line for DateRecorder-1.0.0-win32.zip"),
            ("malformed sums", good, "not a checksum\n", "is not '<sha256>  <file>'"),
        ]
        for label, members, sums_line, expected in cases:
            with self.subTest(label):
                failures = self.make(members, sums_line)
                self.assertTrue(any(expected in f for f in failures), failures)

    def test_not_a_zip(self):
        self.write("DateRecorder-1.0.0-win32.zip", b"not a zip")
        failures = check_release.check(self.zip, self.sums, self.exe, self.readme)
        self.assertEqual(len(failures), 1)
        self.assertIn("cannot open", failures[0])


if __name__ == "__main__":
    unittest.main()
