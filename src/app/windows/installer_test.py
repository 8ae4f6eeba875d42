#!/usr/bin/env python3
"""Builds the example installer, examples/nsis/larkspan.nsi, for amd64 around the 64-bit program
and runs it silently in the Wine prefix of $WINEPREFIX: the install must put the program and
the DLL in its folder and leave the band's three trees; the uninstaller must take both away.
The same script built not to run the program must fail and leave no files.

usage: installer_test.py --makensis MAKENSIS --nsi NSI --work DIR PROGRAM
"""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "..", "tests", "scenarios"))
import scenario_table  # noqa: E402

WINE64 = "/usr/lib/wine/wine64"
TREES = ["%s\\%s\\%s" % tree for tree in scenario_table.BAND_TREES]
INSTDIR = "C:\\Larkspan"
FILES = ("lkspanreg.exe", "larkspan.dll")
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what, flush=True)
    if not ok:
        failures.append(what)


def wine(*argv):
    # No pipes: a Wine service started on the way may hold them open.
    return subprocess.run([WINE64] + list(argv), stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=300).returncode


def state():
    """(the trees present, the installed files present)."""
    folder = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Larkspan")
    return ([t for t in TREES if wine("reg", "query", t) == 0],
            [f for f in FILES if os.path.exists(os.path.join(folder, f))])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--makensis", required=True)
    parser.add_argument("--nsi", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("program")
    args = parser.parse_args()

    os.makedirs(args.work, exist_ok=True)
    dll = os.path.join(args.work, "placeholder.dll")
    with open(dll, "wb") as f:
        f.write(b"MZ not a band\0")

    def build(name, *defines):
        out = os.path.join(args.work, name)
        subprocess.run([args.makensis, "-V2", "-DAMD64", "-DPROGRAM=" + args.program,
                        "-DBAND_DLL=" + dll, "-DOUTFILE=" + out] + list(defines) + [args.nsi],
                       check=True)
        return out

    setup = build("larkspan-setup.exe")
    unregistered = build("larkspan-unregistered.exe", "-DNO_REGISTER")
    for tree in TREES:
        wine("reg", "delete", tree, "/f")

    code = wine(unregistered, "/S", "/D=" + INSTDIR)
    got = state()
    check(code != 0 and got == ([], []),
          "without the program's run the install fails, leaving nothing (exit %d, left %s)" %
          (code, got))
    code = wine(setup, "/S", "/D=" + INSTDIR)
    got = state()
    check(code == 0 and got == (TREES, list(FILES)),
          "the install registers the band beside its DLL (exit %d, has %s)" % (code, got))
    code = wine(INSTDIR + "\\uninstall.exe", "/S", "_?=" + INSTDIR)
    got = state()
    check(code == 0 and got == ([], []),
          "the uninstall removes the trees and files (exit %d, left %s)" % (code, got))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
