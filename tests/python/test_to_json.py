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


# -- the written path and the tree path ---------------------------------------------------------------
# Without OPT_SORT_KEYS objects are written as they are read; with it they go through the value tree and
# its emitter. On data whose keys are already in sorted order the two must give the same bytes, and the
# same error where the data has more than one fault.


class Str(str):
    pass


class LoudStr(str):
    def __str__(self):
        return "loud:" + str.__str__(self)


class Int(int):
    pass


class Dict(dict):
    pass


class List(list):
    pass


class Point:
    def __init__(self, x):
        self.x = x


def point_default(p):
    return {"x": p.x, "y": [p.x, {"z": None}]}


rich_leaves = (
    st.none() | st.booleans() | st.integers(min_value=-(2**100), max_value=2**100) | st.floats() | st.text()
    | st.text(max_size=8).map(Str) | st.text(max_size=8).map(LoudStr) | st.integers().map(Int)
    | st.text(max_size=8).map(str.encode) | st.integers(min_value=1, max_value=28).map(lambda d: __import__("datetime").date(2020, 1, d))
    | st.integers().map(Point)
)
rich_keys = st.text(max_size=6) | st.text(max_size=6).map(Str) | st.integers(-5, 5) | st.booleans() | st.none() | st.floats()


def _collections(inner):
    return (
        st.lists(inner, max_size=5) | st.lists(inner, max_size=5).map(tuple) | st.lists(inner, max_size=5).map(List)
        | st.dictionaries(rich_keys, inner, max_size=5) | st.dictionaries(rich_keys, inner, max_size=5).map(Dict)
        | inner.filter(lambda v: not isinstance(v, TorvexTag)).map(lambda v: TorvexTag("!t", v))
    )


rich_values = st.recursive(rich_leaves, _collections, max_leaves=30)


def _key_text(key):
    return next(iter(json.loads(torvex.to_json({key: 0})))).encode()


def sorted_copy(obj):
    """The same data with every mapping's keys in the order OPT_SORT_KEYS writes them."""
    if isinstance(obj, dict):
        return type(obj)(sorted(((k, sorted_copy(v)) for k, v in obj.items()), key=lambda kv: _key_text(kv[0])))
    if isinstance(obj, (list, tuple)):
        return type(obj)(sorted_copy(v) for v in obj)
    if isinstance(obj, TorvexTag):
        return TorvexTag(obj.tag, sorted_copy(obj.value))
    return obj


@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow])
@given(rich_values, st.sampled_from([0, O.OPT_INDENT_2, O.OPT_INDENT_4]))
def test_written_path_matches_the_tree_path(doc, option):
    doc = sorted_copy(doc)
    written = torvex.to_json(doc, option=option, default=point_default)
    assert written == torvex.to_json(doc, option=option | O.OPT_SORT_KEYS, default=point_default)


def _unserializable_later():
    return {(1, 2): 1, "b": object()}


def refuse(obj):
    raise LookupError("refused")


@pytest.mark.parametrize("sort", [0, O.OPT_SORT_KEYS])
@pytest.mark.parametrize(
    "build, default, error, message",
    [
        # a conversion error wins over a collection key, wherever the two are
        (_unserializable_later, None, torvex.TorvexUnserializableError, "type object is not YAML serializable"),
        (lambda: {"a": [object()], (1,): 1}, None, torvex.TorvexUnserializableError, "type object is not"),
        (lambda: {(1,): 1, "b": [Point(1)]}, refuse, LookupError, "refused"),
        (lambda: {(1,): 1, "deep": nested(1001)}, None, TorvexEncodeError, "object is too deeply nested"),
        (lambda: {"a": 1, frozenset([2]): {"b": 2}}, None, TorvexEncodeError, "a collection cannot be a JSON object key"),
        (lambda: [{Point(1): 1}], point_default, TorvexEncodeError, "a collection cannot be a JSON object key"),
        (lambda: [{TorvexTag("!k", (1,)): 1}], None, TorvexEncodeError, "a collection cannot be a JSON object key"),
        (lambda: ["\ud800"], None, UnicodeEncodeError, "surrogates not allowed"),
        (lambda: {"\udc00": 1}, None, UnicodeEncodeError, "surrogates not allowed"),
    ],
)
def test_first_error_is_the_same_on_both_paths(build, default, error, message, sort):
    with pytest.raises(error, match=message):
        torvex.to_json(build(), option=sort, default=default)


def nested(levels):
    obj = 0
    for _ in range(levels):
        obj = [obj]
    return obj


@pytest.mark.parametrize("sort", [0, O.OPT_SORT_KEYS])
def test_default_results_indent_at_their_place_and_keys_convert(sort):
    with pytest.raises(TorvexEncodeError):  # a Point key becomes a mapping
        torvex.to_json({"p": [Point(1)], Point(2): 0}, option=sort, default=point_default)
    text = torvex.to_json({"p": [Point(1)], Int(7): Str("s")}, option=sort | O.OPT_INDENT_2, default=point_default)
    assert json.loads(text) == {"p": [{"x": 1, "y": [1, {"z": None}]}], "7": "s"}
    assert b'\n    {\n      "x": 1,' in text


@pytest.mark.parametrize("size", [0, 1023, 1024, 1025, 65535, 65536, 65537, 300_000])
def test_outputs_of_every_size_are_exact(size):
    # The output grows inside the bytes object returned; its length must be exact at every size.
    text = "x" * max(0, size - 2)
    assert torvex.to_json(text) == b'"' + text.encode() + b'"'
    many = ["é" * 7] * (size // 17 + 1)
    assert torvex.to_json(many) == json.dumps(many, ensure_ascii=False, separators=(",", ":")).encode()


def test_large_outputs_in_any_order_and_nested_are_exact():
    # A large output is written in place in a bytes object sized from the thread's last large output: larger,
    # smaller and equal ones after each other must come out exact (length, contents, hash), and so must one made
    # by a call from user code while the outer call holds its own.
    def doc(size):
        return {"n": size, "items": [f"v{i}\u00e9\U0001f680" for i in range(size)]}

    def expected(obj):
        return json.dumps(obj, ensure_ascii=False, separators=(",", ":")).encode()

    for size in (50_000, 3_000, 200_000, 9_000, 9_000, 120_000, 20):
        got = torvex.to_json(doc(size))
        want = expected(doc(size))
        assert len(got) == len(want) and got == want and hash(got) == hash(bytes(want))

    inner = doc(30_000)
    outer = {"before": doc(10_000), "p": Point(1), "after": doc(20_000)}
    got = torvex.to_json(outer, default=lambda p: torvex.to_json(inner).decode())
    assert json.loads(got) == {"before": doc(10_000), "p": expected(inner).decode(), "after": doc(20_000)}


@pytest.mark.parametrize("sizes", [(70_000,), (140_000,), (5_000_000,), (1_000_000, 300_000), (300_000, 1_000_000)])
def test_large_results_hold_little_spare_memory(sizes):
    # A large output grows inside the bytes object returned (doubling, or sized from the thread's last one): the
    # object handed back must not keep much more memory than its length. Measured on a fresh thread, so that the
    # first size is the thread's first large output.
    import threading
    import tracemalloc

    held = []

    def run():
        tracemalloc.start()
        try:
            for size in sizes:
                doc = ["x" * 1000] * (size // 1003)
                before = tracemalloc.get_traced_memory()[0]
                result = torvex.to_json(doc)
                held.append((tracemalloc.get_traced_memory()[0] - before) / len(result))
                del result
        finally:
            tracemalloc.stop()

    thread = threading.Thread(target=run)
    thread.start()
    thread.join()
    assert len(held) == len(sizes) and max(held) <= 1.26, held


# A dict read ahead in batches must notice a change made by user code run for any entry, however deep inside
# the entry the code runs; entries read ahead before it are read again. The tree path (OPT_SORT_KEYS on keys
# already in order) reads every dict afresh after each such entry, so the two must agree, errors included.
def _mutated_dict(size, at, depth, action, target):
    keys = [f"k{i:03d}" for i in range(size)]
    d = {}

    def default(obj):
        victim = keys[target]
        if action == "replace":
            d[victim] = ["replaced", obj.x]
        elif action == "add":
            d["zzz"] = 0
        elif action == "swap":
            d.pop(victim, None)
            d["zzz"] = 0
        return obj.x

    for i, key in enumerate(keys):
        value = Point(i) if i == at else (i if i % 3 else [i, {"n": i}])
        for _ in range(depth if i == at else 0):
            value = [{"deep": value}]
        d[key] = value
    return d, default


@settings(max_examples=150, suppress_health_check=[HealthCheck.too_slow])
@given(st.integers(1, 40).flatmap(lambda size: st.tuples(
    st.just(size), st.integers(0, size - 1), st.integers(0, 3), st.sampled_from(["replace", "add", "swap", "none"]),
    st.integers(0, size - 1))))
def test_dicts_changed_by_user_code_deep_inside_an_entry(case):
    size, at, depth, action, target = case
    outcomes = []
    for option in (0, O.OPT_SORT_KEYS):
        d, default = _mutated_dict(size, at, depth, action, target)
        try:
            outcomes.append(torvex.to_json(d, option=option, default=default))
        except RuntimeError as exc:
            outcomes.append(str(exc))
    assert outcomes[0] == outcomes[1]


@pytest.mark.parametrize("special", ['"', "\\", "\n", "\x01", "\x1f", "\u2028", "\u2029", "\u20ac", "é", "x"])
def test_a_special_character_at_every_place_of_short_and_block_sized_texts(special):
    # Texts up to 32 bytes are copied and checked in whole blocks, longer ones in runs: a character that needs
    # an escape (or one that shares the lead byte of U+2028 and needs none) must be found at every place, as
    # a key, as a value in a dict and in a list.
    for size in range(0, 70):
        for at in range(size):
            text = "a" * at + special + "b" * (size - at - 1)
            doc = [text, {text: text}, {"k": [text]}]
            expected = json.dumps(doc, ensure_ascii=False, separators=(",", ":"))
            expected = expected.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029")
            assert torvex.to_json(doc) == expected.encode(), text


# Characters of every storage width of str (latin-1, 16-bit, astral) and those that need an escape or sit at the
# edges of the UTF-8 lengths; texts long enough to cross whole blocks of code units.
_wide_alphabet = st.sampled_from(
    ["a", "~", "\x7f", "\x80", "\xe2", "\xff", "\u0100", "\u07ff", "\u0800", "\u20ac", "\u2028", "\u2029", "\ufffd",
     "\uffff", "\U00010000", "\U0001f680", "\U0010ffff", '"', "\\", "\n", "\x00", "\x1f", "\t"])
_wide_texts = st.lists(st.one_of(_wide_alphabet, st.text(st.sampled_from("abcxyz "), min_size=1, max_size=40)),
                       max_size=12).map("".join)


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(_wide_texts, min_size=1, max_size=4))
def test_wide_strs_are_encoded_from_their_code_units_or_their_cached_form_alike(texts):
    # A str with no UTF-8 form cached is encoded from its code units and gets no such form (sys.getsizeof counts
    # it); once another call caches one, that form is read instead, with the same output.
    import sys

    texts = ["".join(t) for t in texts]  # fresh objects: nothing cached yet
    doc = [texts, {t: t for t in texts}]
    expected = json.dumps(doc, ensure_ascii=False, separators=(",", ":"))
    expected = expected.replace("\u2028", "\\u2028").replace("\u2029", "\\u2029").encode()
    sizes = [sys.getsizeof(t) for t in texts]
    assert torvex.to_json(doc) == expected
    assert [sys.getsizeof(t) for t in texts] == sizes
    torvex.dumps(texts)  # the tree path asks for the UTF-8 form, which caches it
    assert torvex.to_json(doc) == expected


@pytest.mark.parametrize("width", ["\xe9", "\u20ac", "\U0001f680"])
@pytest.mark.parametrize("at", [0, 15, 16, 40])
def test_a_surrogate_in_any_str_width_raises_the_interpreters_error(width, at):
    text = width + "a" * at + "\udc80" + "b" * 20
    with pytest.raises(UnicodeEncodeError) as raised:
        text.encode()
    for doc in ([text], {text: 1}, {"k": text}):
        with pytest.raises(UnicodeEncodeError) as got:
            torvex.to_json(doc)
        assert str(got.value) == str(raised.value)
