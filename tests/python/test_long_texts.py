"""Long block, quoted and plain scalars read the same as PyYAML's CSafeLoader reads them.

The generated texts cross the 8-, 16- and 32-byte steps of the wide scanning and string-making paths at random
places: lines of random length with non-ASCII characters of every UTF-8 width, escapes, tabs, trailing blanks,
empty lines, CR, LF and CRLF breaks, every chomping indicator, explicit and detected indentation. Only texts on
which the two libraries agree by design are generated: every scalar ends with a line break (at the end of the
input torvex reads a block scalar's last line as if it had one), and plain scalars start with a letter, so that
no YAML 1.1 resolution applies.
"""

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import yaml

import torvex

SETTINGS = settings(max_examples=400, suppress_health_check=[HealthCheck.too_slow])

LETTERS = "abcdefghijkmpqrsuvwxz"
WIDE = ["é", "ü", "ß", "ж", "λ", "東", "京", "語", "🚀", "𝄞"]
BREAKS = st.sampled_from(["\n", "\r\n", "\r"])

letter = st.sampled_from(LETTERS)
inner_char = st.one_of(letter, letter, letter, st.sampled_from(WIDE), st.sampled_from([":", "#", "-", ".", "'"]))


@st.composite
def word(draw):
    """A word that starts and ends with a letter or a non-ASCII character; `:` and `#` only inside."""
    first = draw(st.one_of(letter, st.sampled_from(WIDE)))
    middle = draw(st.lists(inner_char, max_size=12))
    last = draw(st.one_of(letter, st.sampled_from(WIDE)))
    return first + "".join(middle) + last if middle or draw(st.booleans()) else first


@st.composite
def line(draw, max_words=14):
    """Words joined by one or more spaces (sometimes a tab): 0 to about 200 characters."""
    words = draw(st.lists(word(), min_size=1, max_size=max_words))
    out = words[0]
    for w in words[1:]:
        out += draw(st.sampled_from([" ", " ", " ", "  ", " \t ", "\t"])) + w
    return out


def load_both(text):
    ours = torvex.loads(text.encode())
    peer = yaml.load(text.encode(), Loader=yaml.CSafeLoader)
    return ours, peer


@st.composite
def block_scalar(draw):
    parent = draw(st.sampled_from([0, 2]))  # the key's own indentation
    indent = parent + draw(st.integers(1, 8))
    style = draw(st.sampled_from("|>"))
    chomp = draw(st.sampled_from(["", "-", "+"]))
    explicit = draw(st.booleans())
    brk = draw(BREAKS)
    lines = draw(st.lists(st.one_of(line(), st.just("")), min_size=1, max_size=10))
    if all(not ln for ln in lines):
        lines[0] = "x"
    header = style + (str(indent - parent) if explicit else "") + chomp
    if draw(st.booleans()):
        header = style + chomp + (str(indent - parent) if explicit else "")
    body, seen_content = [], False
    for ln in lines:
        if not ln:
            body.append(" " * draw(st.integers(0, indent)))  # an empty line, blanks up to the indentation
            continue
        extra = ""
        # More-indented lines (not the first content line without an explicit indicator: it sets the indentation).
        if (explicit or seen_content) and draw(st.integers(0, 4)) == 0:
            extra = draw(st.sampled_from([" ", "   ", "\t"]))
        seen_content = True
        trailing = draw(st.sampled_from(["", "", "", " ", "  \t"]))
        body.append(" " * indent + extra + ln + trailing)
    trailing_empty = [" " * draw(st.integers(0, indent)) for _ in range(draw(st.integers(0, 3)))]
    text = "k: " + header + brk + brk.join(body + trailing_empty) + brk
    if draw(st.booleans()):
        text += "after: 1" + brk
    if parent:
        text = "top:" + brk + "".join(" " * parent + ln for ln in text.splitlines(keepends=True))
    return text


@SETTINGS
@given(block_scalar())
def test_block_scalars_read_as_pyyaml_reads_them(text):
    ours, peer = load_both(text)
    assert ours == peer, repr(text)


@st.composite
def plain_scalar(draw):
    brk = draw(BREAKS)
    lines = draw(st.lists(line(), min_size=1, max_size=6))
    text = "k: x" + lines[0]
    for ln in lines[1:]:
        text += draw(st.sampled_from(["", " ", " \t"])) + brk * draw(st.sampled_from([1, 1, 1, 2, 3]))
        text += " " * draw(st.integers(1, 6)) + ln
    return text + draw(st.sampled_from(["", "  "])) + brk + "after: 1" + brk


@SETTINGS
@given(plain_scalar())
def test_multi_line_plain_scalars_read_as_pyyaml_reads_them(text):
    ours, peer = load_both(text)
    assert ours == peer, repr(text)


ESCAPES = ["\\\\", '\\"', "\\t", "\\n", "\\r", "\\0", "\\x41", "\\xe9", "\\u00e9", "\\u6771", "\\U0001F680",
           "\\ ", "\\/", "\\e", "\\_"]


@st.composite
def quoted_scalar(draw):
    double = draw(st.booleans())
    brk = draw(BREAKS)
    text_piece = line() if double else line().map(lambda s: s.replace("'", "''"))
    pieces = st.one_of(text_piece, st.sampled_from(ESCAPES) if double else st.just("''"))
    lines = draw(st.lists(st.lists(pieces, min_size=1, max_size=6).map("".join), min_size=1, max_size=6))
    quote = '"' if double else "'"
    text = "k: " + quote + draw(st.sampled_from(["", " "])) + lines[0]
    for ln in lines[1:]:
        text += draw(st.sampled_from(["", " ", " \t"]))
        text += "\\" + brk if double and draw(st.integers(0, 3)) == 0 else brk * draw(st.sampled_from([1, 1, 2]))
        text += " " * draw(st.integers(1, 6)) + ln
    return text + quote + brk + "after: 1" + brk


@SETTINGS
@given(quoted_scalar())
def test_quoted_scalars_read_as_pyyaml_reads_them(text):
    ours, peer = load_both(text)
    assert ours == peer, repr(text)


@SETTINGS
@given(st.lists(st.one_of(line(), st.sampled_from(WIDE)), min_size=1, max_size=20).map(" ".join))
def test_strings_of_every_width_and_length_keep_their_text(text):
    # The str made from scanned text: one-line plain, single- and double-quoted, literal.
    doc = {"p": "x" + text, "s": text, "d": text, "b": text + "\n"}
    source = (f"p: x{text}\ns: '{text.replace(chr(39), chr(39) * 2)}'\n"
              f"d: \"{text}\"\nb: |\n  {text}\n")
    assert torvex.loads(source) == doc
