"""Annotated scalar types: ``str``, ``int`` and ``float`` values that remember
where they came from. Returned by ``loads(..., option=OPT_ANNOTATED)`` (numbers
only with ``OPT_ANNOTATE_NUMBERS``); they compare, hash and format exactly like
the plain values.
"""

from __future__ import annotations

__all__ = ["TorvexAnnotatedStr", "TorvexAnnotatedInt", "TorvexAnnotatedFloat"]

_INCLUDE_TAGS = frozenset(
    {"!include", "!include_dir_list", "!include_dir_named", "!include_dir_merge_list", "!include_dir_merge_named"}
)

_FIELDS = (
    "__line__",
    "__column__",
    "__file__",
    "__end_line__",
    "__end_column__",
    "__style__",
    "__source_tag__",
    "__source_target__",
    "__offset__",
    "__end_offset__",
)


class _Annotated:
    """Shared behaviour of the annotated scalars (a mixin; holds no state)."""

    __slots__ = ()

    def _annotations(self) -> tuple[object, ...]:
        return tuple(getattr(self, name) for name in _FIELDS)

    @property
    def is_secret(self) -> bool:
        return self.__source_tag__ == "!secret"

    @property
    def is_env_var(self) -> bool:
        return self.__source_tag__ == "!env_var"

    @property
    def is_include(self) -> bool:
        return self.__source_tag__ in _INCLUDE_TAGS

    def __getnewargs__(self) -> tuple[object, ...]:
        return (self._plain(), *self._annotations())

    def __repr__(self) -> str:
        return repr(self._plain())


# Annotated loads make one of these per scalar, so construction is kept to
# the bare minimum: one base-class allocation and ten attribute stores (slot
# stores where the base type allows slots, which str and float do and int does not).
# The mark `_stores_fields_only` tells the loader that __new__ does nothing
# else: for a class whose __new__ carries it and whose fields are slots, the
# loader does the same allocation and stores natively instead of calling it.
def _annotated_new(base: type):
    """The eleven-argument constructor shared by the annotated scalar types."""
    base_new = base.__new__

    def __new__(cls, value, line=0, column=0, file=None, end_line=0, end_column=0, style="plain",
                source_tag=None, source_target=None, offset=0, end_offset=0):
        obj = base_new(cls, value)
        obj.__line__ = line
        obj.__column__ = column
        obj.__file__ = file
        obj.__end_line__ = end_line
        obj.__end_column__ = end_column
        obj.__style__ = style
        obj.__source_tag__ = source_tag
        obj.__source_target__ = source_target
        obj.__offset__ = offset
        obj.__end_offset__ = end_offset
        return obj

    __new__._stores_fields_only = True
    return __new__


class TorvexAnnotatedStr(_Annotated, str):
    """A ``str`` with its source position (``__line__``, ``__column__``, ``__file__``,
    ``__end_line__``, ``__end_column__``, ``__offset__``, ``__end_offset__``), its
    scalar style (``__style__``: "plain", "single", "double", "literal" or "folded")
    and the directive that produced it (``__source_tag__``, ``__source_target__``).
    """

    __module__ = "torvex"
    __slots__ = _FIELDS
    __new__ = _annotated_new(str)

    def _plain(self) -> str:
        return str.__str__(self)


class TorvexAnnotatedInt(_Annotated, int):
    """An ``int`` carrying the same annotations as :class:`TorvexAnnotatedStr`."""

    __module__ = "torvex"
    __new__ = _annotated_new(int)  # int subclasses cannot have slots: the fields live in __dict__

    def _plain(self) -> int:
        return int(self)


class TorvexAnnotatedFloat(_Annotated, float):
    """A ``float`` carrying the same annotations as :class:`TorvexAnnotatedStr`."""

    __module__ = "torvex"
    __slots__ = _FIELDS
    __new__ = _annotated_new(float)

    def _plain(self) -> float:
        return float(self)
