"""The YAML test suite: error cases must raise TorvexParseError, every other
case must load, and where the suite gives the JSON form, loads_all must equal
its documents (keys compared as JSON prints them)."""

import json
import math
import pathlib

import pytest

import torvex

SUITE = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "yaml-test-suite"


def cases():
    if not SUITE.is_dir():
        return []
    found = []
    for path in sorted(SUITE.rglob("in.yaml")):
        case = path.parent
        found.append(pytest.param(case, id=str(case.relative_to(SUITE))))
    return found


# Cases whose expected result the library deliberately reads otherwise.
DELIBERATE: dict[str, str] = {}


def json_documents(text: str) -> list:
    """The suite's in.json holds zero or more JSON documents one after another."""
    decoder = json.JSONDecoder()
    documents, pos = [], 0
    while True:
        while pos < len(text) and text[pos].isspace():
            pos += 1
        if pos >= len(text):
            return documents
        value, pos = decoder.raw_decode(text, pos)
        documents.append(value)


def as_json(value):
    """Normalises loaded data to what JSON can express: keys as JSON prints them."""
    if isinstance(value, dict):
        return {json_key(k): as_json(v) for k, v in value.items()}
    if isinstance(value, list):
        return [as_json(v) for v in value]
    if isinstance(value, float) and value.is_integer() and not math.isinf(value):
        return value
    return value


def json_key(key):
    if isinstance(key, str):
        return key
    return json.dumps(key)


@pytest.mark.parametrize("case", cases())
def test_suite_case(case: pathlib.Path):
    name = str(case.relative_to(SUITE))
    if name in DELIBERATE:
        pytest.xfail(DELIBERATE[name])
    data = (case / "in.yaml").read_bytes()
    if (case / "error").exists():
        with pytest.raises(torvex.TorvexParseError):
            torvex.loads_all(data)
        return
    loaded = torvex.loads_all(data)
    expected_file = case / "in.json"
    if expected_file.exists():
        expected = json_documents(expected_file.read_text(encoding="utf-8"))
        assert [as_json(d) for d in loaded] == expected


def test_suite_is_present():
    assert len(cases()) > 300
