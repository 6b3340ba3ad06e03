"""Annotated loads of the common subset, read straight from the text, against the same loads through the token
list and the composed tree. A document-end marker after a text's last line break leaves every value and position
alone but sends the text down the composed pipeline, so a text loaded with and without one compares the two paths
through the public API: every object's type, value and ten annotations, errors alike."""

import pathlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import torvex
from peers import needs_c_yaml
from test_direct_reading import DATA

ROOT = pathlib.Path(__file__).resolve().parents[2]
SUITE = ROOT.parent / "shared" / "yaml-test-suite"
ANN = torvex.OPT_ANNOTATED | torvex.OPT_ANNOTATE_NUMBERS
MODES = [ANN, ANN | torvex.OPT_YAML_1_1, ANN | torvex.OPT_PYYAML_COMPAT, torvex.OPT_ANNOTATED]
FIELDS = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__", "__offset__", "__end_offset__",
          "__source_tag__", "__source_target__")


def flatten(obj, out):
    """Every object in document order: its type, its annotations (a scalar's style too) and its value."""
    record = [type(obj).__name__, *(getattr(obj, name) for name in FIELDS if hasattr(obj, name))]
    if hasattr(obj, "__style__"):
        record.append(obj.__style__)
    if isinstance(obj, torvex.TorvexTag):
        out.append(("tag", obj.tag))
        flatten(obj.value, out)
    elif isinstance(obj, dict):
        out.append((*record, len(obj)))
        for key, value in obj.items():
            flatten(key, out)
            flatten(value, out)
    elif isinstance(obj, list):
        out.append((*record, len(obj)))
        for item in obj:
            flatten(item, out)
    else:
        out.append((*record, repr(obj)))
    return out


def outcome(text, option):
    try:
        return flatten(torvex.loads_all(text, option=option | torvex.OPT_PASSTHROUGH_TAG), []), \
            flatten(torvex.loads(text, option=option), [])
    except torvex.TorvexError as error:
        return type(error).__name__, str(error)


def assert_paths_agree(text, options=MODES, crlf=True):
    if not text.endswith(b"\n"):
        text += b"\n"
    for variant in (text, text.replace(b"\n", b"\r\n")) if crlf else (text,):
        for option in options:
            assert outcome(variant, option) == outcome(variant + b"...\n", option), option


def suite_cases():
    cases = sorted(SUITE.rglob("in.yaml")) if SUITE.is_dir() else []
    return [pytest.param(p, id=str(p.parent.relative_to(SUITE))) for p in cases if not (p.parent / "error").exists()]


@pytest.mark.parametrize("path", suite_cases())
def test_suite_texts_annotate_alike_on_both_paths(path):
    assert_paths_agree(path.read_bytes())


# Large: in one mode, with their own line breaks.
@pytest.mark.parametrize("path", sorted((ROOT / "bench" / "data").glob("*.yaml")), ids=lambda p: p.name)
def test_benchmark_texts_annotate_alike_on_both_paths(path):
    assert_paths_agree(path.read_bytes(), options=[ANN], crlf=False)


@pytest.mark.parametrize("text", [
    "a: 1\nb:\nc: [x, 'y', \"z\"]\n",
    "- &x {a: 東京, b: [1, 2]}\n- *x\n- k: |\n    body 🚀\n\n  j: >-\n    folded\n    text\n",
    "key: &a\n  inner: 1\nother: *a\ntagged: !t [1, !!str 2]\nlast: !custom value\n",
    "- - nested\n  - again\n- k: v\n  k2:\n  - indentless\n  -\n",
    "héllo: wörld\n'quoted key': \"double\"\nmulti: first\n  second line\n  third\n",
    "---\na: 1\n---\n- b\n---\n",
    "root scalar\n  over lines\n",
])
def test_hand_made_documents_annotate_alike_on_both_paths(text):
    assert_paths_agree(text.encode())


@needs_c_yaml
@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(DATA, st.sampled_from([False, None, True]), st.booleans(), st.sampled_from([2, 4]),
       st.sampled_from([20, 80]), st.booleans())
def test_emitted_documents_annotate_alike_on_both_paths(data, flow, unicode, indent, width, start):
    import yaml

    text = yaml.dump(data, Dumper=yaml.CSafeDumper, default_flow_style=flow, allow_unicode=unicode, indent=indent,
                     width=width, explicit_start=start, sort_keys=False)
    assert_paths_agree(text.encode(), options=[ANN])


@pytest.mark.parametrize("marker", [b"", b"...\n"], ids=["direct", "composed"])
@pytest.mark.parametrize("newline", [b"\n", b"\r\n"], ids=["lf", "crlf"])
def test_positions_locate_every_scalar_in_a_long_text(marker, newline):
    # Lines and offsets run from CPython's small ints through each thread's kept ints to fresh ones (past 16 Ki).
    lines = [b"key%d: 'v\xc3\xa9%d'" % (i, i) for i in range(3000)]
    text = newline.join(lines) + newline + marker
    for _ in range(2):  # the second load takes the kept ints
        document = torvex.loads(text, option=torvex.OPT_ANNOTATED)
        start = 0
        for i, (key, value) in enumerate(document.items()):
            assert (key.__line__, key.__column__, key.__offset__) == (i + 1, 1, start)
            assert (value.__line__, value.__end_line__) == (i + 1, i + 1)
            assert text[key.__offset__:key.__end_offset__] == key.encode()
            assert text[value.__offset__:value.__end_offset__] == b"'" + value.encode() + b"'"
            assert (value.__column__, value.__end_column__) == (len(key) + 3, len(key) + 5 + len(value))
            start += len(lines[i]) + len(newline)


@pytest.mark.parametrize("text, line, column", [
    ("x: !a !b v\n", 1, 4),           # a later tag replaces an earlier one; the node starts at the first
    ("x: &n !b !c v\n", 1, 4),
    ("x:\n  !a\n  !b v\n", 2, 3),     # the first tag on a line of its own
    ("- !a !b [1]\n", 1, 3),
])
def test_a_node_starts_at_its_first_property(text, line, column):
    document = torvex.loads(text, option=ANN | torvex.OPT_PASSTHROUGH_TAG)
    value = document["x"] if isinstance(document, dict) else document[0]
    value = value.value if isinstance(value, torvex.TorvexTag) else value
    assert (value.__line__, value.__column__) == (line, column)
