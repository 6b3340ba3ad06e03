"""One command's work on one file: read it, run the work with torvex's warnings collected, and turn a failure
into a problem line."""

from __future__ import annotations

import sys
from collections.abc import Callable
from dataclasses import dataclass, field
from typing import Any

import torvex
from torvex.cli import log_capture
from torvex.cli.loading import display_name, read_input
from torvex.cli.report import Problem, problem_from_error, warning_from_log


class Finding(Exception):
    """A problem the command itself found (a path that leads nowhere, a value that cannot be printed)."""

    def __init__(self, problem: Problem) -> None:
        super().__init__(problem.message)
        self.problem = problem


@dataclass
class Outcome:
    path: str
    result: Any = None
    problem: Problem | None = None
    warnings: list[str] = field(default_factory=list)

    def report(self) -> bool:
        """Prints the warnings and the problem on standard error; true when there was no problem."""
        for warning in self.warnings:
            print(warning, file=sys.stderr)
        if self.problem is not None:
            print(self.problem.render(), file=sys.stderr)
        return self.problem is None


def attempt(path: str, work: Callable[[bytes], Any]) -> Outcome:
    """Runs `work` on the bytes of `path` (``-``: standard input); torvex errors and findings become the
    outcome's problem, torvex's log lines its warnings."""
    try:
        text = read_input(path)
    except OSError as error:
        outcome = Outcome(path)
        outcome.problem = _unreadable(path, error)
        return outcome
    return attempt_file(path, lambda _: work(text))


def attempt_file(path: str, work: Callable[[str], Any]) -> Outcome:
    """As `attempt`, for work that opens `path` itself (``torvex.load``): a file it cannot read is a
    problem too."""
    name = display_name(path)
    outcome = Outcome(path)
    with log_capture.collecting() as logged:
        try:
            outcome.result = work(path)
        except torvex.TorvexError as error:
            outcome.problem = problem_from_error(error, name)
        except Finding as finding:
            outcome.problem = finding.problem
        except OSError as error:  # the file itself (includes fail as torvex errors)
            outcome.problem = _unreadable(path, error)
    outcome.warnings = [warning_from_log(message, name) for message in logged]
    return outcome


def _unreadable(path: str, error: OSError) -> Problem:
    return Problem(display_name(path), 1, 1, f"cannot read: {error.strerror or error}")
