"""A plain load with directives reads an included file without tags through the plain decoder; a load whose tree
something else reads composes every file. A schema is such a reader, so `schema={}` (which accepts anything) gives
the composed reading to compare against. Both must give the same data, the same log lines and the same errors
(class, message, position, file and include stack) whatever the files hold: random include trees over texts
chosen to reach every reason a file is composed after all, under every option that changes what is reported,
and every text of the YAML test suite as an included file and as a secrets file."""

from __future__ import annotations

import json
import logging
import random
from pathlib import Path

import pytest

import torvex

SUITE = Path(__file__).resolve().parents[3] / "shared" / "yaml-test-suite"
ALL = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR

# Texts of included files: each reaches one way the plain and the composed readings could part.
TEXTS = [
    "a: 1\nb: [x, y]\nc: {d: e}\n",
    "- 1\n- two\n- {k: v}\n- [3, 4]\n",
    "",
    "# only a comment\n",
    "~\n",
    "just a scalar\n",
    "---\na: 1\n---\n- 2\n- 3\n...\n",
    "--- []\n--- {}\n",
    "base: &b {x: 1}\nuse: *b\n",
    "<<: {m: 1}\nk: 2\n",
    "'<<': quoted\nplain: 1\n",
    "a: 1\na: 2\n",
    "- {a: 1, a: 2}\n",
    "yes: on\nmode: 0777\nn: 1_000\nt: 1:20\nf: 1e3\n",
    "? [a, b]\n: complex\n? {c: d}\n: too\n",
    "1: int key\ntrue: bool key\nnull: null key\n3.5: float key\n",
    "logger: debug\npw: secret-pw\nlist: [1, 2]\nmap: {x: y}\n",
    "logger: Warning\npw: other-pw\n",
    "logger: 1\npw: x\n",
    "pw: a\npw: b\n",
    "a: [1, 2\n",
    "a: *nowhere\n",
    "\ufeffbom: true\n",
    "%YAML 1.1\n---\nx: yes\n",
    "k: \"esc\\u00e9\\n\"\nl: |\n  block\n  text\nm: >-\n  folded\n  text\n",
    "nested:\n  deeper:\n    - {a: [1, {b: 2}]}\n",
    "x: 12345678901234567890123\ny: .nan\nz: -.inf\nw: 0x1F\nv: 0o17\n",
    "- a\n-\n- ''\n- null\n",
    "a:\n\tb: 1\n",
    "key with spaces: v\n\"quoted\\tkey\": w\n",
]

ROOT_LINES = [
    "one: !include f0.yaml",
    "two: !include f1.yaml",
    "list: !include_dir_list d",
    "named: !include_dir_named d",
    "merged_list: !include_dir_merge_list d",
    "merged_named: !include_dir_merge_named d",
    "secret: !secret pw",
    "secret_list: !secret list",
    "secret_map: !secret map",
    "anchored: &x !include f2.yaml",
    "alias: *x",
    "<<: !include f3.yaml",
    "spread: {<<: [!include f0.yaml, !include f1.yaml]}",
    "dir_anchor: &y !include_dir_merge_list d",
    "dir_alias: *y",
    "? *x\n: alias of an include as a key",
    "deep: {a: [!include d/sub/g0.yaml]}",
    "env: !env_var TORVEX_PLAIN_FILES_TEST fallback",
    "from_a_file: *b",  # an anchor some included texts define
    "forwarded: !include fwd.yaml",
]

OPTIONS = [0, torvex.OPT_DUPLICATE_KEYS_WARN, torvex.OPT_DUPLICATE_KEYS_ERROR,
           torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN, torvex.OPT_YAML_1_1, torvex.OPT_PYYAML_COMPAT,
           torvex.OPT_REJECT_COMPLEX_KEYS, torvex.OPT_SECRET_NOT_FOUND_WARN,
           torvex.OPT_DUPLICATE_KEYS_WARN | torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN]


def outcome(caplog, load) -> tuple:
    """What a load gave: its data (by repr, which tells 1 from 1.0 and True and keeps NaN equal to itself) or its
    error with every attribute, and the log lines it wrote."""
    caplog.clear()
    try:
        got = ("data", repr(load()))
    except torvex.TorvexError as e:
        got = ("error", type(e), e.args, sorted(vars(e).items()))
    return got, [record.getMessage() for record in caplog.records]


def assert_same_both_ways(caplog, main: Path, option: int, **kwargs) -> tuple:
    caplog.set_level(logging.WARNING, logger="torvex")

    def load(**extra):
        return torvex.loads(main.read_bytes(), option=option, include_dir=str(main.parent), root_path=str(main),
                            **kwargs, **extra)

    plain = outcome(caplog, load)
    composed = outcome(caplog, lambda: load(schema={}))
    assert plain == composed
    return plain


def write_tree(root: Path, rng: random.Random) -> Path:
    files = {name: rng.choice(TEXTS) for name in
             ["f0.yaml", "f1.yaml", "f2.yaml", "f3.yaml", "d/a.yaml", "d/b.yml", "d/c.yaml", "d/sub/g0.yaml",
              "d/sub/g1.yaml"]}
    files["secrets.yaml"] = rng.choice(TEXTS)
    files["fwd.yaml"] = "!include f1.yaml\n"
    if rng.random() < 0.5:
        # A file with a directive is always composed; its secret is looked up from its own directory first.
        files["d/sub/tagged.yaml"] = "s: !secret pw\ninner: !include ../c.yaml\n"
        files["d/sub/secrets.yaml"] = rng.choice(TEXTS)
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text, encoding="utf-8")
    main = root / "main.yaml"
    if rng.random() < 0.1:
        main.write_text(rng.choice(["!include f0.yaml\n", "--- !include_dir_merge_list d\n--- !include f1.yaml\n"]))
    else:
        main.write_text("\n".join(rng.sample(ROOT_LINES, rng.randrange(1, 7))) + "\n")
    return main


@pytest.mark.parametrize("line", range(len(ROOT_LINES)))
@pytest.mark.parametrize("text", range(len(TEXTS)))
def test_every_text_under_every_directive(tmp_path, caplog, text, line):
    for name in ("f0.yaml", "f1.yaml", "f2.yaml", "f3.yaml", "d/a.yaml", "d/b.yml", "d/sub/g0.yaml", "secrets.yaml"):
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / name).write_text(TEXTS[text], encoding="utf-8")
    # Files that are nothing but a directive forward to another file's content.
    (tmp_path / "fwd.yaml").write_text("!include f1.yaml\n")
    (tmp_path / "d/z_fwd.yaml").write_text("!include ../f1.yaml\n")
    main = tmp_path / "main.yaml"
    # An include first, so that an alias of the line may name an anchor of an included file.
    main.write_text("first: !include f0.yaml\n" + ROOT_LINES[line] + "\n")
    extra = OPTIONS[(text + line) % len(OPTIONS)]
    for option in (ALL | torvex.OPT_INCLUDE_DIR_RECURSIVE, ALL | extra):
        assert_same_both_ways(caplog, main, option)


@pytest.mark.parametrize("seed", range(60))
def test_random_trees_read_the_same_both_ways(tmp_path, caplog, seed):
    rng = random.Random(seed)
    main = write_tree(tmp_path / "t", rng)
    option = ALL | rng.choice(OPTIONS) | (torvex.OPT_INCLUDE_DIR_RECURSIVE if rng.random() < 0.5 else 0)
    assert_same_both_ways(caplog, main, option)


def test_the_generated_configuration_tree_reads_the_same_both_ways(tmp_path, caplog, monkeypatch):
    import sys

    sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
    import config_tree

    monkeypatch.setenv("WEATHER_URL", "https://example.org/w")
    main = config_tree.generate(tmp_path / "conf", seed=3, packages=4, areas=3, per_area=4)
    for option in (ALL | torvex.OPT_INCLUDE_DIR_RECURSIVE, ALL | torvex.OPT_DUPLICATE_KEYS_ERROR,
                   ALL | torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN):
        got, _ = assert_same_both_ways(caplog, main, option)
        assert got[0] == "data"


def suite_texts() -> list:
    if not SUITE.is_dir():
        return []
    return [pytest.param(p.read_bytes(), id=str(p.parent.relative_to(SUITE))) for p in sorted(SUITE.rglob("in.yaml"))]


@pytest.mark.parametrize("text", suite_texts())
def test_suite_texts_read_the_same_both_ways_when_included(tmp_path, caplog, text):
    (tmp_path / "d").mkdir()
    for name in ("inc.yaml", "d/inc.yaml", "secrets.yaml"):
        (tmp_path / name).write_bytes(text)
    main = tmp_path / "main.yaml"
    main.write_text("one: !include inc.yaml\nlist: !include_dir_list d\nnamed: !include_dir_named d\n"
                    "merged_list: !include_dir_merge_list d\nmerged_named: !include_dir_merge_named d\n")
    for option in (ALL, ALL | torvex.OPT_DUPLICATE_KEYS_WARN | torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN):
        assert_same_both_ways(caplog, main, option)
    # As a secrets file, asked for its first key where it has one.
    try:
        first = torvex.loads(text)
    except torvex.TorvexError:
        first = None
    name = next((k for k in first if isinstance(k, str) and k.strip() and "\n" not in k), "pw") \
        if isinstance(first, dict) else "pw"
    main.write_text(f"s: !secret {json.dumps(name)}\n")  # JSON strings are YAML double-quoted scalars
    assert_same_both_ways(caplog, main, ALL | torvex.OPT_SECRET_NOT_FOUND_WARN)
