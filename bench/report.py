#!/usr/bin/env python3
"""Turns bench/run.sh's hyperfine exports and peak-memory lines into the Markdown table.

    report.py JSON_FOLDER MEMORY_TSV
"""
import glob
import json
import os
import statistics
import sys

STORES = [
    ("empty", "empty store"),
    ("baskets333", "old list of 333 baskets"),
    ("current333", "current list of 333 baskets"),
    ("values1000", "1,000 unrelated values"),
    ("values10000", "10,000 unrelated values"),
    ("values100000", "100,000 unrelated values"),
    ("values1000000", "1,000,000 unrelated values"),
]


def medians(folder, name):
    """Each command's median over every run of every round (NAME.1.json, NAME.2.json, ...)."""
    times = {}
    for path in sorted(glob.glob(os.path.join(folder, name + ".*.json"))):
        with open(path) as f:
            for r in json.load(f)["results"]:
                times.setdefault(r["command"], []).extend(r["times"])
    return {command: statistics.median(runs) for command, runs in times.items()}


def ms(seconds):
    return f"{seconds * 1000:.2f} ms"


def verdict(ok):
    return "met" if ok else "**missed**"


def main():
    folder, memory_path = sys.argv[1], sys.argv[2]
    memory = {}
    no_job_peak = None
    with open(memory_path) as f:
        for line in f:
            store, job, peak, start, end = line.rstrip("\n").split("\t")
            if store == "no job":
                no_job_peak = int(peak)
            else:
                memory[(store, job)] = (int(peak), int(start), int(end))
    baseline = memory[("empty", "register")][0]

    out = []
    out.append("| run | store bytes before → after | lkspanreg | floor (a) | floor (b) "
               "| ÷ floor (b) | time goal | peak RSS | RSS goal |")
    out.append("|---|---|---:|---:|---:|---:|---|---:|---|")
    register_medians = {}
    for name, label in STORES:
        m = medians(folder, name)
        for job, arg in (("register", "PATH"), ("remove", "/U")):
            t = m[job]
            if job == "register":
                register_medians[name] = t
            ratio = t / m["floor (b)"]
            limit = 1.2
            peak, start, end = memory[(name, job)]
            bound = baseline + 2 * max(start, end) / 1024
            out.append(
                f"| `lkspanreg {arg}`, {label} | {start:,} → {end:,} | {ms(t)} "
                f"| {ms(m['floor (a)'])} | {ms(m['floor (b)'])} | {ratio:.2f} "
                f"| ≤ {limit} {verdict(ratio <= limit)} | {peak:,} KiB "
                f"| ≤ {bound:,.0f} KiB {verdict(peak <= bound)} |")
    extra = register_medians["baskets333"] / register_medians["current333"] - 1
    over_empty = register_medians["baskets333"] / register_medians["empty"] - 1
    out.append("")
    out.append(f"Converting 333 baskets adds {extra * 100:.1f} % to a registration (over the old "
               f"list against over the same list already converted; goal < 20 %: "
               f"{verdict(extra < 0.2)}). Against a registration on the empty store, which also "
               f"leaves out reading and writing the list, it adds {over_empty * 100:.1f} %.")
    out.append(f"Peak RSS baseline: {baseline:,} KiB for a registration on the empty store "
               f"({no_job_peak:,} KiB for a run with no argument, which reads no store).")

    m = medians(folder, "wine")
    if m:
        ratio = m["register"] / m["regedit /s"]
        out.append("")
        out.append("| under wine64 | median | ÷ `regedit /s` |")
        out.append("|---|---:|---:|")
        out.append(f"| static program that returns at once | {ms(m['floor (a)'])} "
                   f"| {m['floor (a)'] / m['regedit /s']:.2f} |")
        out.append(f"| `lkspanreg.exe PATH` | {ms(m['register'])} | {ratio:.2f} |")
        out.append(f"| `regedit /s` of the same layout | {ms(m['regedit /s'])} | 1.00 |")
        out.append("")
        out.append(f"Under Wine, registration no slower than `regedit /s`: {verdict(ratio <= 1.0)}.")
    print("\n".join(out))


main()
