"""The companion package: exceptions, Tags, annotated scalars."""

import copy
import pathlib
import pickle
import tomllib

import pytest

import torvex
from torvex import exceptions as exc

NATIVE_NAMES = [
    "TorvexParseError", "TorvexDecodeError", "TorvexEncodeError", "TorvexEnvVarError", "TorvexSchemaError",
    "TorvexIncludeError", "TorvexComplexKeyError", "TorvexDuplicateKeyError", "TorvexIncludeDepthError",
    "TorvexSecretNotFoundError", "TorvexUnserializableError", "TorvexCircularIncludeError",
    "TorvexIncludeNotFoundError", "TorvexIncludeConfinementError",
]


@pytest.mark.parametrize("name", NATIVE_NAMES)
def test_every_class_the_module_raises_exists_and_takes_one_message(name):
    cls = getattr(exc, name)
    assert issubclass(cls, exc.TorvexError) and issubclass(cls, Exception)
    instance = cls("boom at line 1, column 2")
    assert str(instance) == "boom at line 1, column 2"
    for attribute in ("file", "line", "column", "include_stack", "schema_path"):
        setattr(instance, attribute, 1)  # the module sets these freely
    assert getattr(torvex, name) is cls


@pytest.mark.parametrize(
    "name, builtin",
    [
        ("TorvexParseError", ValueError),
        ("TorvexDuplicateKeyError", ValueError),
        ("TorvexComplexKeyError", ValueError),
        ("TorvexDecodeError", ValueError),
        ("TorvexSchemaError", ValueError),
        ("TorvexEncodeError", ValueError),
        ("TorvexUnserializableError", TypeError),
    ],
)
def test_builtin_bases_users_catch(name, builtin):
    assert issubclass(getattr(exc, name), builtin)


def test_hierarchy_groups_related_failures():
    assert issubclass(exc.TorvexDuplicateKeyError, exc.TorvexParseError)
    assert issubclass(exc.TorvexUnserializableError, exc.TorvexEncodeError)
    for name in ("TorvexIncludeNotFoundError", "TorvexCircularIncludeError", "TorvexIncludeDepthError",
                 "TorvexIncludeConfinementError"):
        assert issubclass(getattr(exc, name), exc.TorvexIncludeError)
    for name in ("TorvexIncludeError", "TorvexSecretNotFoundError", "TorvexEnvVarError"):
        assert issubclass(getattr(exc, name), exc.TorvexDirectiveError)
    assert not issubclass(exc.TorvexDirectiveError, ValueError)


def test_position_attributes_default_to_none():
    error = exc.TorvexParseError("x")
    assert (error.file, error.line, error.column) == (None, None, None)
    assert exc.TorvexSchemaError("x").schema_path is None
    assert exc.TorvexIncludeError("x").include_stack is None


def test_tags_is_a_dict_with_a_register_decorator():
    tags = torvex.Tags()
    assert isinstance(tags, dict)

    @tags.register("!upper")
    def upper(value):
        return value.upper()

    assert tags == {"!upper": upper}
    with pytest.raises(TypeError):
        tags.register("!bad")(42)
    with pytest.raises(TypeError):
        tags.register(3)


ARGS = (1, 2, "conf.yaml", 1, 9, "double", "!secret", "db_password", 1, 9)


@pytest.mark.parametrize(
    "cls, value",
    [(torvex.TorvexAnnotatedStr, "hunter2"), (torvex.TorvexAnnotatedInt, 42), (torvex.TorvexAnnotatedFloat, 2.5)],
)
def test_annotated_scalars(cls, value):
    obj = cls(value, *ARGS)
    base = type(value)
    assert isinstance(obj, base) and obj == value and hash(obj) == hash(value)
    assert repr(obj) == repr(value)
    assert (obj.__line__, obj.__column__, obj.__file__) == (1, 2, "conf.yaml")
    assert (obj.__end_line__, obj.__end_column__, obj.__style__) == (1, 9, "double")
    assert (obj.__source_tag__, obj.__source_target__) == ("!secret", "db_password")
    assert (obj.__offset__, obj.__end_offset__) == (1, 9)
    assert obj.is_secret and not obj.is_env_var and not obj.is_include
    for clone in (pickle.loads(pickle.dumps(obj)), copy.copy(obj), copy.deepcopy(obj)):
        assert type(clone) is cls and clone == value
        assert clone.__source_target__ == "db_password" and clone.__end_offset__ == 9
    assert type(obj + obj) is base, "arithmetic gives plain values"


@pytest.mark.parametrize(
    "tag, secret, env, include",
    [
        ("!secret", True, False, False),
        ("!env_var", False, True, False),
        ("!include", False, False, True),
        ("!include_dir_list", False, False, True),
        ("!include_dir_named", False, False, True),
        ("!include_dir_merge_list", False, False, True),
        ("!include_dir_merge_named", False, False, True),
        ("!custom", False, False, False),
        (None, False, False, False),
    ],
)
def test_provenance_flags(tag, secret, env, include):
    obj = torvex.TorvexAnnotatedStr("v", 1, 1, None, 1, 2, "plain", tag, None, 0, 1)
    assert (obj.is_secret, obj.is_env_var, obj.is_include) == (secret, env, include)


def test_annotated_classes_report_the_package_as_module():
    for cls in (torvex.TorvexAnnotatedStr, torvex.TorvexAnnotatedInt, torvex.TorvexAnnotatedFloat):
        assert cls.__module__ == "torvex"


def test_package_all_lists_what_exists():
    for name in torvex.__all__:
        assert hasattr(torvex, name), name
    assert "loads" in torvex.__all__ and "OPT_UTC_Z" in torvex.__all__ and "Tags" in torvex.__all__


def test_version_is_the_project_version():
    pyproject = pathlib.Path(__file__).resolve().parents[2] / "pyproject.toml"
    assert torvex.__version__ == tomllib.loads(pyproject.read_text())["project"]["version"]


def test_the_namespace_holds_only_public_names():
    submodules = {"exceptions", "cli"}  # torvex.cli is there once the command line was imported
    stray = [name for name in dir(torvex)
             if not name.startswith("_") and name not in torvex.__all__ and name not in submodules]
    assert stray == []
    assert {"load", "dump", "Tags", "TorvexError"} <= set(torvex.__all__)


def _missing_include(tmp_path):
    (tmp_path / "sub").mkdir()
    (tmp_path / "a.yaml").write_text("x: !include sub/b.yaml\n")
    (tmp_path / "sub/b.yaml").write_text("z: !include gone.yaml\n")
    torvex.loads("a: !include a.yaml\n", option=torvex.OPT_INCLUDES, include_dir=str(tmp_path))


ERRORS = {
    "parse": lambda _: torvex.loads("a: [1, 2"),
    "composed parse": lambda _: torvex.loads("a: [1, 2", option=torvex.OPT_ANNOTATED),
    "duplicate": lambda _: torvex.loads("a: 1\na: 2", option=torvex.OPT_DUPLICATE_KEYS_ERROR | torvex.OPT_ROUND_TRIP),
    "directive": _missing_include,
    "schema": lambda _: torvex.loads("port: 70000\n", schema={"properties": {"port": {"maximum": 65535}}}),
}


@pytest.mark.parametrize("fail", ERRORS.values(), ids=ERRORS.keys())
def test_msg_is_the_message_without_position_file_or_include_chain(fail, tmp_path):
    with pytest.raises(torvex.TorvexError) as raised:
        fail(tmp_path)
    error = raised.value
    if isinstance(error, torvex.TorvexDirectiveError):
        chain = "".join(f"\n  included from {path}, line {line}" for path, line in error.include_stack)
        assert len(error.include_stack) == 2
        assert str(error) == f"{error.msg} in {error.file}{chain}"
    elif isinstance(error, torvex.TorvexSchemaError):
        assert str(error) == f"{error.msg} (line {error.line}, column {error.column})"
        assert error.msg.endswith(f" at {error.schema_path}")
    else:
        assert str(error) == f"{error.msg} at line {error.line}, column {error.column}"
    assert "line" not in error.msg and "\n" not in error.msg
