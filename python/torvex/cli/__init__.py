"""The ``python -m torvex`` command line: check, convert and edit YAML files from the shell.

Built on the public API only. Problems go to standard error as ``FILE:LINE:COLUMN: message``; the exit status
is 0 on success, 1 when a file has an error (or a path leads nowhere), 2 for a wrong invocation.
"""

from __future__ import annotations

import argparse
import sys

from torvex.cli import check, convert, edit, log_capture

EPILOG = """\
examples:
  python -m torvex check config.yaml other.yaml
  python -m torvex check --includes conf --secrets --schema auto conf/configuration.yaml
  python -m torvex to-json --indent 2 openapi.yaml
  python -m torvex get config.yaml server.port
  python -m torvex set config.yaml 'hosts[2]' db3.example.com
"""


def parser() -> argparse.ArgumentParser:
    top = argparse.ArgumentParser(prog="python -m torvex", description="Check, convert and edit YAML files.",
                                  epilog=EPILOG, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = top.add_subparsers(title="commands", metavar="COMMAND", required=True)
    check.add_parser(commands)
    convert.add_parser(commands)
    edit.add_parsers(commands)
    return top


def main(argv: list[str] | None = None) -> int:
    args = parser().parse_args(argv)
    try:
        with log_capture.routed_to_commands():
            return args.run(args)
    except KeyboardInterrupt:
        return 130
    except BrokenPipeError:
        # The reader went away (`... | head`): stop quietly, as command-line tools do.
        sys.stderr.close()
        return 1
