"""Dotted paths into a document: ``server.port``, ``hosts[2]``, ``servers[0].name``, ``"a.b".c``.

A name selects a mapping key (and, made of digits, a sequence item); ``[N]`` selects item N of a sequence
(negative counts from the end) or the key N of a mapping; a quoted name, bare or in brackets (``["a.b"]``), is
always a key. A leading ``$`` is allowed, so the paths schema errors print can be pasted back.
"""

from __future__ import annotations

from dataclasses import dataclass


class PathSyntaxError(ValueError):
    pass


@dataclass(frozen=True)
class Step:
    """One step of a path: a key name, or an index written in brackets."""

    name: str | None = None
    index: int | None = None
    quoted: bool = False

    def as_index(self) -> int | None:
        """The sequence index this step selects, if any."""
        if self.index is not None:
            return self.index
        if not self.quoted and self.name is not None and self.name.isascii() and self.name.isdigit():
            return int(self.name)
        return None

    def key_text(self) -> str:
        return self.name if self.name is not None else str(self.index)

    def render(self, first: bool) -> str:
        if self.index is not None:
            return f"[{self.index}]"
        assert self.name is not None
        plain = self.name and not self.quoted and not any(c in self.name for c in ".[]\"'")
        text = self.name if plain else '"' + self.name.replace("\\", "\\\\").replace('"', '\\"') + '"'
        return text if first else "." + text


def render(steps: list[Step]) -> str:
    return "".join(step.render(i == 0) for i, step in enumerate(steps)) or "."


def parse(text: str) -> list[Step]:
    """The steps of `text`; an empty path, ``.`` or ``$`` is the document itself."""
    steps: list[Step] = []
    i = 0
    if text.startswith("$") and (len(text) == 1 or text[1] in ".["):
        i = 1
    if text[i:] in ("", "."):
        return steps
    if text[i] == ".":
        i += 1
    while i < len(text):
        if text[i] == "[":
            step, i = _bracket(text, i + 1)
        else:
            if steps:
                if text[i] != ".":
                    raise PathSyntaxError(f"expected '.' or '[' at position {i + 1} of {text!r}")
                i += 1
            step, i = _name(text, i)
        steps.append(step)
    return steps


def _name(text: str, i: int) -> tuple[Step, int]:
    if i < len(text) and text[i] in "\"'":
        name, i = _quoted(text, i)
        return Step(name=name, quoted=True), i
    end = i
    while end < len(text) and text[end] not in ".[":
        end += 1
    if end == i:
        raise PathSyntaxError(f"empty name at position {i + 1} of {text!r}")
    return Step(name=text[i:end]), end


def _bracket(text: str, i: int) -> tuple[Step, int]:
    if i < len(text) and text[i] in "\"'":
        name, i = _quoted(text, i)
        step = Step(name=name, quoted=True)
    else:
        end = text.find("]", i)
        if end < 0:
            raise PathSyntaxError(f"unclosed '[' in {text!r}")
        try:
            step = Step(index=int(text[i:end].strip()))
        except ValueError:
            raise PathSyntaxError(f"expected an integer or a quoted key in brackets in {text!r}") from None
        i = end
    if i >= len(text) or text[i] != "]":
        raise PathSyntaxError(f"expected ']' at position {i + 1} of {text!r}")
    return step, i + 1


def _quoted(text: str, i: int) -> tuple[str, int]:
    quote = text[i]
    out: list[str] = []
    i += 1
    while i < len(text):
        c = text[i]
        if c == "\\" and quote == '"' and i + 1 < len(text):
            out.append(text[i + 1])
            i += 2
            continue
        if c == quote:
            return "".join(out), i + 1
        out.append(c)
        i += 1
    raise PathSyntaxError(f"unclosed quote in {text!r}")
