"""torvex: fast, correct YAML for Python.

YAML 1.2 by default, with YAML 1.1 and PyYAML-compatible resolution on request;
include, secret and environment directives; JSON-Schema checks with line
numbers; annotated results that know where each value came from; and
round-trip editing that keeps comments and layout.

The functions and ``OPT_*`` flags come from the native module ``_torvex``;
``load`` and ``dump`` read and write files in one call.
"""

from torvex import _torvex
from torvex._annotated import TorvexAnnotatedFloat, TorvexAnnotatedInt, TorvexAnnotatedStr
from torvex._files import dump, load
from torvex._torvex import *  # noqa: F401,F403  (functions, OPT_* flags, classes)
from torvex.exceptions import *  # noqa: F401,F403
from torvex.exceptions import __all__ as _exception_names
from torvex._tags import Tags

__version__ = "0.1.0"

__all__ = sorted(
    [name for name in dir(_torvex) if not name.startswith("_")]
    + list(_exception_names)
    + ["Tags", "TorvexAnnotatedStr", "TorvexAnnotatedInt", "TorvexAnnotatedFloat", "load", "dump"]
)
