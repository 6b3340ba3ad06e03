"""Run the benchmarks and print one "NAME: torvex A MB/s, PEER B MB/s, ratio R" line per comparison.

    python3.14 bench/run.py --build BUILD_DIR [--only NAME ...]

Generates bench/data/ when it is missing, builds the native benchmark in BUILD_DIR/bench and runs every
comparison registered in COMPARISONS, in order. A comparison is a function taking the run context and returning
the lines it printed; add new ones (Python loads/dumps against other libraries) with @comparison.
"""

from __future__ import annotations

import argparse
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

ROOT = Path(__file__).resolve().parent.parent
DATA = ROOT / "bench" / "data"


@dataclass
class Context:
    build: Path  # the project's build directory (native bench goes to build/bench)
    data: Path  # the generated benchmark data


Comparison = Callable[[Context], list[str]]
COMPARISONS: list[tuple[str, Comparison, tuple[str, ...]]] = []


def comparison(name: str, peers: tuple[str, ...] = ()) -> Callable[[Comparison], Comparison]:
    """Registers a comparison; `peers` names the modules it needs ("libyaml" for PyYAML's C loader)."""
    def register(fn: Comparison) -> Comparison:
        COMPARISONS.append((name, fn, peers))
        return fn

    return register


def missing_peer(peers: tuple[str, ...]) -> str | None:
    """The first peer that cannot be imported here (numpy, orjson, jsonschema and libyaml have no free-threaded
    build), or None."""
    import importlib

    for peer in peers:
        if peer == "libyaml":
            import yaml

            if not yaml.__with_libyaml__:
                return "PyYAML's C loader"
            continue
        try:
            importlib.import_module(peer)
        except ImportError:
            return peer
    return None


def ensure_data() -> None:
    if DATA.is_dir() and any(DATA.glob("*.yaml")):
        return
    subprocess.run([sys.executable, str(ROOT / "bench" / "generate_data.py"), "--out", str(DATA)], check=True,
                   stdout=subprocess.DEVNULL)


def build_native(build: Path) -> Path:
    bench_dir = build / "bench"
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(bench_dir), "-G", "Ninja", "-DTORVEX_BENCH=ON",
                    "-DTORVEX_MODULE=OFF", "-DTORVEX_TESTS=OFF", "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(bench_dir), "--target", "torvex_native_bench", "-j", "2"], check=True,
                   stdout=subprocess.DEVNULL)
    return bench_dir / "torvex_native_bench"


@comparison("scanner")
def native_scanner(ctx: Context) -> list[str]:
    binary = build_native(ctx.build)
    out = subprocess.run([str(binary), str(ctx.data)], check=True, capture_output=True, text=True).stdout
    return [line for line in out.splitlines() if line.strip()]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", type=Path, required=True, help="build directory")
    parser.add_argument("--only", action="append", default=[], help="run only these comparisons")
    args = parser.parse_args()

    ensure_data()
    ctx = Context(build=args.build.resolve(), data=DATA)
    for name, fn, peers in COMPARISONS:
        if args.only and name not in args.only:
            continue
        missing = missing_peer(peers)
        if missing is not None:
            print(f"{name}: skipped, {missing} has no build for this interpreter", flush=True)
            continue
        for line in fn(ctx):
            print(line, flush=True)
    return 0



def _best_seconds(fn: Callable[[], object], budget: float = 1.0, min_runs: int = 3) -> float:
    """Best of repeated runs after a warm-up; a slow peer may ask for a single timed run (min_runs=1)."""
    import time

    if min_runs > 1:
        fn()
    best, spent, runs = float("inf"), 0.0, 0
    while spent < budget or runs < min_runs:
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best, spent, runs = min(best, elapsed), spent + elapsed, runs + 1
    return best


def _documents(ctx: Context) -> list[tuple[str, list[object]]]:
    import yaml

    return [(path.stem, list(yaml.load_all(path.read_bytes(), Loader=yaml.CSafeLoader)))
            for path in sorted(ctx.data.glob("*.yaml"))]


@comparison("dumps", peers=("libyaml",))
def python_dumps(ctx: Context) -> list[str]:
    """torvex.dumps against PyYAML's CSafeDumper on the same objects; MB/s of YAML written."""
    import torvex
    import yaml

    lines, total, ours_total, peer_total = [], 0, 0.0, 0.0
    for name, docs in _documents(ctx):
        size = sum(len(torvex.dumps(doc)) for doc in docs)
        ours = _best_seconds(lambda: [torvex.dumps(doc) for doc in docs])
        peer = _best_seconds(lambda: [yaml.dump(doc, Dumper=yaml.CSafeDumper) for doc in docs], 2.0)
        total, ours_total, peer_total = total + size, ours_total + ours, peer_total + peer
        lines.append(f"dumps {name}: torvex {size / ours / 1e6:.1f} MB/s, CSafeDumper {size / peer / 1e6:.1f} MB/s, "
                     f"ratio {peer / ours:.2f}")
    lines.insert(0, f"dumps: torvex {total / ours_total / 1e6:.1f} MB/s, "
                    f"PyYAML-CSafeDumper {total / peer_total / 1e6:.1f} MB/s, ratio {peer_total / ours_total:.2f}")
    return lines


@comparison("to_json", peers=("orjson", "libyaml"))
def python_to_json(ctx: Context) -> list[str]:
    """torvex.to_json against orjson.dumps on the same objects; MB/s of JSON written."""
    import orjson
    import torvex

    lines, total, ours_total, peer_total = [], 0, 0.0, 0.0
    for name, docs in _documents(ctx):
        size = sum(len(orjson.dumps(doc)) for doc in docs)
        ours = _best_seconds(lambda: [torvex.to_json(doc) for doc in docs])
        peer = _best_seconds(lambda: [orjson.dumps(doc) for doc in docs])
        total, ours_total, peer_total = total + size, ours_total + ours, peer_total + peer
        lines.append(f"to_json {name}: torvex {size / ours / 1e6:.1f} MB/s, orjson {size / peer / 1e6:.1f} MB/s, "
                     f"ratio {peer / ours:.2f}")
    lines.insert(0, f"to_json: torvex {total / ours_total / 1e6:.1f} MB/s, "
                    f"orjson {total / peer_total / 1e6:.1f} MB/s, ratio {peer_total / ours_total:.2f}")
    return lines


def _yaml_files(ctx: Context) -> list[tuple[str, bytes]]:
    return [(path.stem, path.read_bytes()) for path in sorted(ctx.data.glob("*.yaml"))]


def _compare_on_files(ctx: Context, name: str, peer_name: str, ours: Callable[[bytes], object],
                      peer: Callable[[bytes], object], peer_budget: float = 2.0, peer_runs: int = 3,
                      digits: int = 2) -> list[str]:
    """One line per data file and an overall line first: MB/s of YAML read by each side, ratio = peer time / ours."""
    lines, total, ours_total, peer_total = [], 0, 0.0, 0.0
    for stem, text in _yaml_files(ctx):
        ours_s = _best_seconds(lambda: ours(text))
        peer_s = _best_seconds(lambda: peer(text), peer_budget, min_runs=peer_runs)
        total, ours_total, peer_total = total + len(text), ours_total + ours_s, peer_total + peer_s
        lines.append(f"{name} {stem}: torvex {len(text) / ours_s / 1e6:.1f} MB/s, "
                     f"{peer_name} {len(text) / peer_s / 1e6:.{digits}f} MB/s, ratio {peer_s / ours_s:.2f}")
    lines.insert(0, f"{name}: torvex {total / ours_total / 1e6:.1f} MB/s, "
                    f"{peer_name} {total / peer_total / 1e6:.{digits}f} MB/s, ratio {peer_total / ours_total:.2f}")
    return lines


@comparison("loads", peers=("libyaml",))
def python_loads(ctx: Context) -> list[str]:
    """torvex.loads_all against PyYAML's CSafeLoader on every data file; MB/s of YAML read."""
    import torvex
    import yaml

    return _compare_on_files(ctx, "loads", "PyYAML-CSafeLoader", torvex.loads_all,
                             lambda text: list(yaml.load_all(text, Loader=yaml.CSafeLoader)), digits=1)


def _pyyaml_annotated_loader():
    """PyYAML's CSafeLoader made to annotate like torvex's OPT_ANNOTATED: str, list and dict subclasses with
    the node's line and column set on every string, sequence and mapping."""
    import yaml

    class Str(str):
        pass

    class List(list):
        pass

    class Dict(dict):
        pass

    class Loader(yaml.CSafeLoader):
        pass

    def mark(obj, node):
        obj.__line__ = node.start_mark.line + 1
        obj.__column__ = node.start_mark.column + 1
        return obj

    def construct_str(loader, node):
        return mark(Str(loader.construct_scalar(node)), node)

    def construct_seq(loader, node):
        seq = mark(List(), node)
        yield seq
        seq.extend(loader.construct_sequence(node))

    def construct_map(loader, node):
        mapping = mark(Dict(), node)
        yield mapping
        loader.flatten_mapping(node)
        for key_node, value_node in node.value:
            mapping[loader.construct_object(key_node)] = loader.construct_object(value_node)

    Loader.add_constructor("tag:yaml.org,2002:str", construct_str)
    Loader.add_constructor("tag:yaml.org,2002:seq", construct_seq)
    Loader.add_constructor("tag:yaml.org,2002:map", construct_map)
    return Loader


@comparison("annotated", peers=("libyaml",))
def python_annotated(ctx: Context) -> list[str]:
    """torvex.loads_all with OPT_ANNOTATED against a CSafeLoader subclass whose constructors attach line and
    column to every string, list and dict; MB/s of YAML read."""
    import torvex
    import yaml

    loader = _pyyaml_annotated_loader()
    lines, total, ours_total, peer_total = [], 0, 0.0, 0.0
    for name, text in _yaml_files(ctx):
        ours = _best_seconds(lambda: torvex.loads_all(text, option=torvex.OPT_ANNOTATED))
        peer = _best_seconds(lambda: list(yaml.load_all(text, Loader=loader)), 2.0)
        total, ours_total, peer_total = total + len(text), ours_total + ours, peer_total + peer
        lines.append(f"annotated {name}: torvex {len(text) / ours / 1e6:.1f} MB/s, "
                     f"PyYAML-annotated {len(text) / peer / 1e6:.1f} MB/s, ratio {peer / ours:.2f}")
    lines.insert(0, f"annotated: torvex {total / ours_total / 1e6:.1f} MB/s, "
                    f"PyYAML-annotated {total / peer_total / 1e6:.1f} MB/s, ratio {peer_total / ours_total:.2f}")
    return lines


@comparison("loads-vs-json", peers=("orjson",))
def python_loads_vs_json(ctx: Context) -> list[str]:
    """torvex.loads_all on the YAML against orjson.loads on the JSON form of the same data: both build the
    same Python objects, so the ratio (orjson's time over torvex's) bounds what object building costs.
    Each side's MB/s counts its own text."""
    import orjson
    import torvex

    lines, yaml_total, json_total, ours_total, peer_total = [], 0, 0, 0.0, 0.0
    for name, text in _yaml_files(ctx):
        documents = torvex.loads_all(text)
        json_texts = [orjson.dumps(doc) for doc in documents]
        ours = _best_seconds(lambda: torvex.loads_all(text))
        peer = _best_seconds(lambda: [orjson.loads(j) for j in json_texts])
        json_size = sum(len(j) for j in json_texts)
        yaml_total, json_total = yaml_total + len(text), json_total + json_size
        ours_total, peer_total = ours_total + ours, peer_total + peer
        lines.append(f"loads-vs-json {name}: torvex {len(text) / ours / 1e6:.1f} MB/s, "
                     f"orjson {json_size / peer / 1e6:.1f} MB/s, ratio {peer / ours:.2f}")
    lines.insert(0, f"loads-vs-json: torvex {yaml_total / ours_total / 1e6:.1f} MB/s, "
                    f"orjson {json_total / peer_total / 1e6:.1f} MB/s, ratio {peer_total / ours_total:.2f}")
    return lines


def _indent(line: str) -> int:
    return len(line) - len(line.lstrip(" "))


def _is_content(line: str) -> bool:
    stripped = line.strip()
    return bool(stripped) and not stripped.startswith("#") and stripped not in ("---", "...")


def _cut_small(text: str, rng, lo: int, hi: int) -> list[str]:
    """Cuts a block-style file into runs of sibling entries (a line and the deeper lines below it), dedented,
    each run grown to a random size between lo and hi bytes; an entry larger than hi is cut from its children."""
    lines = text.splitlines(keepends=True)
    pieces, i = [], 0
    while i < len(lines):
        if not _is_content(lines[i]):
            i += 1
            continue
        level, start, size, target = _indent(lines[i]), i, 0, rng.randint(lo, hi)
        j = i
        while j < len(lines) and size < target:  # whole siblings at this level
            end = j + 1
            while end < len(lines) and (not _is_content(lines[end]) or _indent(lines[end]) > level):
                end += 1
            entry = sum(len(line.encode()) for line in lines[j:end])
            if size and size + entry > hi:
                break
            size, j = size + entry, end
            if j >= len(lines) or not _is_content(lines[j]) or _indent(lines[j]) != level:
                break
        if size > hi:  # one entry too large: go on inside it
            i = start + 1
            continue
        pieces.append("".join(line[level:] if len(line) > level else line.lstrip(" ") for line in lines[start:j]))
        i = j
    return pieces


def _small_texts(ctx: Context, count: int = 4000, lo: int = 100, hi: int = 2048) -> list[str]:
    """Small documents in the styles of the data files: cut from them deterministically, kept when both
    libraries read them alike, then an equal share of each file."""
    import random

    import torvex
    import yaml

    per_file = []
    for path in sorted(ctx.data.glob("*.yaml")):
        kept = []
        for piece in _cut_small(path.read_text(), random.Random(path.stem), lo, hi):
            if not lo <= len(piece.encode()) <= hi:
                continue
            try:
                same = torvex.loads(piece) == yaml.load(piece, Loader=yaml.CSafeLoader)
            except Exception:  # an alias whose anchor stayed behind, a cut inside a block scalar
                continue
            if same:
                kept.append(piece)
        per_file.append(kept)
    share = count // len(per_file)
    texts = []
    for kept in per_file:
        step = max(1, len(kept) // share)
        texts.extend(kept[::step][:share])
    return texts


def _best_of_turns(ours: Callable[[], object], peer: Callable[[], object], turns: int = 7,
                   timed: bool = False) -> tuple[float, float]:
    """Best time of each side over `turns` alternating runs (after one warm-up each). With timed=True the
    callables return their own time (timeit), otherwise each call is timed here."""
    import time

    def run(fn: Callable[[], object]) -> float:
        if timed:
            return float(fn())  # type: ignore[arg-type]
        start = time.perf_counter()
        fn()
        return time.perf_counter() - start

    run(ours)
    run(peer)
    best_ours = best_peer = float("inf")
    for _ in range(turns):
        best_ours = min(best_ours, run(ours))
        best_peer = min(best_peer, run(peer))
    return best_ours, best_peer


@comparison("loads-small", peers=("libyaml", "orjson"))
def python_loads_small(ctx: Context) -> list[str]:
    """One torvex.loads call per small document (100 bytes to 2 KB) against PyYAML's CSafeLoader on the same
    texts: the fixed cost of a call counts here. Then the cost of the smallest call beside orjson's."""
    import timeit

    import orjson
    import torvex
    import yaml

    texts = _small_texts(ctx)
    size = sum(len(text.encode()) for text in texts)
    loads, peer_load, loader = torvex.loads, yaml.load, yaml.CSafeLoader
    # The two sides take turns, each keeping its best, so that a change in the
    # machine's load between them does not move the ratio.
    ours, peer = _best_of_turns(lambda: [loads(text) for text in texts],
                                lambda: [peer_load(text, Loader=loader) for text in texts])
    lines = [f"loads-small: torvex {size / ours / 1e6:.1f} MB/s, PyYAML {size / peer / 1e6:.1f} MB/s, "
             f"ratio {peer / ours:.2f} ({len(texts)} documents, {size / len(texts):.0f} bytes on average)"]
    calls = 100_000
    # Statements rather than lambdas, so that neither side pays for an extra Python call.
    ours_timer = timeit.Timer("loads(text)", globals={"loads": loads, "text": "a: 1"})
    json_timer = timeit.Timer("loads(text)", globals={"loads": orjson.loads, "text": '{"a":1}'})
    tiny, json_tiny = (t / calls for t in _best_of_turns(lambda: ours_timer.timeit(calls),
                                                         lambda: json_timer.timeit(calls), timed=True))
    lines.append(f"loads-small tiny: torvex.loads(\"a: 1\") {tiny * 1e9:.0f} ns, "
                 f"orjson.loads('{{\"a\":1}}') {json_tiny * 1e9:.0f} ns, ratio {json_tiny / tiny:.2f}")
    return lines


@comparison("loads-memory")
def python_loads_memory(ctx: Context) -> list[str]:
    """Peak resident memory of one loads_all, in a fresh interpreter: of the largest data file, and of a
    stream of every data file repeated to about 40 MB (large inputs must cost a few times their size)."""
    largest = max(ctx.data.glob("*.yaml"), key=lambda p: p.stat().st_size)
    # The peak is the kernel's high-water mark of this process's own memory
    # (VmHWM). getrusage's ru_maxrss would not do: Linux carries it over from
    # the forked parent across exec, so a big parent hides the child's peak.
    script = (
        "import sys, torvex\n"
        "def status(field):\n"
        "    for line in open('/proc/self/status'):\n"
        "        if line.startswith(field):\n"
        "            return int(line.split()[1]) * 1024\n"
        "def high_water():\n"
        "    return status('VmHWM:')\n"
        "paths, repeat = sys.argv[1:-1], int(sys.argv[-1])\n"
        "text = b'\\n---\\n'.join(open(p, 'rb').read() for p in paths * repeat)\n"
        "before = status('VmRSS:')\n"
        "docs = torvex.loads_all(text)\n"
        "print(len(text), high_water() - before)\n"
    )
    lines = []
    every = sorted(str(p) for p in ctx.data.glob("*.yaml"))
    total = sum(Path(p).stat().st_size for p in every)
    for label, paths, repeat in ((largest.stem, [str(largest)], 1),
                                 ("all-repeated", every, max(1, round(40e6 / total)))):
        out = subprocess.run([sys.executable, "-c", script, *paths, str(repeat)], check=True,
                             capture_output=True, text=True).stdout.split()
        size, grown = int(out[0]), int(out[1])
        lines.append(f"loads-memory {label}: {size / 1e6:.1f} MB of YAML, peak memory grows by "
                     f"{grown / 1e6:.1f} MB ({grown / size:.1f}x the input, Python objects included)")
    return lines

def _ruamel():
    from ruamel.yaml import YAML

    yaml = YAML()  # round-trip mode
    yaml.allow_duplicate_keys = True  # the generated data repeats keys, as real files sometimes do
    return yaml


def _edit_first_leaf(root, is_container, first_key) -> None:
    """Sets the first scalar leaf below `root` to "edited" through item access."""
    parent, key, node = None, None, root
    while is_container(node):
        parent, key = node, first_key(node)
        if key is None:
            break
        node = node[key]
    if parent is not None and key is not None:
        parent[key] = "edited"


def _torvex_first_key(view):
    try:
        keys = view.keys()
    except TypeError:
        return 0 if len(view) else None
    return keys[0] if keys and isinstance(keys[0], str) else None


def _peer_first_key(node):
    if isinstance(node, dict):
        return next(iter(node), None)
    return 0 if node else None


def _torvex_edit(text: bytes) -> bytes:
    """Loads for round trip, sets the first document's first leaf, writes the text back."""
    import torvex

    doc = torvex.loads(text, option=torvex.OPT_ROUND_TRIP)
    first = doc[0] if repr(doc) != "TorvexDocument(documents=1)" else doc
    _edit_first_leaf(first, lambda n: isinstance(n, (torvex.TorvexDocument, torvex.TorvexDocumentView)),
                     _torvex_first_key)
    return doc.to_yaml()


@comparison("roundtrip-load", peers=("ruamel.yaml",))
def python_roundtrip_load(ctx: Context) -> list[str]:
    """torvex.loads(OPT_ROUND_TRIP) against ruamel.yaml's round-trip load; MB/s of YAML read."""
    import torvex

    yaml = _ruamel()
    return _compare_on_files(ctx, "roundtrip-load", "ruamel.yaml",
                             lambda text: torvex.loads(text, option=torvex.OPT_ROUND_TRIP),
                             lambda text: list(yaml.load_all(text)), peer_budget=0.5, peer_runs=1)


@comparison("roundtrip-edit", peers=("ruamel.yaml",))
def python_roundtrip_edit(ctx: Context) -> list[str]:
    """Load, change one leaf, write back: torvex (loads, item assignment, to_yaml) against ruamel.yaml (load_all,
    the same assignment, dump_all); MB/s of YAML read."""
    import io

    import torvex

    yaml = _ruamel()

    def peer_edit(text):
        docs = list(yaml.load_all(text))
        _edit_first_leaf(docs[0], lambda n: isinstance(n, (dict, list)), _peer_first_key)
        out = io.BytesIO()
        yaml.dump_all(docs, out)
        return out.getvalue()

    return _compare_on_files(ctx, "roundtrip-edit", "ruamel.yaml", _torvex_edit, peer_edit, peer_budget=0.5, peer_runs=1)


@comparison("edit-one-line")
def python_edit_one_line(ctx: Context) -> list[str]:
    """How many one-leaf edits change only the leaf's lines (and reload to the edited data): a sample of leaves
    of every data file (each edit there reloads megabytes) and every leaf of a generated hand-written corpus."""
    sys.path.insert(0, str(ROOT / "bench"))
    import edit_lines
    import handwritten

    per_file = 60
    data = edit_lines.Tally()
    for _stem, text in _yaml_files(ctx):
        edit_lines.measure(text, data, limit=per_file)
    corpus = handwritten.corpus(seed=1, count=300)
    written = edit_lines.Tally()
    for _name, text in corpus:
        edit_lines.measure(text, written)
    return [f"edit-one-line: {data.good} of {data.edits} edits of the data files ({per_file} leaves each); "
            f"{data.summary().split('; ', 1)[1]}",
            f"edit-one-line: {written.good} of {written.edits} edits of {len(corpus)} hand-written files; "
            f"{written.summary().split('; ', 1)[1]}"]


@comparison("roundtrip-memory")
def python_roundtrip_memory(ctx: Context) -> list[str]:
    """Peak memory of a round-trip load of the largest data file, beside a plain loads_all of it."""
    largest = max(ctx.data.glob("*.yaml"), key=lambda p: p.stat().st_size)
    script = (
        "import sys, torvex\n"
        "def status(field):\n"
        "    for line in open('/proc/self/status'):\n"
        "        if line.startswith(field):\n"
        "            return int(line.split()[1]) * 1024\n"
        "def high_water():\n"
        "    return status('VmHWM:')\n"
        "text = open(sys.argv[1], 'rb').read()\n"
        "before = status('VmRSS:')\n"
        "doc = torvex.loads(text, option=torvex.OPT_ROUND_TRIP) if sys.argv[2] == 'rt' else torvex.loads_all(text)\n"
        "print(len(text), high_water() - before)\n"
    )
    grown = {}
    for mode in ("rt", "plain"):
        out = subprocess.run([sys.executable, "-c", script, str(largest), mode], check=True, capture_output=True,
                             text=True).stdout.split()
        size, grown[mode] = int(out[0]), int(out[1])
    return [f"roundtrip-memory {largest.stem}: {size / 1e6:.1f} MB of YAML, round-trip load peak grows by "
            f"{grown['rt'] / 1e6:.1f} MB ({grown['rt'] / size:.1f}x), plain loads_all by "
            f"{grown['plain'] / 1e6:.1f} MB ({grown['plain'] / size:.1f}x)"]


@comparison("includes", peers=("libyaml",))
def python_includes(ctx: Context) -> list[str]:
    """A configuration tree of a few hundred files read with every directive: torvex.loads with OPT_INCLUDES,
    OPT_SECRETS and OPT_ENV_VAR against PyYAML's CSafeLoader with the same directives as constructors; MB/s of
    YAML read (every file counted each time it is read)."""
    import tempfile

    import torvex

    sys.path.insert(0, str(ROOT / "bench"))
    import config_tree

    option = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR | torvex.OPT_INCLUDE_DIR_RECURSIVE
    with tempfile.TemporaryDirectory() as tmp:
        main = config_tree.generate(Path(tmp) / "conf", seed=7, packages=40, areas=10, per_area=30)
        text = main.read_bytes()
        files = [p for p in main.parent.rglob("*.yaml")]
        size = sum(p.stat().st_size for p in files)
        peer_loader = config_tree.PeerLoader(main.parent)

        def ours():
            return torvex.loads(text, option=option, include_dir=str(main.parent), root_path=str(main))

        def peer():
            peer_loader.secrets.clear()
            return peer_loader.load(main)

        assert ours() == peer(), "torvex and the PyYAML reference read the tree differently"
        ours_s = _best_seconds(ours)
        peer_s = _best_seconds(peer, 2.0)
    return [f"includes: torvex {size / ours_s / 1e6:.1f} MB/s, PyYAML-includes {size / peer_s / 1e6:.1f} MB/s, "
            f"ratio {peer_s / ours_s:.2f} ({len(files)} files, {size / 1e6:.2f} MB)"]


# A schema for the service configurations of config.yaml, as a project would write one for its users.
_SETTINGS = {
    "type": "object",
    "required": ["timeout", "retries"],
    "properties": {
        "timeout": {"type": "string", "minLength": 2},
        "retries": {"type": "integer", "minimum": 0, "maximum": 10},
        "verbose": {"type": "boolean"},
    },
    "additionalProperties": False,
}
_LIMITS = {"type": "object", "required": ["cpu", "memory"],
           "properties": {"cpu": {"type": "string"}, "memory": {"type": "string"}}, "additionalProperties": False}
CONFIG_SCHEMA = {
    "type": "object",
    "required": ["apiVersion", "kind", "metadata", "deployment"],
    "additionalProperties": False,
    "properties": {
        "apiVersion": {"type": "string", "enum": ["apps/v1", "apps/v2"]},
        "kind": {"const": "Deployment"},
        "metadata": {
            "type": "object",
            "required": ["name"],
            "properties": {
                "name": {"type": "string", "minLength": 1, "maxLength": 253},
                "namespace": {"type": "string"},
                "labels": {"type": "object", "additionalProperties": {"type": "string"}},
                "annotations": {"type": "object", "additionalProperties": {"type": "string"}},
            },
        },
        "deployment": {
            "type": "object",
            "required": ["replicas", "template"],
            "properties": {
                "replicas": {"type": "integer", "minimum": 1, "maximum": 100},
                "defaults": _SETTINGS,
                "template": {"type": "object", "properties": {"pod": {"type": "object", "properties": {
                    "containers": {"type": "array", "minItems": 1, "items": {
                        "type": "object",
                        "required": ["name", "image"],
                        "properties": {
                            "name": {"type": "string", "minLength": 1},
                            "image": {"type": "string", "minLength": 1},
                            "ports": {"type": "array", "items": {
                                "type": "object",
                                "required": ["containerPort"],
                                "properties": {
                                    "containerPort": {"type": "integer", "minimum": 1, "maximum": 65535},
                                    "protocol": {"enum": ["TCP", "UDP", "SCTP"]},
                                },
                            }},
                            "env": {"type": "array", "items": {
                                "type": "object", "required": ["name"],
                                "properties": {"name": {"type": "string"},
                                               "value": {"type": ["string", "number", "boolean", "null"]}},
                            }},
                            "resources": {"type": "object", "properties": {"limits": _LIMITS, "requests": _LIMITS}},
                            "settings": {"type": "object", "properties": {
                                "mode": {"type": "string"},
                                "fallback": _SETTINGS,
                                "threshold": {"type": "number", "minimum": 0, "maximum": 1},
                            }},
                        },
                    }},
                }}}},
                "features": {"type": "object",
                             "additionalProperties": {"anyOf": [{"type": "string"}, {"type": "number"},
                                                                {"type": "boolean"}, {"type": "null"}]}},
                "hosts": {"type": "array", "items": {"type": "string", "minLength": 1}},
            },
        },
    },
}


@comparison("schema", peers=("libyaml", "jsonschema"))
def python_schema(ctx: Context) -> list[str]:
    """loads(text, schema=S) against PyYAML's CSafeLoader followed by jsonschema validation of the same data, over
    each document of config.yaml; MB/s of YAML read and checked."""
    import jsonschema
    import torvex
    import yaml

    text = (ctx.data / "config.yaml").read_text()
    docs = ["---" + part for part in text.split("\n---")[1:]]
    validator = jsonschema.Draft202012Validator(CONFIG_SCHEMA)
    for doc in docs[:50]:  # both sides must accept the data, or the comparison measures error paths
        torvex.loads(doc, schema=CONFIG_SCHEMA)
        validator.validate(yaml.load(doc, Loader=yaml.CSafeLoader))
    size = sum(len(doc.encode()) for doc in docs)
    ours = _best_seconds(lambda: [torvex.loads(doc, schema=CONFIG_SCHEMA) for doc in docs])
    peer = _best_seconds(lambda: [validator.validate(yaml.load(doc, Loader=yaml.CSafeLoader)) for doc in docs], 2.0,
                         min_runs=1)
    return [f"schema: torvex {size / ours / 1e6:.1f} MB/s, jsonschema {size / peer / 1e6:.1f} MB/s, "
            f"ratio {peer / ours:.1f}"]


@comparison("threads")
def python_threads(ctx: Context) -> list[str]:
    """Two threads against one, per pipeline (plain, annotated, round-trip, includes, schema, dumps, to_json):
    the two-thread throughput over the one-thread throughput, best of several runs (thread_scaling.py)."""
    import tempfile

    sys.path.insert(0, str(ROOT / "bench"))
    import thread_scaling

    with tempfile.TemporaryDirectory() as tmp:
        return thread_scaling.lines(ctx.data, CONFIG_SCHEMA, _torvex_edit, Path(tmp))


# Small documents, one call each: what a program reading or writing a few thousand 0.1-10 KB files meets, where
# the fixed cost of a call and of each object weighs more than on the large data files.
_SMALL_HI = 10_240


def _small_documents(ctx: Context) -> tuple[list[str], list[object]]:
    import yaml

    # Most files of a real tree are short, a few long: many cuts of up to 2 KB, and every cut of 2 to 10 KB.
    texts = _small_texts(ctx, count=2000) + _small_texts(ctx, count=4000, lo=2049, hi=_SMALL_HI)
    return texts, [yaml.load(text, Loader=yaml.CSafeLoader) for text in texts]


@comparison("dumps-small", peers=("libyaml", "orjson"))
def python_dumps_small(ctx: Context) -> list[str]:
    """One torvex.dumps call per small document against PyYAML's CSafeDumper, then against orjson.dumps on the
    documents orjson can write (string keys); each side's MB/s counts its own output, ratio = peer time / ours."""
    import orjson
    import torvex
    import yaml

    _, docs = _small_documents(ctx)
    dumps, peer_dump, dumper, json_dumps = torvex.dumps, yaml.dump, yaml.CSafeDumper, orjson.dumps
    size = sum(len(dumps(doc)) for doc in docs)
    ours, peer = _best_of_turns(lambda: [dumps(doc) for doc in docs],
                                lambda: [peer_dump(doc, Dumper=dumper) for doc in docs])
    lines = [f"dumps-small: torvex {size / ours / 1e6:.1f} MB/s, PyYAML-CSafeDumper {size / peer / 1e6:.1f} MB/s, "
             f"ratio {peer / ours:.2f} ({len(docs)} documents, {size / len(docs):.0f} bytes on average)"]
    json_docs = []
    for doc in docs:
        try:
            json_docs.append((doc, len(json_dumps(doc))))
        except TypeError:  # a key that is not a string
            continue
    yaml_size = sum(len(dumps(doc)) for doc, _ in json_docs)
    json_size = sum(length for _, length in json_docs)
    data = [doc for doc, _ in json_docs]
    ours, peer = _best_of_turns(lambda: [dumps(doc) for doc in data], lambda: [json_dumps(doc) for doc in data])
    lines.append(f"dumps-small orjson: torvex {yaml_size / ours / 1e6:.1f} MB/s, orjson {json_size / peer / 1e6:.1f} "
                 f"MB/s, ratio {peer / ours:.2f} ({len(data)} documents)")
    return lines


@comparison("annotated-small", peers=("libyaml",))
def python_annotated_small(ctx: Context) -> list[str]:
    """One torvex.loads call with OPT_ANNOTATED per small document against the CSafeLoader subclass that records
    line and column on every string, list and dict; MB/s of YAML read."""
    import torvex
    import yaml

    texts, _ = _small_documents(ctx)
    size = sum(len(text.encode()) for text in texts)
    loads, option, peer_load, loader = torvex.loads, torvex.OPT_ANNOTATED, yaml.load, _pyyaml_annotated_loader()
    ours, peer = _best_of_turns(lambda: [loads(text, option=option) for text in texts],
                                lambda: [peer_load(text, Loader=loader) for text in texts])
    return [f"annotated-small: torvex {size / ours / 1e6:.1f} MB/s, PyYAML-annotated {size / peer / 1e6:.1f} MB/s, "
            f"ratio {peer / ours:.2f} ({len(texts)} documents, {size / len(texts):.0f} bytes on average)"]


@comparison("includes-cold", peers=("libyaml",))
def python_includes_cold(ctx: Context) -> list[str]:
    """Several generated configuration trees of about 200 files, each read once by each side with every directive,
    the sides taking turns on each tree (the one going first alternating): as a service starting up or a
    configuration check meets them, so nothing read before helps. One more tree, not counted, warms both up.
    MB/s of YAML read; ratio = the peer's total time / ours."""
    import tempfile
    import time

    import torvex

    sys.path.insert(0, str(ROOT / "bench"))
    import config_tree

    option = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR | torvex.OPT_INCLUDE_DIR_RECURSIVE
    trees, ours_total, peer_total, size, files = 8, 0.0, 0.0, 0, 0
    with tempfile.TemporaryDirectory() as tmp:
        mains = [config_tree.generate(Path(tmp) / f"conf{seed}", seed=seed, packages=24, areas=8, per_area=20)
                 for seed in range(trees + 1)]
        for turn, main in enumerate(mains):
            text = main.read_bytes()
            peer_loader = config_tree.PeerLoader(main.parent)
            sides = [lambda: torvex.loads(text, option=option, include_dir=str(main.parent), root_path=str(main)),
                     lambda: peer_loader.load(main)]
            seconds, results = [0.0, 0.0], [None, None]
            for side in ((0, 1) if turn % 2 else (1, 0)):
                start = time.perf_counter()
                results[side] = sides[side]()
                seconds[side] = time.perf_counter() - start
            assert results[0] == results[1], "torvex and the PyYAML reference read the tree differently"
            if turn == 0:
                continue
            tree_files = list(main.parent.rglob("*.yaml"))
            files, size = files + len(tree_files), size + sum(p.stat().st_size for p in tree_files)
            ours_total, peer_total = ours_total + seconds[0], peer_total + seconds[1]
    return [f"includes-cold: torvex {size / ours_total / 1e6:.1f} MB/s, PyYAML-includes "
            f"{size / peer_total / 1e6:.1f} MB/s, ratio {peer_total / ours_total:.2f} ({trees} trees, "
            f"{files // trees} files and {size / trees / 1e3:.0f} KB each)"]


if __name__ == "__main__":
    sys.exit(main())
