#!/usr/bin/env python3
"""What Wine's regedit makes of each store variant in this folder.

For every NAME.reg here, imports it with `regedit /s` into the registry of one Wine prefix, reads
the trees listed in trees.txt back with `reg export`, and keeps them, one after the other under
one header, as NAME.wine.reg (UTF-16LE, as reg export writes). The trees are deleted before each
variant, so that every variant starts from a registry without them.

    regenerate.py            rewrite the NAME.wine.reg files
    regenerate.py --check    compare instead; exit 1 when one is missing or differs

The prefix is $WINEPREFIX (scripts/wine-prefix.sh start PREFIX makes one and starts its server);
wine64 is $WINE64, or /usr/lib/wine/wine64.
"""
import argparse
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"
BOM = "\ufeff"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def run(wine, *args):
    """Runs a Windows program; its status, output silenced."""
    return subprocess.run([wine, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, check=False).returncode


def wine_reading(wine, variant, trees, work):
    for tree in trees:
        run(wine, "reg.exe", "delete", tree, "/f")
    run(wine, "regedit.exe", "/s", windows_path(variant))
    sections = ""
    export = os.path.join(work, "export.reg")
    for tree in trees:
        if os.path.exists(export):
            os.remove(export)
        if run(wine, "reg.exe", "export", tree, windows_path(export), "/y") != 0:
            continue  # the variant made no such tree
        with open(export, "rb") as file:
            text = file.read().decode("utf-16-le")
        if not text.startswith(BOM + HEADER):
            raise RuntimeError(f"{variant}: reg export wrote {text[:60]!r}")
        sections += text[len(BOM + HEADER):]
    for tree in trees:
        run(wine, "reg.exe", "delete", tree, "/f")
    return (BOM + HEADER + sections).encode("utf-16-le")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="compare instead of writing")
    options = parser.parse_args()
    if "WINEPREFIX" not in os.environ:
        sys.exit("regenerate.py: WINEPREFIX is not set")
    os.environ["WINEDEBUG"] = "-all"
    wine = os.environ.get("WINE64", "/usr/lib/wine/wine64")
    with open(os.path.join(HERE, "trees.txt"), encoding="ascii") as file:
        trees = [line.strip() for line in file if line.strip()]
    variants = sorted(name for name in os.listdir(HERE)
                      if name.endswith(".reg") and not name.endswith(".wine.reg"))
    differ = []
    with tempfile.TemporaryDirectory() as work:
        for name in variants:
            reading = wine_reading(wine, os.path.join(HERE, name), trees, work)
            kept = os.path.join(HERE, name[:-len(".reg")] + ".wine.reg")
            if options.check:
                old = open(kept, "rb").read() if os.path.exists(kept) else None
                # Once more before calling it a difference: on a loaded machine a Wine tool
                # now and then fails, and a tree goes missing from the reading.
                if old != reading and old != wine_reading(wine, os.path.join(HERE, name), trees,
                                                          work):
                    differ.append(name)
            else:
                with open(kept, "wb") as file:
                    file.write(reading)
    for name in differ:
        print(f"{name}: Wine reads it otherwise than its .wine.reg says; run {__file__}")
    print(f"{len(variants)} variants, {len(differ)} differ")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
