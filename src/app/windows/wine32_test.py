#!/usr/bin/env python3
"""Runs the 32-bit lkspanreg.exe under 32-bit Wine (qemu) in a WoW64 prefix, as on 64-bit Windows.

The scenarios are the rows marked wine32 in tests/scenarios/scenarios.txt, the table every
registry runs: registering over an old basket list, registering again over the result, and /U.
Each row starts from its registry, imported into the 32-bit view once the band's three trees are
deleted; the program runs once per run line; then the three trees in the 32-bit view must be the
row's. Besides, the class key must be in the 32-bit view only (under
HKLM\\Software\\Classes\\Wow6432Node in the 64-bit view, never in the 64-bit HKCR\\CLSID), and /U
must leave the key above the button's.
The table, and the registry texts in the form the rows compare, come from the table's reader
through the scenario printer (src/testing/scenario_print.cpp), built for this machine.
The registry is seeded and read by the 64-bit reg.exe with /reg:32 or /reg:64, which runs at
native speed; every 32-bit start costs about a minute, so the test counts and times them.

usage: wine32_test.py --prefix WINEPREFIX --scenarios PRINTER --table SCENARIOS_TXT LKSPANREG_EXE
"""
import argparse
import json
import os
import re
import subprocess
import sys
import tempfile
import time

WINE32 = "/usr/lib/wine/wine"
WINE64 = "/usr/lib/wine/wine64"
TEXT_TYPES = (1, 2, 7)  # REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ


class Scenarios:
    """The scenario table and registry texts as the table's reader gives them."""

    def __init__(self, printer, table, workdir):
        self.printer, self.workdir = printer, workdir
        self.trees = self.run("keys").decode("latin-1").split("\n")[:-1]
        self.rows = json.loads(self.run("rows", table))

    def run(self, *args):
        return subprocess.run([self.printer] + list(args), check=True,
                              stdout=subprocess.PIPE).stdout

    def texts(self, command, texts):
        paths = []
        for i, text in enumerate(texts):
            paths.append(os.path.join(self.workdir, "text%d.reg" % i))
            with open(paths[-1], "wb") as f:
                f.write(text.encode("latin-1") if isinstance(text, str) else text)
        return self.run(command, *paths).decode("latin-1")

    def band_trees(self, texts):
        """The band's three trees in the registry texts read one after the other."""
        return self.texts("trees", [text for text in texts if text])

    def band_values(self, text):
        """(type, bytes) of every value in a text's band trees."""
        return [(kind, data.encode("latin-1"))
                for kind, data in json.loads(self.texts("values", [text]))]


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


def as_class_key(export, wow64_class_key, class_key):
    """A reg export of the class key's place in the 64-bit view, as if of the class key."""
    if export is None:
        return None
    text = re.sub(r"^\[" + re.escape(wow64_class_key), lambda m: "[" + class_key,
                  export[2:].decode("utf-16-le"), flags=re.IGNORECASE | re.MULTILINE)
    return export[:2] + text.encode("utf-16-le")


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


def import_text(before, tree_keys):
    """A REGEDIT4 text that deletes the band's trees, then adds the row's registry."""
    text = "REGEDIT4\r\n\r\n" + "".join("[-%s]\r\n\r\n" % key for key in tree_keys)
    return text + (before.split("\r\n", 1)[1] if before else "")


def imports_exactly(value):
    """reg import ends every text with a NUL and reg export writes only four-byte REG_DWORDs:
    a row holding other values needs lkspanreg_wine_tests, which sets and reads them through
    the registry API."""
    kind, raw = value
    if kind in TEXT_TYPES:
        return raw.endswith(b"\0")
    return kind != 4 or len(raw) in (0, 4)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--scenarios", required=True)
    parser.add_argument("--table", required=True)
    parser.add_argument("exe")
    args = parser.parse_args()
    exe = os.path.abspath(args.exe)
    checks = Checks()
    began = time.monotonic()

    with tempfile.TemporaryDirectory(dir=os.path.dirname(os.path.abspath(args.prefix))) as work:
        table = Scenarios(args.scenarios, args.table, work)
        class_key, button_key = table.trees[0], table.trees[1]
        # Where a 64-bit Windows keeps the classes that 32-bit programs write.
        wow64_class_key = ("HKEY_LOCAL_MACHINE\\Software\\Classes\\Wow6432Node\\CLSID\\" +
                           class_key.rpartition("\\")[2])
        rows = [row for row in table.rows if row["wine32"] and "wine" not in row["skip"]]
        checks.check(len(rows) > 0, "the scenario table has rows marked wine32")
        wine = Wine(os.path.abspath(args.prefix), work)
        for row in rows:
            print(row["name"] + ":", flush=True)
            before, want = row["before"], row["after"].get("wine", row["after"].get(""))
            values = [v for text in (before, "REGEDIT4\r\n\r\n" + want) if text
                      for v in table.band_values(text)]
            odd = [v for v in values if not imports_exactly(v)]
            checks.check(not odd, "its values go through reg import and reg export", odd)
            code, _, err = wine.import_text(import_text(before, table.trees))
            checks.check(code == 0, "its registry imported", err)
            exports = [wine.export(key, "32") for key in table.trees]
            checks.check(table.band_trees(exports) == table.band_trees([before]),
                         "the registry holds the row's registry")
            for run in row["runs"]:
                code, out, _ = wine.run32(row["name"], exe, *run)
                checks.check(code == 0 and out == b"", "exits 0 and prints nothing", (code, out))
            exports = [wine.export(key, "32") for key in table.trees]
            got = table.band_trees(exports)
            checks.check(got == want, "the band's trees are the row's",
                         "got:\n%s\n       want:\n%s" % (got, want))

            # The class key is in the 32-bit view only; /U leaves the key above the button's.
            wow64 = as_class_key(wine.export(wow64_class_key, "64"), wow64_class_key, class_key)
            got = table.band_trees([wow64] + exports[1:])
            checks.check(got == want, "the 64-bit view has the class, and only the class, under " +
                         wow64_class_key, "got:\n%s\n       want:\n%s" % (got, want))
            checks.check(wine.export(class_key, "64") is None, "no class key in the 64-bit view")
            checks.check(wine.export("HKEY_LOCAL_MACHINE\\Software\\Classes\\" +
                                     class_key.partition("\\")[2], "64") is None,
                         "no class key under HKLM\\Software\\Classes\\CLSID (64-bit)")
            if exports[1] is None:
                button_parent = button_key.rpartition("\\")[0]
                checks.check(wine.export(button_parent, "32") is not None, "kept: " + button_parent)

    total = sum(wine.starts)
    print("32-bit starts: %d, %.1f s of %.1f s in all" % (len(wine.starts), total,
                                                          time.monotonic() - began))
    print("%d passed, %d failed" % (checks.passed, checks.failed))
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
