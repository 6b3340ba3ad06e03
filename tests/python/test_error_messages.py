"""The mistakes people make most when editing YAML by hand: each must be named by its message at the line and
column of the character at fault, and every loading path (plain, annotated, round-trip, directives, the
command line's check) must report the same. Over the YAML test suite: every error case still fails, and none
gets the generic message where the indentation rules here name the slip."""

from __future__ import annotations

import os
import pathlib
import subprocess
import sys

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import torvex

SUITE = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "yaml-test-suite"

GENERIC = "a block collection cannot be a mapping key"
KEY_MORE = "a mapping key is indented more than its siblings"
KEY_LESS = "a mapping key is indented less than its siblings"
ENTRY_LESS = "a sequence entry is indented less than its siblings"
COLON_IN_VALUE = "a plain value cannot contain ': ' on its key's line; quote the value"
TAB = "a tab cannot be used for indentation"

# (name, text, message, line, column): 1-based positions of the character at fault.
MISTAKES = [
    ("colon in value", "a: b: c\n", COLON_IN_VALUE, 1, 5),
    ("colon in url", "url: http://host:80/x: y\n", COLON_IN_VALUE, 1, 22),
    ("colon in sequence item", "- name: a: b\n", COLON_IN_VALUE, 1, 10),
    ("quoted value then colon", 'a: "b": c\n', "a block mapping cannot start on the same line as its mapping key", 1, 7),
    ("tab before key", "a: 1\n\tb: 2\n", TAB, 2, 2),
    ("tab before entry", "a:\n\t- 1\n", TAB, 2, 2),
    ("key one space too far", "a: 1\n a: 2\n", KEY_MORE, 2, 2),
    ("key too far after quoted value", 'a: "x"\n b: 1\n', KEY_MORE, 2, 2),
    ("key too far after block scalar", "a: |\n  x\n b: 2\n", KEY_MORE, 3, 2),
    ("key lines up with no mapping", "a:\n  b: 1\n c: 2\n", KEY_LESS, 3, 2),
    ("entry less than siblings", "a:\n  - 1\n - 2\n", ENTRY_LESS, 3, 2),
    ("key after entries without dash", '- "a"\n  b: 1\n', KEY_MORE, 2, 3),
    ("key short of nested entries", "-\n  - a\n b: 1\n", KEY_LESS, 3, 2),
    ("item without dash", '- "a"\n  "b"\n', "a block sequence entry must start with '- '", 2, 3),
    ("missing space after dash", "- a\n-b\n", "a sequence entry needs a space after '-'", 2, 1),
    ("missing space after nested dash", "a:\n  - 1\n  -2\n", "a sequence entry needs a space after '-'", 3, 3),
    ("missing space after colon", "a: 1\nb:2\n", "expected ':' after mapping key", 2, 1),
    ("list and map mixed", "k: v\n- x\n", GENERIC, 2, 1),
    ("quotes inside double quotes", 'a: "say "hi""\n', "unexpected content after quoted scalar", 1, 10),
    ("quote inside single quotes", "a: 'it's'\n", "unexpected content after quoted scalar", 1, 8),
    ("unclosed double quote", 'a: "x\n', "unterminated double-quoted scalar", 1, 4),
    ("unclosed single quote", "a: 'x\n", "unterminated single-quoted scalar", 1, 4),
    ("unclosed bracket", "a: [1, 2\n", "unclosed flow collection at end of input", 2, 1),
    ("mismatched bracket", "a: [1, 2}\n", "mismatched flow collection: '}' cannot close a '['", 1, 9),
    ("stray closing bracket", "a: ]\n", "unexpected ']' with no open flow collection", 1, 4),
    ("missing comma", "a: ['x' y]\n", "missing ',' between flow collection entries", 1, 9),
    ("comment glued to quoted value", 'a: "x"# note\n', "a comment must be preceded by whitespace", 1, 7),
    ("document start after key", "a: 1\n--- b: 2\n", "a block collection cannot start on the same line as ---", 2, 6),
    ("document marker in flow", "[1,\n---\n]\n", "a document marker is not allowed inside a flow collection", 2, 1),
    ("content after document end", "a: 1\n... b\n", "unexpected content after document-end marker (...)", 2, 5),
    ("yaml directive junk", "%YAML 1.2 x\n---\na: 1\n", "invalid %YAML directive", 1, 1),
    ("yaml directive twice", "%YAML 1.2\n%YAML 1.2\n---\na: 1\n", "duplicate %YAML directive", 2, 1),
    ("yaml directive without document", "%YAML 1.2\na: 1\n", "directive must be followed by a document start (---)", 2, 1),
    ("yaml directive after content", "a: 1\n%YAML 1.2\n---\nb: 2\n",
     "a directive must start the stream or follow a document-end marker (...)", 2, 1),
    ("list on its key's line", "a: - 1\n", "a block sequence cannot start on the same line as its mapping key", 1, 4),
    ("reserved indicator", "a: @x\n", "'@' is a reserved indicator and cannot start a plain scalar", 1, 4),
]
ROWS = [pytest.param(text, message, line, column, id=name) for name, text, message, line, column in MISTAKES]


def caught(call) -> torvex.TorvexError:
    with pytest.raises(torvex.TorvexError) as info:
        call()
    return info.value


@pytest.mark.parametrize("text, message, line, column", ROWS)
def test_plain_annotated_and_round_trip_name_the_slip(text, message, line, column):
    data = text.encode()
    for option in (0, torvex.OPT_ANNOTATED, torvex.OPT_ROUND_TRIP):
        error = caught(lambda: torvex.loads(data, option=option))
        assert isinstance(error, torvex.TorvexParseError), option
        assert str(error) == f"{message} at line {line}, column {column}", option
        assert (error.line, error.column, error.file) == (line, column, None), option


def same_slip(error: torvex.TorvexError, message: str, line: int, column: int, path: pathlib.Path) -> None:
    """The directive loader reports a slip the scanner finds as an include error naming the file, and one the
    parser finds as a parse error; either way with the message and position a plain load gives."""
    assert (error.line, error.column) == (line, column)
    if isinstance(error, torvex.TorvexIncludeError):
        assert str(error).split("\n")[0] == f"{message} in {path}"
        assert error.file == str(path)
    else:
        assert isinstance(error, torvex.TorvexParseError)
        assert str(error) == f"{message} at line {line}, column {column}"


@pytest.mark.parametrize("text, message, line, column", ROWS)
def test_directive_loading_names_the_same_slip(tmp_path, text, message, line, column):
    root, included = tmp_path / "configuration.yaml", tmp_path / "part.yaml"
    root.write_text(text)
    included.write_text(text)
    for path, loaded in ((root, text.encode()), (included, b"part: !include part.yaml\n")):
        error = caught(lambda: torvex.loads(loaded, option=torvex.OPT_INCLUDES | torvex.OPT_ANNOTATED,
                                            include_dir=str(tmp_path), root_path=str(root)))
        same_slip(error, message, line, column, path)
        if path == included:
            assert error.file == str(included)


def test_check_prints_every_slip_as_file_line_column(tmp_path):
    names = []
    for index, (_, text, _, _, _) in enumerate(MISTAKES):
        names.append(f"m{index:02d}.yaml")
        (tmp_path / names[-1]).write_text(text)
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    done = subprocess.run([sys.executable, "-m", "torvex", "check", *names], cwd=tmp_path, capture_output=True,
                          env=env)
    assert done.returncode == 1
    expected = [f"{name}:{line}:{column}: {message}" for name, (_, _, message, line, column) in zip(names, MISTAKES)]
    assert done.stderr.decode().splitlines() == expected


def suite_error_cases():
    if not SUITE.is_dir():
        return []
    return [pytest.param(path.read_bytes(), id=str(path.parent.relative_to(SUITE)))
            for path in sorted(SUITE.rglob("in.yaml")) if (path.parent / "error").exists()]


@pytest.mark.parametrize("data", suite_error_cases())
def test_suite_error_cases_fail_alike_on_every_path(data):
    """Each error case fails with one message and position on the plain, annotated and round-trip paths, and
    the generic message never stands where a key or entry lines up with none of the collections around it."""
    errors = [caught(lambda: torvex.loads_all(data)), caught(lambda: torvex.loads_all(data, option=torvex.OPT_ANNOTATED)),
              caught(lambda: torvex.loads(data, option=torvex.OPT_ROUND_TRIP))]
    assert len({(str(e), e.line, e.column) for e in errors}) == 1
    first = errors[0]
    if str(first).startswith(GENERIC):
        lines = data.decode().split("\n")
        at = lines[first.line - 1]
        # The generic message is left for a collection at the column of the one before it.
        assert at[first.column - 1] in "-" or at[:first.column - 1].strip() == "", str(first)


# ---- slips made in generated configuration files ---------------------------------------------------------------

NAMES = st.text(alphabet="abcdefghij", min_size=1, max_size=4)
SCALARS = st.one_of(st.integers(-99, 99), NAMES, st.sampled_from(["yes", "null", "1.5", "a b"]))
CONFIGS = st.recursive(
    st.dictionaries(NAMES, SCALARS, min_size=1, max_size=4),
    lambda inner: st.dictionaries(NAMES, st.one_of(SCALARS, inner, st.lists(SCALARS, max_size=3)), min_size=1,
                                  max_size=4),
    max_leaves=20)


def key_line(line: str) -> int | None:
    """The column of a line's key when the line is `key: ...` or `key:` (no sequence dash), else None."""
    stripped = line.lstrip(" ")
    if stripped.startswith("- ") or stripped == "-" or ":" not in stripped:
        return None
    return len(line) - len(stripped)


def entry_column(line: str) -> int | None:
    stripped = line.lstrip(" ")
    return len(line) - len(stripped) if stripped.startswith("- ") else None


def depth(line: str) -> int:
    return len(line) - len(line.lstrip(" -"))


def slips(lines: list[str]):
    """(changed line index, new line, message, 1-based column) for every slip that can be made at a line."""
    for i in range(1, len(lines)):
        line, before = lines[i], lines[i - 1]
        column, entry = key_line(line), entry_column(line)
        # The previous line belongs to the same collection: a sibling or something nested in one.
        inside = depth(before) >= depth(line) and not (before.endswith(":") and depth(before) == depth(line))
        if column is not None:
            if key_line(before) == column and not before.endswith(":"):
                yield i, " " + line, KEY_MORE, column + 2
            if column > 0:
                yield i, line[:column - 1] + "\t" + line[column:], TAB, column + 1
                if inside:
                    yield i, line[1:], KEY_LESS, column
        elif entry is not None and entry > 0 and inside and key_line(lines[i - 1]) != entry:
            yield i, line[1:], ENTRY_LESS, entry


@settings(suppress_health_check=[HealthCheck.too_slow])
@given(CONFIGS, st.data())
def test_slips_in_generated_configurations_are_named_where_made(config, data):
    lines = torvex.dumps(config).decode().split("\n")
    assert torvex.loads("\n".join(lines)) == config
    made = list(slips(lines))
    assume(made)
    i, changed, message, column = data.draw(st.sampled_from(made))
    text = "\n".join(lines[:i] + [changed] + lines[i + 1:])
    error = caught(lambda: torvex.loads(text))
    assert (str(error), error.line, error.column) == (f"{message} at line {i + 1}, column {column}", i + 1, column)
    rt = caught(lambda: torvex.loads(text, option=torvex.OPT_ROUND_TRIP))
    assert (str(rt), rt.line, rt.column) == (str(error), error.line, error.column)
