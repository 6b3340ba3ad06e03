"""Python objects to values: which types are accepted, in which order, and how each becomes data.

Values are checked through to_json (whose output json.loads reads back unambiguously) unless the
YAML form itself matters (tags, key types)."""

import collections
import dataclasses
import datetime
import enum
import json
import pathlib
import threading
import typing
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

import torvex
from torvex import TorvexEncodeError, TorvexTag, TorvexUnserializableError
from peers import needs_numpy, numpy as np

TOO_DEEP = "object is too deeply nested to serialize (possible self-reference)"
BAD_BYTES = "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) before dumping"
BAD_TAGS_RESULT = "a tags callback must return a TorvexTag or a (tag, value) tuple"


def data(obj, **kwargs):
    return json.loads(torvex.to_json(obj, **kwargs))


class Color(enum.Enum):
    RED = "red"
    NESTED = [1, {"a": 2}]


class Level(enum.IntEnum):
    HIGH = 3


class Mode(enum.StrEnum):
    FAST = "fast"


class MyInt(int):
    def __int__(self):
        return 0

    def __index__(self):
        return 0

    def __repr__(self):
        return "no"

    __str__ = __repr__


class MyFloat(float):
    pass


class ShoutStr(str):
    def __str__(self):
        return self.upper()


class MyList(list):
    def __iter__(self):
        return reversed(list(super().__iter__()))


class Pair(typing.NamedTuple):
    a: int
    b: str


class Point:
    def __init__(self, x, y):
        self.x, self.y = x, y


class SubPoint(Point):
    pass


@dataclasses.dataclass
class Inner:
    count: int


@dataclasses.dataclass
class Outer:
    name: str
    inner: Inner
    items: list
    shared: typing.ClassVar[int] = 7


# -- built-in types and their subclasses --------------------------------------------------------


@pytest.mark.parametrize(
    "obj, expected",
    [
        (None, None),
        ("text", "text"),
        ("caf\u00e9 \U0001f600", "caf\u00e9 \U0001f600"),
        (0, 0),
        (-(2**63), -(2**63)),
        (2**63 - 1, 2**63 - 1),
        (2**63, 2**63),
        (-(2**70) - 1, -(2**70) - 1),
        (1.5, 1.5),
        (True, True),
        (False, False),
        (Level.HIGH, 3),
        (Mode.FAST, "fast"),
        (MyFloat(2.5), 2.5),
        (ShoutStr("abc"), "ABC"),
        (b"abc", "abc"),
        ("caf\u00e9".encode(), "caf\u00e9"),
        ((1, "a"), [1, "a"]),
        (Pair(1, "x"), [1, "x"]),
        (MyList([1, 2, 3]), [3, 2, 1]),
        ({3}, [3]),
        (frozenset(["x"]), ["x"]),
        (collections.OrderedDict([("b", 1), ("a", 2)]), {"b": 1, "a": 2}),
        (collections.defaultdict(list, {"k": [1]}), {"k": [1]}),
        ({"a": (1, [2, {"b": None}])}, {"a": [1, [2, {"b": None}]]}),
    ],
)
def test_accepted_types(obj, expected):
    result = data(obj)
    assert result == expected
    assert type(result) is type(expected)


@pytest.mark.parametrize("value", [0, 1, -1, 2**62, 2**64 + 5, -(2**100)])
def test_int_subclass_keeps_its_own_value(value):
    # __int__, __index__, __str__ and __repr__ of the subclass are not consulted
    assert torvex.to_json(MyInt(value)) == str(value).encode()


def test_annotated_scalars_are_written_as_their_values():
    values = [
        torvex.TorvexAnnotatedStr("s3cret", 4, 11, "secrets.yaml", 4, 17, "plain", "!secret", "db", 60, 66),
        torvex.TorvexAnnotatedInt(2**70, 1, 1),
        torvex.TorvexAnnotatedFloat(0.5, 2, 2),
    ]
    assert data(values) == ["s3cret", 2**70, 0.5]


def test_bool_is_written_as_a_boolean():
    assert torvex.dumps(True) == b"true\n"
    assert torvex.dumps([False, 1]) == b"- false\n- 1\n"


def test_big_integer_in_full():
    assert torvex.dumps(2**70) == b"1180591620717411303424\n"
    assert torvex.dumps(-(2**70)) == b"-1180591620717411303424\n"


def test_keys_are_not_restricted_to_strings():
    assert torvex.dumps({1: "a", None: "b", 2.5: "c", False: "d"}) == b"1: a\nnull: b\n2.5: c\nfalse: d\n"


def test_sets_keep_iteration_order():
    s = {"x", "y", "z", 1, 2}
    assert data(s) == list(s)


def test_invalid_bytes():
    for obj in (b"\xff", [b"ok", b"\xc3\x28"], {"k": b"\xed\xa0\x80"}):
        with pytest.raises(TorvexEncodeError) as info:
            torvex.dumps(obj)
        assert str(info.value) == BAD_BYTES


@pytest.mark.parametrize("obj", ["\ud800", ["ok", "a\udfffb"], {"\ud800": 1}, {"k": "\ud800"}])
def test_lone_surrogates_raise_unicode_error(obj):
    with pytest.raises(UnicodeEncodeError):
        torvex.to_json(obj)


# -- unsupported objects and default --------------------------------------------------------------


@pytest.mark.parametrize(
    "obj, name",
    [
        (object(), "object"),
        (bytearray(b"x"), "bytearray"),
        (memoryview(b"x"), "memoryview"),
        ((i for i in ()), "generator"),
        (1 + 2j, "complex"),
        (Point(1, 2), "Point"),
        (Point, "type"),
        (Outer, "type"),
        ([1, {"k": Point(0, 0)}], "Point"),
    ],
)
def test_unserializable(obj, name):
    with pytest.raises(TorvexUnserializableError) as info:
        torvex.dumps(obj)
    assert str(info.value) == f"type {name} is not YAML serializable"
    with pytest.raises(TorvexUnserializableError):
        torvex.to_json(obj)


def test_error_classes_derive_from_the_builtin_ones():
    with pytest.raises(TypeError):
        torvex.dumps(object())
    with pytest.raises(ValueError):
        torvex.dumps(b"\xff")


def test_default_is_called_with_the_object_and_its_result_converted():
    seen = []

    def default(obj):
        seen.append(obj)
        return {"point": [obj.x, obj.y]}

    p = Point(1, 2)
    assert data([p, "x"], default=default) == [{"point": [1, 2]}, "x"]
    assert seen == [p]
    assert torvex.dumps(object(), default=lambda o: "repr") == b"repr\n"


def test_default_is_not_called_for_supported_types():
    def default(obj):
        raise AssertionError(obj)

    torvex.dumps([1, "a", None, 1.5, (1,), {2}, {"a": b"b"}, Color.RED, uuid.uuid4()], default=default)


def test_default_exception_propagates_unchanged():
    class Boom(Exception):
        pass

    def default(obj):
        raise Boom("no")

    with pytest.raises(Boom, match="no"):
        torvex.dumps({"a": [Point(0, 0)]}, default=default)


def test_default_returning_another_unsupported_object_is_offered_again():
    calls = []

    def default(obj):
        calls.append(type(obj).__name__)
        return SubPoint(0, 0) if type(obj) is Point else 5

    assert data(Point(1, 1), default=default) == 5
    assert calls == ["Point", "SubPoint"]


# -- TorvexTag and tags -----------------------------------------------------------------------------


def test_torvex_tag_is_written_with_its_tag():
    assert torvex.dumps(TorvexTag("!foo", 5)) == b"!foo 5\n"
    assert torvex.dumps({"p": TorvexTag("!p", [1, 2])}) == b"p: !p\n  - 1\n  - 2\n"
    assert torvex.to_json(TorvexTag("!x", {"a": TorvexTag("!y", 1)})) == b'{"a":1}'


def test_tags_by_exact_type():
    tags = {Point: lambda p: ("!point", [p.x, p.y])}
    assert torvex.dumps(Point(1, 2), tags=tags, option=torvex.OPT_FLOW_STYLE) == b"!point [1, 2]\n"
    assert torvex.dumps({"a": Point(3, 4)}, tags=tags, option=torvex.OPT_FLOW_STYLE) == b"{a: !point [3, 4]}\n"
    with pytest.raises(TorvexUnserializableError, match="type SubPoint is not"):
        torvex.dumps(SubPoint(1, 2), tags=tags)


def test_tags_callback_may_return_a_torvex_tag_or_a_tuple_subclass():
    assert torvex.dumps(Point(1, 2), tags={Point: lambda p: TorvexTag("!pt", p.x)}) == b"!pt 1\n"
    Tagged = collections.namedtuple("Tagged", "tag value")
    assert torvex.dumps(Point(1, 2), tags={Point: lambda p: Tagged("!t", "v")}) == b"!t v\n"


def test_tags_result_value_is_converted_with_the_same_rules():
    tags = {Point: lambda p: ("!point", {"x": p.x, "next": p.y})}
    out = torvex.dumps(Point(1, Point(2, None)), tags=tags, option=torvex.OPT_FLOW_STYLE)
    assert out == b"!point {x: 1, next: !point {x: 2, next: null}}\n"


def test_tags_do_not_override_built_in_types():
    def never(obj):
        raise AssertionError(obj)

    assert torvex.dumps([1, "a"], tags={int: never, str: never, list: never}) == b"- 1\n- a\n"


def test_tags_come_before_dates_enums_and_dataclasses():
    tags = {
        datetime.date: lambda d: ("!date", d.year),
        Color: lambda c: ("!color", c.name),
        Inner: lambda i: ("!inner", i.count),
    }
    out = torvex.dumps([datetime.date(2024, 1, 2), Color.RED, Inner(4)], tags=tags)
    assert out == b"- !date 2024\n- !color RED\n- !inner 4\n"


@pytest.mark.parametrize(
    "result", [None, 5, ["!t", 1], ("!t",), ("!t", 1, 2), (1, "v"), (b"!t", "v"), {"!t": 1}]
)
def test_bad_tags_callback_result(result):
    with pytest.raises(TorvexEncodeError) as info:
        torvex.dumps([Point(0, 0)], tags={Point: lambda p: result})
    assert str(info.value) == BAD_TAGS_RESULT


def test_tags_callback_exception_propagates():
    def boom(p):
        raise KeyError("nope")

    with pytest.raises(KeyError, match="nope"):
        torvex.dumps(Point(0, 0), tags={Point: boom})


def test_tags_callback_may_clear_the_tags_dict():
    tags = {}

    def once(p):
        tags.clear()
        return ("!p", p.x)

    tags[Point] = once
    assert torvex.dumps([Point(1, 0)], tags=tags) == b"- !p 1\n"


# -- dates --------------------------------------------------------------------------------------------

UTC = datetime.timezone.utc
PLUS_0530 = datetime.timezone(datetime.timedelta(hours=5, minutes=30))
ODD = datetime.timezone(datetime.timedelta(hours=5, minutes=30, seconds=15))
ODD_US = datetime.timezone(datetime.timedelta(hours=-1, seconds=-1, microseconds=-5))
NAIVE_UTC, UTC_Z, OMIT_US = torvex.OPT_NAIVE_UTC, torvex.OPT_UTC_Z, torvex.OPT_OMIT_MICROSECONDS

DT = datetime.datetime(2024, 1, 2, 3, 4, 5, 6)
DT0 = datetime.datetime(2024, 1, 2, 3, 4, 5)


@pytest.mark.parametrize(
    "obj, option, text",
    [
        (DT, 0, "2024-01-02T03:04:05.000006"),
        (DT, NAIVE_UTC | UTC_Z | OMIT_US, "2024-01-02T03:04:05Z"),
        (DT, NAIVE_UTC, "2024-01-02T03:04:05.000006+00:00"),
        (DT, UTC_Z, "2024-01-02T03:04:05.000006"),
        (DT, OMIT_US, "2024-01-02T03:04:05"),
        (DT0, 0, "2024-01-02T03:04:05"),
        (DT0, NAIVE_UTC, "2024-01-02T03:04:05+00:00"),
        (DT0, NAIVE_UTC | UTC_Z, "2024-01-02T03:04:05Z"),
        (DT.replace(tzinfo=UTC), 0, "2024-01-02T03:04:05.000006+00:00"),
        (DT.replace(tzinfo=UTC), UTC_Z, "2024-01-02T03:04:05.000006Z"),
        (DT.replace(tzinfo=UTC), UTC_Z | OMIT_US, "2024-01-02T03:04:05Z"),
        (DT.replace(tzinfo=PLUS_0530), NAIVE_UTC | UTC_Z | OMIT_US, "2024-01-02T03:04:05+05:30"),
        (DT.replace(tzinfo=ODD), OMIT_US, "2024-01-02T03:04:05+05:30:15"),
        (DT0.replace(tzinfo=ODD), NAIVE_UTC, "2024-01-02T03:04:05+05:30:15"),
        (DT.replace(tzinfo=ODD_US), OMIT_US | NAIVE_UTC, "2024-01-02T03:04:05-01:00:01.000005"),
        (datetime.date(2024, 1, 2), NAIVE_UTC | UTC_Z, "2024-01-02"),
        (datetime.time(3, 4, 5, 6), NAIVE_UTC | UTC_Z, "03:04:05.000006"),
        (datetime.time(3, 4, 5, 6), OMIT_US, "03:04:05"),
        (datetime.time(3, 4, 5, tzinfo=UTC), UTC_Z, "03:04:05Z"),
    ],
)
def test_dates(obj, option, text):
    assert data(obj, option=option) == text
    assert data({"d": [obj]}, option=option) == {"d": [text]}


offsets = st.none() | st.timedeltas(
    min_value=datetime.timedelta(hours=-23, minutes=-59), max_value=datetime.timedelta(hours=23, minutes=59)
).map(datetime.timezone)


@given(st.datetimes(timezones=offsets), st.integers(min_value=0, max_value=7))
def test_date_options_against_python(dt, bits):
    omit, naive_utc, utc_z = bits & 1, bits & 2, bits & 4
    option = (OMIT_US if omit else 0) | (NAIVE_UTC if naive_utc else 0) | (UTC_Z if utc_z else 0)
    expected = (dt.replace(microsecond=0) if omit else dt).isoformat()
    if dt.tzinfo is None and naive_utc:
        expected += "+00:00"
    if utc_z and expected.endswith("+00:00"):
        expected = expected[: -len("+00:00")] + "Z"
    assert data(dt, option=option) == expected
    assert data(dt.date(), option=option) == dt.date().isoformat()


def test_any_object_with_isoformat_is_a_date():
    class Stamp:
        def isoformat(self):
            return "2020-05-06T07:08:09.5"

    assert data(Stamp(), option=OMIT_US | NAIVE_UTC | UTC_Z) == "2020-05-06T07:08:09Z"


def test_isoformat_returning_a_non_string_falls_through():
    class Odd:
        def isoformat(self):
            return 5

    with pytest.raises(TorvexUnserializableError, match="type Odd is not"):
        torvex.dumps(Odd())
    assert data(Odd(), default=lambda o: "fallback") == "fallback"


def test_isoformat_exception_propagates():
    class Bad:
        def isoformat(self):
            raise OSError("clock")

    with pytest.raises(OSError, match="clock"):
        torvex.dumps(Bad())


def test_passthrough_datetime_hands_dates_to_default():
    option = torvex.OPT_PASSTHROUGH_DATETIME
    with pytest.raises(TorvexUnserializableError) as info:
        torvex.dumps(DT, option=option)
    assert str(info.value) == "type datetime is not YAML serializable"
    assert data([datetime.date(2024, 1, 2)], option=option, default=lambda d: d.year) == [2024]


# -- enums, dataclasses, UUIDs, paths --------------------------------------------------------------


def test_enum_members_by_value():
    assert data([Color.RED, Color.NESTED, Level.HIGH, Mode.FAST]) == ["red", [1, {"a": 2}], 3, "fast"]

    class Flags(enum.Flag):
        A = 1
        B = 2

    assert data(Flags.A | Flags.B) == 3


def test_enum_value_that_is_not_serializable_goes_to_default():
    class Holder(enum.Enum):
        P = Point(1, 2)

    assert data(Holder.P, default=lambda p: p.x) == 1


def test_dataclass_fields_in_order_with_class_variables():
    obj = Outer("x", Inner(1), [Inner(2)])
    assert torvex.dumps(obj) == b"name: x\ninner:\n  count: 1\nitems:\n  - count: 2\nshared: 7\n"


def test_dataclass_field_properties_are_called_and_may_raise():
    @dataclasses.dataclass
    class Lazy:
        a: int

        @property
        def b(self):
            raise LookupError("b")

    Lazy.__dataclass_fields__["b"] = Lazy.__dataclass_fields__["a"]
    with pytest.raises(LookupError, match="b"):
        torvex.dumps(Lazy(1))


def test_passthrough_dataclass_hands_instances_to_default():
    option = torvex.OPT_PASSTHROUGH_DATACLASS
    with pytest.raises(TorvexUnserializableError, match="^type Inner is not YAML serializable$"):
        torvex.dumps(Inner(1), option=option)
    assert data(Inner(1), option=option, default=dataclasses.asdict) == {"count": 1}


def test_dataclass_with_slots_and_frozen():
    @dataclasses.dataclass(frozen=True, slots=True)
    class Frozen:
        x: int
        y: str = "d"

    assert data(Frozen(1)) == {"x": 1, "y": "d"}


def test_uuid_and_paths():
    assert torvex.dumps(uuid.UUID(int=1)) == b"00000000-0000-0000-0000-000000000001\n"
    assert data([pathlib.PurePosixPath("a/b"), pathlib.Path("/x")]) == ["a/b", "/x"]


def test_uuid_lookalikes_are_not_uuids():
    class UUID:
        def __str__(self):
            return "fake"

    with pytest.raises(TorvexUnserializableError, match="type UUID is not"):
        torvex.dumps(UUID())


def test_fspath_must_give_a_str():
    class BytesPath:
        def __fspath__(self):
            return b"a/b"

    class Raising:
        def __fspath__(self):
            raise PermissionError("fs")

    with pytest.raises(TorvexUnserializableError, match="type BytesPath is not"):
        torvex.dumps(BytesPath())
    assert data(BytesPath(), default=lambda o: "d") == "d"
    with pytest.raises(PermissionError, match="fs"):
        torvex.dumps(Raising())


# -- numpy ------------------------------------------------------------------------------------------


@needs_numpy
def test_numpy():
    option = torvex.OPT_SERIALIZE_NUMPY
    arr = np.arange(6, dtype=np.int64).reshape(2, 3)
    assert data(arr, option=option) == [[0, 1, 2], [3, 4, 5]]
    assert data({"f": np.float32(1.5), "b": np.bool_(True), "i": np.uint64(2**64 - 1)}, option=option) == {
        "f": 1.5,
        "b": True,
        "i": 2**64 - 1,
    }
    assert data(np.array(7), option=option) == 7
    assert data(np.array(["a", "b"]), option=option) == ["a", "b"]
    assert data(np.array([DT], dtype=object), option=option) == ["2024-01-02T03:04:05.000006"]
    with pytest.raises(TorvexUnserializableError) as info:
        torvex.dumps(arr)
    assert str(info.value) == "type ndarray is not YAML serializable"


@needs_numpy
def test_numpy_conversion_failures_fall_through_to_default():

    class Stubborn(np.ndarray):
        def tolist(self):
            raise RuntimeError("tolist")

        def item(self):
            raise RuntimeError("item")

    arr = np.zeros(2).view(Stubborn)
    with pytest.raises(TorvexUnserializableError, match="type Stubborn is not"):
        torvex.dumps(arr, option=torvex.OPT_SERIALIZE_NUMPY)
    assert data(arr, option=torvex.OPT_SERIALIZE_NUMPY, default=lambda a: "d") == "d"


@needs_numpy
def test_numpy_array_returning_itself_stops_at_the_depth_limit():

    class Loop(np.ndarray):
        def tolist(self):
            return self

    with pytest.raises(TorvexEncodeError, match="too deeply nested"):
        torvex.dumps(np.zeros(1).view(Loop), option=torvex.OPT_SERIALIZE_NUMPY)


# -- nesting ----------------------------------------------------------------------------------------


def nested_lists(levels, leaf=None):
    obj = [] if leaf is None else leaf
    for _ in range(levels if leaf is not None else levels - 1):
        obj = [obj]
    return obj


def nested_dicts(levels):
    obj = {}
    for _ in range(levels - 1):
        obj = {"k": obj}
    return obj


@pytest.mark.parametrize("build", [nested_lists, nested_dicts])
def test_depth_limit(build):
    torvex.to_json(build(1000))  # the innermost collection is at depth 999
    for too_deep in (build(1001), build(5000)):
        with pytest.raises(TorvexEncodeError) as info:
            torvex.to_json(too_deep)
        assert str(info.value) == TOO_DEEP


def test_depth_limit_counts_scalars_tagged_values_and_default_results():
    torvex.to_json(nested_lists(999, leaf=1))  # the 1 is at depth 999
    with pytest.raises(TorvexEncodeError, match="too deeply"):
        torvex.to_json(nested_lists(1000, leaf=1))
    with pytest.raises(TorvexEncodeError, match="too deeply"):
        torvex.dumps(nested_lists(999, leaf=TorvexTag("!t", 1)))
    with pytest.raises(TorvexEncodeError, match="too deeply"):
        torvex.dumps(nested_lists(999, leaf=Point(0, 0)), default=lambda p: 1)


@pytest.mark.parametrize("kind", ["list", "dict", "tuple", "default", "enum"])
def test_self_reference(kind):
    if kind == "list":
        obj = []
        obj.append(obj)
        kwargs = {}
    elif kind == "dict":
        obj = {}
        obj["self"] = obj
        kwargs = {}
    elif kind == "tuple":
        inner = []
        obj = (inner,)
        inner.append(obj)
        kwargs = {}
    elif kind == "default":
        obj = Point(0, 0)
        kwargs = {"default": lambda o: o}
    else:

        class Loop(enum.Enum):
            A = 1

            @property
            def value(self):
                return self

        obj = Loop.A
        kwargs = {}
    for fn in (torvex.dumps, torvex.to_json):
        with pytest.raises(TorvexEncodeError) as info:
            fn(obj, **kwargs)
        assert str(info.value) == TOO_DEEP


def test_deep_nesting_with_callbacks_on_a_small_thread_stack():
    # the conversion continues on fresh stack segments and still calls Python code there
    result = {}

    def run():
        try:
            obj = nested_lists(995, leaf=Point(1, 2))
            result["out"] = torvex.to_json(obj, default=lambda p: {"x": [p.x, p.y]})
        except BaseException as exc:  # reported to the main thread
            result["error"] = exc

    old = threading.stack_size(256 * 1024)
    try:
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    finally:
        threading.stack_size(old)
    assert "error" not in result, result.get("error")
    assert result["out"] == b"[" * 995 + b'{"x":[1,2]}' + b"]" * 995


# -- objects changed while they are converted --------------------------------------------------------


def test_list_cleared_by_default_while_converting_an_item():
    class Victim:
        pass

    items = [1, Victim(), Victim(), 4]

    def default(obj):
        items.clear()
        return "seen"

    # the item being converted stays alive; the shrunken list is not read past its end
    assert data(items, default=default) == [1, "seen"]


def test_list_item_freed_during_its_own_conversion_stays_alive():
    holder = []

    @dataclasses.dataclass
    class Node:
        a: int

        @property
        def b(self):
            holder.clear()  # drops the list's reference to this very object
            return [self.a] * 3

    field = Node.__dataclass_fields__["a"]
    Node.__dataclass_fields__ = {"b": field, "a": field}  # b first: the instance is read again after it
    holder.extend([Node(5), "tail"])
    assert data(holder) == [{"b": [5, 5, 5], "a": 5}]


def test_list_grown_by_default_is_read_to_its_new_end():
    items = [Point(0, 0)]

    def default(obj):
        if len(items) < 3:
            items.append(Point(0, 0))
        return len(items)

    assert data(items, default=default) == [2, 3, 3]


def test_dict_changed_size_during_conversion():
    d = {"a": Point(0, 0), "b": 2}

    def default(obj):
        d["c"] = 3
        return 1

    with pytest.raises(RuntimeError) as info:
        torvex.to_json(d, default=default)
    assert str(info.value) == "dictionary changed size during iteration"


def test_dict_cleared_during_conversion_of_its_value():
    d = {}

    @dataclasses.dataclass
    class Node:
        a: int

        @property
        def b(self):
            d.clear()  # frees this value unless the converter holds it
            return [self.a, "x" * 50]

    field = Node.__dataclass_fields__["a"]
    Node.__dataclass_fields__ = {"b": field, "a": field}
    d["k"] = Node(1)
    d["z"] = 2
    with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
        torvex.to_json(d)


def test_dict_keys_replaced_during_conversion():
    d = {"a": Point(0, 0), "b": 2}

    def default(obj):
        del d["a"]  # same size, but one entry more than the converter expects to find
        d["c"] = 3
        return 1

    with pytest.raises(RuntimeError) as info:
        torvex.to_json(d, default=default)
    assert str(info.value) == "dictionary keys changed during iteration"


def test_dict_value_replaced_during_conversion_is_read_fresh():
    d = {"a": Point(0, 0), "b": "old"}

    def default(obj):
        d["b"] = "new"
        return 1

    assert data(d, default=default) == {"a": 1, "b": "new"}


def test_set_changed_during_conversion():
    s = {Point(0, 0), 1, 2}

    def default(obj):
        s.add(99)
        return 0

    with pytest.raises(RuntimeError, match="changed size during iteration"):
        torvex.to_json(s, default=default)


def test_concurrent_mutation_from_other_threads_never_crashes():
    shared = {"list": list(range(50)), "dict": {str(i): i for i in range(50)}}
    stop = threading.Event()

    def mutate():
        i = 0
        while not stop.is_set():
            i += 1
            shared["list"].append(i)
            shared["list"].pop(0)
            shared["dict"][str(i % 80)] = [i]
            shared["dict"].pop(str((i + 40) % 80), None)

    thread = threading.Thread(target=mutate)
    thread.start()
    try:
        for _ in range(300):
            try:
                json.loads(torvex.to_json(shared))
            except RuntimeError as exc:
                assert "during iteration" in str(exc)
    finally:
        stop.set()
        thread.join()
