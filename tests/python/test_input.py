"""Input acquisition: str, bytes, bytearray and buffers become one UTF-8 text.

yaml_version and schema_ref read their input through the same routine as
loads, and echo what they find, so they show the decoded text exactly.
"""

import array
import os
import pathlib

import pytest

import torvex
from peers import needs_numpy, numpy as np

UNSUPPORTED = "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)"
MODELINE = "# yaml-language-server: $schema=caf\u00e9-\U0001f600.json\n"


def encodings_of(text: str):
    yield "utf-8", text.encode("utf-8")
    yield "utf-8-sig", text.encode("utf-8-sig")
    for codec in ("utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be"):
        yield codec, text.encode(codec)
    for codec in ("utf-16", "utf-32"):  # with a byte-order mark
        yield codec, text.encode(codec)


@pytest.mark.parametrize("codec, raw", list(encodings_of(MODELINE)))
@pytest.mark.parametrize("wrap", [bytes, bytearray, memoryview,
                                  pytest.param(lambda b: np.frombuffer(b, dtype=np.uint8), marks=needs_numpy,
                                               id="numpy")])
def test_every_encoding_and_container_gives_the_same_text(codec, raw, wrap):
    assert torvex.schema_ref(wrap(raw)) == "caf\u00e9-\U0001f600.json"


@pytest.mark.parametrize(
    "raw, version",
    [
        (b"%YAML 1.1\n", "1.1"),
        ("%YAML 1.1\n".encode("utf-16-le"), "1.1"),  # 'a\x00'-style: UTF-16 LE without mark
        ("%YAML 1.1\n".encode("utf-16-be"), "1.1"),
        ("%YAML 1.1\n".encode("utf-32-le"), "1.1"),
        ("%YAML 1.1\n".encode("utf-32-be"), "1.1"),
        ("\ufeff%YAML 1.2\n".encode("utf-16-le"), "1.2"),
        (b"\xef\xbb\xbf%YAML 1.2\n", "1.2"),
        (b"", None),
        (b"%", None),
    ],
)
def test_detection_table(raw, version):
    assert torvex.yaml_version(raw) == version


@pytest.mark.parametrize(
    "raw, message",
    [
        (b"\xff\xfe" + b"a", "invalid UTF-16: byte count is not a multiple of 2"),
        (b"\xff\xfea\x00b", "invalid UTF-16: byte count is not a multiple of 2"),
        (b"\xff\xfe\x00\xd8", "invalid UTF-16: unpaired surrogate"),
        (b"\xff\xfe\x00\xd8a\x00", "invalid UTF-16: unpaired surrogate"),
        (b"\xff\xfe\x00\xdc", "invalid UTF-16: unpaired surrogate"),
        (b"a\x00\x00\x00b", "invalid UTF-32: byte count is not a multiple of 4"),
        (b"\x00\x00\x00\x00\x00\x11\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
        (b"\xff\xfe\x00\x00\x00\xd8\x00\x00", "invalid UTF-32: not a Unicode scalar value"),
        (b"key: \xff", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 5"),
        (b"ab\xe2\x82", "invalid UTF-8: incomplete utf-8 byte sequence from index 2"),
        (b"\xe2\x82x", "invalid UTF-8: invalid utf-8 sequence of 2 bytes from index 0"),
        (b"\xed\xa0\x80", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
        (b"\xc0\xaf", "invalid UTF-8: invalid utf-8 sequence of 1 bytes from index 0"),
    ],
)
@pytest.mark.parametrize("func", [torvex.loads, torvex.loads_all, torvex.schema_ref, torvex.yaml_version])
def test_decoding_errors_are_exact(raw, message, func):
    with pytest.raises(ValueError) as info:
        func(raw)
    assert type(info.value) is ValueError
    assert str(info.value) == message


class PathOnly:
    def __fspath__(self):
        return "config.yaml"


class StrSub(str):
    pass


class BytesSub(bytes):
    pass


@pytest.mark.parametrize(
    "data",
    [
        PathOnly(),
        pathlib.Path("config.yaml"),
        42,
        None,
        memoryview(array.array("i", [1, 2])),
        array.array("H", [0x2523]),
        memoryview(b"\x00" * 4).cast("B", (2, 2)).cast("I"),
    ],
)
@pytest.mark.parametrize("func", [torvex.loads, torvex.schema_ref, torvex.yaml_version])
def test_unsupported_objects_are_refused(data, func):
    with pytest.raises(TypeError) as info:
        func(data)
    assert str(info.value) == UNSUPPORTED, "the message names loads() whichever function was called"


def test_subclasses_and_buffers_are_read():
    text = "%YAML 1.1\n"
    assert torvex.yaml_version(StrSub(text)) == "1.1"
    assert torvex.yaml_version(BytesSub(text.encode())) == "1.1"
    assert torvex.yaml_version(array.array("B", text.encode())) == "1.1"
    assert torvex.yaml_version(array.array("b", text.encode())) == "1.1"
    assert torvex.yaml_version(memoryview(text.encode())) == "1.1"


def test_non_contiguous_buffers_are_copied_in_order():
    raw = "%YAML 1.1\n".encode()
    padded = bytes(b for c in raw for b in (c, ord("#")))
    assert torvex.yaml_version(memoryview(padded)[::2]) == "1.1"


@needs_numpy
def test_multidimensional_buffers_are_copied_in_c_order():
    raw = "%YAML 1.1\n".encode()
    grid = np.frombuffer(raw + b" " * 2, dtype=np.uint8).reshape(3, 4)
    assert torvex.yaml_version(grid) == "1.1"
    assert torvex.yaml_version(np.asfortranarray(grid)) == "1.1"


def test_str_is_taken_as_is_without_detection():
    # A leading U+FEFF in a str stays in the text; a str of NUL-led text is not UTF-16.
    assert torvex.yaml_version("\ufeff%YAML 1.1\n") == "1.1"
    assert torvex.schema_ref("\x00# yaml-language-server: $schema=x") is None


def test_lone_surrogate_str_raises_the_interpreters_error():
    with pytest.raises(UnicodeEncodeError):
        torvex.yaml_version("%YAML 1.1\n\ud800")


@pytest.mark.parametrize("wide", ["\xe9", "\u20ac", "\U0001f680"])
@pytest.mark.parametrize("entries", [10, 9000])
def test_strs_of_every_width_and_size_read_as_their_utf8(wide, entries):
    # Small strs are read through the UTF-8 form the interpreter keeps, large ones (past 64K characters) are
    # encoded by the loader without leaving such a form behind: both read as their UTF-8 bytes do, and a lone
    # surrogate raises the interpreter's own error at any size.
    import sys

    text = "".join(f"k{i}: {wide * (i % 5)}v{i} \u00ff\n" for i in range(entries))
    size = sys.getsizeof(text)
    assert torvex.loads(text) == torvex.loads(text.encode())
    if len(text) >= 65536:
        assert sys.getsizeof(text) == size
    broken = text + "x: \udc80\n"
    with pytest.raises(UnicodeEncodeError) as expected:
        broken.encode()
    with pytest.raises(UnicodeEncodeError) as got:
        torvex.loads(broken)
    assert str(got.value) == str(expected.value)


def test_bytearray_is_not_held_after_the_call():
    data = bytearray(b"%YAML 1.1\n")
    assert torvex.yaml_version(data) == "1.1"
    data.extend(b"more")  # would raise BufferError if a buffer export were still held


