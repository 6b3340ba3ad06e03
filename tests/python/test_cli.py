"""The command line: driven in a subprocess on temporary files, and its path logic over the YAML test suite."""

from __future__ import annotations

import json
import math
import os
import pathlib
import pty
import subprocess
import sys

import pytest

import torvex
from torvex.cli import edit, paths

SUITE = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "yaml-test-suite"


def run(cwd, *args, stdin=None):
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    done = subprocess.run([sys.executable, "-m", "torvex", *map(str, args)], cwd=cwd, input=stdin,
                          capture_output=True, env=env)
    return done.returncode, done.stdout.decode(), done.stderr.decode()


def write(root: pathlib.Path, files: dict[str, str]) -> None:
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)


TREE = {
    "conf/configuration.yaml": "# main\nname: Home  # kept\npackages: !include_dir_named pk\n"
                               "extra: !include extra.yaml\nport: 8123\n",
    "conf/pk/lights.yaml": "light:\n  - platform: x   # keep me\n    key: !secret light_key\n",
    "conf/extra.yaml": "hosts: [a, b, c]\nnested: !include deep/more.yaml\n",
    "conf/deep/more.yaml": "v: 1\r\n",  # CRLF line ends, kept by an edit
    "conf/secrets.yaml": "light_key: abc\n",
}
DIRECTIVES = ("--includes", "conf", "--secrets")


@pytest.mark.parametrize("change, args, expected", [
    ({}, (), []),
    ({"conf/deep/more.yaml": "v: 1\nw: !include gone.yaml\n"}, DIRECTIVES,
     ["conf/deep/more.yaml:2:13: cannot read included file 'gone.yaml': No such file or directory",
      "  included from conf/extra.yaml:2", "  included from conf/configuration.yaml:4"]),
    ({"conf/pk/lights.yaml": "light: [\n"}, DIRECTIVES,
     ["conf/pk/lights.yaml:2:1: unclosed flow collection at end of input",
      "  included from conf/configuration.yaml:3"]),
    ({"conf/extra.yaml": "a: 1\na: 2\n"}, (*DIRECTIVES, "--duplicate-keys", "warn"),
     ["conf/extra.yaml:2:1: warning: duplicate mapping key 'a'; keeping the last value"]),
    ({"conf/extra.yaml": "a: 1\na: 2\n"}, (*DIRECTIVES, "--duplicate-keys", "error"),
     ["conf/extra.yaml:2:1: duplicate mapping key: a"]),
    ({"conf/secrets.yaml": "other: 1\n"}, DIRECTIVES,
     ["conf/pk/lights.yaml:3:18: secret 'light_key' is not defined in any secrets.yaml",
      "  included from conf/configuration.yaml:3"]),
    ({"conf/configuration.yaml": "# yaml-language-server: $schema=../s.json\nport: x\n",
      "s.json": '{"properties": {"port": {"type": "integer"}}}'}, ("--schema", "auto"),
     ["conf/configuration.yaml:2:7: schema validation failed: expected type integer, found string at $.port"]),
    ({"conf/configuration.yaml": "# yaml-language-server: $schema=https://example.com/s.json\nport: x\n"},
     ("--schema", "auto"), ["conf/configuration.yaml:1:1: note: schema https://example.com/s.json is not a "
                            "local file; not checked"]),
    ({"conf/configuration.yaml": "# yaml-language-server: $schema=missing.json\nport: x\n"}, ("--schema", "auto"),
     ["conf/configuration.yaml:1:1: cannot read schema conf/missing.json: No such file or directory"]),
])
def test_check_reports_each_problem_where_it_is(tmp_path, change, args, expected):
    write(tmp_path, {**TREE, **change})
    code, out, err = run(tmp_path, "check", *args, "conf/configuration.yaml")
    assert err.splitlines() == expected and out == ""
    assert code == (1 if any(": warning: " not in line and ": note: " not in line for line in expected) else 0)


def test_check_many_files_reports_in_order_on_any_number_of_threads(tmp_path):
    names = [f"f{i:02}.yaml" for i in range(40)]
    write(tmp_path, {name: (f"k: [{i}\n" if i % 7 == 3 else f"k: {i}\n") for i, name in enumerate(names)})
    runs = [run(tmp_path, "check", "-j", jobs, "-v", *names, "missing.yaml") for jobs in (1, 3)]
    assert runs[0] == runs[1]
    code, out, err = runs[0]
    bad = [n for i, n in enumerate(names) if i % 7 == 3]
    assert code == 1
    assert [line.split(":")[0] for line in err.splitlines()[:-1]] == bad + ["missing.yaml"]
    assert err.splitlines()[-1] == "checked 41 files, 7 with errors"
    assert out.splitlines() == [f"{n}: ok" for n in names if n not in bad]
    write(tmp_path, {".hidden/x.yaml": "[", "notes.txt": "[", "sub/z.yml": "z: 1\n"})
    code, out, err = run(tmp_path, "check", "-v", ".")  # a directory: its YAML files, hidden ones skipped
    assert out.splitlines() == [f"{n}: ok" for n in names if n not in bad] + ["sub/z.yml: ok"]
    assert err.splitlines()[-1] == "checked 41 files, 6 with errors"


def test_check_shows_a_count_on_a_terminal_only(tmp_path):
    write(tmp_path, {"a.yaml": "a: 1\n", "b.yaml": "b: [\n"})
    leader, follower = pty.openpty()
    env = {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)}
    done = subprocess.run([sys.executable, "-m", "torvex", "check", "a.yaml", "b.yaml"], cwd=tmp_path,
                          stderr=follower, stdout=subprocess.PIPE, env=env)
    os.close(follower)
    seen = os.read(leader, 65536).decode()
    os.close(leader)
    assert done.returncode == 1 and "checked 1/2" in seen and seen.endswith("\r\x1b[K")
    assert "b.yaml:2:1: unclosed flow collection" in seen
    assert "checked" not in run(tmp_path, "check", "a.yaml", "b.yaml")[2]


def test_to_json_forms(tmp_path):
    write(tmp_path, {"m.yaml": "b: [1, 2.5, true, null]\na: {200: x, d: 2024-01-02}\n---\n- 1\n"})
    code, out, _ = run(tmp_path, "to-json", "--sort-keys", "--indent", "2", "m.yaml")
    assert code == 0 and out == json.dumps(json.loads(out), indent=2, sort_keys=True) + "\n"
    assert json.loads(out) == {"a": {"200": "x", "d": "2024-01-02"}, "b": [1, 2.5, True, None]}
    code, out, _ = run(tmp_path, "to-json", "--all", "-", stdin=(tmp_path / "m.yaml").read_bytes())
    assert [json.loads(line) for line in out.splitlines()] == [json.loads(run(tmp_path, "to-json", "m.yaml")[1]),
                                                                [1]]
    assert run(tmp_path, "to-json", "--yaml-1.1", "-", stdin=b"x: yes")[1] == '{"x":true}\n'


@pytest.mark.parametrize("args, code, stderr", [
    (("get", "c.yaml", "server.port"), 0, ""),
    (("get", "c.yaml", "server.nope"), 1, "c.yaml:2:3: server.nope: no such key (keys: port, host)\n"),
    (("get", "c.yaml", "hosts[3]"), 1, "c.yaml:5:3: hosts[3]: index out of range (2 items)\n"),
    (("get", "c.yaml", "server.port.x"), 1,
     "c.yaml:2:3: server.port.x: server.port is an integer, not a mapping or a sequence\n"),
    (("get", "c.yaml", "hosts[x"), 2, "torvex: unclosed '[' in 'hosts[x'\n"),
    (("set", "c.yaml", "hosts.x", "1"), 1, "c.yaml:5:3: hosts.x: a sequence takes an index, not 'x'\n"),
    (("set", "c.yaml", "a", "[1"), 2, None),
    (("to-json", "--all", "--indent", "2", "c.yaml"), 2, None),
    (("frobnicate",), 2, None),
])
def test_get_and_usage_errors(tmp_path, args, code, stderr):
    write(tmp_path, {"c.yaml": "server:\n  port: 8080\n  host: h\nhosts:\n  - a\n  - b\n"})
    result = run(tmp_path, *args)
    assert result[0] == code and (stderr is None or result[2] == stderr)
    assert (tmp_path / "c.yaml").read_text().startswith("server:\n  port: 8080\n")


def test_set_changes_one_line_in_the_file_that_holds_the_value(tmp_path):
    write(tmp_path, TREE)
    before = {name: (tmp_path / name).read_bytes().decode() for name in TREE}
    edits = [("port", "9000", "conf/configuration.yaml", "port: 9000"),
             ("extra.hosts[-1]", "z", "conf/extra.yaml", "hosts: [a, b, z]"),
             ("extra.nested.v", "two words", "conf/deep/more.yaml", "v: two words"),
             ("packages.lights.light[0].platform", "hue", "conf/pk/lights.yaml", "  - platform: hue   # keep me"),
             ("name", "yes", "conf/configuration.yaml", 'name: "yes"  # kept')]
    for path, value, file, line in edits:
        assert run(tmp_path, "set", *DIRECTIVES, "conf/configuration.yaml", path, value) == (0, "", "")
        after = (tmp_path / file).read_text().splitlines()
        changed = [new for old, new in zip(before[file].splitlines(), after) if old != new]
        assert changed == [line] and len(after) == len(before[file].splitlines())
        raw = (tmp_path / file).read_bytes()
        assert raw.count(b"\n") == raw.count(b"\r\n" if file.endswith("more.yaml") else b"\n")
        before[file] = raw.decode()
        assert run(tmp_path, "get", *DIRECTIVES, "conf/configuration.yaml", path)[1] == value + "\n"
    assert all((tmp_path / name).read_bytes().decode() == before[name] for name in TREE)
    assert run(tmp_path, "set", "--string", "conf/extra.yaml", "new.key", "8") == (0, "", "")
    assert torvex.loads((tmp_path / "conf/extra.yaml").read_bytes())["new"] == {"key": "8"}


def suite_documents():
    if not SUITE.is_dir():
        return []
    return [pytest.param(p, id=str(p.parent.relative_to(SUITE)))
            for p in sorted(SUITE.rglob("in.yaml")) if not (p.parent / "error").exists()]


def same(a, b):
    return (isinstance(a, float) and isinstance(b, float) and math.isnan(a) and math.isnan(b)) or a == b


@pytest.mark.parametrize("case", suite_documents())
def test_paths_reach_every_leaf_of_the_suite(case):
    """Every leaf the round-trip walk lists is found by get's lookup through its rendered path, and set's
    assignment through the same path changes that leaf alone."""
    text = case.read_bytes()
    document = torvex.loads(text, option=torvex.OPT_ROUND_TRIP)
    if document.range() is None or len(torvex.loads_all(text)) != 1:
        return
    data = torvex.loads(text, option=torvex.OPT_ANNOTATED)
    leaves = [(keys, value) for keys, value in document.walk() if keys and "<<" not in keys]
    for keys, value in leaves:
        steps = paths.parse(paths.render([paths.Step(index=k) if isinstance(k, int) else paths.Step(name=k)
                                          for k in keys]))
        assert same(edit.find(data, steps, "in.yaml", 0), value)
    if leaves:
        edit.assign(document, steps, "set by the test", "in.yaml")
        reloaded = torvex.loads(document.to_yaml(), option=torvex.OPT_ANNOTATED)
        assert edit.find(reloaded, steps, "in.yaml", 0) == "set by the test"
