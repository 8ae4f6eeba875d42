#!/usr/bin/env python3
"""Runs floor (b), a registration and a removal in turns, each from its own starting store, and
writes each run's CPU time (user plus system, from the kernel's accounting of the child) as JSON:
{"floor (b)": [...], "register": [...], "remove": [...]}, the i-th of each list one turn.

    paired_cpu.py OUT.json STORE MIN_TURNS FLOOR_START REGISTER_START REMOVE_START \\
        FLOOR_B TOOL SERVER_PATH

Each *_START is a file copied to STORE before the run, or "-" for no store. Turns go on for
about three seconds, at least MIN_TURNS and at most 200 of them, after one that is not kept;
every other turn runs the jobs in the opposite order.
Runs taken in turns meet the same load: their ratios hold where a load that comes and goes
moves each command's own times by a fifth.
"""
import json
import os
import shutil
import sys
import time


def place(start, store):
    if start == "-":
        if os.path.exists(store):
            os.unlink(store)
    else:
        shutil.copyfile(start, store)


def cpu_of(argv):
    pid = os.posix_spawn(argv[0], argv, os.environ)
    _, status, usage = os.wait4(pid, 0)
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        sys.exit(f"{argv[0]} failed: status {status}")
    return usage.ru_utime + usage.ru_stime


def main():
    (out, store, min_turns, floor_start, register_start, remove_start, floor_b, tool,
     server_path) = sys.argv[1:10]
    os.environ["LARKSPAN_REGISTRY"] = store
    jobs = [("floor (b)", floor_start, [floor_b, store]),
            ("register", register_start, [tool, server_path]),
            ("remove", remove_start, [tool, "/U"])]
    times = {name: [] for name, _, _ in jobs}
    end = None
    turns = 0
    while turns < 200 and (turns < int(min_turns) or time.monotonic() < end):
        # Every other turn backwards, so that no job always follows the same one.
        for name, start, argv in jobs if turns % 2 == 0 else reversed(jobs):
            place(start, store)
            cpu = cpu_of(argv)
            if end is not None:
                times[name].append(cpu)
        if end is None:
            end = time.monotonic() + 3
        else:
            turns += 1
    with open(out, "w") as f:
        json.dump(times, f)


main()
