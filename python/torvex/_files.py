"""Reading and writing files in one call: ``load(fp_or_path)`` and ``dump(obj, fp)``."""

from __future__ import annotations

import io
import os
from typing import IO, Any

from torvex import _torvex

__all__ = ["load", "dump"]


def _path_of(source: Any) -> str | None:
    """The path `source` names: a path-like object's own, a file object's `name` when it is a real file."""
    if isinstance(source, os.PathLike):
        path = os.fspath(source)
        return os.fsdecode(path)
    name = getattr(source, "name", None)
    if isinstance(name, (str, bytes, os.PathLike)):
        name = os.fsdecode(os.fspath(name))
        if os.path.isfile(name):
            return name
    return None


def _read(fp: Any, round_trip: bool) -> bytes | str:
    """What a file object holds. A round-trip document keeps its text byte for byte, line ends included, so
    a text-mode file not yet read from is read through its binary buffer (YAML is UTF-8, -16 or -32, which
    ``loads`` detects); anything else is read as the file object gives it."""
    buffer = getattr(fp, "buffer", None)
    if round_trip and isinstance(fp, io.TextIOBase) and buffer is not None:
        try:
            fresh = fp.tell() == 0
        except (OSError, ValueError):
            fresh = False
        if fresh:
            return buffer.read()
    return fp.read()


def _option_word(kwargs: dict[str, Any]) -> int:
    option = kwargs.get("option")
    try:
        return 0 if option is None else int(option.__index__())
    except (AttributeError, TypeError):
        return 0  # loads reports the bad option


def load(fp_or_path: IO[bytes] | IO[str] | os.PathLike[str], /, **kwargs: Any) -> Any:
    """Load the first document of a file, as ``loads`` does with the same keywords.

    `fp_or_path` is a file object opened in binary mode (bytes are decoded as ``loads`` decodes them) or
    text mode (read as ``str``; for a round-trip document, through its binary buffer when nothing was
    read from it yet, so that its line ends are kept), or an ``os.PathLike`` such as ``pathlib.Path``.
    When the file's path is known (a path, or a file object whose ``name`` is a real file), it is the
    ``root_path`` and its folder the ``include_dir`` unless given, and a round-trip document remembers
    it as its origin, so ``save()`` writes back there.
    """
    if isinstance(fp_or_path, (str, bytes, bytearray, memoryview)):
        raise TypeError("load() takes a file object or an os.PathLike; use loads() for text, "
                        "or pass pathlib.Path(...) for a path")
    path = _path_of(fp_or_path)
    if isinstance(fp_or_path, os.PathLike):
        with open(fp_or_path, "rb") as file:
            data: bytes | str = file.read()
    elif callable(getattr(fp_or_path, "read", None)):
        data = _read(fp_or_path, bool(_option_word(kwargs) & _torvex.OPT_ROUND_TRIP))
    else:
        raise TypeError(f"load() takes a file object or an os.PathLike, not {type(fp_or_path).__name__}")
    if path is not None:
        kwargs.setdefault("root_path", path)
        kwargs.setdefault("include_dir", os.path.dirname(path) or ".")
    result = _torvex.loads(data, **kwargs)
    if path is not None and isinstance(result, _torvex.TorvexDocument) and result.origin is None:
        result.set_origin(path)
    return result


def dump(obj: Any, fp: IO[bytes] | IO[str], /, **kwargs: Any) -> None:
    """Write ``dumps(obj, **kwargs)`` to a file object: the bytes to a binary file, their text to a text
    file.
    """
    write = getattr(fp, "write", None)
    if not callable(write):
        raise TypeError(f"dump() writes to a file object, not {type(fp).__name__}; open the path first")
    data = _torvex.dumps(obj, **kwargs)
    if isinstance(fp, io.TextIOBase):
        write(data.decode("utf-8"))
    else:
        write(data)
