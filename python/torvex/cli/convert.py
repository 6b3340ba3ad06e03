"""``to-json FILE``: the first document as JSON, or every document as JSON lines."""

from __future__ import annotations

import argparse
import sys

import torvex
from torvex.cli.attempt import Finding, attempt
from torvex.cli.loading import Loading, add_loading_arguments, display_name
from torvex.cli.report import Problem, error_exit


def add_parser(commands: argparse._SubParsersAction) -> None:
    parser = commands.add_parser(
        "to-json", help="print a YAML file as JSON",
        description="Print the first document of FILE as JSON, or with --all every document as one line of "
                    "JSON (JSON lines). Dates and times become ISO 8601 strings, keys become strings.")
    parser.add_argument("file", metavar="FILE", help="the YAML file (- for standard input)")
    parser.add_argument("--indent", type=int, choices=(2, 4), help="indent nested values by 2 or 4 spaces")
    parser.add_argument("--sort-keys", action="store_true", help="write mapping keys in sorted order")
    parser.add_argument("--all", action="store_true", help="every document, one JSON value per line")
    add_loading_arguments(parser)
    parser.set_defaults(run=run)


def run(args: argparse.Namespace) -> int:
    loading = Loading.from_arguments(args)
    if args.all and args.indent:
        return error_exit("--indent cannot be combined with --all: JSON lines hold one document per line")
    if args.all and loading.has_directives:
        return error_exit("--all cannot be combined with --includes, --secrets or --env, which read the "
                          "first document only")
    option = torvex.OPT_SORT_KEYS if args.sort_keys else 0
    option |= {None: 0, 2: torvex.OPT_INDENT_2, 4: torvex.OPT_INDENT_4}[args.indent]
    name = display_name(args.file)

    def convert(text: bytes) -> bytes:
        try:
            if args.all:
                documents = torvex.loads_all(text, option=loading.option)
                return b"".join(torvex.to_json(document, option=option) + b"\n" for document in documents)
            return torvex.to_json(torvex.loads(text, **loading.keywords(args.file)), option=option) + b"\n"
        except torvex.TorvexEncodeError as error:
            raise Finding(Problem(name, 1, 1, f"cannot write as JSON: {error}")) from None

    outcome = attempt(args.file, convert)
    if not outcome.report():
        return 1
    sys.stdout.buffer.write(outcome.result)
    return 0
