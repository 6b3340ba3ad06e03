"""``check FILE...``: load every file and report each one's first error."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
import torvex
from torvex.cli.attempt import Finding, Outcome, attempt
from torvex.cli.loading import Loading, add_loading_arguments, display_name
from torvex.cli.report import Problem, error_exit, shown
from torvex.cli.schemas import SchemaChoice, SchemaUnavailable

DESCRIPTION = """\
Load each FILE as the options describe and report its first error on standard error as
FILE:LINE:COLUMN: message (with the chain of includes below it). Prints nothing when every file
loads, unless -v. Exit status: 0 when every file is fine, 1 when any has an error, 2 for usage errors.
"""


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser("check", help="report errors in YAML files", description=DESCRIPTION)
    parser.add_argument("files", nargs="+", metavar="FILE",
                        help="YAML files to check; a directory stands for every *.yaml and *.yml file below it "
                             "(hidden ones skipped); - reads standard input")
    add_loading_arguments(parser)
    parser.add_argument("--schema", metavar="FILE|auto",
                        help="check the first document against a JSON Schema file (JSON or YAML), or, with "
                             "auto, against the schema a '# yaml-language-server: $schema=PATH' line names "
                             "(PATH relative to the checked file)")
    parser.add_argument("-j", "--jobs", type=int, metavar="N",
                        help="files checked at once (default: one per CPU on a free-threaded Python, else 1)")
    parser.add_argument("-v", "--verbose", action="store_true", help="also name every file that is fine")
    parser.set_defaults(run=run)


def check_file(path: str, loading: Loading, schemas: SchemaChoice) -> Outcome:
    name = display_name(path)
    note_lines: list[str] = []

    def load(text: bytes) -> None:
        notes: list[str] = []
        try:
            torvex.loads(text, **loading.keywords(path), **schemas.keywords(path, notes))
        except SchemaUnavailable as error:
            raise Finding(Problem(name, _modeline_line(text), 1, str(error))) from None
        except torvex.TorvexError:
            raise
        except Exception as error:  # noqa: BLE001  (one odd file must not end a run over many)
            raise Finding(Problem(name, 1, 1, f"{type(error).__name__}: {error}")) from None
        finally:
            note_lines.extend(f"{shown(name)}:{_modeline_line(text)}:1: note: {note}" for note in notes)

    outcome = attempt(path, load)
    outcome.warnings += note_lines
    return outcome


def _modeline_line(text: bytes) -> int:
    index = text.find(b"$schema=")
    return 1 if index < 0 else text.count(b"\n", 0, index) + 1


def _expanded(arguments: list[str]) -> list[str]:
    """The files to check: each argument, a directory replaced by the YAML files below it in name order."""
    files: list[str] = []
    for argument in arguments:
        if argument == "-" or not os.path.isdir(argument):
            files.append(argument)
            continue
        for folder, folders, names in os.walk(argument):
            folders[:] = sorted(name for name in folders if not name.startswith("."))
            files += [os.path.join(folder, name) for name in sorted(names)
                      if not name.startswith(".") and name.endswith((".yaml", ".yml"))]
    return files


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
    files = _expanded(args.files)
    loading = Loading.from_arguments(args)
    schemas = SchemaChoice(args.schema)
    try:
        schemas.prepare()
    except SchemaUnavailable as error:
        return error_exit(str(error))

    progress = _Progress(len(files))
    failed = 0
    for done, outcome in enumerate(_outcomes(files, loading, schemas, args.jobs or _default_jobs()), 1):
        if outcome.problem or outcome.warnings:
            progress.clear()
        if not outcome.report():
            failed += 1
        elif args.verbose:
            progress.clear()
            print(f"{shown(display_name(outcome.path))}: ok")
            sys.stdout.flush()
        progress.advance(done)
    progress.clear()
    if args.verbose:
        print(f"checked {len(files)} file{'s' if len(files) != 1 else ''}, "
              f"{failed} with errors", file=sys.stderr)
    return 1 if failed else 0
