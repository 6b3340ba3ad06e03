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
from peers import needs_c_yaml

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


@st.composite
def plain_scalar(draw):
    brk = draw(BREAKS)
    lines = draw(st.lists(line(), min_size=1, max_size=6))
    text = "k: x" + lines[0]
    for ln in lines[1:]:
        text += draw(st.sampled_from(["", " ", " \t"])) + brk * draw(st.sampled_from([1, 1, 1, 2, 3]))
        text += " " * draw(st.integers(1, 6)) + ln
    return text + draw(st.sampled_from(["", "  "])) + brk + "after: 1" + brk


@needs_c_yaml
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


@needs_c_yaml
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


@st.composite
def block_body(draw, indent, brk):
    """Lines of a block scalar's body at `indent`: content (more indented after the first), empty lines of blanks
    up to the indentation, and after the first content line, lines of spaces alone longer than it."""
    out, seen_content = [], False
    for ln in draw(st.lists(st.one_of(line(), st.just(""), st.just(" ")), min_size=1, max_size=8)):
        if not ln or (ln == " " and not seen_content):
            out.append(" " * draw(st.integers(0, indent)))
        elif ln == " ":
            out.append(" " * (indent + draw(st.integers(1, 3))))
        else:
            extra = draw(st.sampled_from(["", "", "", " ", "\t"])) if seen_content else ""
            out.append(" " * indent + extra + ln + draw(st.sampled_from(["", " ", "\t"])))
            seen_content = True
    if not seen_content:
        out.append(" " * indent + "x")
    return brk.join(out) + brk


@st.composite
def deep_block_scalar(draw):
    """A block scalar nested so deep that its indentation is past 16 columns."""
    brk = draw(BREAKS)
    depth = draw(st.integers(5, 12))
    step = draw(st.sampled_from([2, 3, 4]))
    text = "".join(" " * (step * d) + f"k{d}:" + brk for d in range(depth))
    parent = step * depth
    indent = parent + draw(st.integers(1, 6))
    explicit = draw(st.booleans())
    header = draw(st.sampled_from("|>")) + (str(indent - parent) if explicit else "") + draw(st.sampled_from("-+ "))
    text += " " * parent + "v: " + header.strip() + brk + draw(block_body(indent, brk))
    if draw(st.booleans()):
        text += " " * parent + "w: 1" + brk
    return text


@needs_c_yaml
@SETTINGS
@given(st.one_of(block_scalar(), deep_block_scalar()))
def test_block_scalars_read_as_pyyaml_reads_them(text):
    # at one or two levels, and below deep parents where the content's indentation passes 16 columns
    ours, peer = load_both(text)
    assert ours == peer, repr(text)


@st.composite
def top_level_block_scalars(draw):
    """A stream of documents that are block scalars at the top level, ended by document markers: the stream with
    its content at column 0, and the same with every body line moved right by one column."""
    brk = draw(BREAKS)
    at_zero, moved = "", ""
    for _ in range(draw(st.integers(1, 4))):
        header = "--- " + draw(st.sampled_from("|>")) + draw(st.sampled_from(["", "-", "+"])) + brk
        body = draw(block_body(0, brk))
        end = draw(st.sampled_from(["", "..." + brk, "--- x" + brk]))
        at_zero += header + body + end
        moved += header + "".join(" " + ln + brk for ln in body.split(brk)[:-1]) + end
    return at_zero, moved


@needs_c_yaml
@SETTINGS
@given(top_level_block_scalars())
def test_top_level_block_scalars_end_at_document_markers(texts):
    # Content at column 0 cannot be compared with PyYAML, which wants it indented; moved right by one column
    # it must read the same, and as PyYAML reads it.
    at_zero, moved = texts
    ours = torvex.loads_all(at_zero.encode())
    assert ours == torvex.loads_all(moved.encode()), repr(at_zero)
    assert ours == list(yaml.load_all(moved.encode(), Loader=yaml.CSafeLoader)), repr(moved)


@SETTINGS
@given(block_scalar())
def test_a_block_scalar_ending_the_input_reads_as_if_its_last_break_were_there(text):
    # Cut after the last content line: the end of input stands for the break after it, except that keeping
    # chomping keeps only the breaks written.
    brk = "\r\n" if "\r\n" in text else "\r" if "\r" in text else "\n"
    lines = text.split(brk)
    if "+" in lines[1 if text.startswith("top:") else 0]:
        return
    while lines and not lines[-1].strip():
        lines.pop()
    if not lines or lines[-1].lstrip().startswith(("after:", "k:", "top:")):
        return
    cut = brk.join(lines)
    assert torvex.loads(cut.encode()) == torvex.loads((cut + brk).encode()), repr(cut)


# Characters YAML 1.1 and 1.2 both read as content: no controls, surrogates or the characters that only 1.1
# counts as line breaks (NEL, LS, PS) or as a byte order mark.
def content_char(widest):
    return st.characters(max_codepoint=widest, blacklist_categories=("Cs", "Cc"),
                         blacklist_characters="\x85\u2028\u2029\ufeff")


@st.composite
def any_text(draw):
    """Texts of each str width (widest character at most U+00FF, U+FFFF or beyond), the wide characters
    anywhere among ASCII runs that take the 32-byte steps, and line breaks and tabs between."""
    char = content_char(draw(st.sampled_from([0xFF, 0xFFFF, 0x10FFFF])))
    ascii_run = st.text(st.sampled_from(LETTERS + " "), max_size=70)
    pieces = st.one_of(st.text(char, max_size=6), ascii_run, st.sampled_from(["\n", "  ", "\t"]))
    return "x" + "".join(draw(st.lists(pieces, max_size=16)))


@needs_c_yaml
@SETTINGS
@given(any_text(), st.sampled_from([None, "'", '"', "|", ">"]))
def test_any_text_in_any_style_reads_as_pyyaml_reads_it(text, style):
    # Written by PyYAML in the style asked for (or the one it falls back to), and by torvex itself.
    written = yaml.dump(text, Dumper=yaml.CSafeDumper, default_style=style, allow_unicode=True).encode()
    ours = torvex.loads(written)
    assert ours == yaml.load(written, Loader=yaml.CSafeLoader), repr(written)
    assert ours == text, repr(written)
    assert torvex.loads(torvex.dumps(text)) == text
