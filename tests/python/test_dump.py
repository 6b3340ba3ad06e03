"""dumps end to end: option handling, the settings handed to the YAML writer, and round trips."""

import math
import re
import threading

import pytest
import yaml
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import torvex

O = torvex


def test_returns_bytes_ending_in_a_line_feed():
    out = torvex.dumps({"a": 1})
    assert type(out) is bytes
    assert out == b"a: 1\n"


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, b"null\n"),
        ({"null_style": "tilde"}, b"~\n"),
        ({"null_style": "~"}, b"~\n"),
        ({"null_style": "null"}, b"null\n"),
        ({"null_style": "empty"}, b"null\n"),
        ({"option": O.OPT_NULL_AS_TILDE}, b"~\n"),
    ],
)
def test_null_at_the_root(kwargs, expected):
    assert torvex.dumps(None, **kwargs) == expected


@pytest.mark.parametrize(
    "kwargs, expected",
    [
        ({}, b"a:\n"),
        ({"option": O.OPT_NULL_AS_KEYWORD}, b"a: null\n"),
        ({"option": O.OPT_NULL_AS_TILDE}, b"a: ~\n"),
        ({"null_style": "null", "option": O.OPT_NULL_AS_KEYWORD | O.OPT_NULL_AS_TILDE}, b"a: null\n"),
        ({"null_style": "empty", "option": O.OPT_NULL_AS_TILDE}, b"a:\n"),
        ({"null_style": "tilde", "option": O.OPT_NULL_AS_KEYWORD}, b"a: ~\n"),
    ],
)
def test_null_style_beats_the_null_bits(kwargs, expected):
    assert torvex.dumps({"a": None}, **kwargs) == expected


def test_unknown_null_style_is_reported_before_conversion_errors():
    with pytest.raises(ValueError) as info:
        torvex.dumps(object(), null_style="NULL")
    assert str(info.value).endswith('not "NULL"')
    with pytest.raises(ValueError, match="mutually exclusive"):
        torvex.dumps([object()], option=O.OPT_NULL_AS_KEYWORD | O.OPT_NULL_AS_TILDE)


def test_explicit_markers():
    both = O.OPT_EXPLICIT_START | O.OPT_EXPLICIT_END
    assert torvex.dumps("x", option=both) == b"---\nx\n...\n"
    assert torvex.dumps({"a": [1]}, option=O.OPT_EXPLICIT_START) == b"---\na:\n  - 1\n"
    assert torvex.dumps([1], option=O.OPT_EXPLICIT_END) == b"- 1\n...\n"


@pytest.mark.parametrize(
    "option, expected",
    [
        (0, b"a:\n  - 1\n  - 2\n"),
        (O.OPT_INDENT_2, b"a:\n  - 1\n  - 2\n"),
        (O.OPT_INDENT_4, b"a:\n    - 1\n    - 2\n"),
        (O.OPT_INDENTLESS_SEQUENCES, b"a:\n- 1\n- 2\n"),
        (O.OPT_FLOW_STYLE, b"{a: [1, 2]}\n"),
    ],
)
def test_layout_options(option, expected):
    assert torvex.dumps({"a": [1, 2]}, option=option) == expected


def test_sort_keys_and_quotes():
    assert torvex.dumps({"b": 1, 2: 0, "a": 1, None: 3}, option=O.OPT_SORT_KEYS) == b"2: 0\nnull: 3\na: 1\nb: 1\n"
    assert torvex.dumps(["", "yes"], option=O.OPT_SINGLE_QUOTES) == b"- ''\n- 'yes'\n"
    assert torvex.dumps(["", "yes"]) == b'- ""\n- "yes"\n'


def test_width_folds_long_quoted_text():
    sentence = " ".join(["word"] * 20)  # 99 bytes
    folded = torvex.dumps({"k": sentence}, width=40)
    assert max(len(line) for line in folded.splitlines()) <= 40
    assert yaml.safe_load(folded) == {"k": sentence}
    assert torvex.dumps({"k": sentence}) == b"k: " + sentence.encode() + b"\n"
    huge = torvex.dumps({"k": sentence}, width=2**64 - 1)  # wider than any line: never folds
    assert huge == b"k: " + sentence.encode() + b"\n"


def test_tags_keyword_and_torvex_tag_output_read_back_by_pyyaml():
    class Point:
        def __init__(self, x, y):
            self.x, self.y = x, y

    out = torvex.dumps({"p": Point(1, 2)}, tags={Point: lambda p: ("!point", [p.x, p.y])})
    loader = type("L", (yaml.SafeLoader,), {})
    loader.add_constructor("!point", lambda ld, node: ("point", ld.construct_sequence(node)))
    assert yaml.load(out, Loader=loader) == {"p": ("point", [1, 2])}


def test_parallel_dumps_give_identical_output():
    data = [{"k": "v" * 50, "n": list(range(20)), "t": (1.5, None, True)} for _ in range(2000)]
    expected = torvex.dumps(data)
    results = []

    def work():
        results.append(torvex.dumps(data) == expected and torvex.to_json(data) == torvex.to_json(data))

    threads = [threading.Thread(target=work) for _ in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert results == [True] * 4


# -- round trips -------------------------------------------------------------------------------------

keys = st.text(max_size=12)
scalars = (
    st.none()
    | st.booleans()
    | st.integers(min_value=-(2**80), max_value=2**80)
    | st.floats(allow_nan=False)
    | st.text(max_size=40)
)
documents = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=5) | st.dictionaries(keys, inner, max_size=5),
    max_leaves=25,
)


def same(a, b):
    if isinstance(a, float) and isinstance(b, float):
        return a == b or (math.isnan(a) and math.isnan(b))
    if isinstance(a, list) and isinstance(b, list):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict) and isinstance(b, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return type(a) is type(b) and a == b


OPTIONS = [
    0,
    O.OPT_FLOW_STYLE,
    O.OPT_INDENT_4 | O.OPT_INDENTLESS_SEQUENCES,
    O.OPT_SINGLE_QUOTES | O.OPT_NULL_AS_TILDE | O.OPT_EXPLICIT_START | O.OPT_EXPLICIT_END,
    O.OPT_NULL_AS_KEYWORD,
]


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(documents, st.sampled_from(OPTIONS), st.sampled_from([0, 20, 80]))
def test_round_trip_through_loads(doc, option, width):
    text = torvex.dumps(doc, option=option, width=width)
    assert same(torvex.loads(text), doc), text


# Text that YAML 1.1 readers cannot take for a date or a sexagesimal number, and without "?", which
# PyYAML refuses inside flow plain scalars; everything else that dumps leaves plain reads the same under
# 1.1 and 1.2.
pyyaml_text = st.text(
    alphabet=st.characters(codec="utf-8", exclude_characters=":?\ufeff", exclude_categories=["Cs"]), max_size=30
).filter(lambda t: not re.search(r"\d{4}-\d", t))
pyyaml_documents = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | pyyaml_text,
    lambda inner: st.lists(inner, max_size=5) | st.dictionaries(pyyaml_text, inner, max_size=5),
    max_leaves=25,
)


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(pyyaml_documents, st.sampled_from(OPTIONS))
def test_pyyaml_reads_the_same_data(doc, option):
    text = torvex.dumps(doc, option=option)
    assert same(yaml.safe_load(text), doc), text


@given(st.sets(st.integers(), max_size=10), st.frozensets(st.text(max_size=5), max_size=5))
def test_sets_round_trip_as_lists(s, f):
    assert torvex.loads(torvex.dumps([s, f])) == [list(s), list(f)]


@pytest.mark.parametrize("tag", ["!x\nevil: 1", "!a b", "", "!\t", "!x\x00", "!x\x7f"])
def test_tags_that_would_break_out_of_the_tag_are_refused(tag):
    with pytest.raises(torvex.TorvexEncodeError, match="a tag must be non-empty"):
        torvex.dumps({"k": torvex.TorvexTag(tag, 5)})


def test_a_tag_cannot_wrap_a_tag():
    with pytest.raises(torvex.TorvexEncodeError, match="cannot directly hold another tagged value"):
        torvex.dumps(torvex.TorvexTag("!a", torvex.TorvexTag("!b", 1)))


@pytest.mark.parametrize(
    "tag", ["!point", "!e!point", "tag:example.com,2000:point", "!caf\u00e9", "!x,y", "!a]b", "!{c}"]
)
def test_tags_load_back_unchanged(tag):
    text = torvex.dumps({"k": torvex.TorvexTag(tag, "v")})
    loaded = torvex.loads(text, option=torvex.OPT_PASSTHROUGH_TAG)["k"]
    assert (loaded.tag, loaded.value) == (tag, "v")
