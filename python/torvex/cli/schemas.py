"""The ``--schema`` argument: one schema file for every checked file, or ``auto`` to follow each file's modeline."""

from __future__ import annotations

import os
import threading
from typing import Any
from urllib.parse import unquote, urlsplit

import torvex
from torvex.cli.report import shown


class SchemaUnavailable(Exception):
    """A schema that cannot be read: the file it names is missing, unreadable or not a schema."""


def read_schema(path: str) -> Any:
    """A schema file (JSON or YAML) as Python objects."""
    try:
        with open(path, "rb") as file:
            schema = torvex.loads(file.read())
    except OSError as error:
        raise SchemaUnavailable(f"cannot read schema {shown(path)}: {error.strerror or error}") from None
    except torvex.TorvexError as error:
        raise SchemaUnavailable(f"schema {shown(path)} is not valid JSON or YAML: {error}") from None
    if not isinstance(schema, (dict, bool)):
        raise SchemaUnavailable(f"schema {shown(path)} is not a JSON Schema (an object or a boolean)")
    return schema


class SchemaChoice:
    """What ``--schema`` asks for; safe to share between the threads that check files."""

    def __init__(self, argument: str | None) -> None:
        self._argument = argument
        self._fixed: Any = None
        self._cache: dict[str, Any] = {}
        self._lock = threading.Lock()

    def prepare(self) -> None:
        """Reads a fixed schema once, before any file is checked (raises SchemaUnavailable)."""
        if self._argument not in (None, "auto"):
            self._fixed = read_schema(self._argument)

    def keywords(self, path: str, notes: list[str]) -> dict[str, Any]:
        """Keyword arguments of `torvex.loads` for checking the file at `path`.

        A modeline that names a remote schema is not fetched: it is left unchecked and a note says so.
        """
        if self._argument is None:
            return {}
        if self._argument != "auto":
            return {"schema": self._fixed}
        base = os.path.dirname(os.path.abspath(path)) if path != "-" else os.getcwd()

        def resolve(reference: str) -> Any:
            location = _local_path(reference, base)
            if location is None:
                notes.append(f"schema {reference} is not a local file; not checked")
                return None
            return self._cached(location)

        return {"schema": "auto", "schema_resolver": resolve}

    def _cached(self, location: str) -> Any:
        with self._lock:
            if location in self._cache:
                return self._cache[location]
        schema = read_schema(location)
        with self._lock:
            return self._cache.setdefault(location, schema)


def _local_path(reference: str, base: str) -> str | None:
    """The file a schema reference names, relative references read from `base`; None for a remote one."""
    parts = urlsplit(reference)
    if parts.scheme == "file":
        return unquote(parts.path)
    if parts.scheme and len(parts.scheme) > 1:  # http:, https:, ... (one letter is a Windows drive)
        return None
    return os.path.normpath(os.path.join(base, os.path.expanduser(reference)))
