"""Type stubs for the native module."""

from collections.abc import Callable, Mapping
from os import PathLike
from typing import Any, Final

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
) -> Any: ...
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
def dump_includes(doc: Any, /, *, include_dir: _Path | None = None) -> None: ...
def dump_includes_map(doc: Any, /) -> dict[str, str]: ...

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
