"""``check FILE...``: load every file and report each one's first error."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field

import torvex
from torvex.cli import log_capture
from torvex.cli.loading import Loading, add_loading_arguments, display_name, read_input
from torvex.cli.report import Problem, error_exit, problem_from_error, shown, warning_from_log
from torvex.cli.schemas import SchemaChoice, SchemaUnavailable

DESCRIPTION = """\
Load each FILE as the options describe and report its first error on standard error as
FILE:LINE:COLUMN: message (with the chain of includes below it). Prints nothing when every file
loads, unless -v. Exit status: 0 when every file is fine, 1 when any has an error, 2 for usage errors.
"""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("check", help="report errors in YAML files", description=DESCRIPTION)
    parser.add_argument("files", nargs="+", metavar="FILE", help="YAML files to check (- for standard input)")
    add_loading_arguments(parser)
    parser.add_argument("--schema", metavar="FILE|auto",
                        help="check the first document against a JSON Schema file (JSON or YAML), or, with "
                             "auto, against the schema a '# yaml-language-server: $schema=PATH' line names "
                             "(PATH relative to the checked file)")
    parser.add_argument("-j", "--jobs", type=int, metavar="N",
                        help="files checked at once (default: one per CPU on a free-threaded Python, else 1)")
    parser.add_argument("-v", "--verbose", action="store_true", help="also name every file that is fine")
    parser.set_defaults(run=run)


@dataclass
class Outcome:
    path: str
    problem: Problem | None = None
    warnings: list[str] = field(default_factory=list)


def check_file(path: str, loading: Loading, schemas: SchemaChoice) -> Outcome:
    name = display_name(path)
    outcome = Outcome(path)
    try:
        text = read_input(path)
    except OSError as error:
        outcome.problem = Problem(name, 1, 1, f"cannot read: {error.strerror or error}")
        return outcome
    notes: list[str] = []
    with log_capture.collecting() as logged:
        try:
            torvex.loads(text, **loading.keywords(path), **schemas.keywords(path, notes))
        except torvex.TorvexError as error:
            outcome.problem = problem_from_error(error, name)
        except SchemaUnavailable as error:
            outcome.problem = Problem(name, _modeline_line(text), 1, str(error))
        except Exception as error:  # noqa: BLE001  (one odd file must not end a run over many)
            outcome.problem = Problem(name, 1, 1, f"{type(error).__name__}: {error}")
    outcome.warnings = [warning_from_log(message, name) for message in logged]
    outcome.warnings += [f"{shown(name)}:{_modeline_line(text)}:1: note: {note}" for note in notes]
    return outcome


def _modeline_line(text: bytes) -> int:
    index = text.find(b"$schema=")
    return 1 if index < 0 else text.count(b"\n", 0, index) + 1


def _default_jobs() -> int:
    gil_enabled = getattr(sys, "_is_gil_enabled", lambda: True)()
    return 1 if gil_enabled else (os.cpu_count() or 1)


def _outcomes(files: list[str], loading: Loading, schemas: SchemaChoice, jobs: int) -> Iterator[Outcome]:
    """Outcomes in the order of `files`, whatever order the threads finish in."""
    if jobs <= 1 or len(files) == 1:
        for path in files:
            yield check_file(path, loading, schemas)
        return
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        yield from pool.map(lambda path: check_file(path, loading, schemas), files)


class _Progress:
    """A count on standard error, rewritten in place, when it is a terminal and there is more than one file."""

    def __init__(self, total: int) -> None:
        self._total = total
        self._shown = total > 1 and sys.stderr.isatty()

    def advance(self, done: int) -> None:
        if self._shown:
            sys.stderr.write(f"\r\033[Kchecked {done}/{self._total}")
            sys.stderr.flush()

    def clear(self) -> None:
        if self._shown:
            sys.stderr.write("\r\033[K")
            sys.stderr.flush()


def run(args: argparse.Namespace) -> int:
    if args.jobs is not None and args.jobs < 1:
        return error_exit("--jobs must be at least 1")
    if "-" in args.files and len(args.files) > 1:
        return error_exit("standard input (-) can only be checked on its own")
    loading = Loading.from_arguments(args)
    schemas = SchemaChoice(args.schema)
    try:
        schemas.prepare()
    except SchemaUnavailable as error:
        return error_exit(str(error))

    progress = _Progress(len(args.files))
    failed = 0
    for done, outcome in enumerate(_outcomes(args.files, loading, schemas, args.jobs or _default_jobs()), 1):
        if outcome.problem or outcome.warnings:
            progress.clear()
        for warning in outcome.warnings:
            print(warning, file=sys.stderr)
        if outcome.problem:
            failed += 1
            print(outcome.problem.render(), file=sys.stderr)
        elif args.verbose:
            progress.clear()
            print(f"{shown(display_name(outcome.path))}: ok")
            sys.stdout.flush()
        progress.advance(done)
    progress.clear()
    if args.verbose:
        print(f"checked {len(args.files)} file{'s' if len(args.files) != 1 else ''}, "
              f"{failed} with errors", file=sys.stderr)
    return 1 if failed else 0
