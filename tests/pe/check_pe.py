"""Checks a built DateRecorder.exe from Linux: headers, hardening, imports and resources.

Usage: check_pe.py EXE [--version X.Y.Z]
Prints every missing property and exits 1 when there is any; exits 0 and prints a
short summary otherwise. Run with Debian's /usr/bin/python3 (python3-pefile).
"""

import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ET

import pefile

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
PE32_MAGIC = 0x010B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100

RT_ICON = 3
RT_RCDATA = 10
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

# DLLs the loader always takes from the system (known DLLs, API sets) and comctl32,
# which the manifest binds side by side. Anything else could be planted beside the exe
# and should be loaded at run time from the system folder instead.
SYSTEM_DLLS = {
    "ntdll.dll", "kernel32.dll", "kernelbase.dll", "user32.dll", "gdi32.dll", "advapi32.dll",
    "comctl32.dll", "comdlg32.dll", "imm32.dll", "msvcrt.dll", "ole32.dll", "oleaut32.dll",
    "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "usp10.dll", "msctf.dll", "imagehlp.dll", "clbcatq.dll", "normaliz.dll", "lpk.dll",
}
API_SET_PREFIXES = ("api-ms-win-", "ext-ms-win-")
# Libraries whose purpose is talking to other machines: the tool must not import any.
SENDING_DLLS = {
    "ws2_32.dll", "wsock32.dll", "mswsock.dll", "wininet.dll", "winhttp.dll", "urlmon.dll",
    "mapi32.dll", "mapistub.dll", "dnsapi.dll", "iphlpapi.dll", "netapi32.dll", "wsnmp32.dll",
    "websocket.dll", "httpapi.dll", "wnaspi32.dll", "rasapi32.dll", "mpr.dll", "wldap32.dll",
    "qmgr.dll", "bitsprx.dll", "schannel.dll",
}

ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT_V1 = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SETTINGS_2016 = "http://schemas.microsoft.com/SMI/2016/WindowsSettings"
WINDOWS_7 = "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"
WINDOWS_10 = "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"
COMMON_CONTROLS_TOKEN = "6595b64144ccf1df"


def local(tag):
    return tag.rsplit("}", 1)[-1]


def namespace(tag):
    return tag[1:].split("}", 1)[0] if tag.startswith("{") else ""


def check_headers(pe, failures):
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    if fh.Machine != IMAGE_FILE_MACHINE_I386:
        failures.append(f"machine type is 0x{fh.Machine:04x}, not i386 (0x014c): not a 32-bit x86 image")
    if oh.Magic != PE32_MAGIC:
        failures.append(f"optional header magic is 0x{oh.Magic:04x}, not PE32 (0x010b)")
    if oh.Subsystem != IMAGE_SUBSYSTEM_WINDOWS_GUI:
        failures.append(f"subsystem is {oh.Subsystem}, not the Windows GUI subsystem (2)")
    subsystem = (oh.MajorSubsystemVersion, oh.MinorSubsystemVersion)
    if subsystem != (6, 1):
        failures.append(f"subsystem version is {subsystem[0]}.{subsystem[1]}, not 6.1 (Windows 7)")
    os_version = (oh.MajorOperatingSystemVersion, oh.MinorOperatingSystemVersion)
    if os_version != (6, 1):
        failures.append(f"OS version is {os_version[0]}.{os_version[1]}, not 6.1 (Windows 7)")
    if not oh.DllCharacteristics & DYNAMIC_BASE:
        failures.append("DllCharacteristics lacks DYNAMIC_BASE (ASLR)")
    if not oh.DllCharacteristics & NX_COMPAT:
        failures.append("DllCharacteristics lacks NX_COMPAT (DEP)")
    relocations = oh.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_BASERELOC"]]
    if fh.Characteristics & IMAGE_FILE_RELOCS_STRIPPED or relocations.Size == 0:
        failures.append("base relocations are stripped: the image cannot be moved, ASLR has no effect")
    if not fh.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE:
        failures.append("Characteristics lacks LARGE_ADDRESS_AWARE")


def check_timestamps(pe, failures):
    if pe.FILE_HEADER.TimeDateStamp != 0:
        failures.append(f"COFF header TimeDateStamp is {pe.FILE_HEADER.TimeDateStamp}, not 0: builds differ")
    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE") and pe.DIRECTORY_ENTRY_RESOURCE.struct.TimeDateStamp != 0:
        failures.append("resource directory carries a timestamp")
    for entry in getattr(pe, "DIRECTORY_ENTRY_DEBUG", []):
        if entry.struct.TimeDateStamp != 0:
            failures.append("debug directory carries a timestamp")
    if hasattr(pe, "DIRECTORY_ENTRY_EXPORT") and pe.DIRECTORY_ENTRY_EXPORT.struct.TimeDateStamp != 0:
        failures.append("export directory carries a timestamp")


def coff_symbols(pe):
    """{name: (section number, value)} from the image's COFF symbol table, which GNU ld
    keeps unless the exe is stripped; None when there is none."""
    fh = pe.FILE_HEADER
    if fh.PointerToSymbolTable == 0 or fh.NumberOfSymbols == 0:
        return None
    data = pe.__data__
    start = fh.PointerToSymbolTable
    strings = start + 18 * fh.NumberOfSymbols
    if strings + 4 > len(data):
        return None
    symbols = {}
    index = 0
    while index < fh.NumberOfSymbols:
        record = data[start + 18 * index : start + 18 * index + 18]
        if len(record) < 18:
            break
        if record[:4] == b"\0\0\0\0":
            (offset,) = struct.unpack_from("<I", record, 4)
            end = data.find(b"\0", strings + offset)
            name = data[strings + offset : end]
        else:
            name = record[:8].rstrip(b"\0")
        value, section = struct.unpack_from("<Ih", record, 8)
        symbols[name.decode("latin-1")] = (section, value)
        index += 1 + record[17]  # skip the auxiliary records
    return symbols


def calls_to(pe, address):
    """How many direct calls (E8 rel32) in executable sections land on address."""
    count = 0
    for section in pe.sections:
        if not section.Characteristics & 0x20000000:  # IMAGE_SCN_MEM_EXECUTE
            continue
        code = section.get_data()
        base = pe.OPTIONAL_HEADER.ImageBase + section.VirtualAddress
        at = code.find(b"\xe8")
        while 0 <= at <= len(code) - 5:
            (relative,) = struct.unpack_from("<i", code, at + 1)
            if base + at + 5 + relative == address:
                count += 1
            at = code.find(b"\xe8", at + 1)
    return count


def check_stack_protector(pe, failures):
    symbols = coff_symbols(pe)
    if symbols is None:
        failures.append("no COFF symbol table (stripped exe): no evidence of the stack protector")
        return
    for wanted in ("___stack_chk_fail", "___stack_chk_guard"):
        if wanted not in symbols:
            failures.append(f"stack protector missing: symbol {wanted} not in the symbol table")
    if "___stack_chk_fail" in symbols:
        section, value = symbols["___stack_chk_fail"]
        if 1 <= section <= len(pe.sections):
            address = pe.OPTIONAL_HEADER.ImageBase + pe.sections[section - 1].VirtualAddress + value
            if calls_to(pe, address) == 0:
                failures.append("stack protector missing: no function calls ___stack_chk_fail")


def imported_dlls(pe):
    dlls = [entry.dll.decode("latin-1") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    dlls += [entry.dll.decode("latin-1") for entry in getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]
    return dlls


def check_imports(pe, failures):
    dlls = imported_dlls(pe)
    if not dlls:
        failures.append("no import table")
    for dll in dlls:
        name = dll.lower()
        if name in SENDING_DLLS:
            failures.append(f"imports {dll}, a library for sending data to other machines")
        elif name not in SYSTEM_DLLS and not name.startswith(API_SET_PREFIXES):
            failures.append(f"imports {dll}, which is not a system DLL the loader always takes from the system")
    return dlls


def resources(pe):
    """{type id or name: {name id or name: data bytes of the first language}}"""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        type_key = str(rtype.name) if rtype.name is not None else rtype.id
        names = found.setdefault(type_key, {})
        for rname in rtype.directory.entries if hasattr(rtype, "directory") else []:
            name_key = str(rname.name) if rname.name is not None else rname.id
            languages = rname.directory.entries if hasattr(rname, "directory") else []
            if languages:
                data = languages[0].data.struct
                names[name_key] = pe.get_data(data.OffsetToData, data.Size)
    return found


def check_manifest(found, failures):
    manifests = found.get(RT_MANIFEST, {})
    if not manifests:
        failures.append("no RT_MANIFEST resource")
        return
    if 1 not in manifests:
        failures.append(f"manifest resource has id {sorted(map(str, manifests))}, not 1: an exe only reads id 1")
        return
    try:
        root = ET.fromstring(manifests[1])
    except ET.ParseError as error:
        failures.append(f"manifest is not well-formed XML: {error}")
        return

    levels = [e for e in root.iter() if local(e.tag) == "requestedExecutionLevel"]
    if not levels:
        failures.append("manifest has no requestedExecutionLevel")
    for e in levels:
        if e.get("level") != "asInvoker":
            failures.append(f'manifest requestedExecutionLevel level is "{e.get("level")}", not "asInvoker"')
        if e.get("uiAccess") != "false":
            failures.append(f'manifest requestedExecutionLevel uiAccess is "{e.get("uiAccess")}", not "false"')

    controls = [
        e for e in root.iter()
        if local(e.tag) == "assemblyIdentity" and e.get("name") == "Microsoft.Windows.Common-Controls"
    ]
    dependent = [e for e in root.iter() if local(e.tag) == "dependentAssembly"]
    if not controls or not any(c in list(d) for d in dependent for c in controls):
        failures.append('manifest has no dependency on "Microsoft.Windows.Common-Controls"')
    for e in controls:
        if e.get("version") != "6.0.0.0":
            failures.append(f'manifest Common-Controls dependency has version "{e.get("version")}", not "6.0.0.0"')
        if (e.get("publicKeyToken") or "").lower() != COMMON_CONTROLS_TOKEN:
            failures.append("manifest Common-Controls dependency lacks its publicKeyToken: it would not bind")

    supported = {
        (e.get("Id") or "").lower()
        for e in root.iter()
        if local(e.tag) == "supportedOS" and namespace(e.tag) == COMPAT_V1
    }
    for guid, label in ((WINDOWS_7, "Windows 7"), (WINDOWS_10, "Windows 10/11")):
        if guid not in supported:
            failures.append(f"manifest has no supportedOS entry for {label} {guid}")

    dpi_aware = [
        (e.text or "").strip().lower() for e in root.iter()
        if local(e.tag) == "dpiAware" and namespace(e.tag) == SETTINGS_2005
    ]
    dpi_awareness = [
        (e.text or "").strip().lower() for e in root.iter()
        if local(e.tag) == "dpiAwareness" and namespace(e.tag) == SETTINGS_2016
    ]
    aware = any(v in ("true", "true/pm", "per monitor") for v in dpi_aware) or any(
        m.strip() in ("permonitorv2", "permonitor", "system") for v in dpi_awareness for m in v.split(",")
    )
    if not aware:
        failures.append("manifest declares no DPI awareness (dpiAware or dpiAwareness in their namespaces)")


def check_icon(found, failures):
    groups = found.get(RT_GROUP_ICON, {})
    if not groups:
        failures.append("no icon group (RT_GROUP_ICON)")
        return
    icons = found.get(RT_ICON, {})
    for name, data in groups.items():
        if len(data) < 6:
            failures.append(f"icon group {name} is truncated")
            continue
        _, kind, count = struct.unpack_from("<HHH", data)
        if kind != 1 or count == 0 or len(data) < 6 + 14 * count:
            failures.append(f"icon group {name} is not a valid icon directory")
            continue
        for i in range(count):
            (icon_id,) = struct.unpack_from("<H", data, 6 + 14 * i + 12)
            if icon_id not in icons:
                failures.append(f"icon group {name} names icon {icon_id}, which is not in the image")


def check_version(pe, found, failures, expected):
    if not found.get(RT_VERSION):
        failures.append("no VERSIONINFO resource")
        return
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    strings = {}
    for info in pe.FileInfo[0] if getattr(pe, "FileInfo", None) else []:
        if getattr(info, "Key", b"") == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    for key in ("FileVersion", "ProductVersion"):
        if not strings.get(key):
            failures.append(f"VERSIONINFO has no {key} string")
        elif expected and not strings[key].startswith(expected):
            failures.append(f'VERSIONINFO {key} is "{strings[key]}", not {expected}')
    if not fixed:
        failures.append("VERSIONINFO has no fixed file info")
        return
    f = fixed[0]
    numbers = {
        "FileVersion": (f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF, f.FileVersionLS >> 16, f.FileVersionLS & 0xFFFF),
        "ProductVersion": (f.ProductVersionMS >> 16, f.ProductVersionMS & 0xFFFF,
                           f.ProductVersionLS >> 16, f.ProductVersionLS & 0xFFFF),
    }
    for key, value in numbers.items():
        if value == (0, 0, 0, 0):
            failures.append(f"VERSIONINFO fixed {key} is 0.0.0.0")
        elif expected:
            wanted = tuple(int(p) for p in expected.split(".")) + (0,) * (4 - len(expected.split(".")))
            if value != wanted:
                failures.append(f"VERSIONINFO fixed {key} is {'.'.join(map(str, value))}, not {expected}")


def check_layout(found, failures):
    layout = found.get(RT_RCDATA, {}).get("TFORM2")
    if layout is None:
        failures.append('no RCDATA resource "TFORM2" (the stored window layout)')
        return
    try:
        text = layout.decode("utf-8")
    except UnicodeDecodeError:
        failures.append('RCDATA "TFORM2" is not UTF-8 text')
        return
    if not re.search(r"^\s*\w+\s*:\s*TForm2\s*\{", text, re.MULTILINE):
        failures.append('RCDATA "TFORM2" does not declare a TForm2 object')


def check(path, expected_version=None):
    """Returns (failures, summary) for the image at path."""
    try:
        pe = pefile.PE(path)
    except (OSError, pefile.PEFormatError) as error:
        return [f"cannot read {path} as a PE image: {error}"], ""
    failures = []
    check_headers(pe, failures)
    check_timestamps(pe, failures)
    check_stack_protector(pe, failures)
    dlls = check_imports(pe, failures)
    found = resources(pe)
    check_manifest(found, failures)
    check_icon(found, failures)
    check_version(pe, found, failures, expected_version)
    check_layout(found, failures)
    summary = "imports: " + ", ".join(dlls)
    return failures, summary


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--version", help="the project version the VERSIONINFO must carry")
    args = parser.parse_args(argv)
    failures, summary = check(args.exe, args.version)
    if failures:
        print(f"{args.exe}: {len(failures)} problem(s)")
        for failure in failures:
            print(f"  MISSING: {failure}")
        return 1
    print(f"{args.exe}: all checks passed ({summary})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
