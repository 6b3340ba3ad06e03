"""`\\u` escapes of double-quoted scalars: a surrogate pair is one character, a lone surrogate an error."""

import json

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import torvex
from torvex import exceptions as exc

MODES = [0, torvex.OPT_YAML_1_1, torvex.OPT_PYYAML_COMPAT]
PIPELINES = [0, torvex.OPT_ANNOTATED, torvex.OPT_ROUND_TRIP]

# Text from every plane, where the characters beyond the first (written as
# pairs by JSON) are the point; surrogates themselves cannot be encoded.
ANY_PLANE = st.text(
    alphabet=st.one_of(
        st.characters(codec="utf-8"),
        st.characters(min_codepoint=0x10000, max_codepoint=0x10FFFF, codec="utf-8"),
    ),
    max_size=24,
)


def load(text, option):
    value = torvex.loads(text, option=option)
    return value.to_dict() if option & torvex.OPT_ROUND_TRIP else value


@settings(max_examples=300)
@given(ANY_PLANE, ANY_PLANE, st.sampled_from(MODES))
def test_json_with_ascii_escapes_loads_back_in_every_pipeline(key, value, mode):
    data = {key: [value, {"n": 1}], "k": value}
    text = json.dumps(data, ensure_ascii=True)
    for pipeline in PIPELINES:
        assert load(text, mode | pipeline) == data
    # Unedited, a round-trip document is its source byte for byte.
    assert torvex.loads(text, option=mode | torvex.OPT_ROUND_TRIP).to_yaml() == text.encode()


def test_an_edit_elsewhere_keeps_the_pair_as_written():
    text = '{"e": "\\ud83d\\ude00 \\uD83C\\uDDE9", "n": 1}\n'
    doc = torvex.loads(text, option=torvex.OPT_ROUND_TRIP)
    doc["n"] = 2
    out = doc.to_yaml()
    assert b'"\\ud83d\\ude00 \\uD83C\\uDDE9"' in out
    assert torvex.loads(out) == {"e": "\U0001F600 \U0001F1E9", "n": 2}


@pytest.mark.parametrize(
    "body, value",
    [
        ("\\ud800\\udc00", "\U00010000"),  # the lowest and
        ("\\uDBFF\\uDFFF", "\U0010FFFF"),  # the highest pair
        ("a\\ud83d\\ude00b", "a\U0001F600b"),
        ("\\ud83d\\ude00\\ud83d\\ude00", "\U0001F600\U0001F600"),
        ("\\ud83d\\ude00\\\n  x", "\U0001F600x"),  # a continuation after the pair
        ("\\U0001F600\\u00e9", "\U0001F600\u00e9"),
    ],
)
def test_pairs_make_one_character(body, value):
    for option in (0, torvex.OPT_ANNOTATED, torvex.OPT_ROUND_TRIP):
        assert load(f'k: "{body}"\n', option) == {"k": value}


@pytest.mark.parametrize(
    "text, code, column",
    [
        ('"\\ud83d"', "D83D", 2),  # a lone high surrogate
        ('"\\ude00\\ud83d"', "DE00", 2),  # a low one first
        ('"x \\ud83d\\u0041"', "D83D", 4),  # a high one before a non-surrogate escape
        ('"\\ud83d\\ud83d\\ude00"', "D83D", 2),  # two high ones
        ('"\\ud83dx\\ude00"', "D83D", 2),  # something between
        ('"\\ud83d \\ude00"', "D83D", 2),
        ('"\\ud83d\\U0000DE00"', "D83D", 2),  # only \\u pairs
        ('"\\ud83d\\x41"', "D83D", 2),
        ('"\\ud83d\\\n\\ude00"', "D83D", 2),  # broken by a line continuation
        ('"\\ud83d\\ude0g"', "D83D", 2),
        ('"\\ud83d\\ude0', "D83D", 2),  # the input ends inside the second escape
        ('"\\ud83d', "D83D", 2),
        ('"\\U0000D83D\\ude00"', "D83D", 2),
        ('k: [a, "\\udfff"]', "DFFF", 9),
    ],
)
@pytest.mark.parametrize("option", PIPELINES)
def test_a_surrogate_outside_a_pair_is_refused_where_it_stands(text, code, column, option):
    with pytest.raises(exc.TorvexParseError) as info:
        torvex.loads(text, option=option)
    assert str(info.value) == f"invalid unicode code point: U+{code} at line 1, column {column}"
    assert (info.value.line, info.value.column) == (1, column)
