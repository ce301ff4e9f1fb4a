"""Helpers that bench/benchmarks.py and bench/boards.py share: the simulated board and host processes,
their environment, the log and the report's small formatters."""

import json
import os
import re
import select
import signal
import subprocess
import sys
import threading
import time
from pathlib import Path

# The board model stands for hardware with a processor of its own; on a shared machine it must not
# queue behind other work, so it runs at the priority the host raises itself to during a transfer.
SIM_NICE = -10


SIM_START_TIMEOUT_S = 10


RUN_TIMEOUT_S = 600


def log(text):
    print(f"[bench] {text}", file=sys.stderr, flush=True)


class Sim:
    """One tervolt-sim on its own pseudo-terminal, with its statistics read after it stops."""

    def __init__(self, tools, work, name, baud, sim_args=()):
        self.stats_path = work / f"{name}.stats.json"
        self.err_path = work / f"{name}.sim.log"
        self.stats_path.unlink(missing_ok=True)
        self.raised = tools.sim_nice_allowed
        preexec = (lambda: os.nice(SIM_NICE)) if self.raised else None
        self.err = open(self.err_path, "w")
        self.proc = subprocess.Popen(
            [str(tools.bin / "tervolt-sim"), "--baud", str(baud), "--stats", str(self.stats_path), *sim_args],
            stdout=subprocess.PIPE, stderr=self.err, text=True, preexec_fn=preexec)
        self.port = self._read_port()

    def _read_port(self):
        ready, _, _ = select.select([self.proc.stdout], [], [], SIM_START_TIMEOUT_S)
        line = self.proc.stdout.readline().strip() if ready else ""
        if not line.startswith("/"):
            try:
                self.stop()
            except RuntimeError:
                pass
            raise RuntimeError(f"tervolt-sim did not start: {self.err_path.read_text()}")
        return line

    def stop(self):
        self.cpu = 0.0
        if self.proc.returncode is None:
            self.proc.send_signal(signal.SIGTERM)
            watchdog = threading.Timer(20, self.proc.kill)
            watchdog.start()
            try:
                _, status, usage = os.wait4(self.proc.pid, 0)
                self.proc.returncode = os.waitstatus_to_exitcode(status)
                self.cpu = usage.ru_utime + usage.ru_stime
            except ChildProcessError:
                pass
            finally:
                watchdog.cancel()
        self.err.close()
        if self.proc.stdout:
            self.proc.stdout.close()
        if not self.stats_path.exists():
            raise RuntimeError(f"tervolt-sim wrote no statistics: {self.err_path.read_text()}")
        return json.loads(self.stats_path.read_text())


class Host:
    """A host program run to its end, with its wall time and CPU time (user + system, from wait4)."""

    def __init__(self, argv, work, name, env=None):
        self.argv = [str(a) for a in argv]
        self.out_path = work / f"{name}.out"
        self.err_path = work / f"{name}.err"
        self.env = env
        self.proc = None

    def start(self):
        self.out = open(self.out_path, "w")
        self.err = open(self.err_path, "w")
        self.started = time.monotonic()
        self.proc = subprocess.Popen(self.argv, stdout=self.out, stderr=self.err, env=self.env)

    def wait(self):
        # A watchdog rather than polling: the harness must not wake up while the run is measured.
        watchdog = threading.Timer(RUN_TIMEOUT_S, self.proc.kill)
        watchdog.start()
        try:
            _, status, usage = os.wait4(self.proc.pid, 0)
        finally:
            watchdog.cancel()
        return self.finish(status, usage)

    def finish(self, status, usage):
        self.wall = time.monotonic() - self.started
        self.proc.returncode = os.waitstatus_to_exitcode(status)
        self.exit_code = self.proc.returncode
        self.cpu = usage.ru_utime + usage.ru_stime
        self.out.close()
        self.err.close()
        self.stdout = self.out_path.read_text()
        self.stderr = self.err_path.read_text()
        return self

    def run(self):
        self.start()
        return self.wait()

    def last_line(self):
        lines = [l for l in self.stdout.splitlines() if l.strip()]
        return lines[-1] if lines else ""


class Tools:
    def __init__(self, bin_dir):
        self.bin = Path(bin_dir)
        self.window = (self.bin / "tervolt").exists() and (self.bin / "tervolt-windowbench").exists()
        self.sim_nice_allowed = self._can_raise()

    @staticmethod
    def _can_raise():
        try:
            out = subprocess.run(["nice", "-n", str(SIM_NICE), "nice"], capture_output=True, text=True,
                                 timeout=10)
            return out.returncode == 0 and int(out.stdout.strip()) < os.nice(0)
        except (OSError, ValueError, subprocess.TimeoutExpired):
            return False


def host_env(work):
    env = dict(os.environ)
    # Private per-user settings: nothing the user stored applies, nothing is written back.
    env["XDG_CONFIG_HOME"] = str(work / "config")
    env["QT_QPA_PLATFORM"] = "offscreen"
    return env


def load_average():
    return "{:.2f} {:.2f} {:.2f}".format(*os.getloadavg())


def pct(x):
    return f"{100 * x:.1f} %"


def verdict(ok):
    return "met" if ok else "**not met**"


def replace_section(doc, title, section):
    """Puts `section` (starting "## title") at the end of the Markdown file `doc`, instead of the old one."""
    with open(doc) as f:
        text = f.read()
    text = re.sub(r"## " + re.escape(title) + r"\n.*?(?=\n## |\Z)", "", text, flags=re.S).rstrip("\n")
    with open(doc, "w") as f:
        f.write(text + "\n\n" + section)
