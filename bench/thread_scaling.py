"""Two threads against one: how a pipeline's throughput scales when two threads run it at once.

For each pipeline, one thread runs a batch of calls, then two threads run a batch each, released together by a
barrier; the two take turns several times and each keeps its best time. The scaling is the two-thread throughput
over the one-thread throughput (2.0 is perfect on two cores). Every thread works on inputs of its own (own texts,
own objects to dump, own schema), as separate requests of a service would, and drops each result as it comes.

On an interpreter with the lock the threads overlap only where the engine runs detached, so the figures there
read about 1.
"""

from __future__ import annotations

import copy
import sys
import sysconfig
import threading
import time
from dataclasses import dataclass
from pathlib import Path
from typing import Callable

import torvex

BATCH_SECONDS = 0.25  # one thread's batch
TURNS = 9  # this many alternations, each side keeping its best: a 2-core virtual machine swings by 0.3 over five


@dataclass
class Pipeline:
    name: str
    prepare: Callable[[], object]  # a thread's own inputs, made before timing
    unit: Callable[[object], object]  # one call (or a few) over those inputs
    size: int  # bytes of YAML read or written by one unit


def _batch_seconds(pipeline: Pipeline, inputs: list[object], reps: int) -> tuple[float, float]:
    """Wall and process CPU time of len(inputs) threads running `reps` units each, from their common start."""
    barrier = threading.Barrier(len(inputs) + 1)

    def run(own: object) -> None:
        barrier.wait()
        for _ in range(reps):
            pipeline.unit(own)

    threads = [threading.Thread(target=run, args=(own,)) for own in inputs]
    for thread in threads:
        thread.start()
    barrier.wait()
    start, cpu = time.perf_counter(), time.process_time()
    for thread in threads:
        thread.join()
    return time.perf_counter() - start, time.process_time() - cpu


def measure(pipeline: Pipeline) -> str:
    """The pipeline's line. Beside the scaling, the CPU time a unit costs on two threads over one: near 1 when the
    threads do not slow each other down, which holds also where other processes take cores and the wall-clock
    scaling cannot show it."""
    inputs = [pipeline.prepare(), pipeline.prepare()]
    start = time.perf_counter()
    pipeline.unit(inputs[0])  # warm-up, and the time of one unit
    reps = max(1, round(BATCH_SECONDS / max(time.perf_counter() - start, 1e-6)))
    one = two = one_cpu = two_cpu = float("inf")
    _batch_seconds(pipeline, inputs, reps)
    for _ in range(TURNS):
        wall, cpu = _batch_seconds(pipeline, inputs[:1], reps)
        one, one_cpu = min(one, wall), min(one_cpu, cpu)
        wall, cpu = _batch_seconds(pipeline, inputs, reps)
        two, two_cpu = min(two, wall), min(two_cpu, cpu)
    single = pipeline.size * reps / one
    return (f"threads {pipeline.name}: 1 thread {single / 1e6:.1f} MB/s, 2 threads {2 * single * one / two / 1e6:.1f}"
            f" MB/s, scaling {2 * one / two:.2f} (CPU time per call on 2 threads / 1: {two_cpu / 2 / one_cpu:.2f})")


def pipelines(data: Path, schema: dict, edit: Callable[[bytes], bytes], scratch: Path) -> list[Pipeline]:
    import config_tree  # beside this file

    texts = [path.read_bytes() for path in sorted(data.glob("*.yaml"))]
    yaml_size = sum(len(text) for text in texts)

    def own_texts() -> list[bytes]:
        return [bytes(bytearray(text)) for text in texts]

    def own_documents() -> list[object]:
        return [doc for text in texts for doc in torvex.loads_all(text)]

    documents = own_documents()
    dumped_size = sum(len(torvex.dumps(doc)) for doc in documents)
    json_size = sum(len(torvex.to_json(doc)) for doc in documents)

    config = (data / "config.yaml").read_text()
    schema_docs = ["---" + part for part in config.split("\n---")[1:]]

    main = config_tree.generate(scratch / "conf", seed=7, packages=40, areas=10, per_area=30)
    tree_size = sum(p.stat().st_size for p in main.parent.rglob("*.yaml"))
    include_option = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR | torvex.OPT_INCLUDE_DIR_RECURSIVE

    return [
        Pipeline("plain", own_texts, lambda own: [torvex.loads_all(t) for t in own], yaml_size),
        Pipeline("annotated", own_texts,
                 lambda own: [torvex.loads_all(t, option=torvex.OPT_ANNOTATED) for t in own], yaml_size),
        Pipeline("round-trip", own_texts, lambda own: [edit(t) for t in own], yaml_size),
        Pipeline("includes", lambda: main.read_bytes(),
                 lambda own: torvex.loads(own, option=include_option, include_dir=str(main.parent),
                                          root_path=str(main)), tree_size),
        Pipeline("schema", lambda: (list(schema_docs), copy.deepcopy(schema)),
                 lambda own: [torvex.loads(d, schema=own[1]) for d in own[0]],
                 sum(len(d.encode()) for d in schema_docs)),
        Pipeline("dumps", own_documents, lambda own: [torvex.dumps(d) for d in own], dumped_size),
        Pipeline("to_json", own_documents, lambda own: [torvex.to_json(d) for d in own], json_size),
    ]


def lines(data: Path, schema: dict, edit: Callable[[bytes], bytes], scratch: Path) -> list[str]:
    """One line per pipeline; `schema` checks config.yaml's documents, `edit` loads, edits and writes a text."""
    out = [measure(pipeline) for pipeline in pipelines(data, schema, edit, scratch)]
    if not sysconfig.get_config_var("Py_GIL_DISABLED") or sys._is_gil_enabled():
        out.append("threads: the interpreter lock is on, so threads overlap only where the engine runs detached")
    return out
