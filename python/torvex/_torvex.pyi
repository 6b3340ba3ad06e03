"""Type stubs for the native module."""

from collections.abc import Callable, Mapping
from os import PathLike
from typing import Any, Final, final

from collections.abc import Buffer

_Text = str | bytes | bytearray | Buffer
_Path = str | bytes | PathLike[str] | PathLike[bytes]

def loads(
    data: _Text,
    /,
    *,
    option: int | None = None,
    include_dir: _Path | None = None,
    schema: Any = None,
    schema_resolver: Callable[[str], Any] | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: Mapping[str, Callable[[Any], Any]] | None = None,
    root_path: _Path | None = None,
    on_missing_secret: Callable[[str, str, int], object] | None = None,
    on_missing_env_var: Callable[[str, str, int], object] | None = None,
) -> Any:
    """Parse the first YAML document of ``data``.

    With ``OPT_INCLUDES``, ``OPT_SECRETS`` and ``OPT_ENV_VAR`` a configuration tree loads as one::

        loads(open("conf/configuration.yaml", "rb").read(),
              option=OPT_INCLUDES | OPT_SECRETS | OPT_ENV_VAR | OPT_INCLUDE_DIR_RECURSIVE,
              include_dir="conf", root_path="conf/configuration.yaml")

    ``!include f.yaml`` and ``!include_dir_list`` / ``_named`` / ``_merge_list`` / ``_merge_named`` read files
    inside ``include_dir`` only; ``!secret name`` looks in ``secrets.yaml`` from the file's directory up to
    ``include_dir``; ``!env_var NAME default`` reads the environment. ``on_missing_secret(name, file, line)``
    and ``on_missing_env_var(name, file, line)`` turn a missing value into ``None`` and are called after loading.

    With ``schema`` (a JSON-Schema subset as dicts and lists), the first document is
    checked before it is returned; the first violation raises ``TorvexSchemaError`` with
    ``schema_path``, ``line`` and ``column``. ``schema="auto"`` reads the reference from a
    leading ``# yaml-language-server: $schema=...`` comment and asks ``schema_resolver(ref)``
    for the schema (``None``: no check)::

        text = "# yaml-language-server: $schema=svc.json\nport: 70000\n"
        loads(text, schema="auto", schema_resolver={"svc.json": {"properties": {"port": {"maximum": 65535}}}}.get)
        # TorvexSchemaError: schema validation failed: value 70000 is greater than maximum 65535
        #   at $.port (line 2, column 7)
    """
def loads_all(
    data: _Text,
    /,
    *,
    option: int | None = None,
    tag_handler: Callable[[str, Any], Any] | None = None,
    tags: Mapping[str, Callable[[Any], Any]] | None = None,
) -> list[Any]: ...
def dumps(
    obj: Any,
    /,
    *,
    default: Callable[[Any], Any] | None = None,
    option: int | None = None,
    null_style: str | None = None,
    tags: Mapping[type, Callable[[Any], Any]] | None = None,
    width: int | None = None,
) -> bytes: ...
def to_json(obj: Any, /, *, default: Callable[[Any], Any] | None = None, option: int | None = None) -> bytes: ...
def schema_ref(data: _Text, /) -> str | None: ...
def yaml_version(data: _Text, /) -> str | None: ...
def dump_includes(doc: TorvexDocument, /, *, include_dir: _Path | None = None) -> None: ...
def dump_includes_map(doc: TorvexDocument, /) -> dict[str, bytes]: ...

OPT_YAML_1_1: Final[int]
OPT_PYYAML_COMPAT: Final[int]
OPT_UPGRADE_1_1: Final[int]
OPT_YAML_1_1_WARN: Final[int]
OPT_ROUND_TRIP: Final[int]
OPT_ANNOTATED: Final[int]
OPT_ANNOTATE_NUMBERS: Final[int]
OPT_INCLUDES: Final[int]
OPT_INCLUDE_DIR_RECURSIVE: Final[int]
OPT_SECRETS: Final[int]
OPT_ENV_VAR: Final[int]
OPT_SECRET_NOT_FOUND_WARN: Final[int]
OPT_ENV_VAR_NOT_FOUND_WARN: Final[int]
OPT_PASSTHROUGH_TAG: Final[int]
OPT_DUPLICATE_KEYS_ERROR: Final[int]
OPT_DUPLICATE_KEYS_WARN: Final[int]
OPT_REJECT_COMPLEX_KEYS: Final[int]
OPT_INDENT_2: Final[int]
OPT_INDENT_4: Final[int]
OPT_INDENTLESS_SEQUENCES: Final[int]
OPT_FLOW_STYLE: Final[int]
OPT_SORT_KEYS: Final[int]
OPT_EXPLICIT_START: Final[int]
OPT_EXPLICIT_END: Final[int]
OPT_SINGLE_QUOTES: Final[int]
OPT_NULL_AS_KEYWORD: Final[int]
OPT_NULL_AS_TILDE: Final[int]
OPT_SERIALIZE_NUMPY: Final[int]
OPT_PASSTHROUGH_DATETIME: Final[int]
OPT_PASSTHROUGH_DATACLASS: Final[int]
OPT_OMIT_MICROSECONDS: Final[int]
OPT_NAIVE_UTC: Final[int]
OPT_UTC_Z: Final[int]

_Key = str | int
_Path_ = tuple[str | int, ...]

@final
class TorvexTag:
    tag: str
    value: Any
    def __init__(self, tag: str, value: Any) -> None: ...

class _Annotations:
    @property
    def __line__(self) -> int: ...
    @property
    def __column__(self) -> int: ...
    @property
    def __file__(self) -> str | None: ...  # type: ignore[override]
    @property
    def __end_line__(self) -> int: ...
    @property
    def __end_column__(self) -> int: ...
    @property
    def __offset__(self) -> int: ...
    @property
    def __end_offset__(self) -> int: ...
    @property
    def __source_tag__(self) -> str | None: ...
    @property
    def __source_target__(self) -> str | None: ...
    @property
    def is_secret(self) -> bool: ...
    @property
    def is_env_var(self) -> bool: ...
    @property
    def is_include(self) -> bool: ...
    def __setstate__(
        self, state: tuple[int, int, str | None, int, int, str | None, str | None, int, int], /
    ) -> None: ...

class TorvexAnnotatedDict(_Annotations, dict[Any, Any]):
    """A `dict` returned for mappings by `loads(..., option=OPT_ANNOTATED)`, knowing where it came from."""

class TorvexAnnotatedList(_Annotations, list[Any]):
    """A `list` returned for sequences by `loads(..., option=OPT_ANNOTATED)`, knowing where it came from."""

@final
class TorvexDocument:
    """A structure-preserving YAML document returned by `loads(..., OPT_ROUND_TRIP)`."""

    def __getitem__(self, key: _Key) -> Any: ...
    def __setitem__(self, key: _Key, value: Any) -> None: ...
    def __delitem__(self, key: _Key) -> None: ...
    def __contains__(self, key: object) -> bool: ...
    def __len__(self) -> int: ...
    def get(self, key: _Key, default: Any = None, /) -> Any: ...
    def keys(self) -> list[Any]: ...
    def to_dict(self) -> Any: ...
    def walk(self) -> list[tuple[_Path_, Any]]: ...
    def range(self) -> tuple[int, int, int, int] | None: ...
    def to_yaml(self) -> bytes: ...
    def set_origin(self, path: str | PathLike[str], /) -> None: ...
    def save(self, path: str | PathLike[str] | None = None) -> list[str]: ...
    @property
    def origin(self) -> str | None: ...
    @property
    def node(self) -> TorvexNode: ...
    @property
    def anchors(self) -> dict[str, TorvexNode]: ...

@final
class TorvexDocumentView:
    """A live view of a mapping or sequence inside a TorvexDocument."""

    def __getitem__(self, key: _Key) -> Any: ...
    def __setitem__(self, key: _Key, value: Any) -> None: ...
    def __delitem__(self, key: _Key) -> None: ...
    def __contains__(self, key: object) -> bool: ...
    def __len__(self) -> int: ...
    def get(self, key: _Key, default: Any = None, /) -> Any: ...
    def keys(self) -> list[Any]: ...
    def unwrap(self) -> Any: ...
    def to_dict(self) -> Any: ...
    def walk(self) -> list[tuple[_Path_, Any]]: ...
    def range(self) -> tuple[int, int, int, int]: ...
    def to_yaml(self) -> bytes: ...
    @property
    def node(self) -> TorvexNode: ...

@final
class TorvexNode:
    """A handle onto one node of a TorvexDocument: value, position, style, comments, anchor, tag."""

    value: Any
    comment: str | None
    comment_before: str | None
    anchor: str | None
    def __getitem__(self, key: _Key) -> TorvexNode: ...
    def __contains__(self, key: object) -> bool: ...
    def make_alias(self, name: str, /) -> None: ...
    def detach(self) -> TorvexNode: ...
    @property
    def line(self) -> int: ...
    @property
    def column(self) -> int: ...
    @property
    def offset(self) -> int: ...
    @property
    def end_offset(self) -> int: ...
    @property
    def file(self) -> str | None: ...
    @property
    def style(self) -> str: ...
    @property
    def tag(self) -> str | None: ...
    @property
    def source_tag(self) -> str | None: ...
    @property
    def source_target(self) -> str | None: ...
    @property
    def is_secret(self) -> bool: ...
    @property
    def is_env_var(self) -> bool: ...
    @property
    def is_include(self) -> bool: ...
    @property
    def is_alias(self) -> bool: ...
    @property
    def target(self) -> TorvexNode | None: ...
    @property
    def aliases(self) -> list[TorvexNode]: ...
