"""YAML 1.1 numbers against PyYAML's resolver, with the differences kept on purpose."""

import datetime
import logging
import math
import re

import pytest
import yaml
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

import torvex

Y11, PY = torvex.OPT_YAML_1_1, torvex.OPT_PYYAML_COMPAT
ALL_MODES = [0, Y11, PY]

# A number starts, after an optional sign, with a digit or with '.' and a digit.
NUMBER_START = re.compile(r"[-+]?(?:[0-9]|\.[0-9])")


def pyyaml(text):
    try:
        return yaml.safe_load(text)
    except ValueError:  # its patterns accept '0x_', which it then fails to convert
        return ValueError


def plain_float(text):
    return float(text.replace("_", ""))


def sexagesimal(text):
    """Our sexagesimal reading: the first part any digits, each later part below
    60, only the last with a fraction (which may stand alone); None if not one."""
    m = re.fullmatch(r"([-+]?)([0-9][0-9_]*)((?::[0-9_]*)+)(\.[0-9_]*)?", text)
    if not m:
        return None
    sign, head, tail, fraction = m.groups()
    parts = [p.replace("_", "") for p in tail[1:].split(":")]
    if any(p == "" for p in parts[:-1]) or (parts[-1] == "" and not fraction):
        return None
    if any(int(p) >= 60 for p in parts if p):
        return None
    value = int(head.replace("_", ""))
    for p in parts:
        value = value * 60 + int(p or "0")
    if fraction is None:
        return -value if sign == "-" else value
    if fraction.replace("_", "") == "." and parts[-1] == "":
        return None
    value = float(value) + plain_float("0" + fraction)
    return -value if sign == "-" else value


def close(a, b):
    """Same type and value; floats within an ulp or so (sexagesimal sums round
    in a different order), NaN equal to NaN."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return (math.isnan(a) and math.isnan(b)) or math.isclose(a, b, rel_tol=1e-15, abs_tol=0.0)
    return a == b


def later_part_beyond_pyyaml(text):
    return any(not re.fullmatch(r"[0-5]?[0-9](\.[0-9_]*)?", p) for p in text.split(":")[1:])


# (name, why, applies(text, mode, ours, theirs)). Each is narrow: it names the
# shape of the text and checks our value against an independent reading.
KEPT = [
    (
        "exponent",
        "an exponent needs neither a sign nor a '.' (1e3, 1.5e3, 2e-1); PyYAML's float wants "
        "'.' and a signed exponent. Underscores after the first digit are ignored here too.",
        lambda t, m, ours, theirs: theirs == t and re.search("[eE]", t) and NUMBER_START.match(t)
        and close(ours, plain_float(t)),
    ),
    (
        "signed leading point",
        "'+.5' and '-.5' are floats, as the 1.1 float pattern [-+]?([0-9][0-9_]*)?\\.[0-9.]* allows; "
        "PyYAML's '.5' form takes no sign.",
        lambda t, m, ours, theirs: theirs == t and re.match(r"[-+]\.[0-9]", t) and close(ours, plain_float(t)),
    ),
    (
        "one-letter booleans",
        "y/Y/n/N are booleans under the 1.1 boolean type (Yaml11); PyYamlCompat reads them as PyYAML does.",
        lambda t, m, ours, theirs: m == Y11 and t in "yYnN" and len(t) == 1 and ours is (t in "yY"),
    ),
    (
        "sexagesimal integer led by 0",
        "the first part may be 0 or start with 0 (0:30, 01:30, 08:30 are 30, 90, 510); PyYAML wants [1-9].",
        lambda t, m, ours, theirs: theirs == t and re.match(r"[-+]?0", t) and close(ours, sexagesimal(t)),
    ),
    (
        "sexagesimal later parts",
        "a later part is any digits and underscores below 60 (1:007, 1:3_0, 1:_30), and the last may be a "
        "bare fraction (1:.5 is 60.5); PyYAML allows [0-5]?[0-9] only.",
        lambda t, m, ours, theirs: theirs == t and later_part_beyond_pyyaml(t) and close(ours, sexagesimal(t)),
    ),
    (
        "underscore in the 0x/0b prefix",
        "after the leading 0 underscores are ignored, prefix included (0_x1F is 31, 0_b1 is 1); "
        "PyYAML's prefix must follow the 0 directly.",
        lambda t, m, ours, theirs: theirs == t and re.fullmatch(r"[-+]?0_+[xb][0-9a-fA-F_]*", t)
        and ours == int(t.replace("_", ""), 0),
    ),
    (
        "upper-case prefixes",
        "0X and 0B prefixes count (0X1F is 31, as under this library's 1.2 rules); PyYAML's are lower-case.",
        lambda t, m, ours, theirs: theirs == t and re.fullmatch(r"[-+]?0_*[XB][0-9a-fA-F_]+", t)
        and ours == int(t.replace("_", ""), 0),
    ),
    (
        "no timestamps",
        "the timestamp type is not resolved: 2001-12-14 stays text; PyYAML reads a date.",
        lambda t, m, ours, theirs: ours == t and isinstance(theirs, datetime.date),
    ),
    (
        "prefix without digits",
        "0x_ and 0b_ have no digit and stay text; PyYAML matches them and then fails to convert.",
        lambda t, m, ours, theirs: theirs is ValueError and ours == t and re.fullmatch(r"[-+]?0[xb]_+", t),
    ),
    (
        "no 64-bit integer",
        "only decimal digits become big ints; hex, binary, octal and sexagesimal beyond 64 bits stay text.",
        lambda t, m, ours, theirs: ours == t and type(theirs) is int and abs(theirs) >= 2**63
        and not re.fullmatch(r"[-+]?[1-9][0-9_]*", t),
    ),
]


def kept_difference(text, mode, ours, theirs):
    for name, _, applies in KEPT:
        try:
            if applies(text, mode, ours, theirs):
                return name
        except ValueError:  # the independent reading rejects the text
            pass
    return None


LETTERS = "afXBYNayn"
TEXTS = st.one_of(
    st.text(alphabet="0123456789_.:+-eExob" + LETTERS, min_size=1, max_size=12),
    st.lists(
        st.sampled_from(["0", "1", "7", "8", "9", "12", "59", "60", "_", ".", ":", "+", "-", "e", "E", "e+",
                         "e-", "0x", "0b", "0o", "0X", "1f", "a", "y", "n"]),
        min_size=1, max_size=8,
    ).map("".join),
)


@settings(max_examples=1500, deadline=None, suppress_health_check=[HealthCheck.filter_too_much])
@given(TEXTS, st.sampled_from([Y11, PY]))
def test_yaml11_resolution_matches_pyyaml_but_for_kept_differences(text, mode):
    try:
        node = yaml.compose(text)
    except yaml.YAMLError:
        node = None
    assume(isinstance(node, yaml.ScalarNode) and node.style is None and node.value == text)
    theirs = pyyaml(text)
    ours = torvex.loads(text, option=mode)
    if close(ours, theirs) and (not isinstance(ours, float) or math.isnan(ours) or
                                math.copysign(1, ours) == math.copysign(1, theirs)):
        return
    assert kept_difference(text, mode, ours, theirs), (text, ours, theirs)


@pytest.mark.parametrize(
    "text, mode, name",
    [("1e3", Y11, "exponent"), ("1.5e3", PY, "exponent"), ("+.5", Y11, "signed leading point"),
     ("y", Y11, "one-letter booleans"), ("0:30", PY, "sexagesimal integer led by 0"),
     ("1:007", Y11, "sexagesimal later parts"), ("1:.5", PY, "sexagesimal later parts"),
     ("0_x1F", Y11, "underscore in the 0x/0b prefix"), ("0X1F", PY, "upper-case prefixes"),
     ("0x_", Y11, "prefix without digits"), ("0x10000000000000000", PY, "no 64-bit integer"),
     ("2001-12-14", Y11, "no timestamps")],
)
def test_each_kept_difference_is_real(text, mode, name):
    ours, theirs = torvex.loads(text, option=mode), pyyaml(text)
    assert not close(ours, theirs)
    assert kept_difference(text, mode, ours, theirs) == name


LEADING_UNDERSCORE = ["_1", "-_1", "+_83", "__1", "_0x1F", "_0b1", "_012", "_1.5", "_.5", "._5", "-._5", "_1e3",
                      "_1:30", "_-1:30.5", "-_1:30.5"]
KEPT_VALUES = [("1_000", 1000), ("1_", 1), ("0_7", 7), ("0x_1F", 31), ("0b1_0", 2), ("1:30", 90), ("1:3_0", 90),
               ("1e3", 1000.0), (".5_", 0.5), ("1._5", 1.5), ("-1:30.5", -90.5)]


@pytest.mark.parametrize("text", LEADING_UNDERSCORE)
@pytest.mark.parametrize("mode", [Y11, PY])
def test_an_underscore_never_starts_a_number(text, mode, caplog):
    with caplog.at_level(logging.WARNING, logger="torvex"):
        assert torvex.loads(text, option=mode | torvex.OPT_YAML_1_1_WARN) == text
        assert torvex.loads(f"%YAML 1.1\n---\n{text}\n") == text
    assert caplog.records == []  # no 1.1-versus-1.2 warning either
    assert pyyaml(text) == text
    # Under a core tag such text is no number, like 'abc'.
    assert torvex.loads(f"!!int {text}", option=mode) == torvex.loads("!!int abc", option=mode) == 0
    assert torvex.loads(f"!!float {text}", option=mode) == 0.0


@pytest.mark.parametrize("text, value", KEPT_VALUES)
def test_underscores_after_the_first_digit_are_ignored(text, value, caplog):
    for mode in (Y11, PY):
        assert close(torvex.loads(text, option=mode), value)
    assert close(torvex.loads(f"%YAML 1.1\n---\n{text}\n"), value)
    with caplog.at_level(logging.WARNING, logger="torvex"):
        torvex.loads(text, option=Y11 | torvex.OPT_YAML_1_1_WARN)
    assert len(caplog.records) == (0 if text in ("1e3",) else 1)


@settings(max_examples=600, deadline=None)
@given(TEXTS)
def test_dumped_strings_reload_as_themselves_in_every_mode(text):
    out = torvex.dumps({"k": text, text: [text]})
    for mode in ALL_MODES:
        assert torvex.loads(out, option=mode) == {"k": text, text: [text]}


@pytest.mark.parametrize("text", ["_1", "__1", "+_1", "_.5", "._5", "_0x1F", "_1:30"])
def test_text_led_by_an_underscore_is_written_plain(text):
    assert torvex.dumps(text) == f"{text}\n".encode()
