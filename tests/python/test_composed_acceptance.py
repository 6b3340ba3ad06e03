"""Loads that compose a tree (directives, round trip) accept exactly the texts the plain loader accepts, and a
directive load gives the plain load's data. The composer alone is more lenient than the decoder (two anchors on a
node, a key without its colon, content after a document end, an alias to no anchor): every text of the YAML test
suite, as the call's text and as an included file, checks that none of those reaches the user as data. A round-trip
document keeps aliases as written, so there an alias to no anchor is no error (edits can make one too)."""

from __future__ import annotations

from pathlib import Path

import pytest

import torvex

SUITE = Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
MODES = {"1.2": 0, "1.1": torvex.OPT_YAML_1_1}


def suite_texts() -> list:
    if not SUITE.is_dir():
        return []
    return [pytest.param(p.read_bytes(), id=str(p.parent.relative_to(SUITE))) for p in sorted(SUITE.rglob("in.yaml"))]


def outcome(text, option, **kwargs):
    try:
        return "data", repr(torvex.loads(text, option=option, **kwargs))
    except torvex.TorvexError as error:
        return "error", type(error).__name__


@pytest.mark.parametrize("mode", MODES)
@pytest.mark.parametrize("text", suite_texts())
def test_composing_loads_accept_what_the_plain_loader_accepts(tmp_path, text, mode):
    option = MODES[mode]
    plain = outcome(text, option)
    assert outcome(text, option | torvex.OPT_ENV_VAR)[0] == plain[0]
    if plain[0] == "data":
        assert outcome(text, option | torvex.OPT_ENV_VAR) == plain
    for extra in (torvex.OPT_ROUND_TRIP, torvex.OPT_ROUND_TRIP | torvex.OPT_ENV_VAR):
        assert outcome(text, option | extra)[0] == plain[0], extra
    # The same text as an included file, read plain or composed (a schema makes every file composed).
    (tmp_path / "inc.yaml").write_bytes(text)
    main = b"one: !include inc.yaml\n"
    for kwargs in ({}, {"schema": {}}):
        got = outcome(main, option | torvex.OPT_INCLUDES, include_dir=str(tmp_path), **kwargs)
        assert got[0] == plain[0], kwargs


@pytest.mark.parametrize("text", [
    "a: 1\nb: *missing\n",
    "a: &x 1\nb:\n  <<: *missing\n  c: 1\n",
    "a:\n  <<: [*missing]\n",
    "? *missing\n: v\n",
])
@pytest.mark.parametrize("option", [torvex.OPT_ENV_VAR, torvex.OPT_ENV_VAR | torvex.OPT_ANNOTATED])
def test_an_alias_to_no_anchor_fails_in_directive_loads(text, option):
    with pytest.raises(torvex.TorvexParseError, match=r"unknown alias: \*missing"):
        torvex.loads(text, option=option)
    assert torvex.loads(text, option=torvex.OPT_ROUND_TRIP).to_yaml() == text.encode()
