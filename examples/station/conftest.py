"""A production station: every board connected is programmed and verified at once, one thread each,
and each gets a test of its own and a JSON record, whatever its outcome.

    TERVOLT_PORTS=/dev/ttyUSB0,/dev/ttyUSB1   the boards' ports (required)
    TERVOLT_IMAGE=fw.hex                      the firmware (required)
    TERVOLT_SERIALS=SN1001,SN1002             the boards' serial numbers, in port order (default: the port)
    TERVOLT_RECORDS=records                   where the records go (default: records/)
    TERVOLT_BAUD=115200

Copy this folder and change what the station needs: the records' fields, more checks per board.
"""

import json
import os
import time
from concurrent.futures import ThreadPoolExecutor

import pytest

import tervolt

PORTS = [port for port in os.environ.get("TERVOLT_PORTS", "").split(",") if port]
SERIALS = dict(zip(PORTS, [s for s in os.environ.get("TERVOLT_SERIALS", "").split(",") if s]))
BAUD = int(os.environ.get("TERVOLT_BAUD", "115200"))
RECORDS = os.environ.get("TERVOLT_RECORDS", "records")


def pytest_generate_tests(metafunc):
    if "port" in metafunc.fixturenames:
        metafunc.parametrize("port", PORTS, ids=[SERIALS.get(port, port) for port in PORTS])


def run_board(port, image, opened):
    """Open, identify, program and verify one board; its record either way."""
    record = {"serial": SERIALS.get(port, port), "port": port, "image": image.path,
              "started": time.strftime("%Y-%m-%dT%H:%M:%S%z")}
    try:
        with tervolt.Board(port, baud=BAUD) as board:
            opened.append(board)
            board.identify()
            record.update(board.program(image, verify=True).as_dict())
    except tervolt.Error as error:
        record.update(error.result.as_dict() if error.result else {"message": str(error)})
        record["outcome"] = record.get("outcome", "error")
        record["error"] = type(error).__name__
    return record


@pytest.fixture(scope="session")
def station():
    """Every board at once, one thread each: the records by port. Ctrl-C stops them all within a block."""
    if not PORTS or "TERVOLT_IMAGE" not in os.environ:
        pytest.skip("set TERVOLT_PORTS and TERVOLT_IMAGE")
    image = tervolt.Image(os.environ["TERVOLT_IMAGE"])  # read once: every board gets the same bytes
    opened = []
    with ThreadPoolExecutor(len(PORTS)) as pool:
        futures = [pool.submit(run_board, port, image, opened) for port in PORTS]
        try:
            records = [future.result() for future in futures]
        except KeyboardInterrupt:
            for board in opened:
                board.stop()  # also a board whose step has not begun yet
            raise
    os.makedirs(RECORDS, exist_ok=True)
    for record in records:
        with open(os.path.join(RECORDS, record["serial"].replace(os.sep, "_") + ".json"), "w") as file:
            json.dump(record, file, indent=2)
    return dict(zip(PORTS, records))


@pytest.fixture
def record(station, port):
    """This board's record."""
    return station[port]
