#!/usr/bin/env python3
"""Runs the 32-bit lkspanreg.exe under 32-bit Wine (qemu) in a WoW64 prefix, as on 64-bit Windows.

The scenarios are the rows marked wine32 in tests/scenarios/scenarios.txt, the table every
registry runs: registering over an old basket list, registering again over the result, and /U.
Each row starts from its registry, imported into the 32-bit view once the band's three trees are
deleted; the program runs once per run line; then the three trees in the 32-bit view must be the
row's. Besides, the class key must be in the 32-bit view only (under
HKLM\\Software\\Classes\\Wow6432Node in the 64-bit view, never in the 64-bit HKCR\\CLSID), and /U
must leave the key above the button's.
The registry is seeded and read by the 64-bit reg.exe with /reg:32 or /reg:64, which runs at
native speed; every 32-bit start costs about a minute, so the test counts and times them.

usage: wine32_test.py --prefix WINEPREFIX LKSPANREG_EXE
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "..", "tests", "scenarios"))
import scenario_table  # noqa: E402

WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
BAND = scenario_table.BAND
CLASS_KEY = "HKEY_CLASSES_ROOT\\CLSID\\" + BAND
BUTTON_PARENT = "HKEY_CURRENT_USER\\Software\\Microsoft\\Internet Explorer\\Extensions"
# Where a 64-bit Windows keeps the classes that 32-bit programs write.
WOW64_CLASS_KEY = "HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\CLSID\\" + BAND
TREE_KEYS = ["%s\\%s\\%s" % tree for tree in scenario_table.BAND_TREES]


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
        """What reg export writes for the key in the given view (bytes), or None."""
        target = os.path.join(self.workdir, "export.reg")
        if os.path.exists(target):
            os.remove(target)
        code, _, _ = self.reg("export", key, self.windows_path("export.reg"), "/y", "/reg:" + view)
        if code != 0:
            return None
        with open(target, "rb") as f:
            return f.read()

    def import_text(self, text):
        with open(os.path.join(self.workdir, "import.reg"), "wb") as f:
            f.write(text.encode("latin-1"))
        return self.reg("import", self.windows_path("import.reg"), "/reg:32")

    def band_trees(self):
        """The band's three trees in the 32-bit view, as the rows compare them."""
        exports = [self.export(key, "32") for key in TREE_KEYS]
        return scenario_table.band_trees([text for text in exports if text is not None])


def relative_tree(text, path):
    """The tree at `path` in a registry text (bytes), its keys named from `path` on."""
    key = scenario_table.find(scenario_table.parse(text), path) if text is not None else None
    return None if key is None else scenario_table.dump(key, "")


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

    def views(self, wine, expected_after):
        """Where the class key is in the two views; what /U leaves above the button's key."""
        expected_class = relative_tree(expected_after.encode("latin-1"), CLASS_KEY)
        if expected_class is not None:
            got = relative_tree(wine.export(WOW64_CLASS_KEY, "64"), WOW64_CLASS_KEY)
            self.check(got == expected_class, "the 64-bit view has the class under " +
                       WOW64_CLASS_KEY, "got %r\n       want %r" % (got, expected_class))
        else:
            self.check(wine.export(WOW64_CLASS_KEY, "64") is None, "no " + WOW64_CLASS_KEY)
        self.check(wine.export(CLASS_KEY, "64") is None, "no class key in the 64-bit view")
        self.check(wine.export("HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\" + BAND, "64")
                   is None, "no class key under HKLM\\Software\\Classes\\CLSID (64-bit)")
        if relative_tree(expected_after.encode("latin-1"), TREE_KEYS[1]) is None:
            self.check(wine.export(BUTTON_PARENT, "32") is not None, "kept: " + BUTTON_PARENT)


def import_text(before):
    """A REGEDIT4 text that deletes the band's trees, then adds the row's registry."""
    text = "REGEDIT4\r\n\r\n" + "".join("[-%s]\r\n\r\n" % key for key in TREE_KEYS)
    return text + (before.split("\r\n", 1)[1] if before else "")


def imports_exactly(value):
    """reg import ends every text with a NUL and reg export writes only four-byte REG_DWORDs:
    a row holding other values needs lkspanreg_wine_tests, which sets and reads them through
    the registry API."""
    _, _, kind, raw = value
    if kind in scenario_table.TEXT_TYPES:
        return raw.endswith(b"\0")
    return kind != 4 or len(raw) in (0, 4)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("exe")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    checks = Checks()
    began = time.monotonic()
    rows = [row for row in scenario_table.load() if row.wine32 and "wine" not in row.skip]
    checks.check(len(rows) > 0, "the scenario table has rows marked wine32")

    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(args.prefix))) as work:
        wine = Wine(os.path.abspath(args.prefix), work)
        for row in rows:
            print(row.name + ":", flush=True)
            after = row.expected_after("wine")
            values = [v for text in (row.before, after) if text
                      for v in scenario_table.band_values(text)]
            odd = [v for v in values if not imports_exactly(v)]
            checks.check(not odd, "its values go through reg import and reg export", odd)
            code, _, err = wine.import_text(import_text(row.before))
            checks.check(code == 0, "its registry imported", err)
            want = scenario_table.band_trees([row.before.encode("latin-1")] if row.before else [])
            checks.check(wine.band_trees() == want, "the registry holds the row's registry")
            for run in row.runs:
                code, out, _ = wine.run32(row.name, exe, *run)
                checks.check(code == 0 and out == b"", "exits 0 and prints nothing", (code, out))
            got = wine.band_trees()
            want = scenario_table.band_trees([after.encode("latin-1")])
            checks.check(got == want, "the band's trees are the row's",
                         "got:\n%s\n       want:\n%s" % (got, want))
            checks.views(wine, after)

    total = sum(wine.starts)
    print("32-bit starts: %d, %.1f s of %.1f s in all" % (len(wine.starts), total,
                                                          time.monotonic() - began))
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
