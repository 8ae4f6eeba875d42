#!/usr/bin/env python3
"""Turns bench/run.sh's hyperfine exports, CPU turns and peak-memory lines into the Markdown table.

    report.py JSON_FOLDER CPU_FOLDER MEMORY_TSV STORES_TSV

JSON_FOLDER holds hyperfine's exports (NAME.ROUND.json), CPU_FOLDER bench/paired_cpu.py's
(NAME.ROUND.json), STORES_TSV the table bench/stores.sh's make_stores writes: each store's name,
runs a round, CPU goals for the registration and the removal, memory goal and label.
"""
import glob
import json
import os
import statistics
import sys


def rounds(folder, name):
    """Per round (NAME.1.json, NAME.2.json, ...), each hyperfine command's wall times."""
    found = []
    for path in sorted(glob.glob(os.path.join(folder, name + ".*.json"))):
        with open(path) as f:
            found.append({r["command"]: r["times"] for r in json.load(f)["results"]})
    return found


def wall(found, command):
    """The median of all of a command's wall times, every round's."""
    return statistics.median(t for r in found for t in r[command])


def turns(folder, name):
    """Per round, each job's CPU times, one a turn."""
    found = []
    for path in sorted(glob.glob(os.path.join(folder, name + ".*.json"))):
        with open(path) as f:
            found.append(json.load(f))
    return found


def cpu(found, job):
    """The median of all of a job's CPU times."""
    return statistics.median(t for r in found for t in r[job])


def against_floor(found, job):
    """The median, over all turns, of a job's CPU time against floor (b)'s in the same turn."""
    return statistics.median(t / f for r in found for t, f in zip(r[job], r["floor (b)"]))


def between(found, other_found, job):
    """The median over the rounds of a job's median CPU time against another store's."""
    return statistics.median(
        statistics.median(r[job]) / statistics.median(o[job]) for r, o in zip(found, other_found))


def ms(seconds):
    return f"{seconds * 1000:.2f} ms"


def verdict(ok):
    return "met" if ok else "**missed**"


def main():
    folder, cpu_folder, memory_path, stores_path = sys.argv[1:5]
    stores = []
    with open(stores_path) as f:
        for line in f:
            name, runs, register, remove, memory_goal, label = line.rstrip("\n").split("\t")
            stores.append((name, {"register": float(register), "remove": float(remove)},
                           memory_goal, label, int(runs)))
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
    out.append("| run | store bytes before → after | lkspanreg CPU | floor (b) CPU "
               "| CPU ÷ floor (b) | goal | lkspanreg wall | floor (a) wall | floor (b) wall "
               "| peak RSS | RSS goal |")
    out.append("|---|---|---:|---:|---:|---|---:|---:|---:|---:|---|")
    found = {}
    for name, goals, memory_goal, label, _ in stores:
        m = rounds(folder, name)
        c = found[name] = turns(cpu_folder, name)
        for job, arg in (("register", "PATH"), ("remove", "/U")):
            ratio = against_floor(c, job)
            peak, start, end = memory[(name, job)]
            if memory_goal == "twice":
                bound = baseline + 2 * max(start, end) / 1024
            else:
                bound = float(memory_goal) * max(start, end) / 1024
            out.append(
                f"| `lkspanreg {arg}`, {label} | {start:,} → {end:,} | {ms(cpu(c, job))} "
                f"| {ms(cpu(c, 'floor (b)'))} | {ratio:.2f} "
                f"| ≤ {goals[job]} {verdict(ratio <= goals[job])} | {ms(wall(m, job))} "
                f"| {ms(wall(m, 'floor (a)'))} | {ms(wall(m, 'floor (b)'))} | {peak:,} KiB "
                f"| ≤ {bound:,.0f} KiB {verdict(peak <= bound)} |")
    extra = between(found["baskets333"], found["current333"], "register") - 1
    over_empty = between(found["baskets333"], found["empty"], "register") - 1
    utf16 = between(found["utf16_100000"], found["values100000"], "register")
    out.append("")
    out.append("CPU is user plus system time. Each round runs floor (b), the registration and the "
               "removal in turns for about three seconds (10 to 200 turns"
               + "".join(f"; {runs} or more on the {label}"
                         for _, _, _, label, runs in stores if runs < 10)
               + "), each from its own store; the CPU columns are the medians of all turns, and "
               "the ratio the median of each turn's ratio to floor (b). Wall times are hyperfine's "
               "medians of all runs: at least 10 runs a round after 2 warm-ups"
               + "".join(f", on the {label} {runs} after 1"
                         for _, _, _, label, runs in stores if runs < 10) + ".")
    out.append("")
    out.append(f"A registration on the store of 100,000 values in UTF-16 takes {utf16:.2f} times the "
               f"CPU of one on the same text in REGEDIT4 (median over the rounds; goal ≤ 1.5: "
               f"{verdict(utf16 <= 1.5)}).")
    out.append(f"Converting 333 baskets adds {extra * 100:.1f} % to a registration's CPU (over the "
               f"old list against over the same list already converted; goal < 20 %: "
               f"{verdict(extra < 0.2)}). Against a registration on the empty store, which also "
               f"leaves out reading and writing the list, it adds {over_empty * 100:.1f} %.")
    out.append(f"Peak RSS baseline: {baseline:,} KiB for a registration on the empty store "
               f"({no_job_peak:,} KiB for a run with no argument, which reads no store).")

    m = rounds(folder, "wine")
    if m:
        regedit = wall(m, "regedit /s")
        ratio = wall(m, "register") / regedit
        out.append("")
        out.append("| under wine64 | median | ÷ `regedit /s` |")
        out.append("|---|---:|---:|")
        out.append(f"| static program that returns at once | {ms(wall(m, 'floor (a)'))} "
                   f"| {wall(m, 'floor (a)') / regedit:.2f} |")
        out.append(f"| `lkspanreg.exe PATH` | {ms(wall(m, 'register'))} | {ratio:.2f} |")
        out.append(f"| `regedit /s` of the same layout | {ms(regedit)} | 1.00 |")
        out.append("")
        out.append(f"Under Wine, registration no slower than `regedit /s`: {verdict(ratio <= 1.0)}.")
    print("\n".join(out))


main()
