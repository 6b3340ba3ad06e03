"""Collects torvex's warnings per call, on whichever thread makes the call."""

from __future__ import annotations

import contextlib
import logging
import threading
from collections.abc import Iterator


class _PerThreadSink(logging.Handler):
    def __init__(self) -> None:
        super().__init__(level=logging.WARNING)
        self._local = threading.local()

    def emit(self, record: logging.LogRecord) -> None:
        sink = getattr(self._local, "sink", None)
        if sink is not None:
            sink.append(record.getMessage())

    @contextlib.contextmanager
    def collecting(self) -> Iterator[list[str]]:
        messages: list[str] = []
        self._local.sink = messages
        try:
            yield messages
        finally:
            self._local.sink = None


_sink = _PerThreadSink()


@contextlib.contextmanager
def routed_to_commands() -> Iterator[None]:
    """While the command runs, torvex's log lines go to the commands (which print them with positions)."""
    logger = logging.getLogger("torvex")
    propagate = logger.propagate
    logger.addHandler(_sink)
    logger.propagate = False
    try:
        yield
    finally:
        logger.removeHandler(_sink)
        logger.propagate = propagate


def collecting() -> contextlib.AbstractContextManager[list[str]]:
    """The warnings logged on this thread inside the block, in order."""
    return _sink.collecting()
