#!/usr/bin/env python3
"""Several boards from one tervolt-cli process: 1, 4 and 8 boards at 115200 and 256000, the trace's
cost, and --port auto's probe time when nothing answers. Writes its section of docs/performance.md
(between the markers below) and leaves the rest of the file as it is.

    bench/boards.py --bin build-bench/bin --work build-bench/boards-work --doc docs/performance.md

bench/run runs it too, after the other benchmarks.
"""

import argparse
import datetime
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import benchcommon as bench  # noqa: E402

BOARD_COUNTS = (1, 4, 8)
RATES = (115200, 256000)
SIZE_KIB = 64
TARGET_RATIO = 1.10
TARGET_CPU = 0.10
PROBE_PORTS = 8
TARGET_PROBE_S = 2.0
BEGIN = "<!-- boards in one process: written by bench/boards.py -->"
END = "<!-- end of boards in one process -->"


def make_image(work):
    data = work / f"random{SIZE_KIB}k.bin"
    data.write_bytes(os.urandom(SIZE_KIB * 1024))
    image = work / f"random{SIZE_KIB}k.hex"
    subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", str(data), str(image)], check=True)
    return image


def one_run(tools, work, name, boards, baud, image, trace=False):
    """One tervolt-cli process programming `boards` boards, each on its own paced simulator."""
    sims = []
    try:
        for i in range(boards):
            sims.append(bench.Sim(tools, work, f"{name}-{i}", baud))
        argv = [tools.bin / "tervolt-cli", "--ports", ",".join(s.port for s in sims), "--baud", baud, "--quiet",
                "program", image]
        if trace:
            argv += ["--trace", work / f"{name}.trace"]
        host = bench.Host(argv, work, name, env=bench.host_env(work)).run()
    finally:
        stats = [sim.stop() for sim in sims]
    expected = "Program OK!" if boards == 1 else f"All {boards} boards OK."
    ok = host.exit_code == 0 and host.last_line() == expected
    if not ok:
        bench.log(f"{name}: FAILED (exit {host.exit_code}, last line {host.last_line()!r}); see {host.err_path}")
    return {
        "ok": ok,
        "wall": host.wall,
        "cpu": host.cpu / host.wall,
        "efficiency_min": min(s["line_busy_seconds"] / host.wall for s in stats),
        "turn_p99_us": max(s["turnaround_p99_us"] for s in stats),
    }


def probe_time(tools, work):
    """--port auto with PROBE_PORTS mapped ports whose boards never answer."""
    config = work / "probe-config"
    (config / "VELUM").mkdir(parents=True, exist_ok=True)
    procs = [subprocess.Popen([str(tools.bin / "tervolt-sim"), "--fault", "silent-after:0"], stdout=subprocess.PIPE,
                              text=True) for _ in range(PROBE_PORTS)]
    try:
        ports = [p.stdout.readline().strip() for p in procs]
        (config / "VELUM" / "Tervolt.conf").write_text(
            "[Ports]\n" + "".join(f"COM{i + 1}={port}\n" for i, port in enumerate(ports)))
        env = bench.host_env(work)
        env["XDG_CONFIG_HOME"] = str(config)
        started = time.monotonic()
        out = subprocess.run([str(tools.bin / "tervolt-cli"), "--port", "auto", "ping"], env=env,
                             capture_output=True, text=True, timeout=60)
        wall = time.monotonic() - started
    finally:
        for p in procs:
            p.terminate()
            p.wait()
            p.stdout.close()
    return {"wall": wall, "exit": out.returncode, "tried": out.stderr.count("(no answer)")}


def measure(tools, work):
    work.mkdir(parents=True, exist_ok=True)
    image = make_image(work)
    runs = {}
    for baud in RATES:
        for boards in BOARD_COUNTS:
            bench.log(f"boards in one process: {boards} at {baud}")
            runs[(baud, boards)] = one_run(tools, work, f"one-{baud}-{boards}", boards, baud, image)
    traced = {}
    for boards in (1, 8):
        bench.log(f"boards in one process: {boards} at 256000 with --trace")
        traced[boards] = one_run(tools, work, f"trace-{boards}", boards, 256000, image, trace=True)
    probe = probe_time(tools, work)
    return runs, traced, probe


def section(runs, traced, probe, loads, started):
    lines = [BEGIN, "", "## 5. Several boards in one process", "",
             f"One `tervolt-cli --ports P1,…,PN --baud RATE --quiet program` of a {SIZE_KIB} KiB Intel HEX image, "
             "each board its own `tervolt-sim --baud RATE` (nice -10 as above); every board runs on a thread of",
             "the one process. Wall time of the process from start to exit (start-up, image check, ping and",
             "\"P ID\" included), relative to the same process with one board at the same rate; CPU is the",
             "process's user + system time (`wait4`) over its wall time, all boards together. Measured by",
             f"`bench/boards.py` on {started} (UTC), load average {loads[0]} at the start and {loads[1]} at the end.",
             "",
             "| rate | boards | wall s | relative to one | CPU / wall (all boards) | lowest efficiency | "
             "highest turnaround p99 µs | |",
             "|---|---|---|---|---|---|---|---|"]
    for baud in RATES:
        one = runs[(baud, 1)]["wall"]
        for boards in BOARD_COUNTS:
            r = runs[(baud, boards)]
            ratio = r["wall"] / one
            checks = []
            if boards == 8:
                checks.append(bench.verdict(ratio <= TARGET_RATIO and r["cpu"] <= TARGET_CPU))
            if not r["ok"]:
                checks.append("a run FAILED")
            lines.append(f"| {baud} | {boards} | {r['wall']:.2f} | {ratio:.3f} | {bench.pct(r['cpu'])} | "
                         f"{r['efficiency_min']:.3f} | {r['turn_p99_us']} | {' '.join(checks)} |")
    lines += ["",
              f"Targets: 8 boards ≤ {TARGET_RATIO:.2f} × one board's time, CPU ≤ {TARGET_CPU * 100:.0f} % of one core.",
              "",
              "**The trace's cost.** The same runs at 256000 with `--trace FILE` (every command and every",
              "received delivery written, time-stamped):",
              "",
              "| boards | wall s without / with trace | with / without | CPU without / with |",
              "|---|---|---|---|"]
    for boards, t in traced.items():
        base = runs[(256000, boards)]
        lines.append(f"| {boards} | {base['wall']:.2f} / {t['wall']:.2f} | {t['wall'] / base['wall']:.3f} | "
                     f"{bench.pct(base['cpu'])} / {bench.pct(t['cpu'])} |")
    lines += ["",
              f"**`--port auto` when nothing answers.** {PROBE_PORTS} mapped ports, each a `tervolt-sim` that never "
              f"answers: `tervolt-cli --port auto ping` ended after {probe['wall']:.2f} s (exit {probe['exit']}, "
              f"{probe['tried']} ports reported as not answering), against a target of well under "
              f"{TARGET_PROBE_S:.0f} s: all ports are pinged at once, so the time is one ping time-out, not one a port.",
              "",
              "**What eight boards cost.** Each board's thread wakes for every batch of about a millisecond that",
              "the port hands over, some 35 times per answer: the driver reads whatever has arrived at once, so",
              "that the end of an answer is seen within a fraction of a millisecond whatever the board's echo",
              "timing. For a while the driver held its reads until the line could have carried an answer of known",
              "length, which brought eight boards from 13.5 % to 2.5 % of a core (2026-12-08); a board that echoes",
              "each character as it arrives then lost 6–8 % of its line, so the hold is gone and the CPU share is",
              "back where this table shows it (see *Boards' timing* above).",
              "", END]
    return "\n".join(lines)


def splice(doc, text):
    """Puts the section into the report in place of an earlier one, or before "Changes made for speed"."""
    old = doc.read_text() if doc.exists() else ""
    pattern = re.compile(re.escape(BEGIN) + ".*?" + re.escape(END), re.S)
    if pattern.search(old):
        new = pattern.sub(lambda _: text, old)
    elif "## Changes made for speed" in old:
        new = old.replace("## Changes made for speed", text + "\n\n## Changes made for speed", 1)
    else:
        new = old.rstrip("\n") + "\n\n" + text + "\n"
    doc.write_text(new)


def kept_section(doc):
    """The section as the report holds it now, for bench/run to put back after it rewrites the file."""
    if not doc.exists():
        return None
    match = re.search(re.escape(BEGIN) + ".*?" + re.escape(END), doc.read_text(), re.S)
    return match.group(0) if match else None


def run(tools, work, doc):
    started = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M")
    load_start = bench.load_average()
    runs, traced, probe = measure(tools, work)
    splice(doc, section(runs, traced, probe, (load_start, bench.load_average()), started))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, help="folder with tervolt-cli and tervolt-sim (Release)")
    parser.add_argument("--work", required=True, help="scratch folder")
    parser.add_argument("--doc", required=True, help="docs/performance.md")
    args = parser.parse_args()
    work = Path(args.work)
    if work.exists():
        shutil.rmtree(work)
    run(bench.Tools(args.bin), work, Path(args.doc))
    bench.log(f"wrote its section of {args.doc}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
