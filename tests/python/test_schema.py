"""Schema validation through loads: messages and attributes, the pipelines and
their resolution rules, schema="auto", alias positions, and a differential
test against the jsonschema package over generated schemas and documents."""

from __future__ import annotations

import math
import re

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import torvex
from peers import jsonschema, needs_jsonschema

MESSAGE = re.compile(r"^schema validation failed: (.*) at (\S*) \(line (\d+), column (\d+)\)$")


def violation(text, schema, **kwargs):
    with pytest.raises(torvex.TorvexSchemaError) as info:
        torvex.loads(text, schema=schema, **kwargs)
    e = info.value
    match = MESSAGE.match(str(e))
    assert match, str(e)
    assert (e.schema_path, e.line, e.column) == (match[2], int(match[3]), int(match[4]))
    return match[1], e.schema_path, e.line, e.column


@pytest.mark.parametrize(
    "schema, text, expected",
    [
        ({"type": "integer"}, "x: 1", ("expected type integer, found object", "$", 1, 1)),
        ({"type": ["string", "null"]}, "3", ("expected type string | null, found integer", "$", 1, 1)),
        ({"type": "integer"}, "1.0", ("expected type integer, found number", "$", 1, 1)),
        ({"type": "integer"}, "'123'", ("expected type integer, found string", "$", 1, 1)),
        (
            {"properties": {"port": {"maximum": 65535}}},
            "port: 70000",
            ("value 70000 is greater than maximum 65535", "$.port", 1, 7),
        ),
        ({"required": ["a", "b"]}, "a: 1", ("missing required property 'b'", "$", 1, 1)),
        (
            {"additionalProperties": False, "properties": {"a": {}}},
            "a: 1\nb: 2",
            ("additional property 'b' is not allowed", "$.b", 2, 4),
        ),
        ({"items": {"type": "string"}}, "[a, 1]", ("expected type string, found integer", "$[1]", 1, 5)),
        (
            {"oneOf": [{"type": "integer"}, {"type": "number"}]},
            "3",
            ("value matches 2 of the oneOf schemas (exactly one required)", "$", 1, 1),
        ),
        ({"minLength": 2}, "\u00e9", ("string is shorter than minLength 2", "$", 1, 1)),
        (False, "a: 1", ("value is not allowed (schema is false)", "$", 1, 1)),
        ({"enum": [1, "a"]}, "true", ("value is not one of the allowed enum values", "$", 1, 1)),
        ({"const": [1, 2]}, "[3]", ("value does not equal the required const", "$", 1, 1)),
        ({"minimum": 0.5}, "x", None),
        ({"const": (1, 2)}, "[1, 2.0]", None),  # tuples convert as arrays; 2 equals 2.0
        ({"enum": [1, "a"]}, "1.0", None),
        (True, "[1, {a: 2}]", None),
        ({"bogus": 1, "type": "string"}, "x", None),
        ({"exclusiveMaximum": 1e-7}, "0.5", ("value 0.5 is not less than 0.0000001", "$", 1, 1)),
    ],
)
def test_first_violation(schema, text, expected):
    if expected is None:
        assert torvex.loads(text, schema=schema) == torvex.loads(text)
    else:
        assert violation(text, schema) == expected


@pytest.mark.parametrize("option", [0, torvex.OPT_ROUND_TRIP])
def test_alias_copy_reports_the_alias_position(option):
    text = "base: &b {port: 1}\nprod:\n  port: x\nother: *b\n"
    schema = {"additionalProperties": {"properties": {"port": {"type": "string"}}}}
    assert violation(text, schema, option=option) == ("expected type string, found integer", "$.base.port", 1, 17)
    schema = {"properties": {"other": {"type": "string"}}}
    assert violation(text, schema, option=option) == ("expected type string, found object", "$.other", 4, 8)


@pytest.mark.parametrize("option", [0, torvex.OPT_ROUND_TRIP])
def test_merge_keys_are_applied_before_validation(option):
    text = "base: &b {image: web, port: 1}\nsvc:\n  <<: *b\n  port: 2\n"
    schema = {
        "properties": {
            "svc": {"required": ["image"], "additionalProperties": False, "properties": {"image": {}, "port": {"const": 2}}}
        }
    }
    torvex.loads(text, schema=schema, option=option)


@pytest.mark.parametrize(
    "text, kwargs, valid",
    [
        ("x: yes", {}, False),
        ("x: yes", {"option": torvex.OPT_YAML_1_1}, True),
        ("%YAML 1.1\n---\nx: yes", {}, True),
        ("%YAML 1.2\n---\nx: yes", {"option": torvex.OPT_YAML_1_1}, False),
        ("x: y", {"option": torvex.OPT_YAML_1_1}, True),
        ("x: y", {"option": torvex.OPT_PYYAML_COMPAT}, False),  # PyYAML keeps y a string
        ("x: yes", {"option": torvex.OPT_YAML_1_1 | torvex.OPT_ROUND_TRIP}, True),
    ],
)
def test_resolution_rules_decide_instance_types(text, kwargs, valid):
    schema = {"properties": {"x": {"type": "boolean"}}}
    if valid:
        torvex.loads(text, schema=schema, **kwargs)
    else:
        violation(text, schema, **kwargs)


def test_only_the_first_document_is_validated():
    assert torvex.loads("1\n---\nx\n", schema={"type": "integer"}) == 1
    assert torvex.loads("", schema={"type": "integer"}) is None


def test_auto_schema_from_the_modeline():
    text = "# yaml-language-server: $schema=service.json\nport: 70000\n"
    schemas = {"service.json": {"properties": {"port": {"maximum": 65535}}}}
    seen = []

    def resolver(ref):
        seen.append(ref)
        return schemas.get(ref)

    assert violation(text, "auto", schema_resolver=resolver)[1:] == ("$.port", 2, 7)
    assert seen == ["service.json"]
    assert torvex.loads(text.replace("service", "other"), schema="auto", schema_resolver=resolver) == {"port": 70000}


def test_a_schema_the_conversion_refuses_raises():
    with pytest.raises(torvex.TorvexUnserializableError):
        torvex.loads("a: 1", schema={"type": object()})


def test_violation_in_the_call_text_sets_no_file():
    with pytest.raises(torvex.TorvexSchemaError) as info:
        torvex.loads("a: 1", schema={"type": "array"})
    assert info.value.file is None


# ---------------------------------------------------------------------------
# Differential test against jsonschema.
#
# Deliberate differences, kept out of the comparison by name:
# - FLOAT_NEVER_INTEGER: a float such as 1.0 is never an "integer" here; the
#   peer is given the same type rule so the rest of its behaviour is compared.
# - DOUBLE_PRECISION_LIMITS: numeric limits compare in double precision, so
#   integers are generated within +-2**53 where double and exact agree.
# - NO_NAN: NaN is no JSON value; floats are generated finite.

if jsonschema is not None:
    FLOAT_NEVER_INTEGER = jsonschema.Draft202012Validator.TYPE_CHECKER.redefine(
        "integer", lambda checker, instance: isinstance(instance, int) and not isinstance(instance, bool)
    )
    Peer = jsonschema.validators.extend(jsonschema.Draft202012Validator, type_checker=FLOAT_NEVER_INTEGER)

KEYS = st.sampled_from(["a", "b", "c", "1", "true", "\u00e9"])
TYPES = ["null", "boolean", "integer", "number", "string", "array", "object"]
ints = st.integers(min_value=-(2**53), max_value=2**53)
floats = st.floats(allow_nan=False, allow_infinity=False, width=64)
scalars = st.one_of(st.none(), st.booleans(), ints, floats, st.text(alphabet="ab\u00e9 1", max_size=4))
documents = st.recursive(
    scalars,
    lambda inner: st.one_of(st.lists(inner, max_size=4), st.dictionaries(KEYS, inner, max_size=4)),
    max_leaves=12,
)
small = st.integers(min_value=0, max_value=5)


def keyword_schemas(inner):
    keywords = {
        "type": st.one_of(st.sampled_from(TYPES), st.lists(st.sampled_from(TYPES), min_size=1, max_size=3)),
        "enum": st.lists(documents, max_size=3),
        "const": documents,
        "minimum": st.one_of(ints, floats),
        "maximum": st.one_of(ints, floats),
        "exclusiveMinimum": st.one_of(ints, floats),
        "exclusiveMaximum": st.one_of(ints, floats),
        "minLength": small,
        "maxLength": small,
        "minItems": small,
        "maxItems": small,
        "required": st.lists(KEYS, max_size=3),
        "properties": st.dictionaries(KEYS, inner, max_size=3),
        "additionalProperties": st.one_of(st.booleans(), inner),
        "items": inner,
        "allOf": st.lists(inner, max_size=3),
        "anyOf": st.lists(inner, max_size=3),
        "oneOf": st.lists(inner, max_size=3),
        "not": inner,
    }
    return st.lists(st.sampled_from(sorted(keywords)), max_size=4, unique=True).flatmap(
        lambda names: st.fixed_dictionaries({name: keywords[name] for name in names})
    )


schemas = st.recursive(st.one_of(st.booleans(), st.just({})), keyword_schemas, max_leaves=8)


def torvex_accepts(text, schema, option=0):
    try:
        torvex.loads(text, schema=schema, option=option)
    except torvex.TorvexSchemaError as e:
        assert MESSAGE.match(str(e)), str(e)
        return False
    return True


@needs_jsonschema
@settings(max_examples=600, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(schema=schemas, document=documents)
def test_agrees_with_jsonschema(schema, document):
    text = torvex.dumps(document).decode()
    assume(torvex.loads(text) == document)
    expected = Peer(schema).is_valid(document)
    assert torvex_accepts(text, schema) == expected
    assert torvex_accepts(text, schema, torvex.OPT_ROUND_TRIP) == expected


@needs_jsonschema
@settings(max_examples=200, suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(schema=schemas, document=documents)
def test_aliases_validate_as_their_copies(schema, document):
    flow = torvex.dumps(document, option=torvex.OPT_FLOW_STYLE).decode().strip()
    text = f"x: &a {flow}\ny: [*a, *a]\n"
    loaded = torvex.loads(text)
    assume(loaded == {"x": document, "y": [document, document]})
    assert torvex_accepts(text, schema) == Peer(schema).is_valid(loaded)


def test_number_messages_use_the_shortest_exact_decimal():
    for value in (0.1, 1e21, 123.456, 5e-7, 2**60):
        message = violation(repr(value), {"maximum": -math.inf})[0]
        shown = message.split()[1]
        assert "e" not in shown and float(shown) == float(value)


@pytest.mark.parametrize("option", [0, torvex.OPT_ROUND_TRIP])
def test_aliases_nested_beyond_100_copies_read_as_null(option):
    # a101 holds a100 ... holds a1 = [1]; copied from `top`, the alias met 100 copies deep reads as null.
    lines = ["l0: &a0 1"] + [f"l{i}: &a{i} [*a{i - 1}]" for i in range(1, 102)] + ["top: *a101"]
    schema = {"type": "integer"}
    for _ in range(100):
        schema = {"items": schema}
    message, path, line, _ = violation("\n".join(lines) + "\n", {"properties": {"top": schema}}, option=option)
    assert message == "expected type integer, found null"
    assert path == "$.top" + "[0]" * 100
    assert line == 3  # the alias *a1 inside a2 (line 3), where the copies end
