"""The comparison peers of the tests, some of which have no free-threaded build.

numpy, orjson, jsonschema, psutil and PyYAML's C loader may be missing on a free-threaded interpreter: a test
that needs one of them is marked with `needs(...)` and skips there, naming the peer. On an interpreter with the
lock every peer must be present: one missing there is a broken test environment, so the import error stands.
"""

import importlib
import sysconfig

import pytest
import yaml

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))


def optional(name):
    """The module `name`; None only where it cannot be imported on a free-threaded interpreter."""
    try:
        return importlib.import_module(name)
    except ImportError:
        if not FREE_THREADED:
            raise
        return None


def needs(peer, name):
    """Skips the test where `peer` (a module or class from `optional`) is missing."""
    return pytest.mark.skipif(peer is None, reason=f"{name} has no build for this free-threaded interpreter")


numpy = optional("numpy")
jsonschema = optional("jsonschema")

if not FREE_THREADED and not yaml.__with_libyaml__:
    raise ImportError("PyYAML was built without its C loader")
# PyYAML's libyaml-backed loader and dumper, or None.
CSafeLoader = getattr(yaml, "CSafeLoader", None) if yaml.__with_libyaml__ else None
CSafeDumper = getattr(yaml, "CSafeDumper", None) if yaml.__with_libyaml__ else None

needs_numpy = needs(numpy, "numpy")
needs_jsonschema = needs(jsonschema, "jsonschema")
needs_c_yaml = needs(CSafeLoader, "PyYAML's C loader (libyaml)")
