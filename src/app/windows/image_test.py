#!/usr/bin/env python3
"""Checks that the 32-bit image of lkspanreg runs on every Windows from the oldest it supports.

It must be a 32-bit x86 console program, small, stripped, that imports exactly the reviewed
functions below, each of which the oldest Windows has, that asks for no newer subsystem, and
that carries a version resource and a manifest that has it run as the user who starts it (so
Windows never takes it for an installer).

The system functions are proven present on the oldest Windows by compiling a unit that names
each of them with _WIN32_WINNT set to that Windows: the MinGW headers declare a function only
for the Windows versions that have it.

usage: image_test.py --objdump OBJDUMP --cxx CXX --oldest-windows 0x0501 --version A.B.C.D IMAGE
"""
import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

# Everything the image imports, by DLL, reviewed. A function that is not here fails the test
# until someone has checked that Windows XP SP2 exports it and added it.
IMPORTS = {
    # The registry calls of the program.
    "advapi32.dll": {"RegCloseKey", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA"},
    "shlwapi.dll": {"SHDeleteKeyA"},
    # The MinGW start-up code: its lock and thread-exit list (critical sections, TlsGetValue,
    # Sleep), pseudo-relocations (VirtualQuery, VirtualProtect), the frame registration that
    # looks for a libgcc DLL (GetModuleHandleA, LoadLibraryA, GetProcAddress, FreeLibrary), the
    # console window mode (GetStartupInfoA) and the crash filter (SetUnhandledExceptionFilter).
    "kernel32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "FreeLibrary", "GetLastError",
        "GetModuleHandleA", "GetProcAddress", "GetStartupInfoA", "InitializeCriticalSection",
        "LeaveCriticalSection", "LoadLibraryA", "SetUnhandledExceptionFilter", "Sleep",
        "TlsGetValue", "VirtualProtect", "VirtualQuery",
    },
    # The classic msvcrt.dll, as Windows XP has it: the start-up and exit interface that the
    # MinGW start-up code uses, with its memory and string calls, its error report (fprintf,
    # vfprintf, fwrite, _iob, abort), and the program's own calls (strcmp, strlen, strstr).
    "msvcrt.dll": {
        "__getmainargs", "__initenv", "__p__acmdln", "__p__commode", "__p__fmode",
        "__set_app_type", "__setusermatherr", "_amsg_exit", "_cexit", "_initterm", "_iob",
        "_onexit", "abort", "calloc", "exit", "fprintf", "free", "fwrite", "malloc", "memcpy",
        "signal", "strcmp", "strlen", "strncmp", "strstr", "vfprintf",
    },
}
# The DLLs whose functions the Windows headers declare by version (msvcrt's are not).
SYSTEM_DLLS = ("kernel32.dll", "advapi32.dll", "shlwapi.dll")
# A function the oldest Windows lacks: the headers must refuse it, or the proof above proves
# nothing.
NEWER_FUNCTION = "GetTickCount64"
# The image with its version resource and manifest; about 19 KB today.
SIZE_BUDGET = 24 * 1024
RT_VERSION, RT_MANIFEST = 16, 24
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10 and 11",
}
# The elements of the first manifest schema, which Windows XP knows; it refuses to start a
# program whose manifest puts any other element there (trustInfo without its own namespace).
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
XP_MANIFEST_ELEMENTS = {"assemblyIdentity", "noInherit", "noInheritable", "description",
                        "dependency", "file", "comInterfaceExternalProxyStub"}
# Words that make Windows guess a program without a manifest is an installer.
INSTALLER_WORDS = ("install", "setup", "update", "patch")

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def imports(dump):
    """DLL name (lower case) -> names imported by name ('<none>' for an import by ordinal)."""
    table = {}
    current = None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = table.setdefault(m.group(1).lower(), set())
            continue
        m = re.match(r"\t[0-9a-f]+\t\s*\d+\s+(\S+)", line)
        if current is not None and m:
            current.add(m.group(1))
        elif not line.strip():
            current = None
    return table


def undeclared(cxx, winnt, names):
    """Of `names`, those the Windows headers do not declare for Windows `winnt` (None: the unit
    failed for another reason, given as the second value)."""
    unit = "#include <windows.h>\n#include <shlwapi.h>\nvoid NameAll() {\n%s}\n" % "".join(
        "  (void)&%s;\n" % name for name in sorted(names))
    result = subprocess.run(
        [cxx, "-fsyntax-only", "-x", "c++", "-D_WIN32_WINNT=" + winnt, "-DWINVER=" + winnt, "-"],
        input=unit, capture_output=True, text=True, env=dict(os.environ, LC_ALL="C"))
    if result.returncode == 0:
        return set(), ""
    found = set(re.findall(r"'(\w+)' was not declared", result.stderr)) & set(names)
    return (found, "") if found else (None, result.stderr.strip())


def resources(dump):
    """(type, name, language) -> (RVA, size) of every leaf of the resource directory."""
    found = {}
    path = []
    for line in dump.splitlines():
        m = re.match(r"[0-9a-f]{3}( +)Entry: ID: (0x[0-9a-f]+)", line)
        if m:
            depth = (len(m.group(1)) - 3) // 2
            path = path[:depth] + [int(m.group(2), 16)]
            continue
        m = re.match(r"[0-9a-f]{3} +Leaf: Addr: (0x[0-9a-f]+), Size: (0x[0-9a-f]+)", line)
        if m and len(path) == 3:
            found[tuple(path)] = (int(m.group(1), 16), int(m.group(2), 16))
    return found


def read_rva(image, headers, image_base, rva, size):
    for m in re.finditer(r"^\s*\d+\s+\S+\s+([0-9a-f]+)\s+([0-9a-f]+)\s+[0-9a-f]+\s+([0-9a-f]+)",
                         headers, re.M):
        length, vma, offset = (int(g, 16) for g in m.groups())
        start = vma - image_base
        if start <= rva and rva + size <= start + length:
            return image[offset + rva - start:offset + rva - start + size]
    raise ValueError("RVA 0x%x is in no section" % rva)


def version_blocks(data, offset=0):
    """Parses one block of a version resource: (key, value bytes, children)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    pos = offset + 6
    key_end = pos
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[pos:key_end].decode("utf-16-le")
    pos = (key_end + 2 + 3) & ~3
    value_size = value_length * 2 if kind == 1 else value_length
    value = data[pos:pos + value_size]
    pos = (pos + value_size + 3) & ~3
    children = []
    while pos < end:
        child = version_blocks(data, pos)
        children.append(child[:3])
        pos = (pos + child[3] + 3) & ~3
    return key, value, children, length


def version_strings(root):
    strings = {}
    for key, _, tables in root[2]:
        if key == "StringFileInfo":
            for _, _, entries in tables:
                for name, value, _ in entries:
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return strings


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--cxx", required=True)
    parser.add_argument("--oldest-windows", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("image")
    args = parser.parse_args()

    dump = subprocess.run([args.objdump, "-p", args.image], check=True, capture_output=True,
                          text=True).stdout
    headers = subprocess.run([args.objdump, "-h", args.image], check=True, capture_output=True,
                             text=True).stdout
    with open(args.image, "rb") as f:
        image = f.read()

    # The kind of program.
    check("file format pei-i386" in dump, "a PE image for i386")
    check(re.search(r"^Magic\s+010b\s+\(PE32\)", dump, re.M) is not None, "PE32 (not PE32+)")
    check(re.search(r"^Subsystem\s+00000003\s+\(Windows CUI\)", dump, re.M) is not None,
          "console subsystem")
    check(len(image) <= SIZE_BUDGET, "at most %d bytes (has %d)" % (SIZE_BUDGET, len(image)))
    check(re.search(r"^\s+symbols stripped$", dump, re.M) is not None, "stripped")

    # The oldest Windows: the loader refuses an image that asks for a newer subsystem.
    oldest = int(args.oldest_windows, 16)
    wanted = (oldest >> 8, oldest & 0xFF)
    subsystem = tuple(int(re.search(r"^%sSubsystemVersion\s+(\d+)" % part, dump, re.M).group(1))
                      for part in ("Major", "Minor"))
    check(subsystem <= wanted, "subsystem version %d.%d is at most %d.%d" % (subsystem + wanted))

    # What it needs from the system: exactly the reviewed functions.
    table = imports(dump)
    for dll in sorted(set(table) | set(IMPORTS)):
        got, reviewed = table.get(dll, set()), IMPORTS.get(dll, set())
        check(got == reviewed, "%s: imports exactly the reviewed functions (new: %s; gone: %s)" %
              (dll, sorted(got - reviewed) or "none", sorted(reviewed - got) or "none"))

    # ... each of which the oldest Windows has, as its headers tell.
    system = set().union(*(table.get(dll, set()) | IMPORTS[dll] for dll in SYSTEM_DLLS))
    missing, error = undeclared(args.cxx, args.oldest_windows, system)
    check(missing == set(), "the %d system functions are declared for Windows %s (not: %s)" %
          (len(system), args.oldest_windows, sorted(missing) if missing else error or "none"))
    refused, error = undeclared(args.cxx, args.oldest_windows, {NEWER_FUNCTION})
    check(refused == {NEWER_FUNCTION}, "the headers refuse %s for Windows %s%s" %
          (NEWER_FUNCTION, args.oldest_windows, " (" + error + ")" if error else ""))

    # Resources: one version resource and the process manifest, both with ID 1.
    image_base = int(re.search(r"^ImageBase\s+([0-9a-f]+)", dump, re.M).group(1), 16)
    found = resources(dump)
    check(re.search(r"^Entry 2 [0-9a-f]*[1-9a-f][0-9a-f]* ", dump, re.M) is not None,
          "has a resource directory")
    leaves = {(t, n): where for (t, n, _), where in found.items()}
    check((RT_MANIFEST, 1) in leaves, "manifest resource with ID 1")
    check((RT_VERSION, 1) in leaves, "version resource with ID 1")

    if (RT_MANIFEST, 1) in leaves:
        text = read_rva(image, headers, image_base, *leaves[(RT_MANIFEST, 1)])
        try:
            root = ET.fromstring(text)
        except ET.ParseError as error:
            root = None
            check(False, "manifest is well-formed XML (%s)" % error)
        if root is not None:
            identity = root.find(ASM_V1 + "assemblyIdentity")
            check(identity is not None and identity.get("type") == "win32" and
                  bool(identity.get("name")) and identity.get("version") == args.version,
                  "manifest names the program, version %s" % args.version)
            unknown = [e.tag for e in root if e.tag.startswith(ASM_V1) and
                       e.tag[len(ASM_V1):] not in XP_MANIFEST_ELEMENTS]
            check(not unknown, "manifest has no first-schema element XP lacks (has: %s)" %
                  (unknown or "none"))
            levels = [e.attrib for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")]
            check(levels == [{"level": "asInvoker", "uiAccess": "false"}],
                  "manifest asks for asInvoker without uiAccess (got %s)" % levels)
            ids = {e.get("Id", "").lower() for e in root.iter() if e.tag.endswith("}supportedOS")}
            missing = [name for guid, name in SUPPORTED_OS.items() if guid not in ids]
            check(not missing and len(ids) == len(SUPPORTED_OS),
                  "manifest declares Windows Vista, 7, 8, 8.1, 10/11 (missing: %s)" %
                  (missing or "none"))

    if (RT_VERSION, 1) in leaves:
        data = read_rva(image, headers, image_base, *leaves[(RT_VERSION, 1)])
        root = version_blocks(data)
        check(root[0] == "VS_VERSION_INFO", "version resource is a VS_VERSION_INFO")
        fixed = struct.unpack_from("<13I", root[1]) if len(root[1]) >= 52 else (0,) * 13
        check(fixed[0] == 0xFEEF04BD, "version resource has its fixed part")
        numbers = tuple(int(n) for n in args.version.split("."))
        as_numbers = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        check(as_numbers(fixed[2], fixed[3]) == numbers, "file version is " + args.version)
        check(as_numbers(fixed[4], fixed[5]) == numbers, "product version is " + args.version)
        check(fixed[9] == 1, "file type is an application")
        strings = version_strings(root)
        check(strings.get("ProductName") == "Larkspan", "product name is Larkspan")
        check(bool(strings.get("FileDescription")), "has a file description")
        check(strings.get("FileVersion") == args.version and
              strings.get("ProductVersion") == args.version,
              "version texts are " + args.version)
        names = " ".join(strings.get(k, "") for k in
                         ("FileDescription", "ProductName", "InternalName", "OriginalFilename"))
        check(not any(w in names.lower() for w in INSTALLER_WORDS),
              "no installer words in the version texts (%r)" % names)

    print("%d failed" % len(failures) if failures else "image is fine")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
