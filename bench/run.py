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


if __name__ == "__main__":
    sys.exit(main())
