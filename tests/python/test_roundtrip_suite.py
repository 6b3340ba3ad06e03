"""Round-trip documents over the whole YAML test suite: an unedited document is
its input byte for byte, and after an edit the written text loads to what the
original text loads to with the same edit made in it."""

import math
import pathlib

import pytest

import torvex

SUITE = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "yaml-test-suite"
RT = torvex.OPT_ROUND_TRIP
NEW_TEXT = "edited_value_17"


def valid_cases():
    if not SUITE.is_dir():
        return []
    return [pytest.param(p.parent, id=str(p.parent.relative_to(SUITE)))
            for p in sorted(SUITE.rglob("in.yaml")) if not (p.parent / "error").exists()]


def comparable(value):
    """Loaded data with NaN made equal to itself."""
    if isinstance(value, dict):
        return {comparable(k): comparable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return type(value)(comparable(v) for v in value)
    if isinstance(value, float) and math.isnan(value):
        return "<nan>"
    return value


def node_at(doc, path):
    node = doc.node
    for segment in path:
        node = node[segment]
    return node


def editable_leaves(text: bytes):
    """Paths of scalar leaves whose source text can be swapped for a plain word."""
    doc = torvex.loads(text, option=RT)
    leaves = []
    for path, _ in doc.walk():
        node = node_at(doc, path)
        if node.style in ("null", "alias") or (node.tag or "").startswith(("!!", "tag:")) or node.tag == "!":
            continue
        leaves.append((path, node.offset, node.end_offset, node.style))
    return leaves


def replaced(text: bytes, start: int, end: int, style: str) -> bytes:
    word = NEW_TEXT.encode() + (b"\n" if style in ("literal", "folded") else b"")
    return text[:start] + word + text[end:]


@pytest.mark.parametrize("case", valid_cases())
def test_unedited_document_is_its_input(case):
    text = (case / "in.yaml").read_bytes()
    doc = torvex.loads(text, option=RT)
    assert doc.to_yaml() == text
    assert torvex.dumps(doc) == text


@pytest.mark.parametrize("line_end", [b"\n", b"\r\n"], ids=["lf", "crlf"])
@pytest.mark.parametrize("case", valid_cases())
def test_edited_leaf_reloads_like_the_edited_source(case, line_end):
    text = (case / "in.yaml").read_bytes().replace(b"\n", line_end)
    leaves = editable_leaves(text)
    for path, start, end, style in {id(x): x for x in leaves[:1] + leaves[-1:]}.values():
        doc = torvex.loads(text, option=RT)
        node_at(doc, path).value = NEW_TEXT
        written = doc.to_yaml()
        expected = torvex.loads_all(replaced(text, start, end, style))
        assert comparable(torvex.loads_all(written)) == comparable(expected), written
        if line_end == b"\r\n" and b"\n" in text:  # a file read with CRLF is written with CRLF only
            assert written.count(b"\n") == written.count(b"\r\n"), written


@pytest.mark.parametrize("case", valid_cases())
def test_leaf_given_its_own_value_reloads_unchanged(case):
    text = (case / "in.yaml").read_bytes()
    if b"%YAML 1.1" in text:
        pytest.skip("values are read back under YAML 1.2 rules")
    leaves = editable_leaves(text)
    if not leaves:
        doc = torvex.loads(text, option=RT)
        if len(doc.walk()) == 0:
            pytest.skip("no leaf to edit")
    doc = torvex.loads(text, option=RT)
    path = (leaves[0][0] if leaves else doc.walk()[0][0])
    node = node_at(doc, path)
    node.value = node.value
    written = doc.to_yaml()
    assert comparable(torvex.loads_all(written)) == comparable(torvex.loads_all(text)), written
