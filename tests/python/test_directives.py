"""Directives through loads: a generated home-automation configuration tree checked against a PyYAML-based
reference loader and against the rules; errors with their classes, messages, positions and include stacks;
the missing-value callbacks and log lines; round-trip documents over includes; confinement against escapes;
and random trees of includes, links and cycles, which must end with data or a directive error."""

from __future__ import annotations

import logging
import os
import random
import sys
from pathlib import Path

import pytest

import torvex

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
import config_tree  # noqa: E402

ALL = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR
DIRECTIVE_ERRORS = (torvex.TorvexIncludeError, torvex.TorvexIncludeNotFoundError, torvex.TorvexCircularIncludeError,
                    torvex.TorvexIncludeDepthError, torvex.TorvexIncludeConfinementError,
                    torvex.TorvexSecretNotFoundError, torvex.TorvexEnvVarError)


def load_file(path: Path, option: int = ALL, include_dir: Path | None = None, **kwargs):
    return torvex.loads(path.read_bytes(), option=option, include_dir=str(include_dir or path.parent),
                        root_path=str(path), **kwargs)


def write(root: Path, files: dict[str, str]) -> None:
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)


# ---- a configuration tree -------------------------------------------------------------------------------------

@pytest.mark.parametrize("seed, packages, areas, per_area", [(0, 3, 2, 3), (1, 6, 4, 5), (2, 1, 1, 1)])
def test_configuration_tree_matches_the_reference_loader(tmp_path, monkeypatch, seed, packages, areas, per_area):
    monkeypatch.setenv("MQTT_PORT_0", "1884")
    monkeypatch.delenv("TORVEX_BENCH_PORT", raising=False)
    main = config_tree.generate(tmp_path / "conf", seed, packages, areas, per_area)
    ours = load_file(main, ALL | torvex.OPT_INCLUDE_DIR_RECURSIVE)
    assert ours == config_tree.PeerLoader(main.parent).load(main)

    # The rules, checked directly.
    core = ours["homeassistant"]
    assert core["latitude"] == 52.3731 and ours["http"]["api_password"] == "hunter2"
    assert ours["http"]["server_port"] == "8123"  # a default, and always a string
    assert ours["mqtt"]["password"] == "outer-mqtt"
    pkg = core["packages"]
    assert list(pkg) == [f"pkg_{i:03d}" for i in range(packages)]  # named by stem, in name order
    assert pkg["pkg_000"]["mqtt"] == {"password": "package-mqtt", "port": "1884"}  # the nearer secrets file wins
    assert all(p["rest"][0]["headers"]["authorization"].startswith("key-") for p in pkg.values())  # outer fallback
    assert len(ours["automation"]) == 2 * areas * per_area  # merged over every area folder
    assert [a["id"].split("-")[0] for a in ours["automation"]] == sorted(
        f"area{a}" for a in range(areas) for _ in range(2 * per_area))
    assert ours["sensor"][0]["resource"] == "https://weather.example.org"
    assert "secrets" not in pkg

    # Without recursion the area folders are not walked.
    assert load_file(main)["automation"] == []


def test_round_trip_over_the_tree_keeps_directives_and_files(tmp_path):
    main = config_tree.generate(tmp_path / "conf", 0, 2, 2, 2)
    doc = load_file(main, ALL | torvex.OPT_ROUND_TRIP | torvex.OPT_INCLUDE_DIR_RECURSIVE)
    assert doc.to_yaml() == main.read_bytes()
    assert doc.to_dict() == load_file(main, ALL | torvex.OPT_INCLUDE_DIR_RECURSIVE)
    node = doc.node
    assert node["homeassistant"]["customize"].is_include
    assert node["homeassistant"]["customize"].source_target == "customize.yaml"
    assert node["homeassistant"]["customize"].file == str(main.parent / "customize.yaml")
    assert node["homeassistant"]["packages"]["pkg_000"]["rest"][0]["headers"]["authorization"].file == str(
        main.parent / "packages" / "pkg_000.yaml")
    assert node["http"]["api_password"].is_secret and node["http"]["api_password"].source_target == "http_password"
    assert node["http"]["server_port"].is_env_var and not node["http"]["server_port"].is_include
    assert node["automation"].source_tag == "!include_dir_merge_list"
    assert node["homeassistant"]["name"].file == str(main)

    doc["homeassistant"]["name"] = "Cottage"
    written = doc.to_yaml().decode()
    assert "name: Cottage" in written
    for directive in ("!secret http_password", "!env_var TORVEX_BENCH_PORT 8123", "!include customize.yaml",
                      "!include_dir_named packages", "!include_dir_merge_list automations"):
        assert directive in written
    assert "hunter2" not in written and "52.3731" not in written  # never a secret's value


# ---- includes ---------------------------------------------------------------------------------------------------

@pytest.mark.parametrize("form, files, expected", [
    ("!include_dir_named", {"b.yaml": "2", "a.yml": "1", ".hidden.yaml": "h", "notes.txt": "t",
                            "secrets.yaml": "s: 1", "sub/c.yaml": "3"}, {"a": 1, "b": 2}),
    ("!include_dir_list", {"b.yaml": "2", "A.yaml": "0", "a.yaml": "1", "e.yaml": ""}, [0, 1, 2]),
    ("!include_dir_merge_list", {"1.yaml": "[1, 2]", "2.yaml": "3", "3.yaml": "[4]"}, [1, 2, 3, 4]),
    ("!include_dir_merge_named", {"1.yaml": "{a: 1}", "2.yaml": "[5]", "3.yaml": "{a: 2, b: 3}"}, {"a": 2, "b": 3}),
])
def test_directory_forms(tmp_path, form, files, expected):
    write(tmp_path / "d", files)
    assert torvex.loads(f"x: {form} d", option=ALL, include_dir=str(tmp_path)) == {"x": expected}


def test_recursive_directory_forms_and_missing_directories(tmp_path):
    write(tmp_path / "d", {"b.yaml": "2", "a.yml": "1", "sub/c.yaml": "3", "sub/deeper/d.yaml": "4"})
    recursive = ALL | torvex.OPT_INCLUDE_DIR_RECURSIVE
    assert torvex.loads("!include_dir_named d", option=recursive, include_dir=str(tmp_path)) == {
        "a": 1, "b": 2, "c": 3, "d": 4}
    assert torvex.loads("[!include_dir_list none, !include_dir_named none]", option=ALL,
                        include_dir=str(tmp_path)) == [[], {}]


@pytest.mark.parametrize("option", [ALL, ALL | torvex.OPT_ANNOTATED])
@pytest.mark.parametrize("mode, files, merged", [
    # Merge keys that only some file read holds, and one that no file holds: a directory's file named `<<`.
    (0, {"<<.yaml": "a: 1\nb: 2", "x.yaml": "c: 3"}, {"x": {"c": 3}, "a": 1, "b": 2}),
    (0, {"m.yaml": "base: &b {a: 1}\nuse: {<<: *b, c: 2}"}, {"m": {"base": {"a": 1}, "use": {"c": 2, "a": 1}}}),
    # keys that only their tag makes merge keys (1.1), beside a directive whose name holds "merge"
    *[(torvex.OPT_YAML_1_1, {"m.yaml": f"base: &b {{a: 1}}\nuse: {{{tag} x: *b, c: 2}}\nz: !include_dir_merge_named e"},
       {"m": {"base": {"a": 1}, "use": {"c": 2, "a": 1}, "z": {}}})
      for tag in ("!!merge", "!<tag:yaml.org,2002:merge>")],
])
def test_merge_keys_from_included_files_and_directory_names(tmp_path, option, mode, files, merged):
    """Mappings are read without looking for merge keys when no text of the load can hold one: keys from
    included files and from directory entries must still merge."""
    option |= mode
    write(tmp_path / "d", files)
    assert torvex.loads("!include_dir_named d", option=option, include_dir=str(tmp_path)) == merged
    assert torvex.loads("x: 1\nk: !include_dir_named d", option=option, include_dir=str(tmp_path)) == {
        "x": 1, "k": merged}


def test_include_switched_off_stays_a_tag(tmp_path):
    write(tmp_path, {"x.yaml": "1"})
    assert torvex.loads("a: !include x.yaml", option=torvex.OPT_SECRETS, include_dir=str(tmp_path)) == {"a": "x.yaml"}
    assert torvex.loads("a: !include x.yaml", option=torvex.OPT_INCLUDES, include_dir=str(tmp_path)) == {"a": 1}


def test_without_include_dir_the_current_directory_confines(tmp_path, monkeypatch):
    write(tmp_path, {"in/x.yaml": "v: 1", "out.yaml": "2"})
    monkeypatch.chdir(tmp_path / "in")
    assert torvex.loads("!include x.yaml", option=ALL) == {"v": 1}
    with pytest.raises(torvex.TorvexIncludeConfinementError):
        torvex.loads("!include ../out.yaml", option=ALL)


def test_two_level_missing_include_message_and_stack(tmp_path):
    write(tmp_path, {"a.yaml": "x: 1\ny: !include sub/b.yaml\n", "sub/b.yaml": "\n\nz: !include gone.yaml\n"})
    with pytest.raises(torvex.TorvexIncludeNotFoundError) as info:
        torvex.loads("top:\n  a: !include a.yaml\n", option=ALL, include_dir=str(tmp_path))
    e = info.value
    a, b = str(tmp_path / "a.yaml"), str(tmp_path / "sub" / "b.yaml")
    # The position is the directive's, in the file that holds it; the stack ends with that file.
    assert e.include_stack == [(a, 2), (b, 2)]
    assert str(e) == (f"cannot read included file 'gone.yaml': No such file or directory in {b}"
                      f"\n  included from {a}, line 2\n  included from {b}, line 2")
    assert (e.line, e.column, e.file) == (3, 13, b)


def test_syntax_error_in_included_file_names_the_include_that_entered_it(tmp_path):
    write(tmp_path, {"a.yaml": "x: 1\ny: !include sub/bad.yaml\n", "sub/bad.yaml": "ok: 1\nk: [\n"})
    with pytest.raises(torvex.TorvexIncludeError) as info:
        torvex.loads("a: !include a.yaml\n", option=ALL, include_dir=str(tmp_path))
    e = info.value
    a, bad = str(tmp_path / "a.yaml"), str(tmp_path / "sub" / "bad.yaml")
    assert (e.file, e.line, e.column) == (bad, 3, 1)
    assert e.include_stack == [(a, 1), (bad, 2)]


@pytest.mark.parametrize("files, text, cls, message", [
    ({"a.yaml": "!include b.yaml", "b.yaml": "!include a.yaml"}, "!include a.yaml",
     torvex.TorvexCircularIncludeError, "circular include detected: 'a.yaml'"),
    ({"d/x.yaml": "!include_dir_list ."}, "!include_dir_list d",
     torvex.TorvexCircularIncludeError, "circular include detected: './x.yaml'"),
    ({}, "a: !include ''", torvex.TorvexIncludeError, "!include needs an argument"),
    ({}, "a: !include_dir_named [x]", torvex.TorvexIncludeError, "!include_dir_named needs an argument"),
    ({"bad.yaml": "a: [1"}, "!include bad.yaml", torvex.TorvexIncludeError, ""),
    ({}, "a: [1", torvex.TorvexIncludeError, ""),
    ({}, "!include ../x.yaml", torvex.TorvexIncludeConfinementError,
     "'../x.yaml' resolves outside the configured include directory"),
    ({}, "!include /etc/hostname", torvex.TorvexIncludeConfinementError,
     "'/etc/hostname' resolves outside the configured include directory"),
    ({}, "!secret nope", torvex.TorvexSecretNotFoundError, "secret 'nope' is not defined in any secrets.yaml"),
    ({}, "!env_var TORVEX_SURELY_UNSET", torvex.TorvexEnvVarError,
     "environment variable TORVEX_SURELY_UNSET is not defined"),
    ({"secrets.yaml": "- 1"}, "!secret a", torvex.TorvexIncludeError, "secrets.yaml does not contain a dictionary"),
    ({"secrets.yaml": "a: !secret b"}, "!secret a", torvex.TorvexIncludeError,
     "secrets not supported in a secrets.yaml file"),
])
def test_directive_errors(tmp_path, files, text, cls, message):
    write(tmp_path / "conf", files)
    with pytest.raises(cls) as info:
        torvex.loads(text, option=ALL, include_dir=str(tmp_path / "conf"))
    assert str(info.value).startswith(message)
    assert isinstance(info.value.include_stack, list) and isinstance(info.value.line, int)
    assert type(info.value) is cls


def test_depth_limit(tmp_path):
    write(tmp_path, {f"c{i}.yaml": f"!include c{i + 1}.yaml" for i in range(1, 51)} | {"c51.yaml": "end"})
    with pytest.raises(torvex.TorvexIncludeDepthError, match="maximum depth of 50") as info:
        torvex.loads("!include c1.yaml", option=ALL, include_dir=str(tmp_path))
    assert len(info.value.include_stack) == 50
    write(tmp_path, {"c50.yaml": "end"})
    assert torvex.loads("!include c1.yaml", option=ALL, include_dir=str(tmp_path)) == "end"


# ---- confinement is a security boundary ------------------------------------------------------------------------

@pytest.fixture
def escape_tree(tmp_path):
    conf = tmp_path / "conf"
    write(tmp_path, {"outside.yaml": "stolen: true", "outdir/x.yaml": "stolen: true", "conf/sub/in.yaml": "ok: 1"})
    os.symlink(tmp_path / "outside.yaml", conf / "file_link.yaml")
    os.symlink(tmp_path / "outdir", conf / "dir_link")
    os.symlink(tmp_path / "outdir", conf / "sub" / "up")
    os.symlink(conf / "nowhere.yaml", conf / "dangling.yaml")
    return conf


@pytest.mark.parametrize("text", [
    "!include ../outside.yaml", "!include sub/../../outside.yaml", "!include file_link.yaml",
    "!include dir_link/x.yaml", "!include dir_link/../outside.yaml", "!include sub/up/../outside.yaml",
    "!include_dir_list dir_link", "!include_dir_named ..", "!include_dir_merge_list ../outdir",
    "!include_dir_merge_named sub/up",
])
def test_escapes_are_refused(escape_tree, text):
    with pytest.raises(torvex.TorvexIncludeConfinementError, match="resolves outside the configured include"):
        torvex.loads(text, option=ALL, include_dir=str(escape_tree))


def test_absolute_dangling_and_special_files(escape_tree, tmp_path):
    with pytest.raises(torvex.TorvexIncludeConfinementError):
        torvex.loads(f"!include {tmp_path / 'outside.yaml'}", option=ALL, include_dir=str(escape_tree))
    assert torvex.loads(f"!include {escape_tree / 'sub/in.yaml'}", option=ALL, include_dir=str(escape_tree)) == {
        "ok": 1}
    with pytest.raises(torvex.TorvexIncludeNotFoundError, match="'dangling.yaml': not found in"):
        torvex.loads("!include dangling.yaml", option=ALL, include_dir=str(escape_tree))
    os.mkfifo(escape_tree / "pipe.yaml")
    with pytest.raises(torvex.TorvexIncludeNotFoundError, match="not a regular file"):
        torvex.loads("!include pipe.yaml", option=ALL, include_dir=str(escape_tree))
    # A secrets.yaml above the include directory is never read.
    write(tmp_path, {"secrets.yaml": "k: above"})
    with pytest.raises(torvex.TorvexSecretNotFoundError):
        torvex.loads("!secret k", option=ALL, include_dir=str(escape_tree))


def test_recursive_walk_through_a_link_to_an_ancestor_ends(tmp_path):
    write(tmp_path, {"d/a.yaml": "1", "d/s/b.yaml": "2"})
    os.symlink(tmp_path / "d", tmp_path / "d" / "s" / "loop")
    assert torvex.loads("!include_dir_list d", option=ALL | torvex.OPT_INCLUDE_DIR_RECURSIVE,
                        include_dir=str(tmp_path)) == [1, 2]


def _random_tree(root: Path, rng: random.Random) -> None:
    """Files that include each other by every form, links inside, outside, to ancestors and to nowhere."""
    forms = ["!include", "!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
             "!include_dir_merge_named"]
    targets = ["f0.yaml", "f1.yaml", "f2.yaml", "d0", "d1", ".", "..", "../out.yaml", "l0", "l1/f0.yaml",
               "d0/../../out.yaml", "nothere.yaml", "../root/f1.yaml"]
    (root.parent / "out.yaml").write_text("outside: true\n")
    for folder in (root, root / "d0", root / "d1"):
        folder.mkdir(parents=True, exist_ok=True)
        for f in range(3):
            if rng.random() < 0.7:
                lines = [f"k{i}: {rng.choice(forms)} {rng.choice(targets)}" if rng.random() < 0.8 else f"k{i}: {i}"
                         for i in range(rng.randrange(4))]
                (folder / f"f{f}.yaml").write_text("\n".join(lines) + "\n")
    links = [root.parent, root.parent / "out.yaml", root, root / "d0", root / "gone", root / "f1.yaml"]
    for i in range(2):
        try:
            os.symlink(rng.choice(links), rng.choice([root, root / "d0", root / "d1"]) / f"l{i}")
        except FileExistsError:
            pass


@pytest.mark.parametrize("seed", range(40))
def test_random_trees_end_with_data_or_a_directive_error(tmp_path, seed):
    rng = random.Random(seed)
    root = tmp_path / "root"
    _random_tree(root, rng)
    option = ALL | (torvex.OPT_INCLUDE_DIR_RECURSIVE if seed % 2 else 0)
    try:
        doc = torvex.loads("top: !include f0.yaml\nall: !include_dir_list .\n", option=option | torvex.OPT_ROUND_TRIP,
                           include_dir=str(root))
    except DIRECTIVE_ERRORS as e:
        assert all(path.startswith(str(root)) for path, _ in e.include_stack)
        return
    # Every file the load read lies inside the include directory.
    seen = []
    leaves = []  # (path, file) of the leaves read from included files
    for path, _ in doc.walk():
        node = doc.node
        for segment in path:
            node = node[segment]
            seen.append(node.file)
        if node.file is not None and not node.file.endswith("<root>"):
            leaves.append((path, node.file))
    assert all(f.startswith(str(root)) for f in seen if f is not None and not f.endswith("<root>"))

    # Write-back: unedited, every included file as read and nothing to save; an edited leaf changes one line
    # of the file holding it, and only that file.
    files = torvex.dump_includes_map(doc)
    assert all(Path(name).read_bytes() == text for name, text in files.items())
    assert {name for _, name in leaves} <= files.keys() and doc.save() == []
    if not leaves:
        return
    path, name = rng.choice(leaves)
    view = doc
    for segment in path[:-1]:
        view = view[segment]
    view[path[-1]] = "edited"
    before = {f: Path(f).read_bytes() for f in files}
    assert doc.save() == [name]
    old, new = before[name].splitlines(), Path(name).read_bytes().splitlines()
    assert len(old) == len(new) and sum(a != b for a, b in zip(old, new)) == 1
    assert all(Path(f).read_bytes() == text for f, text in before.items() if f != name)
    reloaded = torvex.loads("top: !include f0.yaml\nall: !include_dir_list .\n", option=option, include_dir=str(root))
    for segment in path:
        reloaded = reloaded[segment]
    assert reloaded == "edited"


# ---- secrets, environment variables, callbacks and log lines ---------------------------------------------------

def test_secrets_at_two_levels_and_logger_entries(tmp_path, caplog):
    write(tmp_path, {"secrets.yaml": "logger: DEBUG\na: outer-a\nb: outer-b\n",
                     "sub/secrets.yaml": "logger: info\na: inner-a\n",
                     "sub/x.yaml": "a: !secret a\nb: !secret b\n"})
    with caplog.at_level(logging.WARNING, logger="torvex"):
        got = torvex.loads("root: !secret a\nsub: !include sub/x.yaml\n", option=ALL, include_dir=str(tmp_path))
    assert got == {"root": "outer-a", "sub": {"a": "inner-a", "b": "outer-b"}}
    assert [r.getMessage() for r in caplog.records] == [
        "secrets.yaml: 'logger: debug' expected, but 'logger: info' found"]
    with pytest.raises(torvex.TorvexSecretNotFoundError):
        torvex.loads("!secret logger", option=ALL, include_dir=str(tmp_path))


@pytest.mark.parametrize("argument, env, expected", [
    ("PORT 8123", {}, "8123"),
    ("PORT 8123", {"PORT": "9000"}, "9000"),
    ("GREETING   hello    big  world", {}, "hello big world"),
    ("PORT", {"PORT": "8123"}, "8123"),
    ("", {}, ""),
])
def test_env_var(monkeypatch, argument, env, expected):
    for name in ("PORT", "GREETING"):
        monkeypatch.delenv(name, raising=False)
    for name, value in env.items():
        monkeypatch.setenv(name, value)
    assert torvex.loads(f"v: !env_var {argument}", option=torvex.OPT_ENV_VAR) == {"v": expected}


def test_missing_values_call_back_and_log(tmp_path, caplog, monkeypatch):
    monkeypatch.delenv("TORVEX_UNSET_A", raising=False)
    root = tmp_path / "configuration.yaml"
    root.write_text("a: 1\ns: !secret nope\ne: !env_var TORVEX_UNSET_A\nt: !secret other\n")
    secrets, envs = [], []
    with caplog.at_level(logging.WARNING, logger="torvex"):
        got = load_file(root, ALL | torvex.OPT_SECRET_NOT_FOUND_WARN | torvex.OPT_ENV_VAR_NOT_FOUND_WARN,
                        on_missing_secret=lambda *a: secrets.append(a), on_missing_env_var=lambda *a: envs.append(a))
    assert got == {"a": 1, "s": None, "e": None, "t": None}
    assert secrets == [("nope", str(root), 2), ("other", str(root), 4)]
    assert envs == [("TORVEX_UNSET_A", str(root), 3)]
    assert [r.getMessage() for r in caplog.records] == [
        f"secret 'nope' is not defined in any secrets.yaml at {root}:2",
        f"secret 'other' is not defined in any secrets.yaml at {root}:4",
        f"environment variable 'TORVEX_UNSET_A' is not defined at {root}:3"]
    # A callback alone tolerates without logging; its exception ends the call unchanged.
    caplog.clear()
    assert load_file(root, ALL, on_missing_secret=lambda *a: None, on_missing_env_var=lambda *a: None)["s"] is None
    assert caplog.records == []

    class Boom(Exception):
        pass

    def boom(*args):
        raise Boom(args[0])

    with pytest.raises(Boom, match="nope"):
        load_file(root, ALL, on_missing_secret=boom, on_missing_env_var=lambda *a: None)


def test_missing_value_keeps_its_directive_in_a_round_trip(tmp_path):
    doc = torvex.loads("a: 1\ns: !secret nope\n", option=ALL | torvex.OPT_ROUND_TRIP | torvex.OPT_SECRET_NOT_FOUND_WARN,
                       include_dir=str(tmp_path))
    assert doc["s"] is None
    doc["a"] = 2
    assert doc.to_yaml() == b"a: 2\ns: !secret nope\n"


@pytest.mark.parametrize("pipeline", [0, torvex.OPT_ANNOTATED, torvex.OPT_ROUND_TRIP])
def test_duplicate_keys_in_included_file_name_that_file(tmp_path, caplog, pipeline):
    write(tmp_path, {"pk/dups.yaml": "x: 1\nx: 2\n", "pk/yes.yaml": "a: yes\n"})
    text = "top: 1\ntop: 2\nd: !include pk/dups.yaml\ny: !include pk/yes.yaml\n"
    dups = str(tmp_path / "pk" / "dups.yaml")
    with caplog.at_level(logging.WARNING, logger="torvex"):
        torvex.loads(text, option=pipeline | ALL | torvex.OPT_DUPLICATE_KEYS_WARN | torvex.OPT_YAML_1_1
                     | torvex.OPT_YAML_1_1_WARN, include_dir=str(tmp_path))
    messages = [record.getMessage() for record in caplog.records]
    assert "duplicate mapping key 'top' at line 2, column 1; keeping the last value" in messages
    assert f"duplicate mapping key 'x' at line 2, column 1 in {dups}; keeping the last value" in messages
    assert any(m.endswith(f"at line 1, column 4 in {tmp_path / 'pk' / 'yes.yaml'}") for m in messages)
    with pytest.raises(torvex.TorvexDuplicateKeyError) as info:
        torvex.loads(text.replace("top: 2\n", ""), option=pipeline | ALL | torvex.OPT_DUPLICATE_KEYS_ERROR,
                     include_dir=str(tmp_path))
    assert (info.value.file, info.value.line, info.value.column) == (dups, 2, 1)
