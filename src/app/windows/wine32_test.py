#!/usr/bin/env python3
"""Runs the 32-bit lkspanreg.exe under 32-bit Wine (qemu) in a WoW64 prefix, as on 64-bit Windows.

Scenarios, in order, on one registry:
  1. an old basket list is seeded; registering writes the whole layout, the class keys in the
     32-bit view only, and converts the list;
  2. registering again leaves the same layout (the list is not converted twice);
  3. /U removes the three trees and nothing above them.
The registry is seeded and read by the 64-bit reg.exe with /reg:32 or /reg:64, which runs at
native speed; every 32-bit start costs about a minute, so the test counts and times them.

usage: wine32_test.py --prefix WINEPREFIX LKSPANREG_EXE
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
SERVER = r"C:\Program Files\Larkspan\band.dll"
BAND = "{6F2A9C41-3B7E-4d58-A1C6-20E4B93F7D05}"
CLASS_KEY = "HKEY_CLASSES_ROOT\\CLSID\\" + BAND
BUTTON_KEY = "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions\\" + BAND
SETTINGS_KEY = "HKEY_CURRENT_USER\\Software\\Larkspan"
# Where a 64-bit Windows keeps the classes that 32-bit programs write.
WOW64_CLASS_KEY = "HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\CLSID\\" + BAND

OLD_BASKETS = ["Inbox", r"C:\Baskets\inbox.lkb", "Archive", r"C:\Baskets\archive.lkb"]
SEED = "\r\n".join([
    "REGEDIT4", "", "[%s]" % SETTINGS_KEY, '"NumberOfBaskets"=dword:00000002',
] + ['"%d"="%s"' % (i, text.replace("\\", "\\\\")) for i, text in enumerate(OLD_BASKETS)]) + "\r\n"

EXPECTED = {
    CLASS_KEY: {
        "": {None: ("sz", "&Larkspan")},
        "\\Implemented Categories": {},
        "\\Implemented Categories\\{00021494-0000-0000-C000-000000000046}": {},
        "\\InprocServer32": {None: ("sz", SERVER), "ThreadingModel": ("sz", "Apartment")},
    },
    BUTTON_KEY: {
        "": {
            None: ("sz", "Default"),
            "Default Visible": ("sz", "Yes"),
            "ButtonText": ("sz", "Larkspan"),
            "HotIcon": ("sz", SERVER + ",3006"),
            "Icon": ("sz", SERVER + ",3007"),
            "CLSID": ("sz", "{E0DD6CAB-2D10-11D2-8F1A-0000F87ABD16}"),
            "BandCLSID": ("sz", BAND),
        },
    },
    SETTINGS_KEY: {
        "": {
            "Path": ("sz", "C:\\Program Files\\Larkspan\\"),
            "Name": ("sz", "lkspan.chm"),
            "NumberOfBaskets": ("dword", 2),
            "0": ("sz", OLD_BASKETS[0]),
            "1": ("sz", OLD_BASKETS[1]),
            "2": ("dword", 2),
            "3": ("sz", OLD_BASKETS[2]),
            "4": ("sz", OLD_BASKETS[3]),
            "5": ("dword", 2),
        },
    },
}


class Wine:
    def __init__(self, prefix, workdir):
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", LC_ALL="C")
        # Under qemu, glibc's C.UTF-8 tables land where 32-bit Wine maps its shared user data.
        self.env.pop("LANG", None)
        self.env.pop("LANGUAGE", None)
        self.workdir = workdir
        self.starts = []

    def run(self, argv):
        # Output goes to files, not pipes: a Wine service started on the way may keep them open.
        out_path = os.path.join(self.workdir, "out.txt")
        err_path = os.path.join(self.workdir, "err.txt")
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            code = subprocess.run(argv, env=self.env, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err, timeout=600).returncode
        with open(out_path, "rb") as out, open(err_path, "rb") as err:
            return code, out.read(), err.read()

    def run32(self, what, exe, *args):
        began = time.monotonic()
        result = self.run([WINE32, exe] + list(args))
        seconds = time.monotonic() - began
        self.starts.append(seconds)
        print("32-bit start %d (%s): %.1f s" % (len(self.starts), what, seconds), flush=True)
        return result

    def reg(self, *args):
        return self.run([WINE64, "reg"] + list(args))

    def windows_path(self, name):
        return "Z:" + os.path.join(self.workdir, name).replace("/", "\\")

    def export(self, key, view):
        """The key's tree in the given view as {subkey: {value name: value}}, or None."""
        target = os.path.join(self.workdir, "export.reg")
        if os.path.exists(target):
            os.remove(target)
        code, _, _ = self.reg("export", key, self.windows_path("export.reg"), "/y", "/reg:" + view)
        if code != 0:
            return None
        with open(target, "rb") as f:
            return parse_export(f.read().decode("utf-16"), key)


def parse_string(text):
    return re.sub(r"\\(.)", r"\1", text)


def parse_export(text, root):
    """Reads what reg export writes; subkeys are named relative to `root`."""
    lines = text.replace("\r\n", "\n").split("\n")
    assert lines[0].lstrip("\ufeff") == "Windows Registry Editor Version 5.00", lines[0]
    tree, values, pending = {}, None, ""
    for line in lines[1:]:
        if line.endswith("\\"):
            pending += line[:-1].strip()  # a hex(...) value that goes on
            continue
        line, pending = pending + line.strip(), ""
        if not line:
            continue
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            assert name.lower().startswith(root.lower()), (name, root)
            values = tree.setdefault(name[len(root):], {})
            continue
        m = re.match(r'(@|"((?:[^"\\]|\\.)*)")=(.*)$', line)
        assert m and values is not None, line
        name = None if m.group(1) == "@" else parse_string(m.group(2))
        data = m.group(3)
        if data.startswith('"') and data.endswith('"'):
            values[name] = ("sz", parse_string(data[1:-1]))
        elif data.startswith("dword:"):
            values[name] = ("dword", int(data[6:], 16))
        else:
            values[name] = ("other", data)
    return tree


class Checks:
    def __init__(self):
        self.failed = 0
        self.passed = 0

    def check(self, ok, what, detail=None):
        print(("  ok   " if ok else "  FAIL ") + what, flush=True)
        if not ok and detail is not None:
            print("       " + str(detail), flush=True)
        if ok:
            self.passed += 1
        else:
            self.failed += 1

    def layout(self, wine):
        for key, expected in EXPECTED.items():
            got = wine.export(key, "32")
            self.check(got == expected, "layout of " + key,
                       "got %r\n       want %r" % (got, expected))
        self.check(wine.export(WOW64_CLASS_KEY, "64") == EXPECTED[CLASS_KEY],
                   "the 64-bit view has the class only under " + WOW64_CLASS_KEY)
        self.check(wine.export(CLASS_KEY, "64") is None, "no class key in the 64-bit view")
        self.check(wine.export("HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\" + BAND, "64")
                   is None, "no class key under HKLM\\Software\\Classes\\CLSID (64-bit)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("exe")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    checks = Checks()
    began = time.monotonic()

    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(args.prefix))) as work:
        wine = Wine(os.path.abspath(args.prefix), work)

        print("start: no earlier run is left", flush=True)
        for key in EXPECTED:
            wine.reg("delete", key, "/f", "/reg:32")
        for key in EXPECTED:
            checks.check(wine.export(key, "32") is None, "no " + key)
        with open(os.path.join(work, "seed.reg"), "w", newline="") as f:
            f.write(SEED)
        code, _, err = wine.reg("import", wine.windows_path("seed.reg"), "/reg:32")
        checks.check(code == 0, "old basket list seeded", err)

        for scenario in ("register over an old basket list", "register again"):
            print(scenario + ":", flush=True)
            code, out, _ = wine.run32(scenario, exe, SERVER)
            checks.check(code == 0 and out == b"", "exits 0 and prints nothing", (code, out))
            checks.layout(wine)

        print("remove (/U):", flush=True)
        code, out, _ = wine.run32("remove", exe, "/U")
        checks.check(code == 0 and out == b"", "exits 0 and prints nothing", (code, out))
        for key, view in [(k, "32") for k in EXPECTED] + [(WOW64_CLASS_KEY, "64")]:
            checks.check(wine.export(key, view) is None, "removed: %s (/reg:%s)" % (key, view))
        parent = "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions"
        checks.check(wine.export(parent, "32") is not None, "kept: " + parent)

    total = sum(wine.starts)
    print("32-bit starts: %d, %.1f s of %.1f s in all" % (len(wine.starts), total,
                                                          time.monotonic() - began))
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
