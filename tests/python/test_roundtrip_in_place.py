"""Edited leaves written in place: after assigning a new value to one leaf, the written text is the text as
read with that leaf's text replaced, byte for byte, whatever layout the rest of the file has."""
from __future__ import annotations

from pathlib import Path

import pytest

import torvex

RT = torvex.OPT_ROUND_TRIP


def assign(target, path, value):
    for segment in path[:-1]:
        target = target[segment]
    target[path[-1]] = value


def swap(source: bytes, old: bytes, new: bytes) -> bytes:
    """The source with its one stretch `old` replaced."""
    assert source.count(old) == 1, old
    return source.replace(old, new)


def case(source, path, value, old, new, name):
    return pytest.param(source, path, value, swap(source, old, new), id=name)


# (source, path, new value, the written text expected)
LAYOUTS = [
    case(b"light:   \n  entity_id: \n  lights:\n    - light.den   \nlevel: 10  \n",
         ("level",), 11, b"10", b"11", "trailing blanks"),
    case(b"action:\n\n  - wait_template: x\n    timeout: 5\n\n  - service: on\n",
         ("action", 0, "timeout"), 6, b"5", b"6", "blank line after key"),
    case(b"patreon: # your name\nko_fi:  \nname: me\n", ("name",), "you", b": me", b": you", "empty values with comments"),
    case(b"request:  &request\n  method: GET\nraw:  !!str  text\n", ("request", "method"), "POST",
         b"GET", b"POST", "spaces before properties"),
    case(b"? very-long-key\n: value\nother: 1\n", ("very-long-key",), "new", b"value", b"new", "explicit key"),
    case(b"cards:\n    - type: entities\n      entities:\n      - light.a\n    - type: gauge\n      max: 100\n",
         ("cards", 1, "max"), 120, b"100", b"120", "dashboard sequences"),
    case(b"entities: [light.a,\n    light.b,  light.c]  # three\n", ("entities", 1), "light.x",
         b"light.b", b"light.x", "multi-line flow sequence"),
    case(b"m: { x: 1,\n     y: 2 }\n", ("m", "y"), "a: b", b"2", b'"a: b"', "quoted inside flow"),
    case(b"a: 1\t#\tnote\r\nb: 2\r\n\r\n#\tend\r\n", ("b",), 3, b"2", b"3", "crlf and tabs"),
    case(b"a: &x 1\nb: 'quoted'   # c\n", ("a",), 2, b"1", b"2", "anchor kept"),
    case(b"a: !!int 1\nb: 2\n", ("a",), "one", b"!!int 1", b"one", "core tag dropped"),
    case(b"a: 5  # c\nb: 1\n", ("a",), None, b" 5", b" null", "none next to a comment"),
    case(b"a:\nb: 1\n", ("a",), "set", b"a:", b"a: set", "empty value given one"),
    case(b"s: |2\n    indented\n   text\nn: 1\n", ("s",), "  indented\n more\n", b"text", b"more",
         "block scalar with indicator"),
    case(b"s: >- # why\n  one\n\n  two\nn: 1\n", ("s",), "one\ntwo and three", b"two", b"two and three",
         "folded keeps header"),
    case(b"s: > # why\n  long\n  text\n\nn: 1\n", ("s",), "short", b"> # why\n  long\n  text\n",
         b"short # why\n", "block scalar to one line"),
]


@pytest.mark.parametrize("source, path, value, expected", LAYOUTS)
def test_one_leaf_edit_replaces_only_that_leaf(source, path, value, expected):
    doc = torvex.loads(source, option=RT)
    assign(doc, path, value)
    written = doc.to_yaml()
    assert written == expected
    # It reads as the source does with the same edit made in its data.
    data = torvex.loads(source)
    assign(data, path, value)
    assert torvex.loads(written) == data


def test_later_edits_of_an_edited_leaf_are_not_lost():
    """The place of an edited leaf is kept, but its comment, anchor and value as edited later are written."""
    source = b"a: 1  # old\nb: 2\nc: 3\n"
    doc = torvex.loads(source, option=RT)
    doc["a"] = 10
    doc.node["a"].comment = "new"
    doc["b"] = 20
    doc.node["b"].anchor = "bee"
    doc["c"] = 30
    doc["c"] = 31
    written = doc.to_yaml()
    assert b"# new" in written and b"# old" not in written
    assert b"&bee 20" in written and written.endswith(b"c: 31\n")
    assert torvex.loads(written) == {"a": 10, "b": 20, "c": 31}


def test_a_detached_alias_takes_the_alias_place():
    source = b"base: &x [1,\n  2]\nuse:   *x\nlast: 2  \n"
    doc = torvex.loads(source, option=RT)
    doc.node["use"].detach()
    assert doc.to_yaml() == b"base: &x [1,\n  2]\nuse:   [1, 2]\nlast: 2  \n"


def test_structural_edits_still_write_the_tree():
    """Only replaced leaves are placed; a new key is written by the tree writer and reads right."""
    source = b"a:  1  \nb: [1,\n  2]\n"
    doc = torvex.loads(source, option=RT)
    doc["c"] = {"d": 1}
    assert torvex.loads(doc.to_yaml()) == {"a": 1, "b": [1, 2], "c": {"d": 1}}


INCLUDED = b"# sensors\n- name: hall   \n  platform: template\n\n- name: attic  # top\n  limits: [1,\n    2]\n"


def test_save_writes_an_included_file_with_only_the_edited_line_changed(tmp_path: Path):
    (tmp_path / "configuration.yaml").write_bytes(b"sensor: !include sensors.yaml\nname:   home \n")
    (tmp_path / "sensors.yaml").write_bytes(INCLUDED)
    doc = torvex.loads((tmp_path / "configuration.yaml").read_bytes(), option=RT | torvex.OPT_INCLUDES,
                       include_dir=str(tmp_path))
    doc["sensor"][1]["limits"][1] = 3
    expected = INCLUDED.replace(b"    2]", b"    3]")
    assert list(torvex.dump_includes_map(doc).values()) == [expected]
    assert doc.save() == [str(tmp_path / "sensors.yaml")]
    assert (tmp_path / "sensors.yaml").read_bytes() == expected
    assert (tmp_path / "configuration.yaml").read_bytes() == b"sensor: !include sensors.yaml\nname:   home \n"


DASHBOARD = (b"title: home  \nviews:\n    - cards:\n        - type: gauge\n          max: 100\n"
             b"        - type: entities   \n          entities:\n          - light.a\n")


@pytest.mark.parametrize("edit, old, new", [
    (lambda doc: doc["views"][0]["cards"][0].__setitem__("min", 0), b"max: 100\n", b"max: 100\n          min: 0\n"),
    (lambda doc: doc["views"][0]["cards"][0].__delitem__("max"), b"          max: 100\n", b""),
    (lambda doc: doc["views"][0]["cards"][0].__setitem__("max", [1, 2]), b"max: 100\n",
     b"max:\n              - 1\n              - 2\n"),  # four columns past the key, as `views:` and `cards:`
], ids=["key added", "key deleted", "leaf made a sequence"])
def test_an_edit_that_cannot_be_placed_rewrites_only_the_collection_around_it(edit, old, new):
    """The smallest block collection around the edit is written afresh; every line outside it stays as read
    (the blanks after `home` and `entities`, the four-column sequences)."""
    doc = torvex.loads(DASHBOARD, option=RT)
    edit(doc)
    written = doc.to_yaml()
    if new is None:  # new content: indented as the file indents (not pinned here); the rest as read
        at = DASHBOARD.index(old)
        assert written.startswith(DASHBOARD[:at + 4]) and written.endswith(DASHBOARD[at + len(old):])
    else:
        assert written == swap(DASHBOARD, old, new)
    assert torvex.loads(written) == doc.to_dict()


@pytest.mark.parametrize("source", [b"s: |\n\nn: 1\n", b"s: >+\n  a\n\n\nn: 1\n", b"s: |-\n  a\n   \n", b"s: |2\n   a\nn: 1"],
                         ids=["no content lines", "keep chomping", "deeper blank line", "no final break"])
@pytest.mark.parametrize("value", ["x\ny\n", " lead\ny", "one line", "x\n\n\n"])
def test_block_scalars_of_every_shape_take_any_text(source, value):
    doc = torvex.loads(source, option=RT)
    doc["s"] = value
    written = doc.to_yaml()
    assert torvex.loads(written) == {**torvex.loads(source), "s": value}
    assert written.endswith(b"n: 1\n" if b"n: 1\n" in source else (b"n: 1" if b"n: 1" in source else b""))


def test_empty_values_with_comments_stay_empty_where_the_tree_writer_writes():
    source = b"card:\n  name: # your name\n  items:\n  - # none yet\n  max: 1\n"
    doc = torvex.loads(source, option=RT)
    doc["card"]["min"] = 0
    written = doc.to_yaml()
    assert written == source + b"  min: 0\n"
    assert torvex.loads(written) == {"card": {"name": None, "items": [None], "max": 1, "min": 0}}
