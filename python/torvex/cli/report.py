"""Problem lines in the form editors and CI annotators read: ``FILE:LINE:COLUMN: message``."""

from __future__ import annotations

import os
import re
import sys
from dataclasses import dataclass, field

import torvex


def shown(path: str) -> str:
    """A path as the user reads it: relative to the working directory when it lies below it."""
    if path == "-" or path.startswith("<"):
        return path
    try:
        relative = os.path.relpath(path)
    except ValueError:  # another drive
        return path
    return path if relative.startswith("..") else relative


@dataclass
class Problem:
    """One finding: where it is, what it says, and the chain of includes that led there."""

    file: str
    line: int
    column: int
    message: str
    included_from: list[tuple[str, int]] = field(default_factory=list)

    def render(self) -> str:
        lines = [f"{shown(self.file)}:{self.line}:{self.column}: {self.message}"]
        lines += [f"  included from {shown(path)}:{line}" for path, line in self.included_from]
        return "\n".join(lines)


def problem_from_error(error: Exception, root: str) -> Problem:
    """Turns a torvex exception into a problem located in the file it names (``root`` when it names none).

    Errors without a position are reported at 1:1 of their file, so that every line has the same form.
    """
    file = getattr(error, "file", None) or root
    line = getattr(error, "line", None) or 1
    column = getattr(error, "column", None) or 1
    # `msg` is the message without the position (and file and include chain) the report line carries itself.
    message = getattr(error, "msg", None) or str(error).split("\n", 1)[0]
    if isinstance(error, torvex.TorvexDirectiveError):
        stack = error.include_stack or []
        # Entry i names the file entered and the line of the directive that entered it, which lies in the
        # file of entry i - 1 (the root for the first entry): innermost include first, as compilers print them.
        parents = [root] + [path for path, _ in stack[:-1]]
        included_from = [(parent, entry_line) for parent, (_, entry_line) in zip(parents, stack)][::-1]
        return Problem(file, line, column, message, included_from)
    return Problem(file, line, column, message)


_LOGGED_POSITION = re.compile(r" at line (\d+), column (\d+)(?: in (.+?))?(?=; |$)")


def warning_from_log(message: str, root: str) -> str:
    """A warning line from a torvex log message, its position (and file, for an included one) moved in front."""
    match = _LOGGED_POSITION.search(message)
    if match is None:
        return f"{shown(root)}: warning: {message}"
    file = match.group(3) or root
    text = message[: match.start()] + message[match.end():]
    return f"{shown(file)}:{match.group(1)}:{match.group(2)}: warning: {text}"


def error_exit(message: str, code: int = 2) -> int:
    """A message about the invocation itself (not about a checked file), with its exit code."""
    print(f"torvex: {message}", file=sys.stderr)
    return code
