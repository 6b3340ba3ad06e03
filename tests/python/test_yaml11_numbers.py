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


def close(a, b):
    """Same type and value; floats within an ulp or so (sexagesimal sums round
    in a different order), NaN equal to NaN."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return (math.isnan(a) and math.isnan(b)) or math.isclose(a, b, rel_tol=1e-15, abs_tol=0.0)
    return a == b


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


# Digits and colons as times of day, durations and codes are written: base 60
# or not by the first digit, by each part's width and value, by the fraction.
COLON_NUMBERS = st.builds(
    lambda sign, head, parts, fraction: sign + head + "".join(":" + p for p in parts) + fraction,
    st.sampled_from(["", "", "-", "+"]),
    st.one_of(st.from_regex(r"[0-9][0-9_]{0,3}", fullmatch=True),
              st.sampled_from(["0", "00", "07", "24", "190", "99999999999999999999"])),
    st.lists(st.one_of(st.from_regex(r"[0-9_]{0,3}", fullmatch=True), st.sampled_from(["00", "05", "30", "59", "60"])),
             min_size=1, max_size=3),
    st.sampled_from(["", "", ".", ".5", ".0_5", "._", ".x", "e3", ".5e+1", ":"]),
)

LETTERS = "afXBYNayn"
TEXTS = st.one_of(
    COLON_NUMBERS,
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
     ("y", Y11, "one-letter booleans"),
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
KEPT_VALUES = [("1_000", 1000), ("1_", 1), ("0_7", 7), ("0x_1F", 31), ("0b1_0", 2), ("1:30", 90), ("1_0:30", 630),
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


def plain_for_pyyaml(text):
    """Whether `text` is one plain scalar, at the root and as a mapping value."""
    try:
        root, mapping = yaml.compose(text), yaml.compose(f"k: {text}")
    except yaml.YAMLError:
        return False
    value = mapping.value[0][1] if isinstance(mapping, yaml.MappingNode) and len(mapping.value) == 1 else None
    return all(isinstance(node, yaml.ScalarNode) and node.style is None and node.value == text
               for node in (root, value))


class Records(logging.Handler):
    def __init__(self):
        super().__init__()
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())


@settings(max_examples=500, deadline=None, suppress_health_check=[HealthCheck.filter_too_much])
@given(COLON_NUMBERS)
def test_colon_numbers_read_as_pyyaml_reads_them_on_every_path(text):
    assume(plain_for_pyyaml(text))
    theirs = pyyaml(text)
    beyond_64_bits = type(theirs) is int and abs(theirs) >= 2**63
    if beyond_64_bits:
        theirs = text  # no 64-bit integer: kept as text, named above
    document = f"k: {text}\n"
    for mode in (Y11, PY):
        assert close(torvex.loads(text, option=mode), theirs)
        for read in (torvex.loads(document, option=mode), torvex.loads_all(document, option=mode)[0],
                     torvex.loads(document, option=mode | torvex.OPT_ANNOTATED)):
            value = str(read["k"]) if isinstance(read["k"], str) else read["k"]  # an annotated str is a str
            assert close(value, theirs), (mode, read)
    # The warning where 1.1 reads a number (1.2 reads no colon number), in both pipelines.
    handler = Records()
    logger = logging.getLogger("torvex")
    logger.addHandler(handler)
    try:
        for option in (0, torvex.OPT_ANNOTATED):
            torvex.loads(document, option=option | PY | torvex.OPT_YAML_1_1_WARN)
    finally:
        logger.removeHandler(handler)
    kind = "str" if isinstance(theirs, str) else type(theirs).__name__
    expected = [] if kind == "str" else [f"YAML 1.1 syntax '{text}' resolves as {kind} in 1.1 but str in 1.2 at line 1, "
                                         "column 4"] * 2
    assert handler.messages == expected
    # The upgrade to 1.2 writes the number 1.1 read, and leaves text alone.
    upgraded = torvex.loads(document, option=torvex.OPT_ROUND_TRIP | torvex.OPT_UPGRADE_1_1).to_yaml()
    assert close(torvex.loads(upgraded)["k"], theirs)
    assert (document.encode() in upgraded) == isinstance(theirs, str)
    # dumps writes the text so that every mode, and PyYAML, read it back.
    out = torvex.dumps({text: text})
    assert beyond_64_bits or yaml.safe_load(out) == {text: text}
    for mode in ALL_MODES:
        assert torvex.loads(out, option=mode) == {text: text}


@pytest.mark.parametrize(
    "text, value",
    [("07:30", "07:30"), ("00:05:00", "00:05:00"), ("0:30", "0:30"), ("1:007", "1:007"), ("1:3_0", "1:3_0"),
     ("1:.5", "1:.5"), ("7:30", 450), ("1_0:30", 630), ("24:00:00", 86400), ("-1:30", -90),
     ("07:30:00.5", 27000.5), ("00:00:01.", 1.0), ("-0:30.5", -30.5)],
)
def test_times_of_day_in_a_configuration(text, value):
    document = f"automation:\n  trigger: {{at: {text}}}\n  delay: {text}\n"
    for mode in (Y11, PY):
        loaded = torvex.loads(document, option=mode)["automation"]
        assert loaded == {"trigger": {"at": value}, "delay": value}
        assert type(loaded["delay"]) is type(value)
    assert pyyaml(text) == value
