"""Round-trip documents, views and nodes as Python containers: keys of every type, iteration, items(),
values(), `in` and `kind`, checked against what a load of the same text gives."""

import math
import pathlib
import threading

import pytest

import torvex

SUITE = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "yaml-test-suite"
RT = torvex.OPT_ROUND_TRIP
View = torvex.TorvexDocumentView


def rt(text, option=0):
    return torvex.loads(text, option=RT | option)


def plain(value):
    """A value as item access gives it, with views replaced by their snapshot and NaN made equal to itself."""
    if isinstance(value, View):
        value = value.to_dict()
    if isinstance(value, dict):
        return {plain(k): plain(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return type(value)(plain(v) for v in value)
    if isinstance(value, float) and math.isnan(value):
        return "<nan>"
    return value


def kind_of(value):
    return "mapping" if isinstance(value, dict) else "sequence" if isinstance(value, list) else "scalar"


def check_container(container, expected, depth=0):
    """`container` (a single-root document or a view) reads as `expected` (its to_dict()) through every
    container protocol, and so does every collection below it."""
    assert container.kind == kind_of(expected)
    if isinstance(expected, dict):
        keys = list(container)
        assert keys == container.keys() and plain(keys) == plain(list(expected))
        rebuilt = {k: container[k] for k in keys}
        assert plain(rebuilt) == plain(expected)
        assert plain(dict(container.items())) == plain(expected)
        assert plain(container.values()) == plain(list(rebuilt.values()))
        assert all(k in container for k in keys)
        assert all(container.get(k, rebuilt) is not rebuilt for k in keys)
        children = list(rebuilt.values())
    else:
        children = list(container)
        assert plain(children) == plain(expected) and len(container) == len(expected)
    if depth < 20:
        for child in children:
            if isinstance(child, View):
                check_container(child, child.to_dict(), depth + 1)


def roundtrip_cases():
    if not SUITE.is_dir():
        return []
    return [pytest.param(p, id=str(p.parent.relative_to(SUITE)))
            for p in sorted(SUITE.rglob("in.yaml")) if not (p.parent / "error").exists()]


def error_cases():
    if not SUITE.is_dir():
        return []
    return [pytest.param(p, id=str(p.parent.relative_to(SUITE)))
            for p in sorted(SUITE.rglob("in.yaml")) if (p.parent / "error").exists()]


@pytest.mark.parametrize("path", roundtrip_cases())
def test_suite_documents_read_as_their_snapshot(path):
    text = path.read_bytes()
    doc = rt(text)
    loaded = torvex.loads_all(text)
    if len(loaded) != 1:
        assert doc.kind == "stream" and len(doc) == len(loaded)
        assert plain(list(doc)) == plain(loaded)
        for item in doc:
            if isinstance(item, View):
                check_container(item, item.to_dict())
        return
    assert doc.kind == kind_of(loaded[0])
    if doc.kind != "scalar":
        assert plain(doc.to_dict()) == plain(loaded[0])
        check_container(doc, doc.to_dict())


@pytest.mark.parametrize("path", roundtrip_cases())
def test_load_of_a_suite_file_equals_loads_of_its_bytes(path):
    text = path.read_bytes()
    expected = plain(torvex.loads(text))
    assert plain(torvex.load(path)) == expected
    with open(path, "rb") as binary:
        assert plain(torvex.load(binary)) == expected
    try:
        text.decode("utf-8")
    except UnicodeDecodeError:
        return
    with open(path, encoding="utf-8", newline="") as textual:
        assert plain(torvex.load(textual)) == expected


@pytest.mark.parametrize("option", [0, RT])
@pytest.mark.parametrize("path", error_cases())
def test_msg_and_position_make_the_message_of_every_suite_error(path, option):
    with pytest.raises(torvex.TorvexParseError) as raised:
        torvex.loads_all(path.read_bytes()) if option == 0 else rt(path.read_bytes())
    error = raised.value
    assert str(error) == f"{error.msg} at line {error.line}, column {error.column}"
    assert " at line " not in error.msg


KEY_TEXT = """\
200: ok
404: {reason: missing}
1.5: ratio
true: yes
null: nothing
? [a, b]
: {x: 1}
? {k: v}
: pair
"""


@pytest.mark.parametrize(
    "key, expected, line",
    [(200, "ok", 1), (404, {"reason": "missing"}, 2), (1.5, "ratio", 3), (True, "yes", 4), (None, "nothing", 5),
     (("a", "b"), {"x": 1}, 7), ((("k", "v"),), "pair", 9)],
)
def test_every_key_keys_returns_finds_its_value(key, expected, line):
    doc = rt(KEY_TEXT)
    assert key in doc.keys() and key in doc and key in doc.node
    assert plain(doc[key]) == expected == plain(doc.get(key)) == torvex.loads(KEY_TEXT)[key]
    node = doc.node[key]
    assert (plain(node.value), node.line) == (expected, line)


def test_keys_equal_in_python_are_one_key_holding_the_last_value():
    text = "1: a\nx: b\n1.0: c\ntrue: d\n"
    doc = rt(text)
    assert torvex.loads(text) == {1: "d", "x": "b"}
    assert doc.keys() == [1, "x"] and doc.items() == [(1, "d"), ("x", "b")]
    assert doc[1] == doc[1.0] == doc[True] == "d"
    doc[1.0] = "e"  # the last equal pair is the one written
    assert doc.to_yaml() == b"1: a\nx: b\n1.0: c\ntrue: e\n"
    del doc[True]  # every equal pair goes, so no earlier one takes its place
    assert doc.to_yaml() == b"x: b\n" and 1 not in doc


@pytest.mark.parametrize(
    "text, key, value, written",
    [
        ("200: ok\n", 200, "fine", b"200: fine\n"),
        ("200: ok\n", 500, "error", b"200: ok\n500: error\n"),
        ("a: 1\n", None, 2, b"a: 1\nnull: 2\n"),
        ("a: 1\n", 2.5, True, b"a: 1\n2.5: true\n"),
        ("? [a, b]\n: 1\n", ("a", "b"), 2, b"? [a, b]\n: 2\n"),
        ("0x10: hex\n", 16, "sixteen", b"0x10: sixteen\n"),
    ],
)
def test_assigning_by_a_key_that_is_not_a_str(text, key, value, written):
    doc = rt(text)
    doc[key] = value
    assert doc[key] == value
    assert torvex.loads(doc.to_yaml()) == {**torvex.loads(text), key: value}
    assert doc.to_yaml() == written or torvex.loads(doc.to_yaml()) == torvex.loads(written)


def test_deleting_and_refusing_keys_that_are_not_str():
    doc = rt("200: ok\n404: missing\n")
    del doc[200]
    assert doc.to_yaml() == b"404: missing\n"
    with pytest.raises(KeyError, match="200"):
        del doc[200]
    with pytest.raises(TypeError):
        doc[[1]]
    with pytest.raises(TypeError, match="cannot convert tuple"):
        doc[(1, 2)] = 1  # no such key, and a tuple cannot become one
    assert [1] not in doc and doc.get([1], "d") == "d"


def test_a_view_under_a_collection_key_stays_live():
    doc = rt("? [a, b]\n: {x: 1}\nother: 2\n")
    view = doc[("a", "b")]
    view["x"] = 5
    del doc["other"]
    assert view.to_dict() == {"x": 5} and doc.node[("a", "b")]["x"].value == 5
    assert torvex.loads(doc.to_yaml()) == {("a", "b"): {"x": 5}}


def test_a_key_written_with_the_text_of_another_key_is_found_by_its_value():
    # `1` and `"1"` share their text; the str key finds the last by text, the int key its own pair.
    doc = rt('1: {n: int}\n"1": {n: str}\n')
    assert doc[1].to_dict() == {"n": "int"} and doc["1"].to_dict() == {"n": "str"}
    doc[1]["n"] = "changed"
    assert torvex.loads(doc.to_yaml()) == {1: {"n": "changed"}, "1": {"n": "str"}}


def test_alias_and_merge_keys_read_as_the_loaded_dict():
    text = "base: &b {x: 1, y: 2}\nname: &k key\nd:\n  <<: *b\n  y: 3\n  *k : aliased\n"
    doc = rt(text)
    assert plain(doc["d"].to_dict()) == torvex.loads(text)["d"]
    assert doc["d"].keys() == ["y", "key", "x"] and list(doc["d"]) == doc["d"].keys()
    assert doc["d"]["key"] == "aliased" and doc["d"]["x"] == 1 and "x" in doc["d"]


@pytest.mark.parametrize(
    "text, kind, length",
    [("a: 1", "mapping", 1), ("- 1\n- 2", "sequence", 2), ("word", "scalar", 1), ("", "stream", 0),
     ("a: 1\n---\n- 2\n---\nx", "stream", 3)],
)
def test_kind_and_length_of_documents(text, kind, length):
    doc = rt(text)
    assert (doc.kind, len(doc)) == (kind, length)
    if kind == "scalar":
        with pytest.raises(TypeError, match="not a mapping or sequence"):
            iter(doc)
    if kind == "stream":
        assert plain(list(doc)) == torvex.loads_all(text)
        with pytest.raises(TypeError, match="single mapping document"):
            doc.items()


def test_kind_of_views_and_nodes_follows_aliases():
    doc = rt("base: &b {x: [1, 2]}\ncopy: *b\nn: 3\n")
    assert (doc["base"].kind, doc["base"]["x"].kind) == ("mapping", "sequence")
    assert (doc.node.kind, doc.node["copy"].kind, doc.node["n"].kind, doc.node["copy"].style) == (
        "mapping", "mapping", "scalar", "alias")


def test_sequences_iterate_over_their_items_and_contain_them():
    doc = rt("- 1\n- {a: 2}\n- [x]\n- null\n")
    items = list(doc)
    assert items[0] == 1 and isinstance(items[1], View) and items[2].to_dict() == ["x"] and items[3] is None
    assert (1 in doc, {"a": 2} in doc, ["x"] in doc, None in doc, 2 in doc) == (True, True, True, True, False)
    items[1]["a"] = 3
    assert doc[1]["a"] == 3
    with pytest.raises(TypeError, match="node is not a mapping"):
        doc.values()


def test_the_loop_body_may_edit_what_it_iterates():
    doc = rt("a: 1\nb: 2\nc: 3\n")
    seen = []
    for key in doc:  # the keys as they were when the loop began
        seen.append(key)
        if key in doc:
            doc[key] = doc[key] * 10
        if key == "a":
            del doc["c"]
            doc["d"] = 4
    assert seen == ["a", "b", "c"] and doc.to_dict() == {"a": 10, "b": 20, "d": 4}
    for key, value in doc.items():
        assert doc[key] == value


def test_threads_share_a_document_while_iterating_and_editing():
    doc = rt("".join(f"k{i}: {i}\n" for i in range(50)))
    failures = []

    def reader():
        for _ in range(200):
            try:
                assert sum(1 for _ in doc) >= 50 and all(isinstance(v, int) for v in doc.values())
            except RuntimeError as error:  # a conflicting access fails at once rather than waiting
                assert "borrowed" in str(error)
            except Exception as error:  # pragma: no cover - reported below
                failures.append(error)

    def writer():
        for i in range(200):
            try:
                doc[f"extra{i % 5}"] = i
            except RuntimeError as error:
                assert "borrowed" in str(error)

    threads = [threading.Thread(target=reader) for _ in range(3)] + [threading.Thread(target=writer)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert not failures
    assert all(doc[f"k{i}"] == i for i in range(50))
    assert torvex.loads(doc.to_yaml()) == doc.to_dict()
