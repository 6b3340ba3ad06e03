"""TorvexTag: a custom-tagged value kept as is."""

import gc
import weakref

import pytest

import torvex


def test_fields_and_repr():
    t = torvex.TorvexTag("!mytag", {"a": [1, 2]})
    assert t.tag == "!mytag" and t.value == {"a": [1, 2]}
    assert repr(t) == "TorvexTag('!mytag', ...)"
    assert repr(torvex.TorvexTag(tag="it's", value=None)) == "TorvexTag('it's', ...)", "no escaping"


def test_fields_are_read_only():
    t = torvex.TorvexTag("!t", 1)
    for name in ("tag", "value"):
        with pytest.raises(AttributeError):
            setattr(t, name, 2)


@pytest.mark.parametrize(
    "args, kwargs",
    [((1, 2), {}), (("!t",), {}), ((), {"tag": "!t"}), (("!t", 1, 2), {}), (("!t",), {"value": 1, "x": 2})],
)
def test_bad_construction(args, kwargs):
    with pytest.raises(TypeError):
        torvex.TorvexTag(*args, **kwargs)


def test_identity_semantics_only():
    a, b = torvex.TorvexTag("!t", 1), torvex.TorvexTag("!t", 1)
    assert a != b and a == a


def test_docstring_and_signature():
    assert torvex.TorvexTag.__doc__.startswith("A custom-tagged YAML value")
    assert torvex.TorvexTag.__text_signature__ == "(tag, value)"


class Holder:
    pass


def test_reference_cycles_are_collected():
    holder = Holder()
    t = torvex.TorvexTag("!cycle", holder)
    holder.tag = t
    ref = weakref.ref(holder)
    del holder, t
    gc.collect()
    assert ref() is None
