"""The module against simulated boards: the steps, every kind of failure, threads, Ctrl-C and
callbacks, and its documentation."""

import ast
import json
import os
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import tervolt

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SAMPLE = os.path.join(ROOT, "examples", "sample.hex")


def test_a_board_is_identified_programmed_and_verified(boards):
    sim = boards()
    with tervolt.Board(sim.port) as board:
        assert board.identify() == tervolt.Chip(manufacturer="VELUM", device="VF040B")
        image = tervolt.Image(SAMPLE)
        seen = []
        result = board.program(image, verify=True, progress=lambda done, total: seen.append((done, total)))
        assert (result.outcome, result.message, result.bytes, result.format) == (
            "ok", "Program OK!\nCompare OK!", 2 * image.total, "ihex")
        # One bar over both passes, never going back.
        assert seen[-1] == (2 * image.total, 2 * image.total)
        assert seen == sorted(seen)
        assert board.verify(SAMPLE).message == "Compare OK!"
        assert sum(length for _, length in image.blocks) == image.total
        assert result.as_dict()["operation"] == "program+verify"
    assert board.closed
    with pytest.raises(tervolt.LineLost):
        board.ping()


def board(port, **options):
    return tervolt.Board(port, **options)


# (sim options, step, the exception, its exit status). `image` is a 4 KiB binary image.
FAILURES = {
    "port missing": ([], lambda port, image: board(port + "-none"), tervolt.PortError, 3),
    "COM number out of range": ([], lambda port, image: board("COM0"), tervolt.UsageError, 64),
    "rate out of range": ([], lambda port, image: board(port, baud=-1), tervolt.UsageError, 64),
    "format unknown": ([], lambda port, image: tervolt.Image(image, format="intel"), tervolt.UsageError, 64),
    "nothing answers": (["--fault", "silent-after:0"], lambda port, image: board(port, retries=0).ping(),
                        tervolt.NoTarget, 3),
    "identify garbled": (["--fault", "garble:2"], lambda port, image: board(port, retries=0).identify(),
                         tervolt.NotIdentified, 4),
    "chip not listed": (["--device-id", "XF999"], lambda port, image: board(port).identify(),
                        tervolt.ChipNotListed, 4),
    "device list missing": ([], lambda port, image: board(port, devices=port + ".tervolt").identify(),
                            tervolt.DeviceListError, 6),
    "image missing": ([], lambda port, image: board(port).program(image + ".none"), tervolt.ImageError, 2),
    "compare mismatch": (["--fault", "mismatch:0x10"], lambda port, image: board(port).program(image, verify=True),
                         tervolt.CompareError, 1),
    "hang-up mid-run": (["--fault", "hangup-after:8"], lambda port, image: board(port).program(image),
                        tervolt.LineLost, 3),
    "retries used up": (["--fault", "garble:6"], lambda port, image: board(port, retries=0).program(image),
                        tervolt.GaveUp, 3),
}


@pytest.mark.parametrize("case", FAILURES)
def test_each_failure_raises_its_own_kind(boards, image, case):
    options, step, kind, status = FAILURES[case]
    sim = boards(*options)
    with pytest.raises(kind) as caught:
        step(sim.port, image(4096))
    error = caught.value
    assert isinstance(error, tervolt.Error) and error.exit_status == status and str(error).startswith(error.message)
    if kind is tervolt.CompareError:
        assert (error.address, error.expected ^ 0xFF) == (0x10, error.actual)
    if kind is tervolt.ChipNotListed:
        assert (error.manufacturer, error.device) == ("VELUM", "XF999")
    if kind in (tervolt.LineLost, tervolt.GaveUp):
        assert error.flash_state and error.flash_state in error.message


def test_an_error_says_what_the_cli_says(boards, image):
    path = image(4096)
    sim = boards("--fault", "mismatch:0x20")
    with pytest.raises(tervolt.CompareError) as caught:
        tervolt.Board(sim.port).program(path, verify=True)
    cli = subprocess.run([os.path.join(os.environ.get("TERVOLT_BIN", ""), "tervolt-cli"), "--json", "--port",
                          sim.port, "program", "--verify", path], capture_output=True, text=True)
    expected = json.loads(cli.stdout)["boards"][0]
    got = caught.value.result.as_dict()
    for field in ("outcome", "message", "exit_status", "compare", "format", "bytes"):
        assert got[field] == expected[field], field


def test_boards_on_threads_run_at_once(boards, image):
    sims = [boards("--baud", "115200") for _ in range(4)]
    path = image(8192)
    # Made on this thread, used on the pool's: a board's port belongs to no caller's thread.
    opened = [tervolt.Board(sim.port) for sim in sims]
    spans = []

    def run(board):
        start = time.monotonic()
        result = board.program(path, verify=True)
        spans.append((start, time.monotonic(), result.outcome))

    with ThreadPoolExecutor(len(opened)) as pool:
        list(pool.map(run, opened))
    assert [outcome for _, _, outcome in spans] == ["ok"] * len(sims)
    # Every run was under way while every other was: none held the GIL through its run.
    assert max(start for start, _, _ in spans) < min(end for _, end, _ in spans)


def test_stop_and_a_raising_callback_end_the_run_cleanly(boards, image):
    sim = boards("--baud", "115200")
    path = image(16384)

    class Refused(Exception):
        pass

    def refuse(done, total):
        if done:
            raise Refused()

    with tervolt.Board(sim.port) as board:
        with pytest.raises(Refused) as caught:
            board.program(path, progress=refuse)
        assert any("Program operation canceled" in note for note in caught.value.__notes__)
        # The board's own step waits for its callback: a call from there is refused, not a deadlock.
        with pytest.raises(RuntimeError, match="under way"):
            board.program(path, progress=lambda done, total: board.close())
        threading.Timer(0.3, board.stop).start()
        with pytest.raises(tervolt.Interrupted) as stopped:
            board.program(path)
        assert stopped.value.flash_state and isinstance(stopped.value, KeyboardInterrupt)
        # The board serves the next step as if nothing had happened.
        assert board.program(path, verify=True).message == "Program OK!\nCompare OK!"


CTRL_C_SCRIPT = """
import json, sys, tervolt
board = tervolt.Board(sys.argv[1])
def progress(done, total):
    if done:
        print("running", flush=True)
try:
    board.program(sys.argv[2], progress=progress)
except KeyboardInterrupt as error:
    print(json.dumps([type(error).__name__, error.exit_status, error.flash_state]), flush=True)
"""


def test_ctrl_c_stops_within_a_block(boards, image):
    sim = boards("--baud", "115200")
    child = subprocess.Popen([sys.executable, "-c", CTRL_C_SCRIPT, sim.port, image(65536)],
                             stdout=subprocess.PIPE, text=True)
    assert child.stdout.readline() == "running\n"
    child.send_signal(signal.SIGINT)
    out, _ = child.communicate(timeout=30)
    kind, status, state = json.loads(out.strip().splitlines()[-1])
    assert (kind, status, child.returncode) == ("Interrupted", 5, 0)
    assert "FLASH" in state


def test_every_public_name_is_documented_and_typed():
    with open(os.path.join(ROOT, "docs", "python.md"), encoding="utf-8") as file:
        doc = file.read()
    with open(os.path.join(os.path.dirname(tervolt.__file__), "__init__.pyi"), encoding="utf-8") as file:
        stub = ast.parse(file.read())
    typed = {node.name: {item.name if hasattr(item, "name") else item.target.id for item in node.body
                         if isinstance(item, (ast.FunctionDef, ast.AnnAssign))}
             for node in stub.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    for name in tervolt.__all__:
        assert "`tervolt.%s" % name in doc, name
        assert name in typed, name
        member_names = [m for m in dir(getattr(tervolt, name)) if not m.startswith("_")]
        if isinstance(getattr(tervolt, name), type) and not issubclass(getattr(tervolt, name), BaseException):
            for member in member_names:
                assert "`%s.%s" % (name, member) in doc, name + "." + member
                assert member in typed[name], name + "." + member


def test_the_example_station_records_every_board(boards, tmp_path):
    sims = [boards(), boards("--fault", "mismatch:0x40"), boards()]
    ports = [sim.port for sim in sims] + [sims[0].port + "-unplugged"]
    env = dict(os.environ, TERVOLT_PORTS=",".join(ports), TERVOLT_IMAGE=SAMPLE,
               TERVOLT_SERIALS="SN1,SN2,SN3,SN4", TERVOLT_RECORDS=str(tmp_path / "records"))
    station = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider",
                              os.path.join(ROOT, "examples", "station")], env=env, capture_output=True, text=True)
    assert "2 failed, 2 passed" in station.stdout, station.stdout
    names = ("SN1", "SN2", "SN3", "SN4")
    records = {name: json.load(open(tmp_path / "records" / (name + ".json"))) for name in names}
    assert [records[name]["outcome"] for name in names] == ["ok", "compare_error", "ok", "communication"]
    assert records["SN2"]["compare"]["address"] == 0x40 and records["SN2"]["error"] == "CompareError"
