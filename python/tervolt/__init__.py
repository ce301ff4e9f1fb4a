"""Program and verify the FLASH of target boards over a serial line.

The engine of tervolt-cli, for test scripts::

    import tervolt
    with tervolt.Board("/dev/ttyUSB0", baud=115200) as board:
        chip = board.identify()
        result = board.program("fw.hex", verify=True, progress=lambda done, total: None)
        print(result.bytes, result.seconds)

A step that fails raises the tervolt.Error of its kind; its text is tervolt-cli's. See docs/python.md.
"""

import os as _os

from . import _core

_core._set_module_dir(_os.path.dirname(_os.path.abspath(__file__)))

from ._core import (  # noqa: E402  (the module's folder is set first)
    Board,
    ChipNotListed,
    Chip,
    CommunicationError,
    Compare,
    CompareError,
    DeviceListError,
    Error,
    GaveUp,
    Image,
    ImageError,
    Interrupted,
    LineLost,
    NoTarget,
    NotIdentified,
    Port,
    PortError,
    Result,
    UsageError,
    __version__,
    devices,
    ports,
)

# The classes are the package's: help() and tracebacks name them tervolt.Board, not tervolt._core.Board.
for _class in (Board, Chip, Compare, Image, Port, Result):
    _class.__module__ = __name__
del _class

__all__ = [
    "Board",
    "Chip",
    "ChipNotListed",
    "CommunicationError",
    "Compare",
    "CompareError",
    "DeviceListError",
    "Error",
    "GaveUp",
    "Image",
    "ImageError",
    "Interrupted",
    "LineLost",
    "NoTarget",
    "NotIdentified",
    "Port",
    "PortError",
    "Result",
    "UsageError",
    "devices",
    "ports",
]
