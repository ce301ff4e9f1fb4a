#!/usr/bin/env python3
"""The Python module beside tervolt-cli at 115200 baud: line efficiency of one board programmed from
Python and from the CLI (the simulator's own statistics), and the wall time of N boards programmed
from N Python threads over that of one. Writes the section "Python" of docs/performance.md when given
--doc. Run with the Python the module is built for; --module names the folder that holds tervolt/."""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

from benchcommon import replace_section

BAUD = 115200
IMAGE_BYTES = 32 * 1024
THREADS = 8
ROUNDS = 3


def start_board(bindir, work, name):
    stats = os.path.join(work, name + ".json")
    sim = subprocess.Popen([os.path.join(bindir, "tervolt-sim"), "--baud", str(BAUD), "--stats", stats],
                           stdout=subprocess.PIPE, text=True)
    return sim, sim.stdout.readline().strip(), stats


def efficiency(sim, stats):
    sim.terminate()
    sim.wait()
    with open(stats) as f:
        s = json.load(f)
    return s["line_busy_seconds"] / s["wall_seconds"]


def one_board(bindir, work, image, program):
    sim, pty, stats = start_board(bindir, work, "one")
    try:
        program(pty)
    finally:
        result = efficiency(sim, stats)
    return result


def boards_at_once(tervolt, bindir, work, image, count):
    sims = [start_board(bindir, work, "b%d" % i) for i in range(count)]
    try:
        boards = [tervolt.Board(pty, baud=BAUD) for _, pty, _ in sims]
        started = time.monotonic()
        with ThreadPoolExecutor(count) as pool:
            results = list(pool.map(lambda board: board.program(image), boards))
        wall = time.monotonic() - started
        assert all(result.outcome == "ok" for result in results)
        for board in boards:
            board.close()
    finally:
        for sim, _, stats in sims:
            efficiency(sim, stats)
    return wall


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--module", required=True)
    parser.add_argument("--doc")
    args = parser.parse_args()
    sys.path.insert(0, args.module)
    import tervolt

    cli_runs, py_runs, one_walls, many_walls = [], [], [], []
    with tempfile.TemporaryDirectory() as work:
        image = os.path.join(work, "image.bin")
        with open(image, "wb") as f:
            f.write(bytes((i * 37 + (i >> 8)) & 0xFF for i in range(IMAGE_BYTES)))
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=work)
        for _ in range(ROUNDS):
            cli_runs.append(one_board(args.bin, work, image, lambda pty: subprocess.run(
                [os.path.join(args.bin, "tervolt-cli"), "--port", pty, "--baud", str(BAUD), "--quiet",
                 "program", image], check=True, stdout=subprocess.DEVNULL, env=env)))
            py_runs.append(one_board(args.bin, work, image, lambda pty: tervolt.Board(pty, baud=BAUD).program(image)))
            one_walls.append(boards_at_once(tervolt, args.bin, work, image, 1))
            many_walls.append(boards_at_once(tervolt, args.bin, work, image, THREADS))
    ratio = statistics.median(many_walls) / statistics.median(one_walls)
    table = "\n".join([
        f"| measure (at {BAUD} baud, {IMAGE_BYTES // 1024} KiB) | figure |", "|---|---|",
        f"| line efficiency, tervolt-cli (lowest of {ROUNDS}) | {min(cli_runs):.3f} |",
        f"| line efficiency, Python `Board.program` (lowest of {ROUNDS}) | {min(py_runs):.3f} |",
        f"| {THREADS} boards from {THREADS} threads over one board, wall time (medians of {ROUNDS}) | "
        f"{ratio:.3f} ({statistics.median(many_walls):.2f} s / {statistics.median(one_walls):.2f} s) |"])
    print(table)
    if args.doc:
        section = ("## Python\n\n"
                   "`bench/pybench.py` (run by `bench/run`): a binary image programmed into a paced `tervolt-sim` "
                   "from Python (`tervolt.Board.program`) and by `tervolt-cli` in the same run, and the same "
                   f"image into {THREADS} boards from {THREADS} Python threads (one `Board` each, made on the "
                   "main thread) against one board from one thread.\n\n" + table + "\n")
        replace_section(args.doc, "Python", section)


if __name__ == "__main__":
    sys.exit(main())
