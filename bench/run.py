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
COMPARISONS: list[tuple[str, Comparison]] = []


def comparison(name: str) -> Callable[[Comparison], Comparison]:
    def register(fn: Comparison) -> Comparison:
        COMPARISONS.append((name, fn))
        return fn

    return register


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
    for name, fn in COMPARISONS:
        if args.only and name not in args.only:
            continue
        for line in fn(ctx):
            print(line, flush=True)
    return 0



def _best_seconds(fn: Callable[[], object], budget: float = 1.0) -> float:
    import time

    fn()
    best, spent, runs = float("inf"), 0.0, 0
    while spent < budget or runs < 3:
        start = time.perf_counter()
        fn()
        elapsed = time.perf_counter() - start
        best, spent, runs = min(best, elapsed), spent + elapsed, runs + 1
    return best


def _documents(ctx: Context) -> list[tuple[str, list[object]]]:
    import yaml

    return [(path.stem, list(yaml.load_all(path.read_bytes(), Loader=yaml.CSafeLoader)))
            for path in sorted(ctx.data.glob("*.yaml"))]


@comparison("dumps")
def python_dumps(ctx: Context) -> list[str]:
    """torvex.dumps against PyYAML's CSafeDumper on the same objects; MB/s of YAML written."""
    import torvex
    import yaml

    lines = []
    for name, docs in _documents(ctx):
        size = sum(len(torvex.dumps(doc)) for doc in docs)
        ours = _best_seconds(lambda: [torvex.dumps(doc) for doc in docs])
        peer = _best_seconds(lambda: [yaml.dump(doc, Dumper=yaml.CSafeDumper) for doc in docs], 2.0)
        lines.append(f"dumps {name}: torvex {size / ours / 1e6:.1f} MB/s, CSafeDumper {size / peer / 1e6:.1f} MB/s, "
                     f"ratio {peer / ours:.2f}")
    return lines


@comparison("to_json")
def python_to_json(ctx: Context) -> list[str]:
    """torvex.to_json against orjson.dumps on the same objects; MB/s of JSON written."""
    import orjson
    import torvex

    lines = []
    for name, docs in _documents(ctx):
        size = sum(len(orjson.dumps(doc)) for doc in docs)
        ours = _best_seconds(lambda: [torvex.to_json(doc) for doc in docs])
        peer = _best_seconds(lambda: [orjson.dumps(doc) for doc in docs])
        lines.append(f"to_json {name}: torvex {size / ours / 1e6:.1f} MB/s, orjson {size / peer / 1e6:.1f} MB/s, "
                     f"ratio {peer / ours:.2f}")
    return lines

if __name__ == "__main__":
    sys.exit(main())
