#!/usr/bin/env python3
"""The portable store against Wine's regedit on random texts (random_store.py), in $WINEPREFIX.
regedit_differential.py [SEED [COUNT]] [--seconds S --least N]: COUNT texts, or all that fit in S
seconds and at least N, from SEED ($LKSPAN_TEST_SEED or the time). On each the program registers
the band, then removes it; regedit must read the results as the text with band.reg imported after
it and the basket list upgraded here (README), then that less the band's three trees; or a run
writes nothing, on a text with a form that docs/store.md refuses."""
import argparse
import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

import random_store
from random_store import BUTTON, CLASS, SETTINGS

DLL = "C:\\Program Files\\Larkspan\\band.dll"  # band.reg holds what registering it writes
HERE = os.path.dirname(os.path.abspath(__file__))
S = SETTINGS.upper()
# Code page 1252 as Wine has it (its holes stand for themselves): regedit reads 8-bit texts so.
ANSI = [bytes([b]).decode("cp1252", "ignore") or chr(b) for b in range(256)]
FROM_ANSI = {c: b for b, c in enumerate(ANSI)}


def narrow(value, wide):
    """A value's bytes as the program's 8-bit registry functions give them."""
    text = value[1][:len(value[1]) // 2 * 2].decode("utf-16-le", "surrogatepass")
    return value[1] if value[0] not in (1, 2, 7) else bytes(
        (ord(c) if ord(c) < 256 else 63) if wide else FROM_ANSI.get(c, 63) for c in text)


def upgraded(keys, wide):
    """`keys` with the settings key's basket list in the current layout."""
    count = narrow(keys.get((S, "NUMBEROFBASKETS"), (3, bytes(5))), wide)
    count = int.from_bytes(count, "little") if len(count) <= 4 else 0
    last = keys.get((S, str(3 * count - 1)))
    if not 0 < count <= 333 or last and len(narrow(last, wide)) <= 4:
        return keys

    def text(name, limit):  # a missing text or one beyond the limit reads empty
        data = narrow(keys.get((S, name), (3, bytes(limit + 1))), wide)
        data = b"" if len(data) > limit else data[:limit - 1].split(b"\0")[0]
        return 1, ("".join(chr(b) if wide else ANSI[b] for b in data) + "\0").encode("utf-16-le")

    new = dict(keys)
    for i in range(count):
        new.update({(S, str(3 * i + 2)): (4, b"\2\0\0\0"), (S, str(3 * i + 1)): text(
            str(2 * i + 1), 260), (S, str(3 * i)): text(str(2 * i), 32)})
    return new


def removed(keys):
    """`keys` after /U: each tree in turn, up to the first that is missing."""
    for tree in (S, BUTTON.upper(), CLASS.upper()):
        if (tree,) not in keys:
            break
        keys = {k: v for k, v in keys.items() if k[0] != tree and not k[0].startswith(tree + "\\")}
    return keys


def differences(want, got):
    return [f"{' '.join(k)}: wanted {want.get(k, 'nothing')}, regedit reads {got.get(k, 'nothing')}"
            for k in sorted(want.keys() | got) if want.get(k, 0) != got.get(k, 0)]


def readings(options, jobs):
    win = lambda path: "Z:" + path.replace("/", "\\")  # each job's files imported in turn, read
    Path(options.work, "jobs").write_text("".join(f"{win(options.work)}\\reading{i} " + " ".join(
        map(win, job)) + "\n" for i, job in enumerate(jobs)))
    # Into no pipe: the Wine services that a prefix's first program starts keep what it inherits.
    subprocess.run([os.environ.get("WINE64", "/usr/lib/wine/wine64"), options.reader, win(
        options.work + "/jobs"), *random_store.TREES], env={**os.environ, "WINEDEBUG": "-all"},
        timeout=60 * len(jobs), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    name = lambda h: bytes.fromhex(h.strip("-")).decode("utf-16-le", "replace").upper()
    for i in range(len(jobs)):
        keys = {}  # (key,): "the key"; (key, value name): (type, data)
        for kind, *fields in (line.split() for line in open(f"{options.work}/reading{i}")):
            if kind == "K":
                key, keys[name(fields[0]),] = name(fields[0]), "the key"
            else:
                keys[key, name(fields[0])] = (int(fields[1]), bytes.fromhex(fields[2].strip("-")))
        yield keys


def batch(options, texts):
    """Each text's failure, (kind, differences), or None; texts are (bytes, random_store.Text)."""
    stores, files = [], [f"{options.work}/text{i}" for i in range(len(texts))]
    for name, (data, _) in zip(files, texts):
        stores.append([data])
        for stage, argument in enumerate([DLL, "/U"]):
            Path(name + ".reg").write_bytes(data)
            Path(f"{name}.{stage}").write_bytes(stores[-1][-1])
            subprocess.run([options.program, argument], timeout=30, check=False,
                           env={**os.environ, "LARKSPAN_REGISTRY": f"{name}.{stage}"})
            stores[-1].append(Path(f"{name}.{stage}").read_bytes())
    got = list(readings(options, [[f + ".reg", HERE + "/band.reg"] for f in files] +
                        [[f"{f}.{stage}"] for stage in (0, 1) for f in files]))
    return [verdict(texts[i][1], stores[i], got[i::len(texts)]) for i in range(len(texts))]


def verdict(made, stores, got):
    """A text's failure from the store's bytes and regedit's readings: before, after each run."""
    base = upgraded(got[0], made.wide)
    for kind, old, new, reading in zip(["registration", "removal"], stores, stores[1:], got[1:]):
        lines = differences(base, reading)
        if lines and (new != old or not made.tags & random_store.REFUSED):  # kind: what and where
            return kind + " wrote nothing" * (new == old) + ": " + lines[0].split(":")[0], lines
        base = removed(reading if new == old else base)
    return None


def shrink(options, data, made, kind, deadline):
    """The text less every run of lines whose loss keeps the failure, while time lasts."""
    code = "utf-16-le" if made.wide else "latin-1"
    text = data[:len(data) // 2 * 2 if made.wide else None].decode(code, "surrogatepass")
    lines = re.findall(r"[^\r\n]*(?:\r\n|\n|\r)|[^\r\n]+$", text)
    encode = lambda kept: "".join(kept).encode(code, "surrogatepass")
    chunk, at = len(lines) // 2, 1
    while chunk and time.time() < deadline:
        failure = batch(options, [(encode(lines[:at] + lines[at + chunk:]), made)])[0]
        if failure and failure[0] == kind:
            lines = lines[:at] + lines[at + chunk:]
        else:
            at += chunk
        chunk, at = (chunk // 2, 1) if at >= len(lines) else (chunk, at)
    return encode(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    seed = int(os.environ.get("LKSPAN_TEST_SEED") or time.time())
    for name, kind, default in [("seed", int, seed), ("count", int, 0), ("--seconds", float, 0),
                                ("--least", int, 0), ("--shrink-seconds", float, 120),
                                ("--program", str, f"{HERE}/../../build/tool/lkspanreg"),
                                ("--reader", str, f"{HERE}/../../build/win64/regedit_reading.exe")]:
        parser.add_argument(name, type=kind, default=default, nargs=None if "-" in name else "?")
    options = parser.parse_args()
    began, count, failures = time.time(), 0, []
    with tempfile.TemporaryDirectory() as options.work:
        while count < max(options.count, options.least) or time.time() - began < options.seconds:
            texts = [(made.build(), made) for made in
                     (random_store.Text(options.seed * 1000003 + count + i) for i in range(10))]
            for index, failure in ((i, f) for i, f in enumerate(batch(options, texts))  # twice:
                                   if f and batch(options, [texts[i]])[0]):  # Wine may falter
                failures.append((count + index, *texts[index], failure[0]))
                print(f"text {count + index} ({' '.join(sorted(texts[index][1].tags))}): "
                      f"{failure[0]}\n  " + "\n  ".join(failure[1][:6]), flush=True)
            count += len(texts)
        print(f"regedit differential: {count} texts from seed {options.seed} in "
              f"{time.time() - began:.0f} s, {len(failures)} read otherwise than by regedit")
        deadline = time.time() + options.shrink_seconds
        for index, data, made, kind in failures:
            if time.time() < deadline:
                small = shrink(options, data, made, kind, deadline)
                print(f"smallest text found failing as text {index}, {kind}: {small!r}")
    print(f"{count - len(failures)} passed, {len(failures)} failed")
    return bool(failures)


if __name__ == "__main__":
    raise SystemExit(main())
