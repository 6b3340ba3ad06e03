"""Exceptions raised by torvex.

Every error that comes from reading, checking or writing YAML derives from
:class:`TorvexError`. The classes also derive from the built-in exception a
caller would naturally catch: parse and schema errors are ``ValueError``,
encode errors are ``TypeError`` or ``ValueError`` as with JSON libraries.

Errors with a source position carry ``line`` and ``column`` (1-based),
``file`` (the path, or ``None`` for the text passed to the call) and ``msg``,
the message alone, without the position, file or include chain that
``str(error)`` adds, for callers that show the position their own way. Directive
errors add ``include_stack``, a list of ``(path, line)`` pairs naming the
chain of include directives; schema errors add ``schema_path``.
"""

__all__ = [
    "TorvexError",
    "TorvexParseError",
    "TorvexDuplicateKeyError",
    "TorvexComplexKeyError",
    "TorvexDecodeError",
    "TorvexEncodeError",
    "TorvexUnserializableError",
    "TorvexSchemaError",
    "TorvexDirectiveError",
    "TorvexIncludeError",
    "TorvexIncludeNotFoundError",
    "TorvexCircularIncludeError",
    "TorvexIncludeDepthError",
    "TorvexIncludeConfinementError",
    "TorvexSecretNotFoundError",
    "TorvexEnvVarError",
]


class TorvexError(Exception):
    """Base class of every torvex error."""

    msg: str | None = None
    file: str | None = None
    line: int | None = None
    column: int | None = None


class TorvexParseError(TorvexError, ValueError):
    """The text is not well-formed YAML (or breaks a nesting or alias limit)."""


class TorvexDuplicateKeyError(TorvexParseError):
    """A mapping repeats a key while OPT_DUPLICATE_KEYS_ERROR is set."""


class TorvexComplexKeyError(TorvexParseError):
    """A mapping key is a sequence or mapping while OPT_REJECT_COMPLEX_KEYS is set."""


class TorvexDecodeError(TorvexError, ValueError):
    """Loaded data cannot become Python objects (for example an unhashable key)."""


class TorvexEncodeError(TorvexError, ValueError):
    """An object cannot be written (too deeply nested, invalid text, bad callback result)."""


class TorvexUnserializableError(TorvexEncodeError, TypeError):
    """An object of a type that cannot be written and that ``default`` did not handle."""


class TorvexSchemaError(TorvexError, ValueError):
    """The loaded document does not satisfy its JSON Schema."""

    schema_path: str | None = None


class TorvexDirectiveError(TorvexError):
    """A configuration directive (!include…, !secret, !env_var) failed."""

    include_stack: list[tuple[str, int]] | None = None


class TorvexIncludeError(TorvexDirectiveError):
    """An include or other directive failed (including a syntax error in an included file)."""


class TorvexIncludeNotFoundError(TorvexIncludeError):
    """An included file or directory does not exist."""


class TorvexCircularIncludeError(TorvexIncludeError):
    """A file includes itself, directly or through other files."""


class TorvexIncludeDepthError(TorvexIncludeError):
    """The chain of includes is longer than allowed."""


class TorvexIncludeConfinementError(TorvexIncludeError):
    """An include names a path outside the include directory."""


class TorvexSecretNotFoundError(TorvexDirectiveError):
    """A !secret names a secret that no secrets.yaml defines."""


class TorvexEnvVarError(TorvexDirectiveError):
    """An !env_var names an undefined variable and gives no default."""
