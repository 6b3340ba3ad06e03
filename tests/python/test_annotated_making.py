"""How annotated loads make their objects: scalars made natively equal scalars made by calling the
package's classes, a class changed after import is honoured, and every object handed over is tracked
by the cycle collector, on failed loads too."""

import gc
import pathlib
import pickle
import signal
import sys

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import torvex

ROOT = pathlib.Path(__file__).resolve().parents[2]
SUITE = ROOT.parent / "shared" / "yaml-test-suite"
ANN = torvex.OPT_ANNOTATED | torvex.OPT_ANNOTATE_NUMBERS
SCALARS = (torvex.TorvexAnnotatedStr, torvex.TorvexAnnotatedInt, torvex.TorvexAnnotatedFloat)
ANNOTATED = SCALARS + (torvex.TorvexAnnotatedDict, torvex.TorvexAnnotatedList)


def suite_texts():
    if not SUITE.is_dir():
        return []
    return [pytest.param((p.parent / "in.yaml").read_bytes(), id=str(p.parent.relative_to(SUITE)))
            for p in sorted(SUITE.rglob("in.yaml")) if not (p.parent / "error").exists()]


def walk(obj):
    """Every object of a result, keys included, depth first."""
    yield obj
    if isinstance(obj, dict):
        for k, v in obj.items():
            yield from walk(k)
            yield from walk(v)
    elif isinstance(obj, (list, tuple)):
        for v in obj:
            yield from walk(v)
    elif isinstance(obj, torvex.TorvexTag):
        yield from walk(obj.value)


def tracked_as_needed(obj):
    """Collections are tracked by the collector; an annotated scalar holds nothing it tracks, so the scalar can be
    in no cycle and needs no tracking."""
    if isinstance(obj, SCALARS):
        return not any(gc.is_tracked(field) for field in obj._annotations())
    return gc.is_tracked(obj) if isinstance(obj, (dict, list)) else True


def called_classes(monkeypatch):
    """Makes every scalar class be called through a __new__ of its own (the loader then cannot stand in)."""
    for cls in SCALARS:
        original = cls.__new__
        monkeypatch.setattr(cls, "__new__", lambda klass, *args, _new=original: _new(klass, *args))


@pytest.mark.parametrize("text", suite_texts())
def test_native_scalars_equal_called_scalars(text, monkeypatch):
    native = torvex.loads_all(text, option=ANN | torvex.OPT_PASSTHROUGH_TAG)
    called_classes(monkeypatch)
    called = torvex.loads_all(text, option=ANN | torvex.OPT_PASSTHROUGH_TAG)
    pairs = list(zip(walk(native), walk(called), strict=True))
    for a, b in pairs:
        assert type(a) is type(b)
        if isinstance(a, SCALARS):
            assert a == b and hash(a) == hash(b) and a._plain() == b._plain()
            if isinstance(a, str):
                assert a.encode() == b.encode() and len(a) == len(b) and a[:] == b[:]
            assert a._annotations() == b._annotations()
            assert pickle.dumps(a) == pickle.dumps(b)
            assert pickle.loads(pickle.dumps(a))._annotations() == a._annotations()
        assert tracked_as_needed(a), repr(a)
        if isinstance(a, (torvex.TorvexAnnotatedStr, torvex.TorvexAnnotatedFloat)):
            assert not gc.is_tracked(a), repr(a)  # made natively: no collection walks it


@settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(st.lists(st.text(st.characters(codec="utf-8", exclude_categories=("Cs",)), max_size=12), min_size=1,
                max_size=6))
def test_native_strings_of_every_width_equal_called_strings(monkeypatch, texts):
    """ASCII, Latin-1, two- and four-byte texts, as keys and values: the natively made strings are the
    strings the class's own __new__ makes, down to hashing, encoding, slicing and comparing."""
    text = torvex.dumps({t: [t, t * 2] for t in texts})
    native = torvex.loads(text, option=ANN)
    with monkeypatch.context() as patch:
        called_classes(patch)
        called = torvex.loads(text, option=ANN)
    assert native == {t: [t, t * 2] for t in texts}
    for a, b in zip(walk(native), walk(called), strict=True):
        assert type(a) is type(b)
        if isinstance(a, str):
            plain = str.__str__(b)
            assert a == plain and hash(a) == hash(plain) and a.encode() == plain.encode()
            assert a[1:] == plain[1:] and len(a) == len(plain) and a.isascii() == plain.isascii()
            assert a._annotations() == b._annotations()


def test_a_class_given_its_own_setattr_is_called(monkeypatch):
    stores = []

    def recording_setattr(self, name, value):
        stores.append(name)
        object.__setattr__(self, name, value)

    monkeypatch.setattr(torvex.TorvexAnnotatedStr, "__setattr__", recording_setattr)
    d = torvex.loads("k: v\n", option=ANN)
    assert len(stores) == 20 and stores[:2] == ["__line__", "__column__"]
    assert d["k"].__column__ == 4 and type(d["k"]) is torvex.TorvexAnnotatedStr


def test_a_class_that_drops_the_slots_is_called(monkeypatch):
    class Loose(str):  # fields in __dict__: nothing to write natively
        __new__ = torvex.TorvexAnnotatedStr.__new__

    monkeypatch.setattr(torvex.TorvexAnnotatedStr, "__new__", staticmethod(
        lambda klass, *args: Loose.__new__(Loose, *args)))
    value = torvex.loads("[v]", option=ANN)[0]
    assert type(value) is Loose and value.__line__ == 1 and value.__end_column__ == 3


@pytest.mark.parametrize("field", ["__line__", "__end_offset__"])
def test_a_field_made_a_property_after_a_load_is_set_through_the_class(monkeypatch, field):
    """What the loader learnt of a class's slots holds only while the class stays as it was: once a field's
    slot gives way to a property, the next load sets that field through the class's own __new__."""
    cls = torvex.TorvexAnnotatedStr
    assert torvex.loads("k: v\n", option=ANN)["k"].__line__ == 1  # the class's layout, as loads see it
    member, stored = cls.__dict__[field], []

    def store(self, value):
        stored.append(value)
        member.__set__(self, value)

    monkeypatch.setattr(cls, field, property(member.__get__, store))
    value = torvex.loads("k: v\n", option=ANN)["k"]
    assert stored == ([1, 1] if field == "__line__" else [1, 4]) and getattr(value, field) == stored[1]
    monkeypatch.undo()
    stored.clear()
    assert torvex.loads("k: v\n", option=ANN)["k"].__end_offset__ == 4 and not stored


class Sentinel:
    def __init__(self, flag):
        self.flag = flag

    def __del__(self):
        self.flag.append("collected")


def test_cycles_made_during_the_load_are_collectable():
    flag = []

    def close_cycle(tag, value):
        value.append(value)  # the list refers to itself
        value.append(Sentinel(flag))
        return value

    result = torvex.loads("a: !cycle [x]\nb: [y]\n", option=ANN, tag_handler=close_cycle)
    assert all(tracked_as_needed(o) for o in walk(result["b"]))
    cyclic = result["a"]
    assert gc.is_tracked(cyclic) and tracked_as_needed(cyclic[0])
    del result, cyclic
    gc.collect()
    assert flag == ["collected"]


def test_objects_kept_from_a_failed_load_are_tracked():
    kept = []

    def keep_then_fail(tag, value):
        if tag == "!fail":
            raise LookupError("stop here")
        kept.append(value)
        return value

    text = "- !keep {a: [x, 'y'], b: 2.5}\n- !keep [z]\n- !fail w\n"
    with pytest.raises(LookupError, match="stop here"):
        torvex.loads_all(text, option=ANN, tag_handler=keep_then_fail)
    assert len(kept) == 2
    for obj in walk(kept):
        assert tracked_as_needed(obj), repr(obj)
    assert kept[0]["a"][1].__style__ == "single" and kept[1][0].__line__ == 2


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs interval timers")
@pytest.mark.parametrize("option", [ANN, torvex.OPT_INCLUDES])
def test_a_long_composed_load_lets_signal_handlers_run(option):
    """A long conversion gives the interpreter its turns: signal handlers run during it, several times over
    where they could otherwise run once after it, and one that raises ends the load with its exception,
    whatever the load had built left tracked and the next load whole."""
    text = ("- {a: [x, 'y'], b: !!str z}\n" * 40000).encode()
    calls, kept = [], []

    def count(signum, frame):
        calls.append(signum)

    class Stop(Exception):
        pass

    def stop(signum, frame):
        kept.extend(o for o in gc.get_objects() if isinstance(o, ANNOTATED))
        raise Stop

    previous = signal.signal(signal.SIGALRM, count)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
        try:
            assert len(torvex.loads(text, option=option)) == 40000
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
        assert len(calls) >= 2
        signal.signal(signal.SIGALRM, stop)
        with pytest.raises(Stop):  # entered first: on a busy machine the timer can fire before the load is called
            signal.setitimer(signal.ITIMER_REAL, 0.001)
            torvex.loads(text, option=option)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert not kept  # nothing half built was reachable by the collector
    assert torvex.loads(text, option=option)[-1] == {"a": ["x", "y"], "b": "z"}


def error_or_none(text, option):
    try:
        torvex.loads_all(text, option=option)
    except ValueError as e:  # parse errors and input errors alike
        return type(e), str(e), getattr(e, "line", None), getattr(e, "column", None)
    return None


def every_input():
    corpus = [p for p in sorted((ROOT / "fuzz" / "corpus").rglob("*")) if p.is_file()]
    suite = sorted(SUITE.rglob("in.yaml")) if SUITE.is_dir() else []
    return [pytest.param(p.read_bytes(), id=str(p.relative_to(ROOT.parent))) for p in suite + corpus]


@pytest.mark.parametrize("extra", [0, torvex.OPT_REJECT_COMPLEX_KEYS])
@pytest.mark.parametrize("text", every_input())
def test_annotated_loads_fail_exactly_as_plain_loads(text, extra):
    """The composed pipeline checks the text with the decoder over its own token list: the first error is the
    plain load's, class, message and position, for every input of the test suite, valid or not, and the fuzz
    corpus."""
    assert error_or_none(text, extra | ANN) == error_or_none(text, extra)


def failing_after(count):
    """A scalar class __new__ that makes `count` scalars, then raises."""
    made = [0]
    original = torvex.TorvexAnnotatedStr.__new__

    def new(klass, *args):
        made[0] += 1
        if made[0] > count:
            made[0] = 0
            raise LookupError("enough")
        return original(klass, *args)

    return new


@pytest.mark.parametrize("patch", ["native", "new", "init", "failing"])
def test_every_way_of_making_scalars_releases_the_fields(monkeypatch, patch):
    """The numbers made for a scalar's fields (offsets past the small ints included) end up in the scalar or
    are released, whether the loader writes the slots itself, calls the class's __new__, calls the class as
    a whole or meets a failure halfway: repeated loads leave no block behind."""
    cls = torvex.TorvexAnnotatedStr
    if patch == "new":
        called_classes(monkeypatch)
    elif patch == "init":
        monkeypatch.setattr(cls, "__init__", lambda self, *args: None, raising=False)
    elif patch == "failing":
        monkeypatch.setattr(cls, "__new__", failing_after(60))  # past the small ints
    text = "".join(f"key_{i}: 'value {i}'\nlist_{i}: [a, {{b: 2.5}}]\n" for i in range(40)) * 3

    def load():
        try:
            return torvex.loads_all(text, option=ANN)
        except LookupError:
            return None

    for _ in range(500):  # the interpreter's own caches settle first
        load()
    gc.collect()
    before = sys.getallocatedblocks()
    for _ in range(200):
        load()
    gc.collect()
    assert sys.getallocatedblocks() - before < 200  # less than one block per load (a scalar has ten fields)
