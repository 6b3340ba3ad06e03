"""``Tags``: the mapping of custom YAML tags to constructor callables."""

from __future__ import annotations

from collections.abc import Callable
from typing import Any, TypeVar

__all__ = ["Tags"]

F = TypeVar("F", bound=Callable[..., Any])


class Tags(dict):
    """A ``dict`` of tag name (``"!point"``) to the callable that builds a value
    from the tagged node's loaded value. Pass it as ``tags=`` to ``loads`` or
    ``loads_all``; any ``dict`` works the same way.

    >>> tags = Tags()
    >>> @tags.register("!upper")
    ... def upper(value):
    ...     return value.upper()
    """

    def register(self, tag: str) -> Callable[[F], F]:
        """Decorator that maps ``tag`` to the decorated callable."""
        if not isinstance(tag, str):
            raise TypeError(f"tag must be a str, not {type(tag).__name__}")

        def decorate(func: F) -> F:
            if not callable(func):
                raise TypeError(f"the handler for {tag!r} must be callable")
            self[tag] = func
            return func

        return decorate
