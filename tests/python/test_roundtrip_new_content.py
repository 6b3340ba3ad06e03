"""New content written into a round-trip document follows the file's own conventions:
indentation, indented or indentless sequences, quoting and flow or block style of its
siblings; adding a key adds only its lines and deleting one removes only its own."""

import pathlib
import re
import sys

import pytest

import torvex

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "bench"))
import handwritten  # noqa: E402

RT = torvex.OPT_ROUND_TRIP


def rt(text, option=0):
    return torvex.loads(text.encode() if isinstance(text, str) else text, option=RT | option)


def run_of(source: list, out: list):
    """(index, run) when `out` is `source` with one contiguous run inserted (or `source` is `out` with one
    removed); None otherwise."""
    longer, shorter = (out, source) if len(out) >= len(source) else (source, out)
    prefix = 0
    while prefix < len(shorter) and longer[prefix] == shorter[prefix]:
        prefix += 1
    suffix = 0
    while suffix < len(shorter) - prefix and longer[-1 - suffix] == shorter[-1 - suffix]:
        suffix += 1
    if prefix + suffix != len(shorter):
        return None
    return prefix, longer[prefix:len(longer) - suffix]


FOUR = """\
server:
    host: 'example.org'   # public
    ports:
        - 80
        - 443
    limits:
        cpu: '2'

other:
    k: 'v'
"""
INDENTLESS = """\
a:
  b:
  - x
  - y
  c: plain
"""
FLOWING = """\
card:
  entities: [light.a, light.b]
  style: {color: red}
  name: "Hall"
"""


@pytest.mark.parametrize("text, path, key, value, expected", [
    # nested content takes the file's indentation and its sequences' indentation
    (FOUR, ("server",), "new", {"a": {"b": 1}, "list": [1, 2]},
     "    new:\n        a:\n            b: 1\n        list:\n            - 1\n            - 2\n"),
    (INDENTLESS, ("a",), "d", {"e": ["p", "q"]}, "  d:\n    e:\n    - p\n    - q\n"),
    # strings take the quotes the siblings use, where the text allows them
    (FOUR, ("server",), "name", "yes", "    name: 'yes'\n"),
    (FOUR, ("server",), "name", "it's", "    name: it's\n"),
    (FOUR, ("server",), "name", "it's: here", "    name: \"it's: here\"\n"),
    (FOUR, ("server",), "port", 8080, "    port: 8080\n"),
    (INDENTLESS, ("a",), "e", "yes", "  e: \"yes\"\n"),
    (INDENTLESS, ("a",), "e", "text", "  e: text\n"),
    # collections take the flow style their siblings use
    (FLOWING, ("card",), "more", ["light.c", "x: y"], "  more: [light.c, \"x: y\"]\n"),
    (FLOWING, ("card",), "size", {"w": 1}, "  size: {w: 1}\n"),
])
def test_added_key_takes_its_siblings_conventions(text, path, key, value, expected):
    doc = rt(text)
    view = doc
    for segment in path:
        view = view[segment]
    view[key] = value
    written = doc.to_yaml().decode()
    at, run = run_of(text.splitlines(keepends=True), written.splitlines(keepends=True))
    assert "".join(run) == expected, written
    assert torvex.loads(written) == doc.to_dict()
    assert doc.to_dict()[path[0]][key] == value


@pytest.mark.parametrize("text, path, value, expected_line", [
    (FOUR, ("server", "host"), "new.example.org", "    host: 'new.example.org'   # public\n"),
    (FOUR, ("server", "host"), "it's", "    host: \"it's\"   # public\n"),
    (FLOWING, ("card", "name"), "Porch", "  name: \"Porch\"\n"),
    (FLOWING, ("card", "entities"), ["light.c"], "  entities: [light.c]\n"),
    (FLOWING, ("card", "style"), {"color": "blue", "w": 2}, "  style: {color: blue, w: 2}\n"),
    (INDENTLESS, ("a", "c"), "yes", "  c: \"yes\"\n"),
])
def test_replaced_value_keeps_its_quotes_and_style(text, path, value, expected_line):
    doc = rt(text)
    parent = doc
    for segment in path[:-1]:
        parent = parent[segment]
    parent[path[-1]] = value
    written = doc.to_yaml().decode()
    source, out = text.splitlines(keepends=True), written.splitlines(keepends=True)
    changed = [line for line, old in zip(out, source) if line != old]
    assert len(out) == len(source) and changed == [expected_line], written
    assert torvex.loads(written) == doc.to_dict()


def test_replaced_collection_keeps_its_indentation():
    doc = rt(FOUR)
    doc["server"]["ports"] = [8080, 8443]
    doc["server"]["limits"] = {"cpu": "4", "memory": "1G"}
    assert doc.to_yaml().decode() == FOUR.replace("80\n        - 443", "8080\n        - 8443").replace(
        "cpu: '2'\n", "cpu: '4'\n        memory: 1G\n")


def test_node_value_follows_the_same_conventions():
    doc = rt(FOUR)
    doc.node["server"]["host"].value = "example.net"
    assert b"    host: 'example.net'   # public\n" in doc.to_yaml()


def key_paths(doc):
    """Paths of every mapping key on the way to a leaf of the first root, in document order."""
    paths = []
    for path, _value in doc.walk():
        for depth in range(1, len(path) + 1):
            if isinstance(path[depth - 1], str) and path[:depth] not in paths:
                paths.append(path[:depth])
    return paths


def at(root, path):
    for segment in path:
        root = root[segment]
    return root


CORPUS = [text for _name, text in handwritten.corpus(seed=11, count=40)]


def key_line(key: str) -> re.Pattern:
    return re.compile(rb"^[ \t]*(?:- |\? )?" + re.escape(key.encode()) + rb"[ \t]*(?::|\r?\n)")


def removed_run(source: list, out: list):
    """The lines removed when `out` is `source` less one contiguous run; when the run began with an entry's
    `- key:` line, the next line takes its `- `. None when `out` is neither."""
    found = run_of(source, out)
    if found is not None and len(out) < len(source):
        return found[1]
    first = next((i for i, (a, b) in enumerate(zip(source, out)) if a != b), None)
    dash = first is not None and re.match(rb"^[ \t]*- ", source[first])
    if not dash:
        return None
    prefix = dash.group(0)
    for j in range(first + 1, len(source)):
        if source[j][:len(prefix)].strip() == b"" and out[first] == prefix + source[j][len(prefix):]:
            if out[first + 1:] == source[j + 1:]:
                return source[first:j]
    return None


@pytest.mark.parametrize("text", CORPUS, ids=range(len(CORPUS)))
def test_deleting_a_key_removes_only_its_own_lines(text):
    source = text.splitlines(keepends=True)
    probe = rt(text)
    for path in key_paths(probe)[::2]:
        parent = at(probe.node, path[:-1])
        # an only key leaves `{}` behind, on its parent's line
        if parent.style == "flow" or "<<" in parent or len(at(probe, path[:-1])) < 2:
            continue
        value = at(probe.node, path)
        if value.anchor or b"&" in text[value.offset:value.end_offset]:
            continue  # its aliases elsewhere become copies of what it held

        doc = rt(text)
        del at(doc, path[:-1])[path[-1]]
        written = doc.to_yaml()
        removed = removed_run(source, written.splitlines(keepends=True))
        assert removed, (path, written)
        # the run removed is the key's own: its line first among its content lines, comments above it
        content = [line for line in removed if line.strip() and not line.lstrip().startswith(b"#")]
        assert key_line(path[-1]).match(content[0]), (path, removed)
        assert torvex.loads(written) == doc.to_dict(), (path, written)


@pytest.mark.parametrize("text", CORPUS, ids=range(len(CORPUS)))
def test_adding_a_key_adds_only_its_own_lines(text):
    source = text.splitlines(keepends=True)
    probe = rt(text)
    for parent in sorted({path[:-1] for path in key_paths(probe)}, key=len)[::2]:
        node = at(probe.node, parent)
        if node.style == "flow":
            continue
        # a mapping written in block style takes four lines, in flow style (as its siblings) one
        for value, lines in (("added text", {1}), ({"inner": [1, 2]}, {1, 4})):
            doc = rt(text)
            at(doc, parent)["zz_added"] = value
            written = doc.to_yaml()
            found = run_of(source, written.splitlines(keepends=True))
            assert found is not None and len(found[1]) in lines, (parent, written)
            first = found[1][0]
            assert first.startswith(b" " * (node.column - 1) + b"zz_added:"), (parent, written)
            assert torvex.loads(written) == doc.to_dict(), (parent, written)
