"""loads and loads_all through the plain pipeline."""

import json
import logging
import math
import subprocess
import sys
import sysconfig
import textwrap
import uuid

import pytest

import torvex
from torvex import exceptions as exc

# Interned strs are immortal on a free-threaded build: there keys are shared within a call, not interned.
KEYS_INTERNED = not sysconfig.get_config_var("Py_GIL_DISABLED")


@pytest.mark.parametrize(
    "text, expected",
    [
        ("", None),
        ("# only a comment", None),
        ("---", None),
        ("a: 1\n---\nb: 2\n", {"a": 1}),
        ("- 1\n- -2.5\n- 0x1F\n- 0o17\n- .inf\n- -.INF\n- ~\n- true\n- 'yes'\n", [1, -2.5, 31, 15, math.inf, -math.inf, None, True, "yes"]),
        ("123456789012345678901234567890", 123456789012345678901234567890),
        ("-9223372036854775808", -9223372036854775808),
        ("? [1, [2, 3]]\n: x", {(1, (2, 3)): "x"}),
        ("? {a: 1}\n: x", {(("a", 1),): "x"}),
        ("a: 1\na: 2", {"a": 2}),
        ("{b: 1, a: 2, b: 3}", {"b": 3, "a": 2}),
        ("base: &b {x: 1, y: 2}\nd:\n  <<: *b\n  y: 3", {"base": {"x": 1, "y": 2}, "d": {"y": 3, "x": 1}}),
        ("\ufeffa: 1", {"a": 1}),
        ("!!str 12", "12"),
        ("!!float 1", 1.0),
        ("[yes, no, on, y]", ["yes", "no", "on", "y"]),
        ("2001-12-14", "2001-12-14"),
    ],
)
def test_values(text, expected):
    assert torvex.loads(text) == expected


def test_key_order_of_duplicates_keeps_first_position():
    assert list(torvex.loads("b: 1\na: 2\nb: 3")) == ["b", "a"]


@pytest.mark.parametrize("count", [10, 3000, 40000])
def test_many_distinct_keys_stay_one_object_each(count):
    # However crowded the key cache gets, equal keys come out as one object.
    names = [f"key_{i:06d}_{'x' * (i % 23)}" for i in range(count)]
    text = "a: {" + ", ".join(f"{n}: 1" for n in names) + "}\nb: {" + ", ".join(f"{n}: 2" for n in reversed(names)) + "}"
    doc = torvex.loads(text)
    assert list(doc["a"]) == names and list(doc["b"]) == names[::-1]
    first = {k: k for k in doc["a"]}
    assert all(first[k] is k for k in doc["b"])


@pytest.mark.parametrize("unique, working, rounds", [(3000, 40, 30), (12000, 900, 4), (200, 2500, 3)])
def test_keys_after_many_distinct_ones_stay_one_object_each(unique, working, rounds):
    # A run of distinct keys keeps the key cache from growing past its first size, and it takes few of the
    # keys that find their run of slots full; a working set that comes after (smaller or larger than the
    # cache) still comes out as one object per text, in every mapping it is in, interned where keys are.
    names = [f"u{i}_{'y' * (i % 7)}" for i in range(unique)]
    work = [f"w{i}" for i in range(working)]
    text = "first:\n" + "".join(f"  {n}: 1\n" for n in names) + "".join(
        f"r{r}: {{{', '.join(f'{w}: {r}' for w in (work if r % 2 else work[::-1]))}}}\n" for r in range(rounds))
    doc = torvex.loads(text)
    assert list(doc["first"]) == names
    seen = {}
    for r in range(rounds):
        for k in doc[f"r{r}"]:
            assert seen.setdefault(k, k) is k
    assert len(seen) == working and all(sys._is_interned(k) == KEYS_INTERNED for k in seen)
    assert all(sys._is_interned(k) == KEYS_INTERNED for k in doc["first"])


def _key_cache_hash(b):
    """The key cache's hash of a key's UTF-8 text, as the cache computes it."""
    m = (1 << 64) - 1

    def mix(h):
        h ^= h >> 33
        h = (h * 0xFF51AFD7ED558CCD) & m
        return h ^ (h >> 29)

    n, h = len(b), (0x9E3779B97F4A7C15 * (len(b) + 1)) & m
    if n < 4:
        return mix(h ^ int.from_bytes(b, "big"))
    if n < 8:
        return mix(h ^ (int.from_bytes(b[:4], "little") << 32 | int.from_bytes(b[-4:], "little")))
    for k in range(0, n - 8, 8):
        h = ((h ^ int.from_bytes(b[k:k + 8], "little")) * 0x100000001B3) & m
    return mix(h ^ int.from_bytes(b[-8:], "little"))


def test_keys_crowding_one_slot_stay_one_object_each():
    # Keys that start at one slot of the cache: 24 while it has 64 slots (they spread out when it grows),
    # and several runs' worth while it has up to 4096, among others, in two documents. A key past a full
    # run grows the cache or takes the run's first slot, and each text still comes out as one object,
    # before and after the cache grows.
    def crowd(prefix, bits, count):
        found = [k for k in (f"{prefix}{i}" for i in range(200_000)) if _key_cache_hash(k.encode()) & bits == 0]
        assert len(found) >= count
        return found[:count]

    early, late = crowd("e", 0x3F, 24), crowd("c", 0xFFF, 48)
    keys = early + [k for pair in zip(late, (f"f{i}" for i in range(48))) for k in pair] + [f"g{i}" for i in range(400)]
    text = "---\n" + "".join(f"{k}: 1\n" for k in keys) + "---\n" + "".join(f"{k}: 2\n" for k in reversed(keys))
    first, second = torvex.loads_all(text)
    assert list(first) == keys and list(second) == keys[::-1]
    same = {k: k for k in first}
    assert all(same[k] is k for k in second)


def test_nan():
    assert math.isnan(torvex.loads(".nan"))


def test_negative_zero_keeps_its_sign():
    assert math.copysign(1.0, torvex.loads("-0.0")) == -1.0


def test_equal_keys_are_one_interned_object():
    first, second = torvex.loads("- {name: 1}\n- {name: 2}")
    k1, k2 = next(iter(first)), next(iter(second))
    assert k1 is k2


def _key_strs(value, in_key=False):
    """Every str of every mapping key in `value`, those inside complex (tuple) keys included."""
    if isinstance(value, dict):
        for key, item in value.items():
            yield from _key_strs(key, True)
            yield from _key_strs(item, in_key)
    elif isinstance(value, (list, tuple)):
        for item in value:
            yield from _key_strs(item, in_key)
    elif isinstance(value, str) and in_key:
        yield value


@pytest.mark.parametrize("load", [
    lambda text: torvex.loads(text),
    lambda text: torvex.loads_all(text + "---\n" + text),
    lambda text: torvex.loads(text, option=torvex.OPT_ANNOTATED),
    lambda text: torvex.loads(text, option=torvex.OPT_DUPLICATE_KEYS_ERROR | torvex.OPT_YAML_1_1),
    lambda text: torvex.loads(text, schema={}),
], ids=["loads", "loads_all", "annotated", "options", "composed"])
def test_keys_are_never_made_immortal(load):
    # A service loading data with ever-new keys (ids, host names, dates) must get each key's memory back with the
    # result: keys may be shared (interned where that keeps them mortal), never kept until the interpreter ends.
    tag = uuid.uuid4().hex
    keys = [f"k{tag}", f"key_{tag}_" + "x" * 60, f"ключ_{tag}", f"{tag}" * 40, f"n{tag}"]
    text = "".join(f"{k!r}: {{inner_{tag}: [1, {{{k!r}: 2}}]}}\n" for k in keys)
    text += f"? [seq_{tag}, {{map_{tag}: 1}}]\n: 3\n"
    result = load(text)
    found = set(_key_strs(result))
    assert set(keys) <= found and f"map_{tag}" in found
    assert not any(sys._is_immortal(k) for k in found)


@pytest.mark.parametrize(
    "text, option, expected",
    [
        ("x: yes", 0, {"x": "yes"}),
        ("x: yes", torvex.OPT_YAML_1_1, {"x": True}),
        ("x: y", torvex.OPT_YAML_1_1, {"x": True}),
        ("x: y", torvex.OPT_PYYAML_COMPAT, {"x": "y"}),
        ("x: yes", torvex.OPT_UPGRADE_1_1, {"x": True}),
        ("%YAML 1.1\n---\nx: yes\n", 0, {"x": True}),
        ("%YAML 1.2\n---\nx: yes\n", torvex.OPT_YAML_1_1, {"x": "yes"}),
        ("%YAML 1.2\n---\nx: y\n", torvex.OPT_PYYAML_COMPAT, {"x": "y"}),
        # the PyYAML-compatible rules apply whenever asked for, directive or not
        ("%YAML 1.2\n---\nx: 012\n", torvex.OPT_PYYAML_COMPAT, {"x": 10}),
        ("x: 1_000\n", torvex.OPT_YAML_1_1, {"x": 1000}),
        ("x: 1:30\n", torvex.OPT_YAML_1_1, {"x": 90}),
        ("x: 0b101\n", torvex.OPT_YAML_1_1, {"x": 5}),
        ("x: 1_000_000_000_000_000_000_000\n", torvex.OPT_YAML_1_1, {"x": 10**21}),
    ],
)
def test_resolution_rules(text, option, expected):
    assert torvex.loads(text, option=option) == expected


def test_loads_all_returns_every_document():
    assert torvex.loads_all("") == []
    assert torvex.loads_all("a\n---\nb\n--- ~\n") == ["a", "b", None]
    assert torvex.loads_all("%YAML 1.1\n---\n- yes\n", option=torvex.OPT_YAML_1_1) == [[True]]


@pytest.mark.parametrize(
    "text, cls, message, line, column",
    [
        ("a: [1, 2", exc.TorvexParseError, None, None, None),
        ("a: 1\n---\n[", exc.TorvexParseError, None, None, None),
        ("a: *x", exc.TorvexParseError, "unknown alias: *x at line 1, column 4", 1, 4),
        ("&a &b x", exc.TorvexParseError, "a node cannot have two anchors at line 1, column 4", 1, 4),
        ("k: v\n- x", exc.TorvexParseError, "a block collection cannot be a mapping key at line 2, column 1", 2, 1),
    ],
)
def test_parse_errors(text, cls, message, line, column):
    with pytest.raises(cls) as info:
        torvex.loads(text)
    error = info.value
    assert type(error) is cls and isinstance(error, ValueError)
    assert error.file is None
    assert str(error).endswith(f" at line {error.line}, column {error.column}")
    if message is not None:
        assert str(error) == message
        assert (error.line, error.column) == (line, column)


def test_duplicate_key_policies(caplog):
    with pytest.raises(exc.TorvexDuplicateKeyError) as info:
        torvex.loads("a: 1\na: 2", option=torvex.OPT_DUPLICATE_KEYS_ERROR)
    assert str(info.value) == "duplicate mapping key: a at line 2, column 1"
    assert (info.value.line, info.value.column) == (2, 1)
    with pytest.raises(exc.TorvexDuplicateKeyError, match=r"duplicate mapping key: Int\(1\)"):
        torvex.loads("1: x\n1: y", option=torvex.OPT_DUPLICATE_KEYS_ERROR | torvex.OPT_DUPLICATE_KEYS_WARN)
    with caplog.at_level(logging.WARNING, logger="torvex"):
        assert torvex.loads("a: 1\na: 2\na: 3", option=torvex.OPT_DUPLICATE_KEYS_WARN) == {"a": 3}
    assert [r.getMessage() for r in caplog.records] == [
        "duplicate mapping key 'a' at line 2, column 1; keeping the last value",
        "duplicate mapping key 'a' at line 3, column 1; keeping the last value",
    ]
    assert all(r.name == "torvex" for r in caplog.records)


def test_complex_keys_can_be_rejected():
    with pytest.raises(exc.TorvexComplexKeyError) as info:
        torvex.loads("? [a]\n: 1", option=torvex.OPT_REJECT_COMPLEX_KEYS)
    assert str(info.value) == "complex mapping key (a sequence used as a key) at line 1, column 3"


def test_yaml11_warnings_only_under_11_rules(caplog):
    text = "a: yes\nb: 0o17\nc: 0x1F\n"
    with caplog.at_level(logging.WARNING, logger="torvex"):
        torvex.loads(text, option=torvex.OPT_YAML_1_1_WARN)
        assert caplog.records == []
        assert torvex.loads(text, option=torvex.OPT_YAML_1_1_WARN | torvex.OPT_YAML_1_1)["a"] is True
    assert [r.getMessage() for r in caplog.records] == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4"
    ]


def test_broken_logger_never_fails_the_load(monkeypatch):
    def boom(*args, **kwargs):
        raise RuntimeError("handler exploded")

    monkeypatch.setattr(logging.getLogger("torvex"), "warning", boom)
    assert torvex.loads("a: 1\na: 2", option=torvex.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}


class TestTags:
    def test_tags_dict(self):
        assert torvex.loads("!foo 5", tags={"!foo": str}) == "5"

    def test_tag_handler_gets_tag_and_inner_value(self):
        assert torvex.loads("!foo 5", tags={}, tag_handler=lambda t, v: (t, v)) == ("!foo", "5")

    def test_passthrough(self):
        result = torvex.loads("!foo 5", option=torvex.OPT_PASSTHROUGH_TAG)
        assert isinstance(result, torvex.TorvexTag)
        assert repr(result) == "TorvexTag('!foo', ...)"
        assert (result.tag, result.value) == ("!foo", "5")

    def test_dropped_without_handlers(self):
        assert torvex.loads("!foo 5") == "5"
        assert torvex.loads("!foo {a: [1]}") == {"a": [1]}

    def test_tagged_mapping_is_built_before_the_handler(self):
        seen = []
        torvex.loads("!point {x: 1, y: 2}", tags={"!point": seen.append})
        assert seen == [{"x": 1, "y": 2}]

    def test_handler_exception_propagates(self):
        class Boom(Exception):
            pass

        def handler(tag, value):
            raise Boom(tag)

        with pytest.raises(Boom, match="!x"):
            torvex.loads("a: !x 1", tag_handler=handler)

    def test_unhashable_key_from_handler(self):
        with pytest.raises(exc.TorvexDecodeError) as info:
            torvex.loads("{!foo a: 1}", tag_handler=lambda t, v: [v])
        assert str(info.value) == "mapping key is not hashable in Python"
        assert info.value.line is None

    def test_unhandled_tag_on_a_collection_key_is_dropped_and_the_key_is_a_tuple(self):
        assert torvex.loads("? !t {a: 1}\n: x") == {(("a", 1),): "x"}
        assert torvex.loads("? !t [1, 2]\n: x", tags={"!other": str}) == {(1, 2): "x"}
        with pytest.raises(exc.TorvexDecodeError):
            torvex.loads("? !t [1, 2]\n: x", tag_handler=lambda t, v: v)

    def test_directive_tags_are_ordinary_tags_here(self):
        assert torvex.loads("a: !include other.yaml", tag_handler=lambda t, v: f"{t} {v}") == {
            "a": "!include other.yaml"
        }

    def test_tag_dispatch_in_keys_and_loads_all(self):
        assert torvex.loads_all("{!k a: 1}\n---\n!k b", tags={"!k": str.upper}) == [{"A": 1}, "B"]

    def test_named_handle_tags(self):
        text = "%TAG !e! tag:example.com,2000:\n--- !e!point 1"
        assert torvex.loads(text, tag_handler=lambda t, v: t) == "tag:example.com,2000:point"


@pytest.mark.parametrize("option", [0, torvex.OPT_ROUND_TRIP, torvex.OPT_ANNOTATED])
def test_schema_validates_in_every_pipeline(option):
    assert torvex.loads("a: 1", schema={"type": "object"}, option=option)["a"] == 1
    with pytest.raises(torvex.TorvexSchemaError, match="expected type array, found object"):
        torvex.loads("a: 1", schema={"type": "array"}, option=option)


def nested(depth: int) -> str:
    return "[" * depth + "x" + "]" * depth


def test_nesting_limit():
    value = torvex.loads(nested(999))
    for _ in range(999):
        value = value[0]
    assert value == "x"
    with pytest.raises(exc.TorvexParseError, match=r"maximum nesting depth \(1000\) exceeded"):
        torvex.loads(nested(1000))


def test_deep_block_nesting_on_a_small_thread_stack():
    import threading

    text = "".join(" " * i + "- \n" for i in range(998)) + " " * 998 + "- x\n"
    result = {}

    def work():
        result["value"] = torvex.loads(text)

    old = threading.stack_size(256 * 1024)
    try:
        thread = threading.Thread(target=work)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old)
    value = result["value"]
    depth = 0
    while isinstance(value, list):
        value = value[-1]
        depth += 1
    assert (depth, value) == (999, "x")


def test_alias_bomb_is_refused():
    lines = ["a: &a [" + ", ".join(["lol"] * 10) + "]"]
    for prev, name in zip("abcdefgh", "bcdefghi"):
        lines.append(f"{name}: &{name} [" + ", ".join([f"*{prev}"] * 10) + "]")
    with pytest.raises(exc.TorvexParseError, match=r"possible alias bomb"):
        torvex.loads("\n".join(lines))


def test_missing_exception_class_raises_the_internal_error():
    script = textwrap.dedent(
        """
        import sys, types
        import torvex
        sys.modules["torvex.exceptions"] = types.ModuleType("torvex.exceptions")
        try:
            torvex.loads("[")
        except Exception as e:
            print("caught as Exception:", type(e).__name__)
        except BaseException as e:
            print(type(e).__name__, "|", e)
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True).stdout
    name, _, message = out.strip().partition(" | ")
    assert name == "TorvexInternalError"
    assert message.startswith("failed to import exception torvex.exceptions.TorvexParseError: ")
    assert "TorvexParseError" in message.rpartition(": ")[2]


def test_buffers_reused_between_loads_carry_nothing_over():
    # Token and node buffers are kept per thread between loads: a load after a
    # bigger or a failed one must see only its own text.
    big = "\n".join(f"k{i}: [v{i}, {{n: {i}}}]" for i in range(5000))
    small = "a: [1, {b: 2}]"
    expected_big = {f"k{i}": [f"v{i}", {"n": i}] for i in range(5000)}
    for text, expected in [(big, expected_big), (small, {"a": [1, {"b": 2}]}), (big, expected_big)]:
        assert torvex.loads(text) == expected
        with pytest.raises(torvex.TorvexParseError):
            torvex.loads(text + "\n[")
        assert torvex.loads_all("x\n---\n" + text) == ["x", expected]


def test_nested_calls_from_callbacks_keep_their_own_buffers():
    # Callbacks may call back into the library while their caller's buffers
    # are in use: each call must work on its own.
    inner_text = "\n".join(f"i{n}: [{n}, x{n}]" for n in range(2000))
    expected_inner = {f"i{n}": [n, f"x{n}"] for n in range(2000)}

    def handler(tag, value):
        return torvex.loads(inner_text), torvex.to_json({"t": tag, "v": value})

    text = "\n".join(f"k{n}: !t v{n}" for n in range(50))
    doc = torvex.loads(text, tag_handler=handler)
    assert doc["k7"] == (expected_inner, b'{"t":"!t","v":"v7"}')

    class Odd:
        pass

    out = torvex.to_json({"a": [Odd(), "after"]}, default=lambda o: torvex.loads(torvex.to_json(expected_inner)))
    assert json.loads(out) == {"a": [expected_inner, "after"]}


@pytest.mark.parametrize(
    "text, expected",
    [
        ("a: b\n: c", {"a": "b", None: "c"}),
        ("? &x a\n: &y b\n: *x", {"a": "b", None: "a"}),
        ("{a: 1, : bar}", {"a": 1, None: "bar"}),
        ("{? foo :, : bar}", {"foo": None, None: "bar"}),
        ("{a: , b}", {"a": None, "b": None}),
        ("&a", None),
        # `?` with nothing after it: the key is empty, the `:` that follows gives its value
        ("?\n: x", {None: "x"}),
        ("- ? # c\n  : x\n", [{None: "x"}]),
        ("{? : x}", {None: "x"}),
        ("[? : x]", [{None: "x"}]),
        ("? &a\n: x\nb: *a", {None: "x", "b": None}),
    ],
)
def test_empty_keys_values_and_documents(text, expected):
    assert torvex.loads(text) == expected
    assert torvex.loads(text, option=torvex.OPT_ANNOTATED) == expected
