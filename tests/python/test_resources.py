"""No leaks on success or failure, and loads on many threads at once."""

import gc
import sys
import sysconfig
import threading
import tracemalloc

import pytest

import torvex
from resident import resident_bytes


class Point:
    def __init__(self, value):
        self.value = value


def failing_handler(tag, value):
    raise KeyError(tag)


WORKLOAD = [
    ("a: [1, 2, {b: c}]\nd: !p x\n", {}),
    ("a: [1, 2\n", {}),  # parse error
    ("{!p k: 1}", {"tag_handler": lambda t, v: [v]}),  # unhashable key
    ("x: !bad 1", {"tag_handler": failing_handler}),  # handler raises
    ("&a [*a]", {}),  # unknown alias
    (b"\xff\xfe\x00\xd8", {}),  # decoding error
    ("a: 1\na: 2", {"option": torvex.OPT_DUPLICATE_KEYS_ERROR}),
    ("k: 12345678901234567890123\n" * 3, {"option": torvex.OPT_YAML_1_1}),
    ("b: &b {x: 1.5, y: [s]}\nd:\n  <<: *b\n  y: 3\n", {"option": torvex.OPT_DUPLICATE_KEYS_WARN}),  # merge keys
    ("? [a, {b: c}]\n: v\n", {}),  # collection key
]


def run_workload(tags, rounds):
    for _ in range(rounds):
        for text, kwargs in WORKLOAD:
            for annotated in (0, torvex.OPT_ANNOTATED | torvex.OPT_ANNOTATE_NUMBERS):  # plain and composed pipelines
                option = (kwargs.get("option") or 0) | annotated
                try:
                    torvex.loads(text, tags=tags, **{**kwargs, "option": option})
                except (torvex.TorvexError, ValueError, KeyError):
                    pass
                try:
                    torvex.loads_all(text, tags=tags, option=option)
                except (torvex.TorvexError, ValueError, KeyError):
                    pass


def test_reference_counts_of_shared_objects_are_stable():
    tags = {"!p": Point}
    run_workload(tags, 5)
    gc.collect()
    before = (sys.getrefcount(tags), sys.getrefcount(Point), sys.getrefcount(failing_handler))
    run_workload(tags, 200)
    gc.collect()
    assert (sys.getrefcount(tags), sys.getrefcount(Point), sys.getrefcount(failing_handler)) == before


def test_python_memory_does_not_grow():
    tags = {"!p": Point}
    run_workload(tags, 5)
    gc.collect()
    tracemalloc.start()
    try:
        run_workload(tags, 50)
        gc.collect()
        start, _ = tracemalloc.get_traced_memory()
        run_workload(tags, 300)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert end - start < 64 * 1024


def test_native_memory_does_not_grow():
    tags = {"!p": Point}
    run_workload(tags, 200)
    gc.collect()
    before = resident_bytes()
    run_workload(tags, 2000)
    gc.collect()
    assert resident_bytes() - before < 8 * 1024 * 1024


def test_threads_load_different_documents_at_once():
    errors = []
    barrier = threading.Barrier(8)

    def work(n):
        text = "\n".join(f"k{n}_{i}: [{n}, {i}, v{n}]" for i in range(300))
        expected = {f"k{n}_{i}": [n, i, f"v{n}"] for i in range(300)}
        try:
            barrier.wait()
            for _ in range(30):
                assert torvex.loads(text) == expected
                with pytest.raises(torvex.TorvexParseError):
                    torvex.loads(text + "\n[")
        except BaseException as error:  # reported below
            errors.append(error)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []


@pytest.mark.skipif(bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
                    reason="counts references to keys interned here; keys are not interned on a free-threaded build")
def test_a_threads_remembered_keys_are_released_with_it():
    # Keys remembered by loads on a thread belong to that thread's state: once the thread is gone, none of its
    # references to them is left behind.
    import time

    key = sys.intern("released_with_the_thread_" + "x" * 8)
    text = "".join(f"{key}{i}: {i}\n" for i in range(50)) + f"{key}: [1]\n"
    baseline = sys.getrefcount(key)

    def work():
        for _ in range(3):
            assert torvex.loads(text)[key] == [1]

    threads = [threading.Thread(target=work) for _ in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    deadline = time.monotonic() + 5
    while sys.getrefcount(key) != baseline and time.monotonic() < deadline:
        time.sleep(0.01)  # a joined thread's state may be cleared a moment after join() returns
    assert sys.getrefcount(key) == baseline


@pytest.mark.skipif(bool(sysconfig.get_config_var("Py_GIL_DISABLED")),
                    reason="counts references to keys interned here; keys are not interned on a free-threaded build")
def test_remembered_keys_stay_bounded_and_follow_new_documents():
    # The thread's key memory holds a bounded number of keys however many documents pass, and a document of new
    # keys is remembered at its first load, taking the slots of keys earlier loads left there. Counted by the
    # references the memory holds to keys interned here first; on a thread of its own, so the memory starts empty.
    def counts(keys):
        return [sys.getrefcount(k) for k in keys]

    def held(keys, baselines):
        return sum(now > before for now, before in zip(counts(keys), baselines))

    def document(keys):
        return "".join(f"{k}: {i}\n" for i, k in enumerate(keys))

    results = {}

    def work():
        big = [sys.intern(f"big_document_key_{i:05d}") for i in range(3000)]
        new = [sys.intern(f"new_document_key_{i:04d}") for i in range(300)]
        big_text, new_text = document(big), document(new)
        big_base, new_base = counts(big), counts(new)
        for _ in range(3):
            assert len(torvex.loads(big_text)) == 3000
        results["big"] = held(big, big_base)
        assert len(torvex.loads(new_text)) == 300
        results["after"] = held(big, big_base), held(new, new_base)

    thread = threading.Thread(target=work)
    thread.start()
    thread.join()
    big_held = results["big"]
    big_after, new_held = results["after"]
    assert 500 <= big_held <= 1024  # many kept, never more than the slots
    assert new_held >= 200  # most of the new keys, at their first load
    assert big_after + new_held <= 1024
