"""Simulated boards for the module's tests: tervolt-sim on a pseudo-terminal each, ended by the test.

TERVOLT_BIN names the folder of tervolt-sim (the build's bin/ or an installed usr/bin); the module is
the one on sys.path (the build's python/ or an installed dist-packages)."""

import os
import subprocess
import time

import pytest

BIN = os.environ.get("TERVOLT_BIN", "")


def program(name):
    return os.path.join(BIN, name) if BIN else name


class SimBoard:
    """One tervolt-sim; `port` is its link, `dump` what it holds once stopped."""

    def __init__(self, folder, name, *options):
        self.port = str(folder / name)
        self.dump = str(folder / (name + ".hex"))
        self.process = subprocess.Popen(
            [program("tervolt-sim"), "--link", self.port, "--dump", self.dump, *options],
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
        )
        deadline = time.monotonic() + 10
        while not os.path.exists(self.port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("tervolt-sim did not start: " + self.process.stderr.read().decode())
            time.sleep(0.02)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait(timeout=10)


@pytest.fixture
def boards(tmp_path):
    """boards(*options) starts a simulated board with tervolt-sim's options."""
    started = []

    def start(*options):
        board = SimBoard(tmp_path, "board%d" % len(started), *options)
        started.append(board)
        return board

    yield start
    for board in started:
        board.stop()


@pytest.fixture
def image(tmp_path):
    """image(size) writes a binary image of `size` bytes of a fixed pattern and gives its path."""

    def write(size, name="fw.bin"):
        path = tmp_path / name
        path.write_bytes(bytes((i * 7 + 3) & 0xFF for i in range(size)))
        return str(path)

    return write
