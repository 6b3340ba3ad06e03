"""The checks loads, loads_all and dumps run before any parsing, in their fixed order."""

import pytest

import torvex

LOADS_ALL_MESSAGE = (
    "loads_all() does not support OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR, or OPT_ROUND_TRIP; "
    "use loads() for include resolution and round-trip editing"
)


def never_called(*args):
    raise AssertionError("must not be called")


def test_schema_resolver_without_schema():
    with pytest.raises(ValueError, match=r'^schema_resolver requires schema="auto"$'):
        torvex.loads("x: 1", schema_resolver=never_called)


def test_auto_schema_without_resolver():
    with pytest.raises(ValueError) as info:
        torvex.loads("x: 1", schema="auto")
    assert str(info.value) == 'schema="auto" requires a schema_resolver callable to resolve the in-file reference'


def test_decoding_error_comes_before_schema_checks():
    with pytest.raises(ValueError, match="invalid UTF-8"):
        torvex.loads(b"\xff", schema_resolver=never_called)


def test_auto_schema_calls_resolver_with_the_modeline_reference():
    seen = []
    text = "# yaml-language-server: $schema=./schema.json\nx: 1\n"
    # The resolver answers None: nothing is validated.
    assert torvex.loads(text, schema="auto", schema_resolver=lambda ref: seen.append(ref)) == {"x": 1}
    assert seen == ["./schema.json"]


def test_auto_schema_without_reference_never_calls_resolver():
    assert torvex.loads("x: 1\n", schema="auto", schema_resolver=never_called) == {"x": 1}


def test_explicit_schema_never_calls_resolver():
    text = "# yaml-language-server: $schema=./schema.json\nx: 1\n"
    assert torvex.loads(text, schema={"type": "object"}, schema_resolver=never_called) == {"x": 1}
    with pytest.raises(torvex.TorvexSchemaError):
        torvex.loads(text, schema={"type": "string"}, schema_resolver=never_called)


def test_resolver_exception_propagates_unchanged():
    class Boom(Exception):
        pass

    def resolver(ref):
        raise Boom(ref)

    with pytest.raises(Boom, match="s.json"):
        torvex.loads("# yaml-language-server: $schema=s.json\n", schema="auto", schema_resolver=resolver)


@pytest.mark.parametrize("func", [torvex.loads, torvex.loads_all])
def test_tags_must_be_a_dict(func):
    with pytest.raises(TypeError) as info:
        func("x: 1", tags=[("!t", str)])
    assert str(info.value) == "tags must be a dict (or Tags) mapping each tag name to a callable"


@pytest.mark.parametrize("func", [torvex.loads, torvex.loads_all])
def test_tags_dict_and_subclass_pass_the_check(func):
    for tags in ({"!t": str}, torvex.Tags()):
        assert func("x: !t 1", tags=tags) in ({"x": "1"}, [{"x": "1"}])


@pytest.mark.parametrize(
    "option", [torvex.OPT_INCLUDES, torvex.OPT_SECRETS, torvex.OPT_ENV_VAR, torvex.OPT_ROUND_TRIP]
)
def test_loads_all_refuses_directive_and_round_trip_options(option):
    with pytest.raises(ValueError) as info:
        torvex.loads_all("x: 1", option=option | torvex.OPT_YAML_1_1)
    assert str(info.value) == LOADS_ALL_MESSAGE


def test_loads_all_checks_text_before_options():
    with pytest.raises(ValueError, match="invalid UTF-8"):
        torvex.loads_all(b"\xff", option=torvex.OPT_ROUND_TRIP)


@pytest.mark.parametrize(
    "text, shown",
    [
        ("NULL", '"NULL"'),
        ('a"b', '"a\\"b"'),
        ("a\\b", '"a\\\\b"'),
        ("line\nbreak\t", '"line\\nbreak\\t"'),
        ("\x1b", '"\\u{1b}"'),
        ("caf\u00e9", '"caf\u00e9"'),
        ("", '""'),
    ],
)
def test_unknown_null_style_is_quoted_in_the_message(text, shown):
    with pytest.raises(ValueError) as info:
        torvex.dumps(1, null_style=text)
    assert str(info.value) == "null_style must be 'null', 'empty', or '~', not " + shown


def test_both_null_bits_are_exclusive_unless_null_style_is_given():
    both = torvex.OPT_NULL_AS_KEYWORD | torvex.OPT_NULL_AS_TILDE
    with pytest.raises(ValueError) as info:
        torvex.dumps({"a": None}, option=both)
    assert str(info.value) == "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"
    expected = {"null": b"a: null\n", "empty": b"a:\n", "~": b"a: ~\n", "tilde": b"a: ~\n"}
    for style, text in expected.items():
        assert torvex.dumps({"a": None}, null_style=style, option=both) == text


def test_null_style_is_checked_before_conversion():
    with pytest.raises(ValueError, match="null_style"):
        torvex.dumps(object(), null_style="NULL")
