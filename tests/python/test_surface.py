"""The native module's public surface: names, flag values, signatures, argument parsing."""

import inspect

import pytest

import torvex
from torvex import _torvex

FUNCTIONS = {
    "loads": "(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, tag_handler=None, "
    "tags=None, root_path=None, on_missing_secret=None, on_missing_env_var=None)",
    "loads_all": "(data, /, *, option=None, tag_handler=None, tags=None)",
    "dumps": "(obj, /, *, default=None, option=None, null_style=None, tags=None, width=None)",
    "to_json": "(obj, /, *, default=None, option=None)",
    "schema_ref": "(data, /)",
    "yaml_version": "(data, /)",
    "dump_includes": "(doc, /, *, include_dir=None)",
    "dump_includes_map": "(doc, /)",
}

FLAGS = [
    "OPT_YAML_1_1", "OPT_PYYAML_COMPAT", "OPT_UPGRADE_1_1", "OPT_YAML_1_1_WARN", "OPT_ROUND_TRIP", "OPT_ANNOTATED",
    "OPT_ANNOTATE_NUMBERS", "OPT_INCLUDES", "OPT_INCLUDE_DIR_RECURSIVE", "OPT_SECRETS", "OPT_ENV_VAR",
    "OPT_SECRET_NOT_FOUND_WARN", "OPT_ENV_VAR_NOT_FOUND_WARN", "OPT_PASSTHROUGH_TAG", "OPT_DUPLICATE_KEYS_ERROR",
    "OPT_DUPLICATE_KEYS_WARN", "OPT_REJECT_COMPLEX_KEYS", "OPT_INDENT_2", "OPT_INDENT_4",
    "OPT_INDENTLESS_SEQUENCES", "OPT_FLOW_STYLE", "OPT_SORT_KEYS", "OPT_EXPLICIT_START", "OPT_EXPLICIT_END",
    "OPT_SINGLE_QUOTES", "OPT_NULL_AS_KEYWORD", "OPT_NULL_AS_TILDE", "OPT_SERIALIZE_NUMPY",
    "OPT_PASSTHROUGH_DATETIME", "OPT_PASSTHROUGH_DATACLASS", "OPT_OMIT_MICROSECONDS", "OPT_NAIVE_UTC", "OPT_UTC_Z",
]

# Names the native module publishes today; classes join as they are built.
CLASSES = ["TorvexTag", "TorvexDocument", "TorvexDocumentView", "TorvexNode", "TorvexAnnotatedDict",
           "TorvexAnnotatedList"]


def test_module_publishes_exactly_its_surface():
    public = {name for name in vars(_torvex) if not name.startswith("__")}
    assert public == set(FUNCTIONS) | set(FLAGS) | set(CLASSES)
    assert _torvex.__doc__ == ""
    assert not hasattr(_torvex, "__version__")
    assert not hasattr(_torvex, "TorvexAnnotatedStr")


def test_functions_are_added_in_order_then_flags():
    names = [n for n in vars(_torvex) if not n.startswith("__")]
    assert names == list(FUNCTIONS) + FLAGS + CLASSES


@pytest.mark.parametrize("bit, name", list(enumerate(FLAGS)))
def test_flag_is_its_own_bit(bit, name):
    value = getattr(_torvex, name)
    assert type(value) is int and value == 1 << bit


def test_wide_flags_are_positive_and_above_32_bits():
    assert torvex.OPT_NAIVE_UTC == 0x80000000 > 0
    assert torvex.OPT_UTC_Z == 0x100000000
    assert torvex.OPT_UTC_Z | torvex.OPT_NAIVE_UTC == 0x180000000


@pytest.mark.parametrize("name, signature", FUNCTIONS.items())
def test_text_signature_and_doc(name, signature):
    func = getattr(_torvex, name)
    assert func.__text_signature__ == signature
    assert func.__doc__ is None, "no prose documentation beyond the signature"
    params = list(inspect.signature(func).parameters.values())
    assert params[0].kind is inspect.Parameter.POSITIONAL_ONLY
    assert all(p.kind is inspect.Parameter.KEYWORD_ONLY and p.default is None for p in params[1:])


@pytest.mark.parametrize("name", FUNCTIONS)
def test_package_reexports(name):
    assert getattr(torvex, name) is getattr(_torvex, name)


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: torvex.loads(), "loads() takes exactly 1 positional argument (0 given)"),
        (lambda: torvex.loads("a", "b"), "loads() takes exactly 1 positional argument (2 given)"),
        (lambda: torvex.loads("a", bogus=1), "loads() got an unexpected keyword argument 'bogus'"),
        (lambda: torvex.loads_all("a", include_dir="."), "loads_all() got an unexpected keyword argument 'include_dir'"),
        (lambda: torvex.loads(data="a"), "loads() got some positional-only arguments passed as keyword arguments: 'data'"),
        (lambda: torvex.schema_ref("a", option=0), "schema_ref() got an unexpected keyword argument 'option'"),
        (lambda: torvex.dump_includes_map(), "dump_includes_map() takes exactly 1 positional argument (0 given)"),
        (lambda: torvex.dumps(1, **{"option": 1, "optio": 2}), "dumps() got an unexpected keyword argument 'optio'"),
    ],
)
def test_argument_errors_use_interpreter_wording(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


@pytest.mark.parametrize(
    "func",
    [
        lambda o: torvex.loads("a", option=o),
        lambda o: torvex.loads_all("a", option=o),
        lambda o: torvex.dumps(1, option=o),
        lambda o: torvex.to_json(1, option=o),
    ],
)
@pytest.mark.parametrize("bad, exc", [(-1, OverflowError), (2**64, OverflowError), (1.0, TypeError), ("1", TypeError)])
def test_option_conversion_failures_carry_note(func, bad, exc):
    with pytest.raises(exc) as info:
        func(bad)
    assert type(info.value) is exc
    assert info.value.__notes__ == ["while processing 'option'"]


class Indexable:
    def __index__(self):
        return torvex.OPT_YAML_1_1


def test_option_accepts_index_protocol_and_full_64_bits():
    for option in (Indexable(), 2**64 - 1, torvex.OPT_UTC_Z | torvex.OPT_NAIVE_UTC, None, True):
        assert torvex.to_json(1, option=option) == b"1"


@pytest.mark.parametrize(
    "call, exc, note",
    [
        (lambda: torvex.dumps(1, width=-1), OverflowError, "width"),
        (lambda: torvex.dumps(1, width="80"), TypeError, "width"),
        (lambda: torvex.dumps(1, null_style=1), TypeError, "null_style"),
        (lambda: torvex.dumps(1, tags=[]), TypeError, "tags"),
        (lambda: torvex.loads("a", include_dir=3), TypeError, "include_dir"),
        (lambda: torvex.loads("a", root_path=object()), TypeError, "root_path"),
        (lambda: torvex.dump_includes(None, include_dir=1.5), TypeError, "include_dir"),
    ],
)
def test_named_argument_conversion_notes(call, exc, note):
    with pytest.raises(exc) as info:
        call()
    assert info.value.__notes__ == [f"while processing '{note}'"]


def test_module_can_be_reimported_in_the_same_interpreter():
    import importlib
    import sys

    saved = sys.modules.pop("torvex._torvex")
    try:
        fresh = importlib.import_module("torvex._torvex")
        assert fresh is not saved and fresh.OPT_UTC_Z == saved.OPT_UTC_Z
    finally:
        sys.modules["torvex._torvex"] = saved
