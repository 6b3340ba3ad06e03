"""schema_ref and yaml_version: light scans of the head of a text."""

import pytest

import torvex


@pytest.mark.parametrize(
    "text, expected",
    [
        ("\n# comment\n#   yaml-language-server:   $schema=  ./s.json  \n", "./s.json"),
        ("a: 1\n# yaml-language-server: $schema=x.json\n", None),
        ("# yaml-language-server: $schema=\n# yaml-language-server: $schema=second.json\n", "second.json"),
        ("#yaml-language-server:$schema=x", "x"),
        ("# yaml-language-server: $schema=https://example.com/s.json\r\nkey: 1\r\n", "https://example.com/s.json"),
        ("# yaml-language-server: $schema=a b \t", "a b"),
        ("\u3000# yaml-language-server:\u00a0$schema=x\u2003\n", "x"),
        ("# yaml-language-server: $schema=first\n# yaml-language-server: $schema=second\n", "first"),
        ("# yaml-language-server $schema=x\n", None),
        ("# yaml-language-server: schema=x\n", None),
        ("# YAML-language-server: $schema=x\n", None),
        ("%YAML 1.2\n# yaml-language-server: $schema=x\n", None),
        ("---\n# yaml-language-server: $schema=x\n", None),
        ("# a\n\n   \n# yaml-language-server: $schema=deep\n", "deep"),
        ("", None),
        ("# yaml-language-server: $schema=x\rstill-the-same-line", "x\rstill-the-same-line"),
        # a byte-order mark is invisible and does not hide a modeline on the first line
        ("\ufeff# yaml-language-server: $schema=bom.json\n", "bom.json"),
        ("\ufeff\ufeff# yaml-language-server: $schema=bom.json\n", None),
    ],
)
def test_schema_ref(text, expected):
    assert torvex.schema_ref(text) == expected


def test_schema_ref_does_not_parse_the_document():
    assert torvex.schema_ref("# yaml-language-server: $schema=s.json\n[unclosed: {") == "s.json"


@pytest.mark.parametrize(
    "text, expected",
    [
        ("%YAML 1.1\n---\n", "1.1"),
        ("%TAG ! tag:example.com,2000:\n%YAML 1.2\n---\n", "1.2"),
        ("# c\n%YAML 1.1\n", "1.1"),
        ("\ufeff%YAML 1.1\n", "1.1"),
        ("%YAML x.y\n", None),
        ("key: value\n", None),
        ("", None),
        ("%YAML 01.02\n", "1.2"),
        ("%YAML +1.+1\n", "1.1"),
        ("%YAML 1.1 # comment\n", "1.1"),
        ("%YAML # 1.1\n", None),
        ("%YAML\n", None),
        ("%YAML 1\n", None),
        ("%YAML 1.2.3\n", None),
        ("%YAML 4294967295.4294967295\n", "4294967295.4294967295"),
        ("%YAML 4294967296.1\n", None),
        ("%YAML 1.-1\n", None),
        ("%YAML\t1.1\r\n---\r\n", "1.1"),
        ("  %YAML 1.1\n", "1.1"),
        ("%YAML 1.1\n%YAML 1.2\n", "1.1"),
        ("%YAMLX 1.1\n%YAML 1.2\n", "1.2"),
        ("%YAML x\n%YAML 1.2\n", None),
        ("---\n%YAML 1.1\n", None),
        ("\n\n# only comments\n", None),
        ("%YAML\u30001.1\n", "1.1"),
    ],
)
def test_yaml_version(text, expected):
    assert torvex.yaml_version(text) == expected


def test_yaml_version_succeeds_on_text_that_would_not_load():
    assert torvex.yaml_version("%YAML 1.1\n---\n[: : :") == "1.1"
