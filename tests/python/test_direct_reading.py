"""Loads of the common subset (read straight onto the tape, without a token list) against the token-list path and
against PyYAML, on what PyYAML's emitter writes for random data: block and flow styles, indentless sequences,
plain, quoted and multi-line strings, anchors and aliases for shared objects.

A document-end marker at the end of a text leaves its values alone but sends it down the token-list path, so a text
loaded with and without one compares the two paths through the public API: values, errors and warnings alike."""

import logging

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import torvex
from peers import needs_c_yaml
from test_yaml11_numbers import kept_difference

TEXT = st.text(st.characters(codec="utf-8", categories=("L", "N", "P", "S", "Zs")) | st.sampled_from("\n\t:#-'\""),
               max_size=30)
WORDS = st.from_regex(r"[a-z][a-z0-9_ ./-]{0,10}", fullmatch=True)  # mostly plain when written
SCALARS = (st.none() | st.booleans() | st.integers(-(2**70), 2**70) | st.floats(allow_nan=False) | TEXT | WORDS)
TREES = st.recursive(SCALARS, lambda children: st.lists(children, max_size=4)
                     | st.dictionaries(WORDS | TEXT, children, max_size=4), max_leaves=20)
# A collection that appears twice is written once with an anchor, then as an alias.
DATA = TREES | TREES.map(lambda tree: {"first": [tree], "again": [tree]})

OPTIONS = [0, torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN | torvex.OPT_DUPLICATE_KEYS_WARN,
           torvex.OPT_PYYAML_COMPAT | torvex.OPT_DUPLICATE_KEYS_ERROR | torvex.OPT_REJECT_COMPLEX_KEYS]


def outcome(text, option, caplog):
    caplog.clear()
    with caplog.at_level(logging.WARNING, logger="torvex"):
        try:
            value = ("value", torvex.loads(text, option=option))
        except torvex.TorvexError as error:
            value = ("error", type(error).__name__, str(error))
    return value, [record.getMessage() for record in caplog.records]


@needs_c_yaml
@settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow, HealthCheck.function_scoped_fixture])
@example(data={"0:0": ["1e3", "0:0"]}, flow=False, unicode=False, indent=2, width=20, start=False)
@given(DATA, st.sampled_from([False, None, True]), st.booleans(), st.sampled_from([2, 4]),
       st.sampled_from([20, 80, 10_000]), st.booleans())
def test_emitted_documents_load_as_pyyaml_reads_them_on_both_paths(caplog, data, flow, unicode, indent, width,
                                                                   start):
    import yaml

    text = yaml.dump(data, Dumper=yaml.CSafeDumper, default_flow_style=flow, allow_unicode=unicode, indent=indent,
                     width=width, explicit_start=start, sort_keys=False)
    for option in OPTIONS:
        assert outcome(text, option, caplog) == outcome(text + "\n...\n", option, caplog)
    # PyYAML's reading, but where a string is one the PyYAML-compatible mode reads otherwise on purpose
    # (`0:30` is a sexagesimal 30; PyYAML wants its first digit non-zero).
    if not any(read_otherwise_on_purpose(s) for s in strings_in(data)):
        assert torvex.loads(text, option=torvex.OPT_PYYAML_COMPAT) == yaml.load(text, Loader=yaml.CSafeLoader)


def strings_in(tree):
    if isinstance(tree, str):
        yield tree
    elif isinstance(tree, dict):
        for key, value in tree.items():
            yield from strings_in(key)
            yield from strings_in(value)
    elif isinstance(tree, list):
        for item in tree:
            yield from strings_in(item)


def read_otherwise_on_purpose(text):
    try:
        ours = torvex.loads(text, option=torvex.OPT_PYYAML_COMPAT)
    except torvex.TorvexError:
        return False
    return kept_difference(text, torvex.OPT_PYYAML_COMPAT, ours, text) is not None


@pytest.mark.parametrize("text", [
    "a: 1\nb: [1, 2]\nc: {d: e}\n",
    "- &x {a: 1}\n- *x\n- k: |\n    body\n  j: 'q''s'\n",
    "on: yes\nn: 0o17\non: 010\nx: 1\nx: [1]\n",
    "a: \"esc\\t\"\nb: plain\n  continued\nc:\n- 1\n- 2\n",
    "a: b: c\n",
    "a:\n  - x\n  y: 1\n",
    "k: [a,\nb]\n",
    "a: 'x'y\n",
    "a: !!str 1\nb: !!int '0o17'\nc: !!bool on\nd: !!float .5\ne: !custom x\nf: ! [1, !!str 2]\n",
    "- !t {a: !!binary aGk=}\n- !!str |\n  block\n- !!merge <<\n- !!null\n- !a!b c\n",
    "help:\n  The name of\n  the thing.\nnext:\n  'q'\nlist:\n  [1, 2]\nbad:\n  x\n y\n",
    "a plain scalar\n  over lines\n\n# and a comment\n",
])
@pytest.mark.parametrize("option", OPTIONS)
def test_hand_made_documents_read_alike_on_both_paths(caplog, text, option):
    assert outcome(text, option, caplog) == outcome(text + "\n...\n", option, caplog)
