"""One-line edits: load a text with OPT_ROUND_TRIP, give one leaf a new value of its kind
through item access, write it back, and see what changed.

An edit is good when every line outside the leaf's own source lines is written as read
and the leaf's lines are replaced by lines holding the new value (one line for a leaf
on one line), and the written text loads to what the source loads to with the same
leaf changed in it.

Leaves are every scalar reached by `walk()` in every document. A few are not edited,
each under a named rule, counted (EXCLUSION_RULES); the rules look at the leaf alone,
never at how its edit came out.

    measure(text, tally, limit=None) -> tally     edits the leaves of one text
    head_of(text, size) -> bytes                 the first whole entries of a large file
    Tally.rate, Tally.good, Tally.edits, Tally.excluded, Tally.failed

Used by tests/python/test_roundtrip_edit_lines.py and bench/run.py.
"""

from __future__ import annotations

import collections
import difflib
import math
import re
from dataclasses import dataclass, field

import torvex

RT = torvex.OPT_ROUND_TRIP
NEW_WORD = "edited value"
LINE_BREAK = re.compile(rb"\r\n|\r|\n")
LONE_CR = re.compile(rb"\r(?!\n)")

# Rules under which a leaf is not edited, by the leaf's own shape.
EXCLUSION_RULES = {
    "alias": "an alias or merge key stands for another node; assigning replaces the reference, not a leaf",
    "null": "an empty or null leaf has no other value of its kind",
    "lone CR": "a text whose lines end in a lone CR is written afresh, line ends included",
    "scalar document": "a document that is one scalar is the whole text: editing it rewrites every line",
    "line deeper than a block scalar's parent": "a block scalar followed by a line deeper than its key or "
                                                "`-` (not YAML, read leniently): a one-line value would continue "
                                                "on that line",
    "properties above the content": "a tag or anchor on a line above its scalar: an edit that drops the tag "
                                    "moves the lines between",
}


@dataclass
class Tally:
    edits: int = 0  # leaves edited
    good: int = 0  # edits that changed only the leaf's lines and reloaded right
    wrong_data: int = 0  # edits whose text did not reload to the edited data, whatever their lines
    excluded: collections.Counter = field(default_factory=collections.Counter)  # rule -> leaves
    failed: collections.Counter = field(default_factory=collections.Counter)  # shape -> edits
    examples: dict = field(default_factory=dict)  # shape -> (text, path, written) of its first failure

    @property
    def rate(self) -> float:
        return self.good / self.edits if self.edits else 1.0

    def add(self, other: "Tally") -> None:
        self.edits += other.edits
        self.good += other.good
        self.wrong_data += other.wrong_data
        self.excluded.update(other.excluded)
        self.failed.update(other.failed)
        for shape, example in other.examples.items():
            self.examples.setdefault(shape, example)

    def summary(self) -> str:
        failed = ", ".join(f"{shape} {n}" for shape, n in self.failed.most_common())
        excluded = ", ".join(f"{rule} {n}" for rule, n in self.excluded.most_common())
        return (f"{self.good} of {self.edits} ({100 * self.rate:.2f}%); failed: {failed or 'none'}; "
                f"wrong data: {self.wrong_data}; excluded: {excluded or 'none'}")


def comparable(value):
    """Loaded data with NaN made equal to itself."""
    if isinstance(value, dict):
        return {comparable(k): comparable(v) for k, v in value.items()}
    if isinstance(value, (list, tuple)):
        return type(value)(comparable(v) for v in value)
    if isinstance(value, float) and math.isnan(value):
        return "<nan>"
    return value


def same_data(written: bytes, expected: bytes) -> bool:
    try:
        got = torvex.loads_all(written)
    except torvex.TorvexError:
        return False
    want = torvex.loads_all(expected)
    return got == want or comparable(got) == comparable(want)  # the second only where NaN is


def new_value(old):
    """A different value of the same kind, and YAML text that reads as it anywhere a plain scalar may stand."""
    if isinstance(old, bool):
        return (not old), ("false" if old else "true")
    if isinstance(old, int):
        return old + 1, str(old + 1)
    if isinstance(old, float):
        value = old + 0.5 if math.isfinite(old) and abs(old) < 1e15 else 2.5
        return value, repr(value)
    return NEW_WORD, NEW_WORD


@dataclass
class Leaf:
    root: int  # document index
    path: tuple
    offset: int
    end_offset: int
    style: str
    old: object


def root_count(doc) -> int:
    return int(repr(doc).removeprefix("TorvexDocument(documents=").removesuffix(")"))


def roots_of(doc) -> list:
    """(root index, root node) for every document of a round-trip document; None for a scalar root of a stream."""
    count = root_count(doc)
    if count == 1:
        return [(0, doc.node)]
    nodes = []
    for i in range(count):
        view = doc[i]
        nodes.append((i, view.node if isinstance(view, torvex.TorvexDocumentView) else None))
    return nodes


def node_at(node, path):
    for segment in path:
        node = node[segment]
    return node


def deeper_line_after(text: bytes, node, parent) -> bool:
    """Whether the first content line after a block scalar is indented past its parent's column."""
    for line in text[node.end_offset:].splitlines():
        if line.strip() and not line.lstrip().startswith(b"#"):
            return len(line) - len(line.lstrip(b" ")) > parent.column - 1
    return False


def properties_above(text: bytes, node) -> bool:
    """Whether the node's tag or anchor stands on a line above its content."""
    line = text[text.rfind(b"\n", 0, node.offset) + 1:node.offset]
    marks = [m.encode() for m in (node.tag, node.anchor and "&" + node.anchor) if m]
    return not all(m in line for m in marks)


def leaves(doc, tally: Tally, text: bytes, limit: int | None = None) -> list[Leaf]:
    """The editable leaves of every document, each once (at most `limit`, spread evenly over the
    text); leaves left out under a rule are counted in `tally`."""
    candidates, seen = [], set()
    many = root_count(doc) > 1
    roots = roots_of(doc)
    for index, root in roots:
        if root is None or root.style not in ("block", "flow"):
            tally.excluded["scalar document"] += 1
            continue
        for path, value in (doc[index] if many else doc).walk():
            if (index, path) not in seen:  # a repeated key: lookups reach the first one only
                seen.add((index, path))
                candidates.append((index, root, path, value))
    if limit is not None and len(candidates) > limit:
        step = len(candidates) / limit
        candidates = [candidates[int(i * step)] for i in range(limit)]
    lone_cr = bool(LONE_CR.search(text))
    found = []
    for index, root, path, value in candidates:
        node = node_at(root, path)
        if node.style == "alias" or (path and path[-1] == "<<"):
            tally.excluded["alias"] += 1
        elif value is None or node.style == "null":
            tally.excluded["null"] += 1
        elif lone_cr:
            tally.excluded["lone CR"] += 1
        elif node.style in ("literal", "folded") and deeper_line_after(text, node, node_at(root, path[:-1])):
            tally.excluded["line deeper than a block scalar's parent"] += 1
        elif properties_above(text, node):
            tally.excluded["properties above the content"] += 1
        else:
            found.append(Leaf(index, path, node.offset, node.end_offset, node.style, value))
    return found


def assign(doc, leaf: Leaf, value) -> None:
    """Item assignment on the leaf's parent, as a user writes it."""
    target = doc[leaf.root] if root_count(doc) > 1 else doc
    for segment in leaf.path[:-1]:
        target = target[segment]
    target[leaf.path[-1]] = value


def line_of(text: bytes, offset: int) -> int:
    return len(LINE_BREAK.findall(text, 0, offset))


def lines_kept(text: bytes, written: bytes, leaf: Leaf, new_text: str) -> bool:
    source = text.splitlines(keepends=True)
    out = written.splitlines(keepends=True)
    first = line_of(text, leaf.offset)
    last = line_of(text, max(leaf.offset, leaf.end_offset - 1))
    before, after = source[:first], source[last + 1:]
    if out[:first] != before or len(out) < first + len(after) + 1:
        return False
    if after and out[len(out) - len(after):] != after:
        return False
    middle = out[first:len(out) - len(after)]
    if last == first and len(middle) != 1:
        return False
    return new_text.encode() in b"".join(middle)


def expected_text(text: bytes, leaf: Leaf, new_text: str) -> bytes:
    """The source with the leaf's text replaced (a block scalar's through its last line break)."""
    word = new_text.encode() + (b"\n" if leaf.style in ("literal", "folded") else b"")
    return text[:leaf.offset] + word + text[leaf.end_offset:]


# What the lines an edit changed beyond its own look like, most telling first.
FAILURE_SHAPES = [
    ("tab in a comment", re.compile(rb"#[^\r\n]*\t")),
    ("trailing blanks", re.compile(rb"\S[ \t]+\r?\n?$")),
    ("explicit key", re.compile(rb"^[ \t]*(?:- +)?\?(?:[ \t]|\r?\n?$)")),
    ("key with a comment and no value", re.compile(rb":[ \t]+#")),
    ("spaces before an anchor", re.compile(rb"[:-] {2,}[&!]")),
    ("multi-line flow collection", re.compile(rb"[\[{,][ \t]*\r?\n?$|^[ \t]*[\]}]")),
    ("blank line", re.compile(rb"^[ \t]*\r?\n?$")),
    ("block scalar header", re.compile(rb"[|>][-+0-9]*[ \t]*(?:#.*)?\r?\n?$")),
]


def changed_lines(text: bytes, written: bytes, leaf: Leaf) -> list[bytes]:
    """Source lines outside the leaf's own that the written text does not keep."""
    source = text.splitlines(keepends=True)
    first = line_of(text, leaf.offset)
    last = line_of(text, max(leaf.offset, leaf.end_offset - 1))
    matcher = difflib.SequenceMatcher(None, source, written.splitlines(keepends=True), autojunk=False)
    changed = []
    for op, i1, i2, _j1, _j2 in matcher.get_opcodes():
        if op != "equal":
            changed.extend(source[i] for i in range(i1, i2) if not first <= i <= last)
    return changed


def failure_shape(text: bytes, written: bytes, leaf: Leaf, lines_ok: bool) -> str:
    """A name for what a failed edit looks like, for reports."""
    if lines_ok:
        return f"data differs ({leaf.style})"
    changed = changed_lines(text, written, leaf)
    if len(changed) * 2 > len(text.splitlines()):
        return "whole text rewritten"
    for name, pattern in FAILURE_SHAPES:
        if any(pattern.search(line) for line in changed):
            return name
    return f"other lines changed ({leaf.style})" if changed else f"leaf written on other lines ({leaf.style})"


def head_of(text: bytes, size: int) -> bytes:
    """The first entries of a large file, about `size` bytes: cut before the first line past `size` that is
    indented at most two columns (a new top-level key, entry of one, or document), so what is kept is whole.
    The whole text when no such line follows."""
    for match in re.finditer(rb"\n(?=(?:  )?[^ \t\r\n#])", text[size:]):
        return text[:size + match.start() + 1]
    return text


def measure(text: bytes, tally: Tally, limit: int | None = None) -> Tally:
    """Edits the leaves of `text` one at a time (at most `limit`, spread evenly) and counts the outcomes."""
    for leaf in leaves(torvex.loads(text, option=RT), tally, text, limit):
        value, new_text = new_value(leaf.old)
        tally.edits += 1
        doc = torvex.loads(text, option=RT)
        try:
            assign(doc, leaf, value)
            written = doc.to_yaml()
        except Exception as error:  # a failed edit is a finding, not a crash of the harness
            tally.failed[f"edit raised {type(error).__name__}"] += 1
            continue
        lines_ok = lines_kept(text, written, leaf, new_text)
        data_ok = same_data(written, expected_text(text, leaf, new_text))
        if not data_ok:
            tally.wrong_data += 1
        if lines_ok and data_ok:
            tally.good += 1
            continue
        shape = failure_shape(text, written, leaf, lines_ok)
        tally.failed[shape] += 1
        tally.examples.setdefault(shape, (text, (leaf.root, leaf.path), written))
    return tally
