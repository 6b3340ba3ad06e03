"""Every pipeline on several threads at once.

Loads of every kind give, on each of several threads started together, what one thread alone gets; round-trip
documents edited one per thread write what one thread writes; one document shared by readers and writers fails
only with the documented borrow errors and never shows a half-made edit; containers another thread changes while
they are dumped give whole output or the interpreter's own error. On a free-threaded interpreter the threads run
truly at once, and the interpreter lock stays off.
"""

import json
import os
import subprocess
import sys
import threading
import time
from pathlib import Path

import pytest

import torvex
from peers import FREE_THREADED
from test_loads import _key_strs
from test_roundtrip import CONFIG

ROOT = Path(__file__).resolve().parents[2]
SUITE = ROOT.parent / "shared" / "yaml-test-suite"
sys.path.insert(0, str(ROOT / "bench"))
import config_tree  # noqa: E402

THREADS = 4
BORROW_ERRORS = {"Already borrowed", "Already mutably borrowed"}
ANNOTATIONS = ("__line__", "__column__", "__end_line__", "__end_column__", "__offset__", "__end_offset__",
               "__file__", "__source_tag__", "__source_target__")


def together(work, threads=THREADS):
    """work(n) on `threads` threads released at once by a barrier; their results by n, or the first failure."""
    barrier, results, errors = threading.Barrier(threads), [None] * threads, []

    def run(n):
        try:
            barrier.wait()
            results[n] = work(n)
        except BaseException as error:  # raised again on the calling thread
            errors.append(error)

    started = [threading.Thread(target=run, args=(n,)) for n in range(threads)]
    for thread in started:
        thread.start()
    for thread in started:
        thread.join()
    if errors:
        raise errors[0]
    return results


def shape(obj, depth=0):
    """The loaded value with everything that tells results apart: types, annotations, and floats by their text
    (NaN equals itself here)."""
    assert depth < 200, "nesting deeper than any test input"
    marks = tuple(getattr(obj, name, None) for name in ANNOTATIONS) if hasattr(obj, "__line__") else None
    if isinstance(obj, dict):
        items = [(shape(k, depth + 1), shape(v, depth + 1)) for k, v in obj.items()]
        return type(obj).__name__, marks, items
    if isinstance(obj, (list, tuple)):
        return type(obj).__name__, marks, [shape(v, depth + 1) for v in obj]
    return type(obj).__name__, marks, repr(obj)


def outcome(load, text):
    try:
        return "value", shape(load(text))
    except (torvex.TorvexError, ValueError, TypeError, KeyError) as error:
        return "error", type(error).__name__, str(error)


def suite_texts():
    texts = sorted(path.read_bytes() for path in SUITE.rglob("in.yaml")) if SUITE.is_dir() else []
    assert len(texts) > 300, "the YAML test suite is missing"
    return texts


SCHEMA = {"type": "object", "additionalProperties": {"type": ["integer", "string", "array", "object", "null"]}}
LOADS = {
    "plain": lambda text: torvex.loads_all(text),
    "yaml11": lambda text: torvex.loads_all(text, option=torvex.OPT_YAML_1_1 | torvex.OPT_DUPLICATE_KEYS_ERROR),
    "annotated": lambda text: torvex.loads_all(text, option=torvex.OPT_ANNOTATED | torvex.OPT_ANNOTATE_NUMBERS),
    "schema": lambda text: torvex.loads(text, schema=SCHEMA),
    "round-trip": lambda text: torvex.loads(text, option=torvex.OPT_ROUND_TRIP).to_dict(),
}


@pytest.mark.parametrize("pipeline", LOADS)
def test_loads_of_the_whole_suite_on_threads_equal_one_threads(pipeline):
    # Every text of the suite, errors included, each thread in its own order so that different texts meet.
    load, texts = LOADS[pipeline], suite_texts()
    expected = [outcome(load, text) for text in texts]
    order = list(range(len(texts)))
    mismatches = together(lambda n: [i for i in order[n::THREADS] + order * 3 + order[::-1]
                                     if outcome(load, texts[i]) != expected[i]])
    assert mismatches == [[]] * THREADS


@pytest.fixture(scope="module")
def config(tmp_path_factory):
    main = config_tree.generate(tmp_path_factory.mktemp("conf") / "conf", seed=3, packages=12, areas=4, per_area=8)
    option = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR | torvex.OPT_INCLUDE_DIR_RECURSIVE
    return main, option


@pytest.mark.parametrize("extra", [0, torvex.OPT_ANNOTATED, torvex.OPT_ROUND_TRIP], ids=["plain", "annotated",
                                                                                       "round-trip"])
def test_directive_loads_on_threads_equal_one_threads(config, extra):
    main, option = config

    def load():
        result = torvex.loads(main.read_bytes(), option=option | extra, include_dir=str(main.parent),
                              root_path=str(main))
        if extra == torvex.OPT_ROUND_TRIP:
            return shape(result.to_dict()), result.to_yaml(), sorted(torvex.dump_includes_map(result).items())
        return shape(result)

    expected = load()
    assert together(lambda n: [load() == expected for _ in range(5)]) == [[True] * 5] * THREADS


def test_keys_loaded_on_threads_stay_mortal():
    # Each thread loads keys no other load has seen, through every pipeline; where interned strs are immortal
    # (free-threaded builds) none of them may be interned, elsewhere interning keeps them mortal.
    def work(n):
        found = []
        for round_ in range(20):
            text = "".join(f"key_{n}_{round_}_{i}: {{inner_{n}_{round_}_{i}: [1]}}\n" for i in range(30))
            for load in LOADS.values():
                found.extend(k for k in _key_strs(load(text)) if k.startswith(("key_", "inner_")))
        return found

    keys = [key for found in together(work) for key in found]
    assert len(keys) == THREADS * 20 * len(LOADS) * 60
    assert not any(sys._is_immortal(key) for key in keys)
    if FREE_THREADED:
        assert not any(sys._is_interned(key) for key in keys)


def edit_and_write(n):
    doc = torvex.loads(CONFIG, option=torvex.OPT_ROUND_TRIP)
    doc["server"]["port"] = 9000 + n
    doc.node["server"]["host"].comment = f"edited by {n}"
    del doc["server"]["tags"]
    doc["list"][1] = {"n": [n, None, "x" * n]}
    doc["added"] = {"by": n}
    return doc.to_yaml(), doc.to_dict()


def test_round_trip_documents_one_per_thread_write_what_one_thread_writes():
    expected = [edit_and_write(n) for n in range(THREADS)]
    results = together(lambda n: [edit_and_write(n) for _ in range(50)])
    for n, runs in enumerate(results):
        assert runs == [expected[n]] * 50
        assert torvex.loads(expected[n][0]) == expected[n][1]


def test_one_document_shared_by_readers_and_writers():
    # Writers replace a pair whose two halves are equal, and set items and comments through nodes; readers look
    # at whole snapshots (to_dict, to_yaml) and single items. Only the borrow errors may fail an operation, at any
    # call that touches the document, and no snapshot may hold a pair written half. The threads go on until both
    # errors have been met (on one core too, a thread preempted inside a call meets the others), for at most a
    # few seconds.
    doc = torvex.loads("pair: {a: 0, b: 0}\n" + "".join(f"k{i}: {i}\n" for i in range(50)),
                       option=torvex.OPT_ROUND_TRIP)
    seen_errors, deadline = set(), time.monotonic() + 3

    def attempt(operation):
        try:
            return operation()
        except RuntimeError as error:
            assert str(error) in BORROW_ERRORS, str(error)
            seen_errors.add(str(error))
            return None

    def rounds():
        i = 0
        while i < 300 or (seen_errors != BORROW_ERRORS and time.monotonic() < deadline):
            yield i
            i += 1

    def writer(n):
        for i in rounds():
            attempt(lambda: doc.__setitem__("pair", {"a": i, "b": i}))
            attempt(lambda: doc.node[f"k{i % 50}"].__setattr__("value", i * THREADS + n))
            attempt(lambda: doc.node[f"k{(i + 7) % 50}"].__setattr__("comment", f"w{n}"))

    def reader(n):
        for i in rounds():
            snapshot = attempt(doc.to_dict)
            if snapshot is not None:
                assert snapshot["pair"]["a"] == snapshot["pair"]["b"] and len(snapshot) == 51
            text = attempt(doc.to_yaml)
            if text is not None:
                reloaded = torvex.loads(text)
                assert reloaded["pair"]["a"] == reloaded["pair"]["b"] and len(reloaded) == 51
            value = attempt(lambda: doc.node[f"k{i % 50}"].value)
            assert value is None or isinstance(value, int)

    together(lambda n: (writer if n % 2 else reader)(n))
    assert torvex.loads(doc.to_yaml()) == doc.to_dict()
    if FREE_THREADED:
        assert seen_errors == BORROW_ERRORS, "the threads never met: the test shows nothing"


# Dumping containers that another thread changes: each list and dict is read whole or item by item under its own
# lock, so the output is always well-formed and made only of values the mutator wrote; iterating a dict whose
# size changes is the interpreter's own RuntimeError.
def mutated_containers():
    return {"list": list(range(40)), "dict": {f"d{i}": i for i in range(40)}, "nested": [[0, "v"]] * 10}


def mutate(shared, stop):
    i = 0
    while not stop.is_set():
        i += 1
        shared["list"].append(i)
        shared["list"].pop(0)
        shared["list"][i % 30] = f"s{i}"
        shared["dict"][f"d{i % 60}"] = [i, f"s{i}"]
        shared["dict"].pop(f"d{(i + 30) % 60}", None)
        shared["nested"][i % 10] = [i, "v" * (i % 7)]


def leaves_are_written_values(value):
    if isinstance(value, dict):
        return all(k.startswith("d") and leaves_are_written_values(v) for k, v in value.items())
    if isinstance(value, list):
        return all(leaves_are_written_values(v) for v in value)
    return (isinstance(value, int) and value >= 0) or (isinstance(value, str) and (value[:1] in ("s", "v", "")))


@pytest.mark.parametrize("dump, read", [(torvex.dumps, torvex.loads), (torvex.to_json, json.loads),
                                        (lambda o: torvex.dumps(o, option=torvex.OPT_SORT_KEYS), torvex.loads)],
                         ids=["dumps", "to_json", "dumps-sorted"])
def test_dumping_containers_another_thread_changes(dump, read):
    shared, stop = mutated_containers(), threading.Event()
    mutator = threading.Thread(target=mutate, args=(shared, stop))
    mutator.start()
    try:
        def work(n):
            whole = 0
            for _ in range(200):
                try:
                    out = dump(shared)
                except RuntimeError as error:
                    assert "changed size during iteration" in str(error) or "keys changed" in str(error), str(error)
                    continue
                loaded = read(out)
                assert set(loaded) == {"list", "dict", "nested"}, out
                assert all(leaves_are_written_values(part) for part in loaded.values()), out
                assert len(loaded["list"]) in (39, 40, 41)
                whole += 1
            return whole

        done = together(work, threads=THREADS - 1)
    finally:
        stop.set()
        mutator.join()
    assert sum(done) > 0


@pytest.mark.skipif(not FREE_THREADED, reason="the interpreter lock can only stay off on a free-threaded build")
def test_the_interpreter_lock_stays_off():
    # Importing the module and running each pipeline once must not turn the lock on (CPython turns it on, with a
    # warning, for a module that does not declare itself free-threading safe).
    script = ("import sys, torvex\n"
              "doc = torvex.loads('a: [1]', option=torvex.OPT_ROUND_TRIP)\n"
              "doc['a'] = 2\n"
              "torvex.dumps(torvex.loads('a: 1', option=torvex.OPT_ANNOTATED)); torvex.to_json([1])\n"
              "print(sys._is_gil_enabled())\n")
    run = subprocess.run([sys.executable, "-W", "error", "-c", script], capture_output=True, text=True,
                         env={k: v for k, v in os.environ.items() if k != "PYTHON_GIL"}, check=False)
    assert (run.returncode, run.stdout, run.stderr) == (0, "False\n", "")


def test_each_threads_first_load_reads_like_every_later_one():
    # A thread's first call reaches the module's thread-local storage for the first time, which the loader may
    # set up through a slower path; in a fresh interpreter, each pipeline's first call on the main thread and
    # on a new thread must read a root sequence, and a mapping, as the later calls do.
    script = ("import threading, torvex\n"
              "texts = [b'- a\\n', b'-\\n  name: x\\n  hr:   65\\n', b'k: [1, 2]\\n']\n"
              "options = [torvex.OPT_ROUND_TRIP, torvex.OPT_ANNOTATED, 0, torvex.OPT_YAML_1_1]\n"
              "def read(option, text):\n"
              "    try:\n"
              "        value = torvex.loads(text, option=option)\n"
              "        return repr(value.to_dict() if option == torvex.OPT_ROUND_TRIP else value)\n"
              "    except Exception as error:\n"
              "        return f'{type(error).__name__}: {error}'\n"
              "def firsts(out):\n"
              "    out.extend(read(option, text) for option in options for text in texts)\n"
              "main, fresh = [], []\n"
              "firsts(main)\n"
              "thread = threading.Thread(target=firsts, args=(fresh,)); thread.start(); thread.join()\n"
              "later = []\n"
              "firsts(later)\n"
              "print(main == later and fresh == later, later)\n")
    run = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False)
    assert run.returncode == 0, run.stderr
    assert run.stdout.startswith("True "), run.stdout
    assert "Error" not in run.stdout, run.stdout
