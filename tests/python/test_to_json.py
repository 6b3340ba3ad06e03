"""to_json end to end: layout options, JSON-specific output, errors, and agreement with json.loads."""

import json
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import torvex
from torvex import TorvexEncodeError, TorvexTag

O = torvex


@pytest.mark.parametrize(
    "option, expected",
    [
        (0, b'{"a":[1,2]}'),
        (O.OPT_INDENT_2, b'{\n  "a": [\n    1,\n    2\n  ]\n}'),
        (O.OPT_INDENT_4, b'{\n    "a": [\n        1,\n        2\n    ]\n}'),
        (O.OPT_INDENT_2 | O.OPT_INDENT_4, b'{\n    "a": [\n        1,\n        2\n    ]\n}'),
    ],
)
def test_indentation(option, expected):
    assert torvex.to_json({"a": [1, 2]}, option=option) == expected


@pytest.mark.parametrize("option", [0, O.OPT_INDENT_2, O.OPT_INDENT_4])
def test_empty_collections(option):
    assert torvex.to_json([{}, []], option=option).replace(b" ", b"").replace(b"\n", b"") == b"[{},[]]"
    assert torvex.to_json({}, option=option) == b"{}"


def test_yaml_only_options_do_not_change_json():
    obj = {"a": None, "b": ["x y", "yes"]}
    yaml_only = (
        O.OPT_FLOW_STYLE | O.OPT_INDENTLESS_SEQUENCES | O.OPT_EXPLICIT_START | O.OPT_EXPLICIT_END
        | O.OPT_SINGLE_QUOTES | O.OPT_NULL_AS_TILDE
    )
    assert torvex.to_json(obj, option=yaml_only) == torvex.to_json(obj) == b'{"a":null,"b":["x y","yes"]}'


def test_keys_become_text_and_sort_by_bytes():
    assert json.loads(torvex.to_json({1: "x", None: "y", False: "z", 1.5: "w"})) == {
        "1": "x", "null": "y", "false": "z", "1.5": "w"
    }
    assert torvex.to_json({10: 1, 9: 2, "B": 3, "a": 4}, option=O.OPT_SORT_KEYS) == b'{"10":1,"9":2,"B":3,"a":4}'


@pytest.mark.parametrize("key", [(1, 2), frozenset([1]), ("a",)])
def test_collection_keys_are_refused(key):
    with pytest.raises(TorvexEncodeError) as info:
        torvex.to_json({key: 1})
    assert str(info.value) == "a collection cannot be a JSON object key"


def test_tags_are_dropped_and_not_accepted_as_keyword():
    assert torvex.to_json([TorvexTag("!t", {"a": 1})]) == b'[{"a":1}]'
    with pytest.raises(TypeError, match="unexpected keyword argument 'tags'"):
        torvex.to_json(1, tags={})


@pytest.mark.parametrize(
    "obj, expected",
    [
        (float("nan"), b"null"),
        (float("-inf"), b"null"),
        (1e16, b"10000000000000000.0"),
        (-0.0, b"-0.0"),
        (2**70, b"1180591620717411303424"),
        ("\x1b\u2028\u00e9", b'"\\u001b\\u2028\xc3\xa9"'),
        (b"bytes", b'"bytes"'),
    ],
)
def test_scalars(obj, expected):
    assert torvex.to_json(obj) == expected


def test_default_and_conversion_bits_apply():
    import datetime

    dt = datetime.datetime(2024, 1, 2, 3, 4, 5, 6)
    option = O.OPT_NAIVE_UTC | O.OPT_UTC_Z | O.OPT_OMIT_MICROSECONDS
    assert torvex.to_json([dt], option=option) == b'["2024-01-02T03:04:05Z"]'
    assert torvex.to_json(object(), default=lambda o: "d") == b'"d"'


json_values = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False, allow_infinity=False) | st.text(),
    lambda inner: st.lists(inner, max_size=6) | st.dictionaries(st.text(max_size=10), inner, max_size=6),
    max_leaves=40,
)


def same(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow])
@given(json_values, st.sampled_from([0, O.OPT_INDENT_2, O.OPT_INDENT_4]))
def test_json_loads_reads_back_the_same_data(doc, option):
    text = torvex.to_json(doc, option=option)
    assert same(json.loads(text), doc), text


@settings(max_examples=200, suppress_health_check=[HealthCheck.too_slow])
@given(json_values)
def test_compact_output_matches_the_standard_library(doc):
    expected = json.dumps(doc, ensure_ascii=False, separators=(",", ":"), allow_nan=False)
    # the standard library escapes U+2028/U+2029 only when ensure_ascii is set
    expected = expected.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029")
    got = torvex.to_json(doc).decode()
    assert json.loads(got) == json.loads(expected)
    if not _has_floats(doc):
        assert got == expected


def _has_floats(doc):
    if isinstance(doc, float):
        return True
    if isinstance(doc, list):
        return any(_has_floats(x) for x in doc)
    if isinstance(doc, dict):
        return any(_has_floats(v) for v in doc.values())
    return False


@pytest.mark.parametrize("sort", [0, O.OPT_SORT_KEYS])
@pytest.mark.parametrize("count", [1, 300, 5000])
def test_texts_survive_their_buffer_growing(count, sort):
    # Texts are gathered in one buffer that grows while an object converts;
    # every text written early must still be right at the end, also through
    # tags, dates, big ints and sorted keys, and in the following calls that
    # reuse the buffer.
    import datetime

    doc = {
        f"k{i:05d}-{'é' * (i % 5)}": [
            "v" * (i % 97), TorvexTag("!t", f"tagged {i}"), 10**30 + i, datetime.date(2020, 1, 1 + i % 28)
        ]
        for i in range(count)
    }
    expected = {k: [v[0], v[1].value, v[2], v[3].isoformat()] for k, v in doc.items()}
    for _ in range(2):
        assert json.loads(torvex.to_json(doc, option=sort)) == expected
        assert torvex.loads(torvex.dumps(doc)) == expected  # YAML 1.2 reads a date back as its text
