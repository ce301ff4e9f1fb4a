#!/usr/bin/env python3
"""Tervolt's benchmarks: runs every measurement side by side and writes docs/performance.md and its plot.

Called by bench/run, which builds the programs first. Every figure is a ratio taken within this one run
(line busy / wall, CPU / wall, parallel wall / single wall, reader time / peer time), because the
machines it runs on are shared and noisy.
"""

import argparse
import datetime
import json
import os
import platform
import random
import shlex
import shutil
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from benchcommon import Host, Sim, Tools, host_env, load_average, log, pct, verdict, RUN_TIMEOUT_S, SIM_NICE

# Targets the figures are held against.
TARGET_EFFICIENCY = {115200: 0.97, 256000: 0.95}
TARGET_TURNAROUND_MEDIAN_US = 1000
TARGET_CPU_SHARE = 0.05
TARGET_PARALLEL = {4: 1.15, 8: 1.5}
# Boards' timing (the simulator's --echo and --burst): line efficiency wanted in both echo modes, and
# with bursts a median turnaround within one burst period of the same case's with line echo.
TARGET_MODE_EFFICIENCY = {"cli": {115200: 0.99, 256000: 0.98}, "window": {115200: 0.98, 256000: 0.97}}
# The CPU share allowed in both echo modes at 115200 baud.
TARGET_MODE_CPU = {"cli": 0.02, "window": 0.05}
MODE_CPU_RATE = 115200
MODES = (("echo line", []), ("echo live", ["--echo", "live"]), ("burst 1", ["--burst", "1"]),
         ("burst 16", ["--burst", "16"]))
MODE_SIZE_KIB = 64
# tervolt-cli with the driver that held its reads until an answer's predicted arrival (efficiency,
# median turnaround µs), measured by `benchmarks.py --modes-only` on 2026-12-08 07:39 to 07:43 (UTC) at a
# load average of 13 to 15 on 2 cores: the figures the change below is judged against.
HELD_READ_BEFORE = {
    "echo line|program-64k-115200": (0.937, 522), "echo line|verify-64k-115200": (0.938, 178),
    "echo line|program-64k-256000": (0.852, 1160), "echo line|verify-64k-256000": (0.868, 147),
    "echo live|program-64k-115200": (0.900, 181), "echo live|verify-64k-115200": (0.866, 225),
    "echo live|program-64k-256000": (0.746, 117), "echo live|verify-64k-256000": (0.778, 108),
}
# tervolt-cli before the event loop ran once a block instead of once a record and before the simulator
# sent a line's last byte at once instead of with its next 1 ms batch (2026-12-08 10:41, load 1.8).
BATCH_BEFORE = {
    "echo line|program-64k-115200": (0.988, 160), "echo line|verify-64k-115200": (0.989, 146),
    "echo line|program-64k-256000": (0.976, 149), "echo line|verify-64k-256000": (0.973, 165),
    "echo live|program-64k-115200": (0.977, 157), "echo live|verify-64k-115200": (0.980, 147),
    "echo live|program-64k-256000": (0.955, 153), "echo live|verify-64k-256000": (0.957, 169),
}
# Both hosts before they left out the event-loop pass between an answer and the next command, before the
# poll timer rested while the readable notice was on and before the CLI ran Qt's own event loop
# (efficiency, median turnaround µs, CPU / wall), from bench/run on 2026-12-08 11:46 to 12:03 (load 1.5
# to 0.5).
WAKE_BEFORE = {
    "echo line|cli|program-64k-115200": (0.996, 131, 0.021), "echo line|cli|verify-64k-115200": (0.996, 133, 0.021),
    "echo line|cli|program-64k-256000": (0.990, 134, 0.025), "echo line|cli|verify-64k-256000": (0.991, 133, 0.023),
    "echo live|cli|program-64k-115200": (0.991, 134, 0.032), "echo live|cli|verify-64k-115200": (0.985, 175, 0.043),
    "echo live|cli|program-64k-256000": (0.980, 125, 0.034), "echo live|cli|verify-64k-256000": (0.983, 123, 0.032),
    "echo line|window|program-64k-115200": (0.991, 253, 0.034),
    "echo line|window|verify-64k-115200": (0.989, 422, 0.038),
    "echo line|window|program-64k-256000": (0.982, 187, 0.041),
    "echo line|window|verify-64k-256000": (0.979, 240, 0.047),
    "echo live|window|program-64k-115200": (0.954, 625, 0.071),
    "echo live|window|verify-64k-115200": (0.983, 219, 0.054),
    "echo live|window|program-64k-256000": (0.966, 160, 0.059),
    "echo live|window|verify-64k-256000": (0.967, 165, 0.058),
}

RATES = (115200, 256000)
SIZES_KIB = (64, 256)
OPERATIONS = ("program", "verify")
BOARD_COUNTS = (1, 2, 4, 8)
# The window once more without being shown, where the line is fastest: what painting costs.
WINDOW_HIDDEN_CASE = ("program", 256000)
PARALLEL_RATE = 115200
PARALLEL_SIZE_KIB = 64



def add_before_after(add, modes, before):
    """A before → after table for the timing modes: efficiency, median turnaround and, where the figures
    before have it, the CPU share. Keys are "mode|case" (tervolt-cli) or "mode|host|case"."""
    with_cpu = any(len(figures) > 2 for figures in before.values())
    add("  | timing | case | efficiency before → after | turnaround median before → after µs |"
        + (" CPU / wall before → after |" if with_cpu else ""))
    add("  |---|---|---|---|" + ("---|" if with_cpu else ""))
    for key, figures in before.items():
        parts = key.split("|")
        mode, host, case = parts if len(parts) == 3 else (parts[0], "cli", parts[1])
        r = modes.get(f"{mode}|{host}|{case}")
        if not r:
            continue
        label = case_label(case) + (", window" if host == "window" else "")
        row = (f"  | {mode} | {label} | {figures[0]:.3f} → {r['efficiency']:.3f} | "
               f"{figures[1]} → {r['turn_median_us']} |")
        if with_cpu:
            row += f" {pct(figures[2])} → {pct(r['cpu_share'])} |" if len(figures) > 2 else " – |"
        add(row)
    add("")

def expected_outcome(operation):
    return "Program OK!" if operation == "program" else "Compare OK!"


def link_run(tools, work, name, argv_for_port, baud, operation, own_figures=False, sim_args=()):
    """One host run against its own paced board; returns the combined figures.

    With own_figures the host prints its own JSON figures as its last line (the window driver), timed
    from Start to the outcome; they replace the process's."""
    sim = Sim(tools, work, name, baud, sim_args)
    try:
        host = Host(argv_for_port(sim.port), work, name, env=host_env(work)).run()
    finally:
        stats = sim.stop()
    outcome = host.last_line()
    wall, cpu = host.wall, host.cpu
    if own_figures:
        try:
            figures = json.loads(outcome)
            outcome = figures["outcome"]
            wall = figures["wall_seconds"]
            cpu = figures["user_seconds"] + figures["system_seconds"]
        except (ValueError, KeyError):
            pass
    result = {
        "name": name,
        "exit": host.exit_code,
        "outcome": outcome,
        "ok": host.exit_code == 0 and outcome == expected_outcome(operation),
        "wall": wall,
        "cpu": cpu,
        "cpu_share": cpu / wall if wall > 0 else 0.0,
        "busy": stats["line_busy_seconds"],
        "sim_wall": stats["wall_seconds"],
        "efficiency": stats["line_busy_seconds"] / wall if wall > 0 else 0.0,
        "efficiency_line": (stats["line_busy_seconds"] / stats["wall_seconds"]) if stats["wall_seconds"] else 0.0,
        "turn_median_us": stats["turnaround_median_us"],
        "turn_p99_us": stats["turnaround_p99_us"],
        "commands": stats["count"],
    }
    if own_figures:
        # The board also saw the identification before Start: its first-to-last-byte span is the fair wall.
        result["efficiency"] = result["efficiency_line"]
    if not result["ok"]:
        log(f"{name}: FAILED (exit {host.exit_code}, last line {outcome!r}); see {host.err_path}")
    return result


def cli_argv(tools, baud, operation, image):
    return lambda port: [tools.bin / "tervolt-cli", "--port", port, "--baud", baud, "--quiet", operation, image]


def linkbench_argv(tools, baud, operation, image):
    return lambda port: [tools.bin / "tervolt-linkbench", "--timer-only", "--port", port, "--baud", baud,
                         "--quiet", operation, image]


def window_argv(tools, baud, operation, image, hidden=False):
    switch = ["--hidden"] if hidden else []
    return lambda port: [tools.bin / "tervolt-windowbench", *switch, "--port", port, "--baud", baud, operation,
                         image]


def window_run(tools, work, name, baud, operation, image, hidden=False, sim_args=()):
    return link_run(tools, work, name, window_argv(tools, baud, operation, image, hidden), baud, operation,
                    own_figures=True, sim_args=sim_args)


def measure_modes(tools, work, images, line=None):
    """Every board timing at both rates, CLI and window; the line echo runs of measure_line are reused."""
    results = {}
    for mode, sim_args in MODES:
        for baud in RATES:
            for operation in OPERATIONS:
                key = f"{operation}-{MODE_SIZE_KIB}k-{baud}"
                image = images[(operation, MODE_SIZE_KIB)]
                tag = mode.replace(" ", "")
                for host in ("cli", "window"):
                    if host == "window" and not tools.window:
                        continue
                    if not sim_args and line and key in line.get(host, {}):
                        results[f"{mode}|{host}|{key}"] = line[host][key]
                        continue
                    log(f"modes: {mode}, {host} {key}")
                    name = f"mode-{tag}-{host}-{key}"
                    if host == "cli":
                        r = link_run(tools, work, name, cli_argv(tools, baud, operation, image), baud, operation,
                                     sim_args=sim_args)
                    else:
                        r = window_run(tools, work, name, baud, operation, image, sim_args=sim_args)
                    results[f"{mode}|{host}|{key}"] = r
    return results


def mode_checks(modes):
    """(what, wanted, measured, met, room) for every board timing's goal."""
    checks = []
    for host, targets in TARGET_MODE_EFFICIENCY.items():
        for mode in ("echo line", "echo live"):
            for baud, target in targets.items():
                runs = [r for k, r in modes.items() if k.startswith(f"{mode}|{host}|") and k.endswith(f"-{baud}")]
                if not runs:
                    continue
                worst = min(runs, key=lambda r: r["efficiency"])
                label = "tervolt-cli" if host == "cli" else "window"
                checks.append((f"{label}, {mode}, line efficiency at {baud}", f">= {target:.2f}",
                               f"lowest {worst['efficiency']:.3f}", worst["efficiency"] >= target,
                               f"{worst['efficiency'] - target:+.3f}"))
    for host, ceiling in TARGET_MODE_CPU.items():
        runs = [r for k, r in modes.items() if k.split("|")[0] in ("echo line", "echo live")
                and f"|{host}|" in k and k.endswith(f"-{MODE_CPU_RATE}")]
        if runs:
            worst = max(runs, key=lambda r: r["cpu_share"])
            label = "tervolt-cli" if host == "cli" else "window"
            checks.append((f"{label}, both echo modes, CPU / wall at {MODE_CPU_RATE}", f"<= {pct(ceiling)}",
                           f"highest {pct(worst['cpu_share'])}", worst["cpu_share"] <= ceiling,
                           f"{100 * (ceiling - worst['cpu_share']):+.1f} points"))
    for mode, sim_args in MODES:
        if "--burst" not in sim_args:
            continue
        period_us = 1000 * int(sim_args[1])
        worst_room = None
        for k, r in modes.items():
            if not k.startswith(f"{mode}|"):
                continue
            ideal = modes.get(k.replace(mode, "echo line", 1))
            if not ideal:
                continue
            room = ideal["turn_median_us"] + period_us - r["turn_median_us"]
            if worst_room is None or room < worst_room[0]:
                worst_room = (room, r, ideal)
        if worst_room:
            room, r, ideal = worst_room
            checks.append((f"{mode}: median turnaround within {period_us} µs of line echo's",
                           f"<= {ideal['turn_median_us'] + period_us} µs", f"least room: {r['turn_median_us']} µs",
                           room >= 0, f"{room:+d} µs"))
    return checks


def mode_table(modes, add):
    add("| timing | case | tervolt-cli efficiency | turnaround median / p99 µs | CPU / wall | "
        "window efficiency | turnaround median / p99 µs | CPU / wall |")
    add("|---|---|---|---|---|---|---|---|")
    for mode, _ in MODES:
        for baud in RATES:
            for operation in OPERATIONS:
                key = f"{operation}-{MODE_SIZE_KIB}k-{baud}"
                c = modes.get(f"{mode}|cli|{key}")
                w = modes.get(f"{mode}|window|{key}")
                if not c and not w:
                    continue
                cells = []
                for r in (c, w):
                    cells += ([f"{r['efficiency']:.3f}" + ("" if r["ok"] else " (failed)"),
                               f"{r['turn_median_us']} / {r['turn_p99_us']}", pct(r["cpu_share"])]
                              if r else ["–", "–", "–"])
                add(f"| {mode} | {case_label(key)} | " + " | ".join(cells) + " |")


def make_images(work):
    images = work / "images"
    images.mkdir(parents=True, exist_ok=True)
    rng = random.Random(8)
    made = {}

    def to_hex(binary, hex_path):
        subprocess.run(["objcopy", "-I", "binary", "-O", "ihex", str(binary), str(hex_path)], check=True)

    for kib in SIZES_KIB:
        data = images / f"random{kib}k.bin"
        data.write_bytes(rng.randbytes(kib * 1024))
        erased = images / f"erased{kib}k.bin"
        erased.write_bytes(b"\xff" * (kib * 1024))
        to_hex(data, images / f"random{kib}k.hex")
        to_hex(erased, images / f"erased{kib}k.hex")
        made[("program", kib)] = images / f"random{kib}k.hex"
        # Verify runs against a freshly erased board, each with its own simulator and statistics; the
        # line carries as many characters as for any other content.
        made[("verify", kib)] = images / f"erased{kib}k.hex"
    read_bin = images / "read1m.bin"
    read_bin.write_bytes(rng.randbytes(1024 * 1024))
    made["read_hex"] = images / "read1m.hex"
    to_hex(read_bin, made["read_hex"])
    tiny = images / "tiny.bin"
    tiny.write_bytes(rng.randbytes(16))
    made["read_tiny"] = images / "tiny.hex"
    to_hex(tiny, made["read_tiny"])
    made["read_bin"] = images / "read4m.bin"
    made["read_bin"].write_bytes(rng.randbytes(4 * 1024 * 1024))
    return made


def measure_line(tools, work, images):
    results = {"cli": {}, "timer": {}, "window": {}, "window_hidden": {}}
    for baud in RATES:
        for kib in SIZES_KIB:
            for operation in OPERATIONS:
                image = images[(operation, kib)]
                key = f"{operation}-{kib}k-{baud}"
                log(f"line: tervolt-cli {key}")
                results["cli"][key] = link_run(tools, work, f"cli-{key}",
                                                   cli_argv(tools, baud, operation, image), baud, operation)
                if kib == SIZES_KIB[0]:
                    log(f"line: timer-only polling {key}")
                    results["timer"][key] = link_run(tools, work, f"timer-{key}",
                                                         linkbench_argv(tools, baud, operation, image), baud,
                                                         operation)
                    if tools.window:
                        log(f"line: window {key}")
                        results["window"][key] = window_run(tools, work, f"window-{key}", baud, operation, image)
                    if tools.window and (operation, baud) == WINDOW_HIDDEN_CASE:
                        log(f"line: window never shown {key}")
                        results["window_hidden"][key] = window_run(tools, work, f"hidden-{key}", baud, operation,
                                                                   image, hidden=True)
    return results


def reap_all(hosts):
    """Waits for every host, taking each one's figures the moment it ends, whichever ends first."""
    pending = {host.proc.pid: host for host in hosts}
    watchdog = threading.Timer(RUN_TIMEOUT_S, lambda: [h.proc.kill() for h in pending.values()])
    watchdog.start()
    try:
        while pending:
            pid, status, usage = os.wait4(-1, 0)
            host = pending.pop(pid, None)
            if host:
                host.finish(status, usage)
    finally:
        watchdog.cancel()


def measure_parallel(tools, work, images):
    image = images[("program", PARALLEL_SIZE_KIB)]
    rounds = {}
    for boards in BOARD_COUNTS:
        log(f"parallel: {boards} board(s)")
        sims = []
        hosts = []
        try:
            for i in range(boards):
                sims.append(Sim(tools, work, f"par{boards}-{i}", PARALLEL_RATE))
            hosts = [Host(cli_argv(tools, PARALLEL_RATE, "program", image)(sim.port), work, f"par{boards}-{i}",
                          env=host_env(work)) for i, sim in enumerate(sims)]
            started = time.monotonic()
            for host in hosts:
                host.start()
            reap_all(hosts)
            wall = time.monotonic() - started
        finally:
            stats = [sim.stop() for sim in sims]
        cores = os.cpu_count() or 1
        ok = all(h.exit_code == 0 and h.last_line() == "Program OK!" for h in hosts)
        if not ok:
            log(f"parallel {boards}: a run failed")
        rounds[boards] = {
            "wall": wall,
            "ok": ok,
            "efficiency_min": min(s["line_busy_seconds"] / h.wall for s, h in zip(stats, hosts)),
            "turn_median_us": max(s["turnaround_median_us"] for s in stats),
            "turn_p99_us": max(s["turnaround_p99_us"] for s in stats),
            "cpu_share_max": max(h.cpu / h.wall for h in hosts),
            # Everything the boards and their hosts took, as a share of the whole machine.
            "machine_share": (sum(h.cpu for h in hosts) + sum(sim.cpu for sim in sims)) / (wall * cores),
            "sim_cpu_share_max": max(sim.cpu for sim in sims) / wall,
        }
    one = rounds[1]["wall"]
    for boards in BOARD_COUNTS:
        rounds[boards]["ratio"] = rounds[boards]["wall"] / one
    return rounds


def measure_readers(tools, work, images):
    out = work / "readers"
    out.mkdir(exist_ok=True)
    q = lambda path: shlex.quote(str(path))
    reader = q(tools.bin / "tervolt-readbench")
    hex_image, bin_image = q(images["read_hex"]), q(images["read_bin"])
    tiny = q(images["read_tiny"])
    cases = {
        "startup": [
            ("tervolt readers", f"{reader} --format hex {tiny}"),
            ("objcopy", f"objcopy -I ihex -O binary {tiny} {q(out / 'objcopy-tiny.bin')}"),
        ],
        "hex": [
            ("tervolt readers", f"{reader} --format hex {hex_image}"),
            ("objcopy", f"objcopy -I ihex -O binary {hex_image} {q(out / 'objcopy-hex.bin')}"),
            ("srec_cat", f"srec_cat {hex_image} -intel -o {q(out / 'srec-hex.bin')} -binary"),
        ],
        "bin": [
            ("tervolt readers", f"{reader} --format bin {bin_image}"),
            ("objcopy", f"objcopy -I binary -O binary {bin_image} {q(out / 'objcopy-bin.bin')}"),
            ("srec_cat", f"srec_cat {bin_image} -binary -o {q(out / 'srec-bin.bin')} -binary"),
        ],
    }
    # The reader must deliver every byte before its speed means anything.
    for kind, expected in (("hex", 1024 * 1024), ("bin", 4 * 1024 * 1024)):
        check = subprocess.run(shlex.split(cases[kind][0][1]), capture_output=True, text=True)
        if check.returncode != 0 or not check.stdout.startswith(f"{expected} bytes"):
            raise RuntimeError(f"tervolt-readbench on the {kind} image: {check.stdout}{check.stderr}")
    results = {}
    for kind, commands in cases.items():
        log(f"readers: {kind} image")
        export = out / f"hyperfine-{kind}.json"
        argv = ["hyperfine", "--shell=none", "--warmup", "3", "--min-runs", "30", "--export-json", str(export)]
        for label, command in commands:
            argv += ["-n", label, command]
        subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
        data = json.loads(export.read_text())
        results[kind] = {r["command"]: {"median": r["median"], "mean": r["mean"], "stddev": r["stddev"] or 0.0,
                                        "user": r["user"], "system": r["system"]}
                         for r in data["results"]}
    return results


def machine_info():
    cpu = "unknown"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    memory = ""
    try:
        kib = int(Path("/proc/meminfo").read_text().split()[1])
        memory = f"{kib / 1024 / 1024:.0f} GiB"
    except (OSError, ValueError, IndexError):
        pass
    distro = ""
    try:
        for line in Path("/etc/os-release").read_text().splitlines():
            if line.startswith("PRETTY_NAME="):
                distro = line.split("=", 1)[1].strip('"')
    except OSError:
        pass
    return {"cpu": cpu, "cores": os.cpu_count(), "memory": memory, "kernel": platform.release(), "os": distro}


# ---------------------------------------------------------------------------------------------- report


def case_label(key):
    operation, size, baud = key.split("-")
    return f"{operation.capitalize()} {size.replace('k', ' KiB')} at {baud}"


def write_plot(results, parallel, readers, work, png):
    data = work / "plot"
    data.mkdir(exist_ok=True)
    keys = list(results["cli"].keys())
    with open(data / "line.dat", "w") as f:
        for key in keys:
            operation, size, baud = key.split("-")
            label = f"{operation[0].upper()} {size} {int(baud) // 1000}k"
            timer = results["timer"].get(key, {}).get("efficiency", float("nan"))
            window = results["window"].get(key, {}).get("efficiency", float("nan"))
            f.write(f"\"{label}\" {results['cli'][key]['efficiency']:.4f} {timer:.4f} {window:.4f} "
                    f"{TARGET_EFFICIENCY[int(baud)]}\n")
    with open(data / "cpu.dat", "w") as f:
        for key in keys:
            operation, size, baud = key.split("-")
            label = f"{operation[0].upper()} {size} {int(baud) // 1000}k"
            window = results["window"].get(key, {}).get("cpu_share", float("nan"))
            f.write(f"\"{label}\" {100 * results['cli'][key]['cpu_share']:.3f} {100 * window:.3f}\n")
    with open(data / "parallel.dat", "w") as f:
        for boards in BOARD_COUNTS:
            f.write(f"{boards} {parallel[boards]['ratio']:.4f}\n")
    with open(data / "readers.dat", "w") as f:
        for tool in ("tervolt readers", "objcopy", "srec_cat"):
            f.write(f"\"{tool}\" {1000 * readers['hex'][tool]['median']:.3f} "
                    f"{1000 * readers['bin'][tool]['median']:.3f}\n")
    script = f"""
set terminal pngcairo size 1400,1000 font "DejaVu Sans,10" noenhanced
set output "{png}"
set multiplot layout 2,2 title "Tervolt benchmarks (bench/run)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set key below horizontal
set grid ytics
set xtics rotate by -30
set title "Line efficiency: line busy / wall (targets 0.97 at 115200, 0.95 at 256000)"
set yrange [0.85:1.0]
plot "{data / 'line.dat'}" using 2:xtic(1) lc rgb "#5e3c99" title "tervolt-cli", \\
     "" using 3 lc rgb "#b2abd2" title "timer-only polling (before)", \\
     "" using 4 lc rgb "#e66101" title "window", \\
     "" using 0:5 with points pt 5 ps 1.0 lc rgb "red" title "target"
set title "CPU time / wall time during the run (target at most 5 %)"
set yrange [0:6<*]
set ylabel "%"
plot "{data / 'cpu.dat'}" using 2:xtic(1) lc rgb "#5e3c99" title "tervolt-cli", \\
     "" using 3 lc rgb "#e66101" title "window", \\
     5 with lines lc rgb "red" dt 2 title "target"
unset ylabel
set style data linespoints
set title "Boards in parallel at {PARALLEL_RATE} ({PARALLEL_SIZE_KIB} KiB program): wall / wall of one"
set xtics norotate
set xrange [0.5:8.5]
set yrange [0.9:*]
set xlabel "boards"
plot "{data / 'parallel.dat'}" using 1:2 lw 2 pt 7 lc rgb "#5e3c99" title "measured", \\
     "-" using 1:2 with points pt 9 ps 2 lc rgb "red" title "target (at most)"
4 {TARGET_PARALLEL[4]}
8 {TARGET_PARALLEL[8]}
e
unset xlabel
set xrange [*:*]
set style data histograms
set title "Reading an image (median of hyperfine runs)"
set ylabel "ms"
set yrange [0:*]
set logscale y
set yrange [1:*]
plot "{data / 'readers.dat'}" using 2:xtic(1) lc rgb "#5e3c99" title "1 MiB Intel HEX", \\
     "" using 3 lc rgb "#fdb863" title "4 MiB binary"
unset multiplot
"""
    (data / "plot.gp").write_text(script)
    subprocess.run(["gnuplot", str(data / "plot.gp")], check=True)


def write_report(args, info, results, parallel, readers, run, doc, png, modes=None):
    started = datetime.datetime.fromisoformat(run["started"])
    finished = datetime.datetime.fromisoformat(run["finished"])
    loads = run["loads"]
    cli = results["cli"]
    timer = results["timer"]
    window = results["window"]
    lines = []
    add = lines.append
    failures = [r["name"] for group in results.values() for r in group.values() if not r["ok"]]
    failures += [f"parallel {b}" for b in BOARD_COUNTS if not parallel[b]["ok"]]

    # Target checks: (what, wanted, measured, met, room), room positive when there is some to spare.
    checks = []
    for baud in RATES:
        worst = min((r for k, r in cli.items() if k.endswith(f"-{baud}")), key=lambda r: r["efficiency"])
        target = TARGET_EFFICIENCY[baud]
        checks.append((f"line efficiency at {baud}, Program and Verify", f">= {target:.2f}",
                       f"lowest {worst['efficiency']:.3f} ({case_label(worst['name'][4:])})",
                       worst["efficiency"] >= target, f"{worst['efficiency'] - target:+.3f}"))
    worst_median = max(cli.values(), key=lambda r: r["turn_median_us"])
    checks.append(("median host turnaround", "< 1 ms", f"highest {worst_median['turn_median_us']} µs",
                   worst_median["turn_median_us"] < TARGET_TURNAROUND_MEDIAN_US,
                   f"{TARGET_TURNAROUND_MEDIAN_US - worst_median['turn_median_us']:+d} µs"))
    cpu_groups = [("tervolt-cli", cli)] + ([("window", window)] if window else [])
    for label, group in cpu_groups:
        worst_cpu = max(group.values(), key=lambda r: r["cpu_share"])
        checks.append((f"CPU / wall, {label} (sections 1 and 2, line echo)", "<= 5 %",
                       f"highest {pct(worst_cpu['cpu_share'])} ({case_label(worst_cpu['name'].split('-', 1)[1])})",
                       worst_cpu["cpu_share"] <= TARGET_CPU_SHARE,
                       f"{100 * (TARGET_CPU_SHARE - worst_cpu['cpu_share']):+.1f} points"))
    for kind, label in (("hex", "1 MiB Intel HEX"), ("bin", "4 MiB binary")):
        ours = readers[kind]["tervolt readers"]["median"]
        peer = readers[kind]["objcopy"]["median"]
        checks.append((f"reading a {label} image", "at least as fast as objcopy",
                       f"{1000 * ours:.1f} ms vs {1000 * peer:.1f} ms ({peer / ours:.2f} x objcopy's speed)",
                       ours <= peer, f"{100 * (peer / ours - 1):+.0f} %"))
    for boards, limit in TARGET_PARALLEL.items():
        ratio = parallel[boards]["ratio"]
        checks.append((f"{boards} boards in parallel", f"<= {limit} x one", f"{ratio:.3f} x", ratio <= limit,
                       f"{limit - ratio:+.3f}"))
    checks += mode_checks(modes or {})
    unmet = [c for c in checks if not c[3]]

    add("# Performance")
    add("")
    add("Measured by `bench/run`, which builds what it needs (Release, in `build-bench/`), installs its tools")
    add("from Debian if missing, runs every benchmark below and rewrites this file and")
    add(f"[`{png.name}`]({png.name}). Nothing here is a timed test: the tests never assert speed.")
    add("")
    add("| | |")
    add("|---|---|")
    add(f"| command | `{args.command}` |")
    add(f"| date | {started.strftime('%Y-%m-%d %H:%M')} to {finished.strftime('%H:%M')} (UTC) |")
    add(f"| machine | {info['cpu']}, {info['cores']} cores, {info['memory']} |")
    add(f"| system | {info['os']}, Linux {info['kernel']} |")
    add(f"| load average (1, 5, 15 min) | {loads[0]} at the start, {loads[1]} at the end |")
    add(f"| simulators | {'raised to nice ' + str(SIM_NICE) if run['sim_raised'] else 'at normal priority (raising was refused)'} |")
    add("")
    add("The machines are shared and noisy, so every figure is a ratio of two things measured side by side")
    add("in this one run. A load average near or above the core count means other work was competing.")
    add("")
    add("## Against the targets")
    add("")
    add("| target | wanted | measured | room (+) or shortfall (−) | |")
    add("|---|---|---|---|---|")
    for what, wanted, measured, ok, room in checks:
        add(f"| {what} | {wanted} | {measured} | {room.replace('-', '−')} | {verdict(ok)} |")
    add("")
    if unmet:
        add("Not met in this run: " + "; ".join(f"{c[0]} ({c[2]}, short by {c[4].lstrip('-')})" for c in unmet)
            + ". What stands in the way is under *What limits the figures* below.")
    else:
        add("Every target was met in this run. *What limits the figures* below says where the margins are thin.")
    add("")
    if failures:
        add(f"**Runs that did not end as expected:** {', '.join(failures)} (their figures are still shown; the")
        add("logs are in the bench work folder).")
        add("")
    add(f"![Benchmark plot]({png.name})")
    add("")

    add("## 1. Line efficiency and host turnaround")
    add("")
    add("`tervolt-cli program|verify` against `tervolt-sim --baud RATE`, which paces both directions as a real")
    add("line (10 bits per character) and keeps its own account. *Line busy* is the simulator's: the time")
    add("during which either direction carries a character, so 1.0 is the ceiling also when the echo overlaps")
    add("the command (*Boards' timing* below); this board echoes after the CR. *Efficiency* is line busy divided by")
    add("the wall time of the whole `tervolt-cli` process (start-up, image check, ping and \"P ID\" included);")
    add("*on the line* divides by the simulator's span from first to last byte instead. *Turnaround* is the")
    add("simulator's time from sending the prompt '>' to receiving the first byte of the next command.")
    add("Images are Intel HEX with 16-byte records (blocks of 192 bytes). Each run has a simulator of its")
    add("own; Verify runs use an image of 0xFF bytes against the freshly erased board, which puts exactly as")
    add("many characters on the line as any other content.")
    add("")
    add("| case | wall s | line busy s | efficiency | on the line | turnaround median / p99 µs | CPU / wall |")
    add("|---|---|---|---|---|---|---|")
    for key, r in cli.items():
        add(f"| {case_label(key)} | {r['wall']:.2f} | {r['busy']:.2f} | {r['efficiency']:.3f} | "
            f"{r['efficiency_line']:.3f} | {r['turn_median_us']} / {r['turn_p99_us']} | {pct(r['cpu_share'])} |")
    add("")

    add("## 2. CPU cost")
    add("")
    add("User + system CPU seconds of the Tervolt process divided by the wall time of the same run. For")
    add("`tervolt-cli` both come from the kernel's account of the whole process (`wait4`), start-up included.")
    add("The window is driven offscreen (`QT_QPA_PLATFORM=offscreen`) by `tervolt-windowbench`, which builds")
    add("`TFormTervolt` as the program does, waits for the identification, picks the image through the")
    add("window's file-dialog seam, clicks Start and answers the outcome box; it measures its own process")
    add("(`getrusage`) from the click on Start to the outcome, leaving out start-up and its 2 s power-on")
    add("picture.")
    add("")
    add("| case | tervolt-cli | window | window efficiency (on the line) | window turnaround median / p99 µs |")
    add("|---|---|---|---|---|")
    for key, r in cli.items():
        w = window.get(key)
        if w:
            add(f"| {case_label(key)} | {pct(r['cpu_share'])} | {pct(w['cpu_share'])} | {w['efficiency']:.3f} | "
                f"{w['turn_median_us']} / {w['turn_p99_us']} |")
        else:
            add(f"| {case_label(key)} | {pct(r['cpu_share'])} | – | – | – |")
    add("")
    if not run["window"]:
        add("**The window was not measured:** `build-bench/bin/tervolt` (or its driver) was not built in this")
        add("run. `bench/run` measures it as soon as the window program builds.")
        add("")
    else:
        add(f"The window runs are made for the {SIZES_KIB[0]} KiB images only, to keep `bench/run` within its time.")
        add("")
    hidden = results["window_hidden"]
    for key, h in hidden.items():
        w = window.get(key)
        if not w:
            continue
        add(f"What painting costs: the same window once more for {case_label(key)}, never shown (so nothing")
        add("is painted), against the shown run above.")
        add("")
        add("| window | CPU / wall | efficiency (on the line) | turnaround median / p99 µs |")
        add("|---|---|---|---|")
        add(f"| shown | {pct(w['cpu_share'])} | {w['efficiency']:.3f} | {w['turn_median_us']} / {w['turn_p99_us']} |")
        add(f"| never shown | {pct(h['cpu_share'])} | {h['efficiency']:.3f} | {h['turn_median_us']} / {h['turn_p99_us']} |")
        add("")

    if modes:
        add("## Boards' timing: echo and bursts")
        add("")
        add("The same runs of the {0} KiB images against boards with other timing. *echo line*: the monitor".format(MODE_SIZE_KIB))
        add("echoes a command after its CR (sections 1 and 2). *echo live* (`tervolt-sim --echo live`): it echoes")
        add("each character as it arrives, as a monitor on a microcontroller's UART usually does, so the echo")
        add("overlaps the command and the line carries both directions at once; line busy counts a moment once")
        add("however many directions carry a character, so 1.0 stays the ceiling. *burst MS*")
        add("(`tervolt-sim --burst MS`, line echo): what the board sends reaches the host only every MS ms, as")
        add("through a USB adapter's latency timer; the turnaround is then timed from the moment the prompt left")
        add("the board, so it includes the wait for the next burst (the goal: within one burst period of the")
        add("line echo's turnaround of the same case). Efficiency is line busy over the wall time as in")
        add("section 1 (for the window, on the line).")
        add("")
        mode_table(modes, add)
        add("")
        add("What the driver does with the board's bytes, in every mode:")
        add("")
        add("- **On readable data** the port's readable notice (`QSocketNotifier` on the descriptor) reads at once")
        add("  what is there, without asking how much first, and hands it to the communication unit, which closes")
        add("  the answer on a '>' after CR LF. Nothing that has arrived waits for anything. The notice stays on")
        add("  while its reads take bytes (only one that could take nothing, such as while polling is paused, turns")
        add("  it off, and the 5 ms timer runs until it is on again): switching it off and on for every batch cost")
        add("  the event loop a wake-up of its own each time. While the notice is on, the timer only looks every")
        add("  250 ms that it still is. Each batch")
        add("  costs one wake-up, one `ppoll` and one `read`.")
        add("- **On a held read**, when the protocol knows how long an echoed answer is at least")
        add("  (`ExpectAtLeast`), the hint may only shorten a wait, never delay a read: with the readable notice")
        add("  it changes nothing; where only the 5 ms timer reads (Windows), the driver polls once more when the")
        add("  line can have carried the expected bytes, if that is before the next tick, and again after each read")
        add("  that brings more (one that finds nothing is not repeated). An earlier driver read nothing until")
        add("  2 ms before the predicted arrival; with live echo the answer came sooner than predicted and waited")
        add("  for the hold (see *Changes made for speed*).")
        add("- **On bursts** each burst is read as it arrives, one wake-up a burst; the answer's end is seen with")
        add("  the burst that carries it, so an adapter's timer adds its own delay and nothing more. The Linux")
        add("  layer asks USB adapters for low latency, which makes an FTDI adapter's timer 1 ms.")
        add("")

    add("## 3. Image reading speed")
    add("")
    add("Reading through the program's readers exactly as a run does (`Open` with its pre-scan of the whole")
    add("file, then `ReadBlock` of at most 200 bytes until the end), by `tervolt-readbench`, against")
    add("`objcopy` and `srec_cat` converting the same file to binary, all timed by `hyperfine` (no shell,")
    add("3 warm-up runs, at least 30 runs each). The peers also write their output (a few MiB, to the")
    add("work folder); the reader only delivers blocks, as Program does. Process start-up is in every figure.")
    add("")
    add("| file | tool | median ms | mean ± σ ms | user ms | system ms | objcopy / this |")
    add("|---|---|---|---|---|---|---|")
    for kind, label in (("hex", "1 MiB Intel HEX"), ("bin", "4 MiB binary"), ("startup", "16-byte Intel HEX")):
        peer = readers[kind]["objcopy"]["median"]
        for tool, r in readers[kind].items():
            add(f"| {label} | {tool} | {1000 * r['median']:.2f} | {1000 * r['mean']:.2f} ± {1000 * r['stddev']:.2f} | "
                f"{1000 * r['user']:.2f} | {1000 * r['system']:.2f} | {peer / r['median']:.2f} |")
    add("")

    add("## 4. Several boards at once")
    add("")
    add(f"1, 2, 4 and 8 `tervolt-cli program` runs of the {PARALLEL_SIZE_KIB} KiB image started together, each")
    add(f"against its own simulator paced at {PARALLEL_RATE}; wall time from the start of all to the end of the")
    add("last, relative to one board alone.")
    add("")
    add("| boards | wall s | relative to one | lowest efficiency | highest turnaround median / p99 µs | "
        "highest CPU / wall, host / simulator | all of them / whole machine |")
    add("|---|---|---|---|---|---|---|")
    for boards in BOARD_COUNTS:
        p = parallel[boards]
        add(f"| {boards} | {p['wall']:.2f} | {p['ratio']:.3f} | {p['efficiency_min']:.3f} | "
            f"{p['turn_median_us']} / {p['turn_p99_us']} | {pct(p['cpu_share_max'])} / {pct(p['sim_cpu_share_max'])} | "
            f"{pct(p['machine_share'])} |")
    add("")

    add("## Changes made for speed")
    add("")
    add("- **The driver reads as soon as bytes arrive.** The communication unit turns on the driver's")
    add("  `PollOnReadable`: a `QSocketNotifier` polls the port the moment it becomes readable, honouring the")
    add("  pause counter exactly as the 5 ms polling timer does (which then only watches that the notice stays")
    add("  on). With the timer alone each")
    add("  answer's closing '>' waited on average half a polling period (2.5 ms) before it was seen. Before")
    add("  and after, side by side in this run (`tervolt-linkbench --timer-only` is the CLI's own path with")
    add("  only the immediate poll switched off):")
    add("")
    add("  | case | efficiency before → after | turnaround median before → after µs | CPU before → after |")
    add("  |---|---|---|---|")
    for key, t in timer.items():
        r = cli[key]
        add(f"  | {case_label(key)} | {t['efficiency']:.3f} → {r['efficiency']:.3f} | "
            f"{t['turn_median_us']} → {r['turn_median_us']} | {pct(t['cpu_share'])} → {pct(r['cpu_share'])} |")
    add("")
    hidden_key = f"{WINDOW_HIDDEN_CASE[0]}-{SIZES_KIB[0]}k-{WINDOW_HIDDEN_CASE[1]}"
    shown, never = results["window"].get(hidden_key), results["window_hidden"].get(hidden_key)
    if shown and never:
        add("- **The window paints outside the gap between answer and command.** Its panel's background (a")
        add("  gradient, a sweep and some 800 dots) is drawn once per size and then copied, so a label's repaint")
        add("  costs a copy of a few pixels instead of the whole picture; the progress bar is painted with the")
        add("  next ordinary repaint instead of at once inside `setValue` (which lands right after an answer);")
        add("  the bar and the address label are set only when their text changes, the label at most ten times a")
        add("  second. In the report of 2026-12-07 a shown window turned round in 568 µs (median) against 67 µs")
        add(f"  never shown, at 0.965 line efficiency; in this run, {case_label(hidden_key)}: "
            f"{shown['turn_median_us']} µs shown against {never['turn_median_us']} µs never shown, at "
            f"{shown['efficiency']:.3f} and {never['efficiency']:.3f}.")
    if modes:
        add("- **The driver reads what has arrived, whatever an answer's predicted length.** For a while it held")
        add("  its reads until the line could have carried an echoed answer (less CPU for several boards in one")
        add("  process); a monitor that echoes each character as it arrives then lost 6–8 % of the line (an")
        add("  independent board at load 1: 0.914–0.942 instead of 0.994, median turnaround 2.2–2.9 ms instead")
        add("  of 0.14 ms). Now readable data is read at once and the hint only shortens the timer's wait.")
        add("  tervolt-cli with the held read (2026-12-08 07:39, load average 13 to 15) against this run:")
        add("")
        add_before_after(add, modes, HELD_READ_BEFORE)
        add("- **One pass of the event loop a block, and a board that sends a line's end at once.** The engine")
        add("  served the host's events once a record (twelve passes between a prompt and the next command of")
        add("  16-byte records) and now does so once a block, before it is sent; the window's Stop and the")
        add("  CLI's signals are still seen within one block. The simulator hands on what the board sends in")
        add("  batches 1 ms apart, to keep its own wake-ups few; the batch that ends an answer waited for its")
        add("  tick, up to 1 ms after the prompt had left the modelled line, which no real board does, and a")
        add("  line's CR waited likewise before the board took it. Both are now taken at their time.")
        add("  tervolt-cli before (2026-12-08 10:41, load average 1.8) against this run:")
        add("")
        add_before_after(add, modes, BATCH_BEFORE)
        add("- **No event-loop pass between the prompt and the next command, and fewer, cheaper wake-ups.**")
        add("  The protocol waits for every answer in the event loop, which serves the host's events (the")
        add("  window's painting, Stop, the CLI's signals) while the command is on the line; the engine's own")
        add("  pass once a block is now left out when such a wait has just run the loop (`TEventLoopWaits`), so")
        add("  the window no longer paints its progress between the board's prompt and the next command. The")
        add("  driver's 5 ms poll timer slows to a 250 ms watch while the readable notice is on (that notice sees")
        add("  every byte and every hang-up), and a notice's read takes what is there without asking the count")
        add("  first: one `ppoll` and one `read` per batch of bytes (`strace` of a 64 KiB Program with live echo,")
        add("  2026-12-08: 14,300 polls, 14,200 `ioctl`s and 11,400 reads before; 11,700 polls, 360 `ioctl`s and")
        add("  11,400 reads after). The CLI runs Qt's own event loop instead of GLib's, which costs less per")
        add("  wake-up, and the window's session trace formats its lines without printf. The simulator wakes")
        add("  without the kernel's 50 µs timer slack, so its prompt leaves closer to the moment the modelled")
        add("  line has carried it. Both hosts before (2026-12-08 11:46, load average 1.5 to 0.5) against this run:")
        add("")
        add_before_after(add, modes, WAKE_BEFORE)
    add("- **USB serial adapters in low-latency mode.** On open the Linux layer sets `ASYNC_LOW_LATENCY`")
    add("  (`TIOCGSERIAL`/`TIOCSSERIAL`) and restores the previous setting on close; a device that refuses, such")
    add("  as a pseudo-terminal, is left as it is. An FTDI adapter otherwise holds received bytes up to its")
    add("  16 ms latency timer, which every answer's prompt would wait for; in low-latency mode the timer is")
    add("  1 ms. This machine has no USB adapter, so the gain is not measured here (the simulator's")
    add("  pseudo-terminal has no such mode).")
    add("- **The reply wait blocks.** `WaitForReply` waits in `processEvents(WaitForMoreEvents)` for the next")
    add("  event (received bytes, the polling tick or the reply timer) instead of spinning a core; every pending")
    add("  event is still processed on each pass and the time-out tested after it. This was already so when")
    add("  these benchmarks were written; it is what keeps the CPU share in section 2 at a few percent instead")
    add("  of a whole core for the length of every answer.")
    add("")

    add("## What limits the figures")
    add("")
    line_256 = [r for k, r in cli.items() if k.endswith("-256000")]
    add(f"- **The line at 256000 baud.** There a block's exchange lasts about 31 ms, so every millisecond between")
    add("  the prompt and the next command costs 3 %. Two things spend it: the simulator's own wake-up for the")
    add("  prompt (the kernel wakes it some tens of microseconds after the modelled line has carried it; see")
    add("  the notes below) and scheduling delays on the shared machine, which show in the 99th percentile of")
    add("  the turnaround (here up to")
    add(f"  {max(r['turn_p99_us'] for r in line_256)} µs) while the median stays near "
        f"{round(statistics.median(r['turn_median_us'] for r in line_256))} µs. The host's own work between the prompt and")
    add("  the next command (take the reply, read the next records, format the hexadecimal line, write it) is")
    add("  what the median shows.")
    if window:
        w256 = [r for k, r in window.items() if k.endswith("-256000")]
        cli256 = [cli[k] for k in window if k.endswith("-256000") and k in cli]
        add("- **The window.** It shares the CLI's path to the line and adds its own user interface: the address")
        add("  label and the progress bar change during the transfer and are painted while a command is on the")
        add("  line, not between an answer and the next command (see *Changes made for speed*). What is left is")
        add("  the machine's load and the heavier event loop of a GUI application, which shows in its CPU share.")
        add(f"  At 256000 baud the window's line efficiency is {min(r['efficiency'] for r in w256):.3f}"
            + (f" against the CLI's {min(r['efficiency'] for r in cli256):.3f} in the same run" if cli256 else "")
            + f", its CPU share up to {pct(max(r['cpu_share'] for r in w256))}.")
    if timer:
        before = statistics.mean(t["cpu_share"] for t in timer.values())
        after = statistics.mean(cli[k]["cpu_share"] for k in timer)
        add("- **Waking up for every batch of bytes.** The immediate poll wakes the host for each batch the line")
        add("  delivers (about one per millisecond from the simulator; a USB adapter in low-latency mode delivers")
        add("  about as often), and each wake-up is a pass of the event loop. It raised the CLI's CPU share from")
        add(f"  {pct(before)} to {pct(after)} on average over the before/after cases (line echo; the general 5 %")
        add("  target). A board that echoes as it receives costs more; see the ceilings of both echo modes above.")
        add("  Most of a wake-up's cost on this machine is the kernel's switch to the process and back (`perf`,")
        add("  2026-12-08:")
        add("  three quarters of the CLI's CPU time is in the kernel, most of it in the context switch), not the")
        add("  program's own work. A board that echoes as it receives sends during the command as well as after")
        add("  it, so the host wakes as often per block in half the time: its CPU share is about twice that of")
        add("  line echo at the same rate. Fewer wake-ups would mean leaving arrived bytes unread for a while,")
        add("  which is what cost a live-echo board 6–8 % of its line before.")
        add("  Side by side on this machine (2026-12-08 17:08–17:12, load average 1.3 to 0.1; Program and Verify,")
        add("  64 KiB at 115200), tervolt-cli as it was before the read hold (20d4e0b, which also read as soon as")
        add("  bytes arrived) took 3.5–4.1 % with live echo and 2.5–2.7 % with line echo; this code took")
        add("  2.6–2.9 % and 1.6–1.9 %, at a line efficiency of 0.993–0.997 against 0.991–0.996.")
    most = parallel[max(BOARD_COUNTS)]
    add(f"- **Several boards.** With {max(BOARD_COUNTS)} boards, all hosts and simulators together took "
        f"{pct(most['machine_share'])} of the")
    add("  machine's processor time, so the parallel runs are bounded by each board's line time, not by the")
    add("  machine. More boards mean more processes waiting for one of the two cores at the same moment,")
    add("  which shows in the turnaround's 99th percentile rather than in the wall time.")
    start = readers.get("startup")
    if start:
        add(f"- **Reading images.** Starting the reader on a 16-byte image takes {1000 * start['tervolt readers']['median']:.1f} ms,")
        add(f"  objcopy {1000 * start['objcopy']['median']:.1f} ms: the reader's program loads Qt Core. On the large files here")
        add("  the reading itself more than makes up for it; on very small images objcopy is quicker in absolute")
        add("  terms, though both take a few milliseconds.")
    add("")

    add("## Notes on the method")
    add("")
    add("- The simulator releases the middle of an answer in batches about a millisecond apart, but sends the")
    add("  end of every answer and takes the CR of every command at its own time, waking without timer slack.")
    add("  What remains is the kernel's wake-up latency: its prompt reaches the host some tens of microseconds")
    add("  after the modelled line has carried it, which counts against the efficiency here though a real")
    add("  board's UART has no such delay (at 256000 baud about 0.2 % per 60 µs).")
    add("- Turnaround is timed inside the simulator: from the return of its write of the prompt to the return")
    add("  of its read of the next command. When the host, woken by the prompt, runs before the simulator's")
    add("  write call has even returned (both on one core), the figure comes out smaller than the host's true")
    add("  reaction time; the efficiency figures have no such blind spot.")
    add("- The simulators run at nice -10, the priority the host itself takes during a transfer: the board")
    add("  stands for hardware with its own processor and must not wait behind other processes on a shared")
    add("  machine. Where raising is refused they run at normal priority and the figures say so above.")
    add("- Raw logs and the data behind the plot stay in the bench work folder (`build-bench/bench-work`).")
    add("")
    doc.write_text("\n".join(lines).rstrip("\n") + "\n")


def modes_only(tools, work, images, load_start):
    modes = measure_modes(tools, work, images)
    (work / "modes.json").write_text(json.dumps(modes, indent=2))
    lines = [f"load average {load_start} at the start, {load_average()} at the end", ""]
    mode_table(modes, lines.append)
    lines.append("")
    for what, wanted, measured, ok, room in mode_checks(modes):
        lines.append(f"{what}: wanted {wanted}, {measured} ({room}) {verdict(ok)}")
    print("\n".join(lines))
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--bin", default="", help="folder with tervolt-cli, tervolt-sim and the bench programs")
    parser.add_argument("--work", required=True, help="scratch folder for images, logs and plot data")
    parser.add_argument("--doc", required=True, help="the Markdown report to write")
    parser.add_argument("--plot", required=True, help="the PNG plot to write")
    parser.add_argument("--command", default="bench/run", help="the command shown in the report")
    parser.add_argument("--quick", action="store_true", help="small images, for trying the harness out")
    parser.add_argument("--modes-only", action="store_true",
                        help="measure only the boards' timing modes and print their table; the report is left alone")
    parser.add_argument("--report-only", action="store_true",
                        help="measure nothing: rewrite the report and plot from the results.json in --work")
    args = parser.parse_args()
    if args.quick:
        global SIZES_KIB, PARALLEL_SIZE_KIB
        SIZES_KIB = (4, 8)
        PARALLEL_SIZE_KIB = 4

    work = Path(args.work)
    doc = Path(args.doc)
    png = Path(args.plot)
    if args.report_only:
        saved = json.loads((work / "results.json").read_text())
        results, readers, info, run = saved["line"], saved["readers"], saved["machine"], saved["run"]
        parallel = {int(k): v for k, v in saved["parallel"].items()}
        modes = saved.get("modes", {})
    else:
        if not args.bin:
            parser.error("--bin is needed to measure")
        tools = Tools(args.bin)
        if work.exists():
            shutil.rmtree(work)
        work.mkdir(parents=True)
        (work / "config").mkdir()
        started = datetime.datetime.now(datetime.timezone.utc)
        load_start = load_average()
        info = machine_info()
        log(f"machine: {info}; load {load_start}; simulators raised: {tools.sim_nice_allowed}; "
            f"window: {tools.window}")
        images = make_images(work)
        if args.modes_only:
            return modes_only(tools, work, images, load_start)
        readers = measure_readers(tools, work, images)
        results = measure_line(tools, work, images)
        modes = measure_modes(tools, work, images, results)
        parallel = measure_parallel(tools, work, images)
        run = {"started": started.isoformat(), "finished": datetime.datetime.now(datetime.timezone.utc).isoformat(),
               "loads": [load_start, load_average()], "sim_raised": tools.sim_nice_allowed, "window": tools.window}
        (work / "results.json").write_text(json.dumps(
            {"line": results, "modes": modes, "parallel": parallel, "readers": readers, "machine": info,
             "run": run}, indent=2))
    import boards  # several boards from one process; its own section of the report
    kept = boards.kept_section(doc)
    write_plot(results, parallel, readers, work, png.resolve())
    write_report(args, info, results, parallel, readers, run, doc, png, modes)
    if args.report_only:
        if kept:
            boards.splice(doc, kept)
    else:
        boards.run(tools, work / "boards", doc)
    log(f"wrote {doc} and {png}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
