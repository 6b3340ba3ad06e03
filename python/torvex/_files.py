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


def load(fp_or_path: IO[bytes] | IO[str] | os.PathLike[str], /, **kwargs: Any) -> Any:
    """load(fp_or_path, /, **kwargs)
    --

    Load the first document of a file, as ``loads`` does with the same keywords.

    `fp_or_path` is a file object opened in binary mode (bytes are decoded as ``loads`` decodes them) or
    text mode (read as ``str``; open YAML in binary mode to keep its line ends exactly), or an
    ``os.PathLike`` such as ``pathlib.Path``. When the file's path is known (a path, or a file object
    whose ``name`` is a real file), it is the ``root_path`` and its folder the ``include_dir`` unless
    given, and a round-trip document remembers it as its origin, so ``save()`` writes back there.
    """
    if isinstance(fp_or_path, (str, bytes, bytearray, memoryview)):
        raise TypeError("load() takes a file object or an os.PathLike; use loads() for text, "
                        "or pass pathlib.Path(...) for a path")
    path = _path_of(fp_or_path)
    if isinstance(fp_or_path, os.PathLike):
        with open(fp_or_path, "rb") as file:
            data: bytes | str = file.read()
    elif callable(getattr(fp_or_path, "read", None)):
        data = fp_or_path.read()
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
    """dump(obj, fp, /, **kwargs)
    --

    Write ``dumps(obj, **kwargs)`` to a file object: the bytes to a binary file, their text to a text
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
