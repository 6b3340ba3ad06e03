"""``get FILE PATH`` and ``set FILE PATH VALUE``: read or change one value addressed by a dotted path."""

from __future__ import annotations

import argparse
import sys
from pathlib import Path
from typing import Any

import torvex
from torvex.cli import paths
from torvex.cli.attempt import Finding, attempt, attempt_file
from torvex.cli.loading import Loading, add_loading_arguments, display_name
from torvex.cli.report import Problem, error_exit, shown

PATH_HELP = "a dotted path: server.port, hosts[2], servers[0].name, '\"a.b\".c' (quote keys holding . or [)"


def add_parsers(commands: argparse._SubParsersAction) -> None:
    get = commands.add_parser(
        "get", help="print one value of a YAML file",
        description="Print the value at PATH in the first document of FILE: a string as its text, any other "
                    "scalar and collections as YAML (or everything as JSON with --json). Exit status 1 when "
                    "the file has an error or the path leads nowhere.")
    get.add_argument("file", metavar="FILE", help="the YAML file (- for standard input)")
    get.add_argument("path", metavar="PATH", help=PATH_HELP)
    get.add_argument("--json", action="store_true", help="print the value as JSON")
    add_loading_arguments(get)
    get.set_defaults(run=run_get)

    put = commands.add_parser(
        "set", help="change one value of a YAML file in place",
        description="Set the value at PATH in the first document of FILE and save the file: comments and "
                    "layout stay, and only that value changes. With --includes the file that holds the value "
                    "is written, whichever it is. Missing keys are added, with the mappings they need. VALUE is read "
                    "as YAML (8080 is a number, true a boolean, [a, b] a list) unless --string.")
    put.add_argument("file", metavar="FILE", help="the YAML file")
    put.add_argument("path", metavar="PATH", help=PATH_HELP)
    put.add_argument("value", metavar="VALUE", help="the new value")
    put.add_argument("--string", action="store_true", help="store VALUE as a string, whatever it looks like")
    put.add_argument("-v", "--verbose", action="store_true", help="name the files written")
    add_loading_arguments(put)
    put.set_defaults(run=run_set)


def _describe(value: Any) -> str:
    if value is None:
        return "null"
    if isinstance(value, bool):
        return "a boolean"
    if isinstance(value, int):
        return "an integer"
    if isinstance(value, float):
        return "a float"
    if isinstance(value, str):
        return "a string"
    return f"a {type(value).__name__}"


def _available(keys: list[Any]) -> str:
    names = [str(key) for key in keys]
    listed = ", ".join(names[:10]) + (", ..." if len(names) > 10 else "")
    return f" (keys: {listed})" if names else " (the mapping is empty)"


# --- get: a plain (annotated) load, so values read as the options say -----------------------------------------

def _position(value: Any, file: str) -> tuple[str, int, int]:
    return (getattr(value, "__file__", None) or file, getattr(value, "__line__", 1), getattr(value, "__column__", 1))


def _dict_lookup(mapping: dict[Any, Any], step: paths.Step, mode: int) -> tuple[bool, Any]:
    candidates: list[Any] = [step.index, str(step.index)] if step.index is not None else [step.name]
    if step.name is not None and not step.quoted:
        try:
            scalar = torvex.loads(step.name, option=mode)
        except torvex.TorvexError:
            scalar = None
        if not isinstance(scalar, (str, list, dict)):
            candidates.append(scalar)  # keys written as 200, true, null or 1.5 in the file
    for key in candidates:
        if key in mapping:
            return True, mapping[key]
    return False, None


def find(data: Any, steps: list[paths.Step], file: str, mode: int) -> Any:
    current = data
    where = _position(current, file)
    for n, step in enumerate(steps):
        here = paths.render(steps[: n + 1])
        if hasattr(current, "__line__"):  # numbers, booleans and null carry no position: keep their parent's
            where = _position(current, file)
        if isinstance(current, dict):
            found, value = _dict_lookup(current, step, mode)
            if not found:
                raise Finding(Problem(*where, f"{here}: no such key{_available(list(current))}"))
            current = value
        elif isinstance(current, list):
            index = step.as_index()
            if index is None:
                raise Finding(Problem(*where, f"{here}: a sequence takes an index, not {step.name!r}"))
            if not -len(current) <= index < len(current):
                raise Finding(Problem(*where, f"{here}: index out of range ({len(current)} items)"))
            current = current[index]
        else:
            parent = paths.render(steps[:n])
            raise Finding(Problem(*where, f"{here}: {parent} is {_describe(current)}, "
                                               "not a mapping or a sequence"))
    return current


def _formatted(value: Any, as_json: bool) -> bytes:
    if as_json:
        return torvex.to_json(value) + b"\n"
    if isinstance(value, str):
        return str(value).encode("utf-8", "surrogateescape") + b"\n"
    return torvex.dumps(value)


def run_get(args: argparse.Namespace) -> int:
    try:
        steps = paths.parse(args.path)
    except paths.PathSyntaxError as error:
        return error_exit(str(error))
    loading = Loading.from_arguments(args)
    name = display_name(args.file)

    def get(text: bytes) -> bytes:
        value = find(torvex.loads(text, **_annotated(loading.keywords(args.file))), steps, name, loading.mode)
        try:
            return _formatted(value, args.json)
        except torvex.TorvexEncodeError as error:
            raise Finding(Problem(*_position(value, name), f"cannot print the value: {error}")) from None

    outcome = attempt(args.file, get)
    if not outcome.report():
        return 1
    sys.stdout.buffer.write(outcome.result)
    return 0


def _annotated(keywords: dict[str, Any]) -> dict[str, Any]:
    return {**keywords, "option": keywords["option"] | torvex.OPT_ANNOTATED}


# --- set: a round-trip document, so that everything but the value stays as it is ------------------------------

def _node_position(container: Any, file: str) -> tuple[str, int, int]:
    try:
        node = container.node
        return (node.file or file, node.line, node.column)
    except (TypeError, ValueError, IndexError, KeyError):
        return (file, 1, 1)


def _child_position(container: Any, key: str | int, file: str) -> tuple[str, int, int]:
    try:
        node = container.node[key]
        return (node.file or file, node.line, node.column)
    except (TypeError, ValueError, IndexError, KeyError):
        return _node_position(container, file)


def _rt_key(container: Any, step: paths.Step, here: str, where: tuple[str, int, int]) -> str | int:
    if container.kind == "mapping":
        return step.key_text()
    index = step.as_index()
    if index is None:
        raise Finding(Problem(*where, f"{here}: a sequence takes an index, not {step.name!r}"))
    size = len(container)
    if not -size <= index < size:
        raise Finding(Problem(*where, f"{here}: index out of range ({size} items)"))
    return index % size


def assign(document: Any, steps: list[paths.Step], value: Any, file: str) -> None:
    """Writes `value` at `steps` in `document` (the first document of the file)."""
    container = document
    if document.kind == "stream":
        container = document[0]
        if not isinstance(container, torvex.TorvexDocumentView):
            raise Finding(Problem(file, 1, 1, f"the first document is {_describe(container)}, "
                                                   "not a mapping or a sequence"))
    elif document.kind == "scalar":
        raise Finding(Problem(*_node_position(document, file), f"{paths.render(steps[:1])}: the document "
                                   f"is {_describe(document.to_dict())}, not a mapping or a sequence"))
    for n, step in enumerate(steps):
        here = paths.render(steps[: n + 1])
        where = _node_position(container, file)
        key = _rt_key(container, step, here, where)
        if n == len(steps) - 1:
            container[key] = value
            return
        if isinstance(key, str) and key not in container:
            rest = steps[n + 1:]
            if any(later.index is not None for later in rest):
                raise Finding(Problem(*where, f"{here}: no such key{_available(container.keys())}"))
            for later in reversed(rest):  # missing mappings on the way are made, as mkdir -p makes folders
                value = {later.key_text(): value}
            container[key] = value
            return
        child = container[key]
        if not isinstance(child, torvex.TorvexDocumentView):
            raise Finding(Problem(*_child_position(container, key, file),
                                       f"{paths.render(steps[: n + 2])}: {here} is {_describe(child)}, "
                                       "not a mapping or a sequence"))
        container = child


def run_set(args: argparse.Namespace) -> int:
    try:
        steps = paths.parse(args.path)
    except paths.PathSyntaxError as error:
        return error_exit(str(error))
    if not steps:
        return error_exit("set needs a path below the document (use a key or an index)")
    if args.file == "-":
        return error_exit("set edits a file in place; standard input cannot be saved")
    loading = Loading.from_arguments(args)
    if args.string:
        value: Any = args.value
    else:
        try:
            value = torvex.loads(args.value, option=loading.mode)
        except torvex.TorvexError as error:
            return error_exit(f"VALUE is not valid YAML ({error}); use --string to store it as text")

    def edit(path: str) -> list[str]:
        # Loaded from the file, the document saves back to it.
        document = torvex.load(Path(path), **{**loading.keywords(path),
                                              "option": loading.option | torvex.OPT_ROUND_TRIP})
        if len(document) == 0:
            raise Finding(Problem(path, 1, 1, "the file holds no document to edit"))
        assign(document, steps, value, path)
        try:
            return document.save()
        except (OSError, ValueError, TypeError) as error:
            raise Finding(Problem(args.file, 1, 1, f"cannot save: {error}")) from None

    outcome = attempt_file(args.file, edit)
    if not outcome.report():
        return 1
    if args.verbose:
        for path in outcome.result:
            print(f"wrote {shown(path)}", file=sys.stderr)
    return 0
