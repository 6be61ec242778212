"""Proves that check_pe.py notices each fault it is meant to catch.

Each case damages one property in a copy of the real exe and expects exactly the
failure that names it. Usage: test_check_pe.py GOOD_EXE OTHER_EXE [unittest args]
(OTHER_EXE: a plain program built without the application's resources).
"""

import contextlib
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_pe  # noqa: E402

GOOD_EXE = OTHER_EXE = None


def header(apply):
    def mutate(data):
        pe = pefile.PE(data=bytes(data))
        apply(pe)
        return bytearray(pe.write())
    return mutate


def resource_entry(pe, type_id, name=None):
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id == type_id:
            entries = rtype.directory.entries
            for rname in entries:
                if name is None or rname.id == name or str(rname.name) == name:
                    return rtype, rname
    raise AssertionError(f"fixture exe has no resource {type_id}/{name}")


def retype(type_id, new_id):
    def mutate(data):
        pe = pefile.PE(data=bytes(data))
        rtype, _ = resource_entry(pe, type_id)
        struct.pack_into("<I", data, rtype.struct.get_file_offset(), new_id)
        return data
    return mutate


def rename_id(type_id, new_id):
    def mutate(data):
        pe = pefile.PE(data=bytes(data))
        _, rname = resource_entry(pe, type_id)
        struct.pack_into("<I", data, rname.struct.get_file_offset(), new_id)
        return data
    return mutate


def rename_layout(data):
    pe = pefile.PE(data=bytes(data))
    _, rname = resource_entry(pe, check_pe.RT_RCDATA, "TFORM2")
    # A named entry points at a length word followed by the UTF-16 name.
    offset = pe.get_offset_from_rva(rname.name.get_rva()) + 2
    assert bytes(data[offset:offset + 12]) == "TFORM2".encode("utf-16-le")
    data[offset:offset + 12] = "TFORMX".encode("utf-16-le")
    return data


def resource_data(pe, type_id, name=None):
    _, rname = resource_entry(pe, type_id, name)
    entry = rname.directory.entries[0].data.struct
    return entry, pe.get_offset_from_rva(entry.OffsetToData)


def manifest(transform):
    """Rewrites the manifest in place; comments and the description make room for longer text."""
    def mutate(data):
        pe = pefile.PE(data=bytes(data))
        entry, offset = resource_data(pe, check_pe.RT_MANIFEST, 1)
        text = bytes(data[offset:offset + entry.Size]).decode("utf-8")
        text = re.sub(r"<!--.*?-->|<description>.*?</description>", "", text)
        changed = transform(text).encode("utf-8")
        assert changed != text.encode("utf-8"), "manifest mutation changed nothing"
        assert len(changed) <= entry.Size, "mutated manifest does not fit"
        data[offset:offset + entry.Size] = changed + b" " * (entry.Size - len(changed))
        return data
    return mutate


def break_icon_group(data):
    pe = pefile.PE(data=bytes(data))
    _, offset = resource_data(pe, check_pe.RT_GROUP_ICON)
    struct.pack_into("<H", data, offset + 6 + 12, 999)
    return data


def rename_import(old, new):
    def mutate(data):
        pe = pefile.PE(data=bytes(data))
        for entry in pe.DIRECTORY_ENTRY_IMPORT:
            if entry.dll.lower() == old.lower():
                offset = pe.get_offset_from_rva(entry.struct.Name)
                assert len(new) <= len(entry.dll)
                data[offset:offset + len(entry.dll)] = new.ljust(len(entry.dll), b"\0")
                return data
        raise AssertionError(f"fixture exe does not import {old}")
    return mutate


def rename_symbol(old, new):
    def mutate(data):
        pe = pefile.PE(data=bytes(data))
        start = pe.FILE_HEADER.PointerToSymbolTable + 18 * pe.FILE_HEADER.NumberOfSymbols
        tail = bytes(data[start:]).replace(old + b"\0", new + b"\0")
        assert tail != bytes(data[start:]), f"fixture exe has no symbol {old}"
        data[start:] = tail
        return data
    return mutate


def unprotect_calls(data):
    """Points every call of ___stack_chk_fail elsewhere, as if no function were instrumented."""
    pe = pefile.PE(data=bytes(data))
    section_number, value = check_pe.coff_symbols(pe)["___stack_chk_fail"]
    target = pe.OPTIONAL_HEADER.ImageBase + pe.sections[section_number - 1].VirtualAddress + value
    patched = 0
    for section in pe.sections:
        if not section.Characteristics & 0x20000000:  # only code
            continue
        code = section.get_data()
        base = pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress
        for at in range(len(code) - 4):
            if code[at] == 0xE8 and base + at + 5 + struct.unpack_from("<i", code, at + 1)[0] == target:
                struct.pack_into("<i", data, section.PointerToRawData + at + 1, target + 1 - (base + at + 5))
                patched += 1
    assert patched > 0, "fixture exe has no instrumented function"
    return data


def strip(data):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "stripped.exe")
        with open(path, "wb") as f:
            f.write(data)
        subprocess.run(["i686-w64-mingw32-strip", path], check=True)
        with open(path, "rb") as f:
            stripped = f.read()
    # strip stamps the image with the current time; undo that to isolate the symbol table.
    pe = pefile.PE(data=stripped)
    pe.FILE_HEADER.TimeDateStamp = 0
    return bytearray(pe.write())


def clear(flag):
    def apply(pe):
        pe.OPTIONAL_HEADER.DllCharacteristics &= ~flag
    return apply


# (label, mutation of the exe bytes, text the one expected failure contains)
CASES = [
    ("64-bit machine type", header(lambda pe: setattr(pe.FILE_HEADER, "Machine", 0x8664)), "not i386"),
    ("console subsystem", header(lambda pe: setattr(pe.OPTIONAL_HEADER, "Subsystem", 3)), "Windows GUI"),
    ("default subsystem version",
     header(lambda pe: (setattr(pe.OPTIONAL_HEADER, "MajorSubsystemVersion", 4),
                        setattr(pe.OPTIONAL_HEADER, "MinorSubsystemVersion", 0))), "subsystem version is 4.0"),
    ("old OS version", header(lambda pe: setattr(pe.OPTIONAL_HEADER, "MinorOperatingSystemVersion", 0)),
     "OS version is 6.0"),
    ("no ASLR", header(clear(check_pe.DYNAMIC_BASE)), "DYNAMIC_BASE"),
    ("no DEP", header(clear(check_pe.NX_COMPAT)), "NX_COMPAT"),
    ("not large address aware",
     header(lambda pe: setattr(pe.FILE_HEADER, "Characteristics",
                               pe.FILE_HEADER.Characteristics & ~check_pe.IMAGE_FILE_LARGE_ADDRESS_AWARE)),
     "LARGE_ADDRESS_AWARE"),
    ("relocations stripped",
     header(lambda pe: setattr(pe.FILE_HEADER, "Characteristics",
                               pe.FILE_HEADER.Characteristics | check_pe.IMAGE_FILE_RELOCS_STRIPPED)),
     "relocations are stripped"),
    ("link timestamp", header(lambda pe: setattr(pe.FILE_HEADER, "TimeDateStamp", 0x65000000)), "TimeDateStamp"),
    ("stripped symbol table", strip, "no COFF symbol table"),
    ("no instrumented function", unprotect_calls, "no function calls ___stack_chk_fail"),
    ("no stack guard symbol", rename_symbol(b"___stack_chk_guard", b"___stack_chk_guarX"), "___stack_chk_guard"),
    ("socket import", rename_import(b"ADVAPI32.dll", b"WS2_32.dll"), "for sending data"),
    ("http import", rename_import(b"ADVAPI32.dll", b"winhttp.dll"), "for sending data"),
    ("import from beside the exe", rename_import(b"msvcrt.dll", b"mylib1.dll"), "not a system DLL"),
    ("no manifest", retype(check_pe.RT_MANIFEST, 25), "no RT_MANIFEST"),
    ("manifest not id 1", rename_id(check_pe.RT_MANIFEST, 2), "not 1"),
    ("manifest not XML", manifest(lambda t: t.replace("</assembly>", "</assembl>")), "well-formed"),
    ("elevation requested",
     manifest(lambda t: t.replace('level="asInvoker"', 'level="requireAdministrator"')), "not \"asInvoker\""),
    ("ui access", manifest(lambda t: t.replace('uiAccess="false"', 'uiAccess="true"')), "uiAccess"),
    ("no execution level",
     manifest(lambda t: re.sub(r"<requestedExecutionLevel[^>]*/>", "", t)), "no requestedExecutionLevel"),
    ("old common controls", manifest(lambda t: t.replace('version="6.0.0.0"', 'version="5.82.0.0"')), "6.0.0.0"),
    ("controls without token", manifest(lambda t: re.sub(r'publicKeyToken="[^"]*"', "", t)), "publicKeyToken"),
    ("no controls dependency",
     manifest(lambda t: re.sub(r"<dependency>.*?</dependency>", "", t, flags=re.S)), "Common-Controls"),
    ("no Windows 7 entry", manifest(lambda t: re.sub(r'<supportedOS Id="\{35138b9a[^>]*/>', "", t)), "Windows 7"),
    ("no Windows 10 entry", manifest(lambda t: re.sub(r'<supportedOS Id="\{8e0f7a12[^>]*/>', "", t)), "Windows 10"),
    ("no DPI awareness",
     manifest(lambda t: re.sub(r"<dpiAware(ness)? [^>]*>[^<]*</dpiAware(ness)?>", "", t)), "DPI awareness"),
    ("DPI awareness in wrong namespace",
     manifest(lambda t: re.sub(r"<dpiAwareness [^>]*>[^<]*</dpiAwareness>", "",
                               t.replace("SMI/2005/WindowsSettings", "SMI/2004/WindowsSettings"))),
     "DPI awareness"),
    ("no icon group", retype(check_pe.RT_GROUP_ICON, 15), "no icon group"),
    ("icon group names a missing icon", break_icon_group, "not in the image"),
    ("no version info", retype(check_pe.RT_VERSION, 17), "no VERSIONINFO"),
    ("no stored layout", rename_layout, "TFORM2"),
]


def run_check(data, version=None):
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "mutated.exe")
        with open(path, "wb") as f:
            f.write(data)
        return check_pe.check(path, version)[0]


class CheckerCatchesFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(GOOD_EXE, "rb") as f:
            cls.good = f.read()

    def test_real_exe_passes(self):
        self.assertEqual(run_check(self.good), [])

    def test_each_fault_is_named_alone(self):
        for label, mutate, expected in CASES:
            with self.subTest(label):
                failures = run_check(mutate(bytearray(self.good)))
                self.assertEqual(len(failures), 1, failures)
                self.assertIn(expected, failures[0])

    def test_wrong_version_is_named(self):
        failures = run_check(self.good, "9.8.7")
        self.assertEqual(len(failures), 4, failures)
        for key in ("VERSIONINFO FileVersion", "VERSIONINFO ProductVersion",
                    "fixed FileVersion", "fixed ProductVersion"):
            self.assertTrue(any(key in f for f in failures), (key, failures))

    def test_not_a_pe_file(self):
        failures = run_check(b"MZ but nothing more")
        self.assertEqual(len(failures), 1)
        self.assertIn("cannot read", failures[0])

    def test_plain_program_fails_naming_the_missing_resources(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = check_pe.main([OTHER_EXE])
        self.assertEqual(status, 1)
        for missing in ("RT_MANIFEST", "icon group", "VERSIONINFO", '"TFORM2"'):
            self.assertIn(missing, out.getvalue())

    def test_command_line_passes_the_real_exe(self):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = check_pe.main([GOOD_EXE])
        self.assertEqual(status, 0, out.getvalue())
        self.assertIn("KERNEL32.dll", out.getvalue())


if __name__ == "__main__":
    if len(sys.argv) < 3 or shutil.which("i686-w64-mingw32-strip") is None:
        sys.exit("usage: test_check_pe.py GOOD_EXE OTHER_EXE (needs i686-w64-mingw32-strip on PATH)")
    GOOD_EXE, OTHER_EXE = sys.argv[1], sys.argv[2]
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:])
