"""The loading options every subcommand shares, and reading a file the way they describe."""

from __future__ import annotations

import argparse
import os
import sys
from dataclasses import dataclass
from typing import Any

import torvex


def add_loading_arguments(parser: argparse.ArgumentParser) -> None:
    group = parser.add_argument_group("loading")
    group.add_argument("--includes", metavar="DIR",
                       help="resolve !include and !include_dir_* directives, confined to DIR")
    group.add_argument("--recursive", action="store_true",
                       help="!include_dir_* directives also read subdirectories (with --includes)")
    group.add_argument("--secrets", action="store_true",
                       help="resolve !secret from secrets.yaml, looked up from the file's directory upwards")
    group.add_argument("--env", action="store_true", help="resolve !env_var NAME [DEFAULT] from the environment")
    group.add_argument("--yaml-1.1", dest="yaml_1_1", action="store_true",
                       help="read scalars by YAML 1.1 rules (yes/no/on/off are booleans, 010 is octal)")
    group.add_argument("--duplicate-keys", choices=("error", "warn"),
                       help="report repeated mapping keys (by default the last value wins silently)")


@dataclass(frozen=True)
class Loading:
    """What the loading arguments ask for, as torvex options."""

    includes: str | None
    option: int

    @classmethod
    def from_arguments(cls, args: argparse.Namespace) -> Loading:
        option = 0
        if args.includes is not None:
            option |= torvex.OPT_INCLUDES
            if args.recursive:
                option |= torvex.OPT_INCLUDE_DIR_RECURSIVE
        if args.secrets:
            option |= torvex.OPT_SECRETS
        if args.env:
            option |= torvex.OPT_ENV_VAR
        if args.yaml_1_1:
            option |= torvex.OPT_YAML_1_1
        if args.duplicate_keys == "error":
            option |= torvex.OPT_DUPLICATE_KEYS_ERROR
        elif args.duplicate_keys == "warn":
            option |= torvex.OPT_DUPLICATE_KEYS_WARN
        return cls(args.includes, option)

    @property
    def mode(self) -> int:
        """The bits that choose how scalars read, for texts outside the file (values given on the command line)."""
        return self.option & torvex.OPT_YAML_1_1

    @property
    def has_directives(self) -> bool:
        return bool(self.option & (torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR))

    def keywords(self, path: str) -> dict[str, Any]:
        """Keyword arguments of `torvex.loads` for the file at `path`."""
        keywords: dict[str, Any] = {"option": self.option}
        if path != "-":
            keywords["root_path"] = path
        if self.has_directives:
            # Secrets are looked up from the file's directory up to the include directory; without --includes
            # that directory is the file's own, so a file never reads secrets above where it lives.
            keywords["include_dir"] = self.includes if self.includes is not None else _directory_of(path)
        return keywords


def _directory_of(path: str) -> str:
    return "." if path == "-" else os.path.dirname(os.path.abspath(path))


def read_input(path: str) -> bytes:
    """The bytes of `path`, or of standard input for ``-``."""
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as file:
        return file.read()


def display_name(path: str) -> str:
    return "<stdin>" if path == "-" else path
