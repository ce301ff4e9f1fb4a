import os
from types import TracebackType
from typing import Callable, Optional, Union

_Path = Union[str, bytes, os.PathLike]

__version__: str

class Chip:
    manufacturer: str
    device: str
    def __init__(self, manufacturer: str, device: str) -> None: ...

class Compare:
    address: int
    expected: int
    actual: int

class Result:
    port: str
    manufacturer: str
    device_id: str
    operation: str
    outcome: str
    message: str
    exit_status: int
    bytes: int
    seconds: float
    retries: int
    compare: Optional[Compare]
    flash_state: Optional[str]
    format: Optional[str]
    diagnostics: list[str]
    def as_dict(self) -> dict[str, object]: ...

class Port:
    name: str
    device: str
    detail: str
    in_use: Optional[str]

class Image:
    def __init__(
        self, path: _Path, format: Optional[str] = None, start: int = 0, size_header: bool = True
    ) -> None: ...
    @property
    def path(self) -> str: ...
    @property
    def format(self) -> str: ...
    @property
    def total(self) -> int: ...
    @property
    def data_size(self) -> int: ...
    @property
    def start(self) -> int: ...
    @property
    def size_header(self) -> bool: ...
    @property
    def note(self) -> Optional[str]: ...
    @property
    def blocks(self) -> list[tuple[int, int]]: ...

class Board:
    def __init__(
        self, port: _Path, baud: int = 115200, devices: Optional[_Path] = None, retries: int = 3
    ) -> None: ...
    def ping(self) -> None: ...
    def identify(self) -> Chip: ...
    def program(
        self,
        image: Union[_Path, Image],
        *,
        verify: bool = False,
        format: Optional[str] = None,
        start: int = 0,
        size_header: bool = True,
        progress: Optional[Callable[[int, int], object]] = None,
    ) -> Result: ...
    def verify(
        self,
        image: Union[_Path, Image],
        *,
        format: Optional[str] = None,
        start: int = 0,
        size_header: bool = True,
        progress: Optional[Callable[[int, int], object]] = None,
    ) -> Result: ...
    def stop(self) -> None: ...
    def close(self) -> None: ...
    @property
    def closed(self) -> bool: ...
    @property
    def port(self) -> str: ...
    @property
    def baud(self) -> int: ...
    def __enter__(self) -> "Board": ...
    def __exit__(
        self,
        kind: Optional[type[BaseException]],
        value: Optional[BaseException],
        traceback: Optional[TracebackType],
    ) -> bool: ...

def ports() -> list[Port]: ...
def devices(path: Optional[_Path] = None) -> list[Chip]: ...

class Error(Exception):
    message: str
    detail: list[str]
    exit_status: int
    result: Optional[Result]
    flash_state: Optional[str]

class CompareError(Error):
    address: int
    expected: int
    actual: int

class ImageError(Error): ...
class CommunicationError(Error): ...
class PortError(CommunicationError): ...
class NoTarget(CommunicationError): ...
class LineLost(CommunicationError): ...
class GaveUp(CommunicationError): ...
class NotIdentified(Error): ...

class ChipNotListed(NotIdentified):
    manufacturer: str
    device: str

class Interrupted(Error, KeyboardInterrupt): ...
class DeviceListError(Error): ...
class UsageError(Error, ValueError): ...
