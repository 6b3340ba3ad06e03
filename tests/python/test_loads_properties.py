"""Property tests of resolution and decoding."""

import math
import struct
import sys
import sysconfig

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import torvex
from peers import needs_c_yaml

# Interned strs are immortal on a free-threaded build: there keys are shared within a call, not interned.
KEYS_INTERNED = not sysconfig.get_config_var("Py_GIL_DISABLED")


def keys_shared_as_the_build_shares_them(keys):
    """Interned where that keeps them mortal; else never immortal, but for the interpreter's own one-character
    strs."""
    if KEYS_INTERNED:
        return all(sys._is_interned(k) for k in keys)
    return not any(sys._is_immortal(k) for k in keys if len(k) > 1)

MODES = [0, torvex.OPT_YAML_1_1, torvex.OPT_PYYAML_COMPAT]


@given(st.integers(min_value=-(2**63) + 1, max_value=2**63 - 1), st.sampled_from(MODES))
def test_decimal_integers_resolve_to_themselves(n, mode):
    assert torvex.loads(str(n), option=mode) == n
    assert torvex.loads(f"[{n}]", option=mode) == [n]


@given(st.integers(min_value=2**63, max_value=2**200), st.booleans(), st.sampled_from(MODES))
def test_big_integers_keep_their_value(n, negative, mode):
    value = -n if negative else n
    assert torvex.loads(f"x: {value}", option=mode) == {"x": value}


@given(st.floats(allow_nan=False, allow_infinity=False), st.sampled_from(MODES))
def test_float_text_resolves_to_the_same_float(x, mode):
    text = repr(x)
    loaded = torvex.loads(text, option=mode)
    if "." in text or "e" in text:
        assert type(loaded) is float
        assert struct.pack("<d", loaded) == struct.pack("<d", x)
    else:  # integral reprs such as "1e+16" always carry e; plain digits cannot occur for floats
        raise AssertionError(text)


@given(st.floats(allow_nan=False, allow_infinity=False))
def test_float_text_with_plus_sign(x):
    if not repr(x).startswith("-"):
        assert torvex.loads("+" + repr(x)) == x


@given(st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=40))
def test_quoted_text_is_always_a_string(s):
    escaped = s.replace("\\", "\\\\").replace('"', '\\"')
    escaped = "".join(c if c.isprintable() or c == " " else f"\\U{ord(c):08x}" for c in escaped)
    assert torvex.loads(f'"{escaped}"') == s


@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(st.binary(max_size=200))
def test_arbitrary_bytes_load_or_raise_cleanly(data):
    try:
        torvex.loads_all(data)
    except (torvex.TorvexError, ValueError, TypeError):
        pass


YAML_PIECES = st.sampled_from(
    [
        "a", "- ", ": ", "? ", "\n", "  ", "[", "]", "{", "}", ",", "&x ", "*x", "!t ", "!!str ", "'q'", '"d"',
        "|\n", ">\n", "#c", "---\n", "...\n", "%YAML 1.2\n", "<<: ", "1", "~", "\t", "\r\n", "é",
    ]
)


@settings(max_examples=500, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(YAML_PIECES, max_size=40))
def test_yaml_like_fragments_load_or_raise_parse_errors(pieces):
    text = "".join(pieces)
    try:
        result = torvex.loads_all(text)
    except torvex.TorvexParseError as error:
        assert error.line >= 1 and error.column >= 1
        assert str(error).endswith(f" at line {error.line}, column {error.column}")
    else:
        assert isinstance(result, list)


@given(st.recursive(
    st.none() | st.booleans() | st.integers(min_value=-(2**63) + 1, max_value=2**63 - 1)
    | st.text(alphabet="abcxyz", min_size=1, max_size=5),
    lambda children: st.lists(children, max_size=4) | st.dictionaries(st.text(alphabet="abc", min_size=1, max_size=3), children, max_size=4),
    max_leaves=20,
))
def test_json_text_loads_like_json(value):
    import json

    assert torvex.loads(json.dumps(value)) == value


def test_nan_and_infinities():
    assert math.isnan(torvex.loads(".NaN"))
    assert torvex.loads("[.inf, -.Inf, +.INF]") == [math.inf, -math.inf, math.inf]


# Plain scalars of every kind, keyword spellings included: the decoder stores
# most of them without resolving (by their first byte) and reads lone scalars
# outside its general node path, in block and flow collections alike.
KEYWORDS = ["null", "Null", "NULL", "~", "true", "True", "FALSE", "false", "yes", "No", "ON", "off", "y", "n",
            ".inf", "-.Inf", "+.INF"]
PLAIN_WORDS = st.from_regex(r"[A-Za-z_/$^][A-Za-z0-9_./-]{0,8}", fullmatch=True)
PLAIN_LEAVES = (st.sampled_from(KEYWORDS) | st.integers().map(str) | PLAIN_WORDS
                | st.floats(-1e6, 1e6).map(lambda x: f"{x:.3f}"))
PLAIN_KEYS = st.from_regex(r"[a-z][a-z0-9_]{0,6}", fullmatch=True).filter(
    lambda k: k not in {w.lower() for w in KEYWORDS})
PLAIN_TREES = st.recursive(
    PLAIN_LEAVES,
    lambda children: st.lists(children, min_size=1, max_size=4)
    | st.dictionaries(PLAIN_KEYS, children, min_size=1, max_size=4),
    max_leaves=25,
)


def _block(tree, indent=0):
    pad = " " * indent
    items = tree.items() if isinstance(tree, dict) else ((None, x) for x in tree)
    out = []
    for key, value in items:
        lead = f"{pad}{key}:" if key is not None else f"{pad}-"
        if isinstance(value, (dict, list)):
            out.append(f"{lead}\n{_block(value, indent + 2)}")
        else:
            out.append(f"{lead} {value}\n")
    return "".join(out)


def _flow(tree):
    if isinstance(tree, dict):
        return "{" + ", ".join(f"{k}: {_flow(v)}" for k, v in tree.items()) + "}"
    if isinstance(tree, list):
        return "[" + ", ".join(_flow(v) for v in tree) + "]"
    return tree


@needs_c_yaml
@settings(max_examples=300, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(PLAIN_TREES, min_size=1, max_size=3).map(lambda t: {f"k{i}": v for i, v in enumerate(t)}))
def test_plain_scalars_load_alike_in_block_and_flow_and_as_pyyaml_reads_them(tree):
    import yaml

    block, flow = _block(tree), _flow(tree)
    assert torvex.loads(block) == torvex.loads(flow)
    compat = torvex.loads(block, option=torvex.OPT_PYYAML_COMPAT)
    assert compat == torvex.loads(flow, option=torvex.OPT_PYYAML_COMPAT)
    assert compat == yaml.load(block, Loader=yaml.CSafeLoader)


KEY_CHARS = st.sampled_from(list("abcxyz_0123") + ["é", "ж", "東", "🚀"])


@settings(max_examples=60, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.text(KEY_CHARS, min_size=1, max_size=20), min_size=1, max_size=700, unique=True),
       st.integers(1, 3))
def test_equal_keys_are_one_object_across_a_streams_documents(keys, documents):
    # However many distinct keys a stream has (the key cache fills and overflows), each text is one str for the
    # whole call, and every key is interned where interned strs are mortal.
    text = "".join("---\n" + "".join(f'"{k}": {i}\n' for i, k in enumerate(keys)) for _ in range(documents))
    loaded = torvex.loads_all(text)
    assert loaded == [{k: i for i, k in enumerate(keys)}] * documents
    first = list(loaded[0])
    for doc in loaded[1:]:
        assert all(a is b for a, b in zip(first, doc, strict=True))
    assert keys_shared_as_the_build_shares_them(first)


REMEMBERED_KEY_CHARS = st.sampled_from(list("abcxyz_0123 .-") + ["é", "東"])


@settings(max_examples=80, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.lists(st.text(REMEMBERED_KEY_CHARS, min_size=1, max_size=60), min_size=1, max_size=300),
                min_size=2, max_size=6))
def test_keys_remembered_from_earlier_loads_are_the_keys_written(documents):
    # Loads one after another on a thread take short ASCII keys from what earlier loads remembered, where keys
    # that share a slot replace each other: whatever is remembered, each load gives exactly its own keys, and
    # a later load of the same text gives them again.
    texts = ["".join(f'"{k}": {i}\n' for i, k in enumerate(keys)) for keys in documents]
    expected = [{k: i for i, k in enumerate(keys)} for keys in documents]
    # Duplicate keys keep the last value, as a dict built in order does.
    for _ in range(2):
        for text, want in zip(texts, expected, strict=True):
            loaded = torvex.loads(text)
            assert loaded == want
            assert list(loaded) == list(want)
            assert keys_shared_as_the_build_shares_them(loaded)
