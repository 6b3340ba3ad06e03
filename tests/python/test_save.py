"""Saving round-trip documents and writing included files back, on a real file system: only changed files
are written, untouched files stay byte for byte, and a failed write leaves every file as it was."""
from __future__ import annotations

import os
import pickle
import re
import resource
import shutil
import signal
import stat
import tempfile
from pathlib import Path

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import torvex

RT = torvex.OPT_ROUND_TRIP | torvex.OPT_INCLUDES

TREE = {
    "configuration.yaml": "# home\nname: home\nport: 8123\nsensor: !include sensors.yaml  # the sensors\n"
                          "group: !include sub/groups.yaml\n",
    "sensors.yaml": "# sensor list\n- name: hall   # first\n  platform: template\n\n- name: attic\n"
                    "  limits: !include sub/limits.yaml\n",
    "sub/limits.yaml": "# limits\nlow: 3\nhigh: 40\n",
    "sub/groups.yaml": "kitchen: [light.a, light.b]\n",
}


def write_tree(root: Path, files: dict[str, str]) -> None:
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)


def snapshot(root: Path) -> dict[str, bytes]:
    """Every file below `root` by relative path; leftover temporary files show up here too."""
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def load(root: Path, name: str = "configuration.yaml", origin: bool = True):
    doc = torvex.loads((root / name).read_bytes(), option=RT, include_dir=str(root))
    if origin:
        doc.set_origin(root / name)
    return doc


def changed(before: dict[str, bytes], after: dict[str, bytes]) -> set[str]:
    assert before.keys() == after.keys(), "files appeared or vanished"
    return {name for name in before if before[name] != after[name]}


@pytest.fixture
def tree(tmp_path):
    write_tree(tmp_path, TREE)
    return tmp_path


def set_root(doc):
    doc["port"] = 8124


def set_sensor(doc):
    doc["sensor"][0]["name"] = "hallway"


def set_nested(doc):
    doc["sensor"][1]["limits"]["high"] = 45


def set_sensor_and_nested(doc):
    set_sensor(doc)
    set_nested(doc)


def set_everything(doc):
    set_sensor_and_nested(doc)
    set_root(doc)


@pytest.mark.parametrize("edit, written", [
    (set_root, ["configuration.yaml"]),
    (set_sensor, ["sensors.yaml"]),
    (set_nested, ["sub/limits.yaml"]),
    (set_sensor_and_nested, ["sensors.yaml", "sub/limits.yaml"]),
    (set_everything, ["sensors.yaml", "sub/limits.yaml", "configuration.yaml"]),
])
def test_save_writes_exactly_the_changed_files(tree, edit, written):
    before = snapshot(tree)
    doc = load(tree)
    edit(doc)
    expected_data = doc.to_dict()
    paths = doc.save()
    after = snapshot(tree)
    assert [os.path.relpath(p, tree) for p in paths] == written
    assert changed(before, after) == set(written)
    for name in written:  # one edit per file: one line differs, comments and layout stay
        old, new = before[name].splitlines(), after[name].splitlines()
        assert len(old) == len(new) and sum(a != b for a, b in zip(old, new)) == 1
    assert load(tree).to_dict() == expected_data
    # Flags stay set: saving again writes the same files with the same bytes.
    assert doc.save() == paths and snapshot(tree) == after


def test_end_to_end_edit_of_an_included_value(tree):
    doc = load(tree, origin=False)
    before = snapshot(tree)
    doc["sensor"][1]["limits"]["low"] = 5
    assert doc.save() == [str(tree / "sub/limits.yaml")]  # no origin needed for an include edit
    after = snapshot(tree)
    assert changed(before, after) == {"sub/limits.yaml"}
    assert after["sub/limits.yaml"] == b"# limits\nlow: 5\nhigh: 40\n"
    assert after["configuration.yaml"] == before["configuration.yaml"]
    reloaded = load(tree)
    assert reloaded["sensor"][1]["limits"]["low"] == 5
    assert reloaded.to_yaml() == before["configuration.yaml"]


def test_root_edit_without_origin_needs_a_path_and_writes_nothing(tree, tmp_path_factory):
    before = snapshot(tree)
    doc = load(tree, origin=False)
    set_everything(doc)
    with pytest.raises(ValueError, match=r"^save\(\) needs a path: this document was not loaded from a file$"):
        doc.save()
    assert snapshot(tree) == before  # the changed includes were not written either
    target = tmp_path_factory.mktemp("out") / "saved.yaml"
    paths = doc.save(target)
    assert paths[-1] == str(target) and len(paths) == 3  # includes first, the root last
    assert target.read_bytes() == doc.to_yaml() and doc.origin is None
    assert b"sensor: !include sensors.yaml  # the sensors\n" in target.read_bytes()


def test_save_as_without_edits_is_the_loaded_text(tree):
    text = (tree / "configuration.yaml").read_bytes()
    doc = load(tree, origin=False)
    assert doc.save() == []
    assert doc.save(str(tree / "copy.yaml")) == [str(tree / "copy.yaml")]
    assert (tree / "copy.yaml").read_bytes() == text


def test_root_text_keeps_its_directives(tmp_path):
    write_tree(tmp_path, {"main.yaml": "%YAML 1.2\n---\na: !include part.yaml\nb: 1\n", "part.yaml": "x: 1\n"})
    doc = load(tmp_path, "main.yaml")
    doc["b"] = 2
    assert doc.save() == [str(tmp_path / "main.yaml")]
    assert (tmp_path / "main.yaml").read_bytes() == b"%YAML 1.2\n---\na: !include part.yaml\nb: 2\n"
    assert (tmp_path / "part.yaml").read_bytes() == b"x: 1\n"


# ---- one file included at two places --------------------------------------------------------------------------

TWICE = {"main.yaml": "a: !include shared.yaml\nb: !include shared.yaml\n", "shared.yaml": "# shared\nv: 1\n"}


def test_conflicting_edits_of_one_file_are_refused_before_writing(tmp_path):
    write_tree(tmp_path, TWICE)
    before = snapshot(tmp_path)
    doc = load(tmp_path, "main.yaml")
    doc["a"]["v"] = 2
    doc["b"]["v"] = 3
    message = (f"'{tmp_path / 'shared.yaml'}' is included more than once with conflicting edits; "
               "write-back cannot store two different versions of one file")
    for call in (doc.save, lambda: torvex.dump_includes_map(doc), lambda: torvex.dump_includes(doc)):
        with pytest.raises(torvex.TorvexIncludeError) as info:
            call()
        assert str(info.value) == message
    assert snapshot(tmp_path) == before


def test_the_same_edit_at_both_places_is_written_once(tmp_path):
    write_tree(tmp_path, TWICE)
    doc = load(tmp_path, "main.yaml")
    doc["a"]["v"] = 2
    doc["b"]["v"] = 2
    assert doc.save() == [str(tmp_path / "shared.yaml")]
    assert (tmp_path / "shared.yaml").read_bytes() == b"# shared\nv: 2\n"
    assert torvex.dump_includes_map(doc) == {str(tmp_path / "shared.yaml"): b"# shared\nv: 2\n"}


# ---- dump_includes_map and dump_includes ----------------------------------------------------------------------

def test_include_maps(tree):
    doc = load(tree)
    files = {str(tree / n): (tree / n).read_bytes() for n in TREE if n != "configuration.yaml"}
    assert torvex.dump_includes_map(doc) == files
    set_nested(doc)
    edited = torvex.dump_includes_map(doc)
    assert {k for k in files if edited[k] != files[k]} == {str(tree / "sub/limits.yaml")}
    # dump_includes writes every included file, whatever is on disk now.
    for name in files:
        Path(name).write_text("overwritten\n")
    assert torvex.dump_includes(doc, include_dir=tree) is None
    assert {k: Path(k).read_bytes() for k in files} == edited
    assert (tree / "configuration.yaml").read_text() == TREE["configuration.yaml"]


@pytest.mark.parametrize("call", [torvex.dump_includes_map, torvex.dump_includes])
def test_include_maps_need_includes_and_a_document(call):
    doc = torvex.loads("a: 1\n", option=torvex.OPT_ROUND_TRIP)
    with pytest.raises(ValueError, match="^document was not loaded with OPT_INCLUDES; nothing to write back$"):
        call(doc)
    with pytest.raises(TypeError, match="TorvexDocument"):
        call({"a": 1})


# ---- directory includes: each entry goes back to the file it came from ---------------------------------------

DIRECTORY_MAIN = "# main\nname: home\nparts: {form} parts  # the parts\nafter: 1\n"


def add_key(view):
    view["new"] = 1


def replace_key(view):
    """A removed pair made up for by an appended one: the count stays, the pairs moved."""
    first = view.keys()[0]
    del view[first]
    view[first] = 1


def delete_key(view):
    del view[view.keys()[0]]


def delete_item(view):
    del view[0]


@pytest.mark.parametrize("form, files, path, edited_file, line, structural", [
    ("!include_dir_named",
     {"a.yaml": "# a\nx: 1   # one\ny: [1, 2]\n", "b.yaml": "z: 3\n---\nlater: doc\n", "e.yaml": ""},
     ("b", "z"), "b.yaml", 1, [add_key, replace_key, delete_key]),
    ("!include_dir_list",
     {"a.yaml": "# a\n- 1\n- 2  # two\n", "b.yaml": "k: v\n---\n# second\nk: w   # w\n", "e.yaml": ""},
     (2, "k"), "b.yaml", 4, [delete_item]),
    ("!include_dir_merge_list",
     {"a.yaml": "# a\n- 1\n- 2  # two\n", "b.yaml": "scalar\n---\n- k: v\n\n- k: w  # w\n"},
     (4, "k"), "b.yaml", 5, [delete_item]),
    ("!include_dir_merge_named",
     {"a.yaml": "# a\nx: 1\ny: 2  # two\n", "b.yaml": "z:\n  deep: 3  # d\n", "c.yaml": "[not, merged]\n"},
     ("z", "deep"), "b.yaml", 2, [add_key, replace_key, delete_key]),
])
def test_directory_includes_write_each_file_back(tmp_path, form, files, path, edited_file, line, structural):
    write_tree(tmp_path, {"main.yaml": DIRECTORY_MAIN.format(form=form),
                          **{f"parts/{name}": text for name, text in files.items()}})
    before = snapshot(tmp_path)
    as_read = {str(tmp_path / "parts" / name): before[f"parts/{name}"] for name in files}
    doc = load(tmp_path, "main.yaml", origin=False)
    assert torvex.dump_includes_map(doc) == as_read and doc.save() == []
    node = doc.node["parts"]  # the result still reports the directive
    assert (node.source_tag, node.source_target, node.is_include, node.line) == (form, "parts", True, 3)

    *parents, leaf = path
    view = doc["parts"]
    for key in parents:
        view = view[key]
    view[leaf] = "edited"
    target = str(tmp_path / "parts" / edited_file)
    edited = torvex.dump_includes_map(doc)
    assert edited.keys() == as_read.keys() and {k for k in as_read if edited[k] != as_read[k]} == {target}
    assert doc.save() == [target]  # no origin needed: the root did not change
    after = snapshot(tmp_path)
    assert changed(before, after) == {f"parts/{edited_file}"}
    old, new = before[f"parts/{edited_file}"].splitlines(), after[f"parts/{edited_file}"].splitlines()
    assert len(old) == len(new) and [i + 1 for i, (a, b) in enumerate(zip(old, new)) if a != b] == [line]
    assert b"edited" in new[line - 1] and edited[target] == after[f"parts/{edited_file}"]
    assert load(tmp_path, "main.yaml").to_dict() == doc.to_dict()

    for edit in structural:
        doc = load(tmp_path, "main.yaml")
        edit(doc["parts"])
        message = "^" + re.escape(f"cannot write back '{form} parts' ({tmp_path / 'main.yaml'}, line 3): ")
        for call in (doc.save, lambda: torvex.dump_includes_map(doc)):
            with pytest.raises(torvex.TorvexIncludeError, match=message) as info:
                call()
            assert (info.value.file, info.value.line) == (str(tmp_path / "main.yaml"), 3)
        assert snapshot(tmp_path) == after


NESTED = {
    "main.yaml": "top: !include pk.yaml\n",
    "pk.yaml": "# pk\nall: !include_dir_named parts\nauto: !include_dir_merge_list autos\n",
    "parts/a.yaml": "inner: !include ../leaf.yaml  # leaf\nv: 1\nlists: !include_dir_list ../lists\n",
    "leaf.yaml": "w: 1\n",
    "lists/x.yaml": "# x\nq: 1\n",
    "autos/1.yaml": "# forwards\n!include ../more.yaml\n",
    "autos/2.yaml": "- own: 1\n",
    "autos/3.yaml": "!include_dir_list ../deep\n",
    "more.yaml": "# more\n- m: 1\n",
    "deep/d.yaml": "dd: 1\n",
}
NESTED_EDITS = {  # path below "top" -> the file that holds it
    ("all", "a", "v"): "parts/a.yaml",
    ("all", "a", "inner", "w"): "leaf.yaml",
    ("all", "a", "lists", 0, "q"): "lists/x.yaml",
    ("auto", 0, "m"): "more.yaml",  # autos/1.yaml includes it as its whole root
    ("auto", 1, "own"): "autos/2.yaml",
    ("auto", 2, "dd"): "deep/d.yaml",  # autos/3.yaml includes the directory as its whole root
}


def set_path(doc, path, value):
    view = doc["top"]
    for key in path[:-1]:
        view = view[key]
    view[path[-1]] = value


@pytest.mark.parametrize("paths", [[p] for p in NESTED_EDITS] + [list(NESTED_EDITS)])
def test_nested_directory_includes_write_the_files_holding_the_edits(tmp_path, paths):
    write_tree(tmp_path, NESTED)
    before = snapshot(tmp_path)
    doc = load(tmp_path, "main.yaml", origin=False)
    assert torvex.dump_includes_map(doc) == {str(tmp_path / n): before[n] for n in NESTED if n != "main.yaml"}
    for path in paths:
        set_path(doc, path, 2)
    written = [NESTED_EDITS[p] for p in paths]  # document order, an including file before the files it includes
    assert doc.save() == [str(tmp_path / name) for name in written]
    after = snapshot(tmp_path)
    assert changed(before, after) == set(written)
    for name in written:
        old, new = before[name].splitlines(), after[name].splitlines()
        assert len(old) == len(new) and sum(a != b for a, b in zip(old, new)) == 1
    assert load(tmp_path, "main.yaml").to_dict() == doc.to_dict()


def test_entries_of_a_secret_merged_as_a_root_are_refused(tmp_path):
    write_tree(tmp_path, {"main.yaml": "all: !include_dir_merge_list parts\n", "parts/a.yaml": "!secret items\n",
                          "secrets.yaml": "items: [1, 2]\n"})
    before = snapshot(tmp_path)
    doc = torvex.loads(before["main.yaml"], option=RT | torvex.OPT_SECRETS, include_dir=str(tmp_path))
    doc.set_origin(tmp_path / "main.yaml")
    assert torvex.dump_includes_map(doc) == {str(tmp_path / "parts/a.yaml"): before["parts/a.yaml"]}
    doc["all"][1] = 3
    with pytest.raises(torvex.TorvexIncludeError) as info:
        doc.save()
    assert str(info.value) == (
        f"cannot write back '!include_dir_merge_list parts' ({tmp_path / 'main.yaml'}, line 1): an entry it merged "
        f"from '{tmp_path / 'parts/a.yaml'}' was edited, but that file's root is '!secret items', which reads no "
        "file that saving could write")
    assert snapshot(tmp_path) == before


# Generated trees: every directory form, files of one or more documents with comments, blank lines, flow
# collections and nested includes; a random leaf edit must reach exactly the line that holds it.
WORDS = st.sampled_from(["a", "b", "on", "x y", "1.5", "'q'", '"d"', "[1, 2]", "{k: v}", "7"])
COMMENTS = st.sampled_from(["", "  # c", "   # note"])


def comment_after(draw, word):
    # Only after plain words: the spaces before a comment that follows quotes or a flow collection are not kept.
    return "" if word[0] in "'\"[{" else draw(COMMENTS)


@st.composite
def yaml_document(draw, kind, key_prefix):
    lines = [draw(st.sampled_from(["", "# head\n"]))]
    for i in range(draw(st.integers(1, 3))):
        if i:  # blank lines between entries (the emitter drops those that end a document)
            lines.append(draw(st.sampled_from(["", "", "\n"])))
        entry = draw(st.sampled_from(["scalar", "scalar", "list", "include"]))
        if entry == "include":  # a nested include below the directory's file
            body = f"!include ../leaves/{draw(st.integers(0, 1))}.yaml"
        else:
            body = draw(WORDS)
        start = f"{key_prefix}{i}:" if kind == "mapping" else "-"
        if entry == "list":
            # No comment after `key:` itself: the emitter moves it to the line below when it writes the file.
            words = [draw(WORDS) for _ in range(2)]
            lines.append(f"{start}\n" + "".join(f"  - {w}{comment_after(draw, w)}\n" for w in words))
        else:
            lines.append(f"{start} {body}{comment_after(draw, body)}\n")
    return "".join(lines)


@st.composite
def directory_tree(draw):
    files = {"leaves/0.yaml": "# leaf\nw: 1\n", "leaves/1.yaml": "- u  # item\n"}
    lines = []
    for d, form in enumerate(draw(st.lists(st.sampled_from(
            ["!include_dir_named", "!include_dir_list", "!include_dir_merge_list", "!include_dir_merge_named"]),
            min_size=1, max_size=3))):
        for f in range(draw(st.integers(1, 3))):
            kinds = {"!include_dir_merge_list": ["sequence"], "!include_dir_merge_named": ["mapping"]}.get(
                form, ["mapping", "sequence"])
            docs = [draw(yaml_document(draw(st.sampled_from(kinds)), f"k{f}_"))
                    for _ in range(draw(st.integers(1, 2)))]
            files[f"d{d}/f{f}.yaml"] = "---\n".join(docs)
        lines.append(f"d{d}: {form} d{d}{draw(COMMENTS)}\n")
    files["main.yaml"] = "# main\n" + "".join(lines)
    return files


def view_at(doc, path):
    for segment in path:
        doc = doc[segment]
    return doc


@settings(max_examples=60, deadline=None)
@given(directory_tree(), st.data())
def test_generated_directory_trees_write_each_edit_to_its_line(files, data):
    with tempfile.TemporaryDirectory() as name:
        root = Path(name)
        write_tree(root, files)
        before = snapshot(root)
        doc = load(root, "main.yaml")
        assert doc.save() == []
        read = {os.path.relpath(name, root): text for name, text in torvex.dump_includes_map(doc).items()}
        assert {n for n in files if n.startswith("d")} <= read.keys() and all(before[n] == read[n] for n in read)
        path = data.draw(st.sampled_from([path for path, _ in doc.walk()]))
        node = view_at(doc.node, path)
        holder, line = node.file, node.line
        view_at(doc, path[:-1])[path[-1]] = "edited"
        assert doc.save() == [holder]
        after = snapshot(root)
        name = os.path.relpath(holder, root)
        assert changed(before, after) == {name}
        old, new = before[name].splitlines(), after[name].splitlines()
        assert len(old) == len(new) and [i + 1 for i, (a, b) in enumerate(zip(old, new)) if a != b] == [line]
        assert view_at(load(root, "main.yaml"), path) == "edited"


# ---- links, permission bits ------------------------------------------------------------------------------------

def test_a_linked_file_is_written_through_the_link(tree):
    real = tree / "real"
    real.mkdir()
    (tree / "sub/limits.yaml").rename(real / "limits.yaml")
    (tree / "sub/limits.yaml").symlink_to("../real/limits.yaml")  # relative to the link's directory
    (tree / "configuration.yaml").rename(real / "configuration.yaml")
    (tree / "configuration.yaml").symlink_to(real / "configuration.yaml")
    doc = load(tree)
    set_nested(doc)
    set_root(doc)
    # The file table holds the path the loader read an include by; the root goes to the origin as given.
    assert doc.save() == [doc.node["sensor"][1]["limits"].file, str(tree / "configuration.yaml")]
    # save-as through a dangling relative link creates the file it names.
    (tree / "copy.yaml").symlink_to("real/copy.yaml")
    doc.save(tree / "copy.yaml")
    assert (tree / "copy.yaml").is_symlink() and (real / "copy.yaml").read_bytes() == doc.to_yaml()
    assert (tree / "sub/limits.yaml").is_symlink() and (tree / "configuration.yaml").is_symlink()
    assert (real / "configuration.yaml").read_bytes() == doc.to_yaml()
    assert (real / "limits.yaml").read_bytes() == b"# limits\nlow: 3\nhigh: 45\n"
    assert sorted(p.name for p in real.iterdir()) == ["configuration.yaml", "copy.yaml", "limits.yaml"]
    assert sorted(p.name for p in (tree / "sub").iterdir()) == ["groups.yaml", "limits.yaml"]


@pytest.mark.parametrize("mode", [0o600, 0o640, 0o664, 0o755])
def test_permission_bits_are_kept(tree, mode):
    os.chmod(tree / "sensors.yaml", mode)
    doc = load(tree)
    set_sensor(doc)
    doc.save()
    assert stat.S_IMODE(os.stat(tree / "sensors.yaml").st_mode) == mode


# ---- failures: read-only files and directories, a write cut short ----------------------------------------------

def in_child(body):
    """Runs `body` in a forked child; returns ("ok", value) or ("error", "Class: message")."""
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:  # pragma: no cover - the child
        os.close(r)
        try:
            payload = pickle.dumps(("ok", body()))
        except BaseException as exc:  # noqa: BLE001 - everything goes back to the parent
            payload = pickle.dumps(("error", f"{type(exc).__name__}: {exc}"))
        with os.fdopen(w, "wb") as out:
            out.write(payload)
        os._exit(0)
    os.close(w)
    with os.fdopen(r, "rb") as source:
        data = source.read()
    _, status = os.waitpid(pid, 0)
    assert os.waitstatus_to_exitcode(status) == 0 and data
    return pickle.loads(data)


NOBODY = 65534


@pytest.fixture
def shared_tree():
    """A tree in a directory an unprivileged user can reach: pytest's own directories are private to root."""
    root = Path(tempfile.mkdtemp(prefix="torvex-save-"))
    os.chmod(root, 0o755)
    write_tree(root, TREE)
    yield root
    for p in [root, *root.rglob("*")]:
        if p.is_dir() and not p.is_symlink():
            os.chmod(p, 0o755)
    shutil.rmtree(root)


def unprivileged(root: Path, body):
    """Runs `body` as the owner of `root` without privileges: as root, the child becomes `nobody`."""
    if os.geteuid() == 0:
        for p in [root, *root.rglob("*")]:
            os.lchown(p, NOBODY, NOBODY)

        def dropped():
            os.setgroups([])
            os.setgid(NOBODY)
            os.setuid(NOBODY)
            return body()

        return in_child(dropped)
    return in_child(body)


@pytest.mark.parametrize("target, call, error", [
    ("sensors.yaml", lambda doc: doc.save(), "OSError"),
    ("configuration.yaml", lambda doc: doc.save(), "OSError"),
    ("sub/limits.yaml", lambda doc: torvex.dump_includes(doc), "ValueError"),
])
def test_a_read_only_file_is_refused_and_nothing_is_written(shared_tree, target, call, error):
    os.chmod(shared_tree / target, 0o444)
    before = snapshot(shared_tree)

    def body():
        doc = load(shared_tree)
        set_everything(doc)
        call(doc)

    result = unprivileged(shared_tree, body)
    assert result == ("error", f"{error}: cannot write {shared_tree / target}: Permission denied")
    assert snapshot(shared_tree) == before


def test_a_read_only_directory_with_a_writable_file_is_written_in_place(shared_tree):
    os.chmod(shared_tree / "sub", 0o555)

    def body():
        doc = load(shared_tree)
        set_nested(doc)
        return doc.save()

    assert unprivileged(shared_tree, body) == ("ok", [str(shared_tree / "sub/limits.yaml")])
    assert (shared_tree / "sub/limits.yaml").read_bytes() == b"# limits\nlow: 3\nhigh: 45\n"
    assert sorted(p.name for p in (shared_tree / "sub").iterdir()) == ["groups.yaml", "limits.yaml"]


def test_a_new_file_in_a_read_only_directory_is_refused(shared_tree):
    os.chmod(shared_tree / "sub", 0o555)

    def body():
        return load(shared_tree).save(shared_tree / "sub" / "new.yaml")

    result = unprivileged(shared_tree, body)
    assert result == ("error", f"OSError: cannot write {shared_tree / 'sub/new.yaml'}: Permission denied")
    assert not (shared_tree / "sub/new.yaml").exists()


@pytest.mark.parametrize("limit", [1, 60, 200])
def test_a_write_cut_short_leaves_every_file_intact(tree, limit):
    # The nested file grows past the size limit; the files before it in the plan fit.
    write_tree(tree, {"sub/limits.yaml": "# limits\nlow: 3\nhigh: 40\nnote: short\n"})
    before = snapshot(tree)

    def body():
        doc = load(tree)
        set_everything(doc)
        doc["sensor"][1]["limits"]["note"] = "x" * 400
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        return doc.save()

    kind, message = in_child(body)
    assert kind == "error" and message.startswith("OSError: cannot write ")
    assert message.endswith(": File too large")
    assert snapshot(tree) == before  # nothing renamed, no temporary file left behind


@pytest.mark.parametrize("forward, path, changed", [
    ("!include c.yaml", ("a", "x"), "c.yaml"),
    ("# only a directive\n!include mid.yaml", ("a", "x"), "c.yaml"),
    ("!include_dir_named pk", ("a", "l", "lamp"), "pk/l.yaml"),
    ("!include_dir_merge_named pk", ("a", "lamp"), "pk/l.yaml"),
])
def test_a_file_that_only_forwards_keeps_its_text_and_the_edit_lands_at_the_end(tmp_path, forward, path, changed):
    write_tree(tmp_path, {"root.yaml": "a: !include b.yaml\n", "b.yaml": forward + "\n", "mid.yaml": "!include c.yaml\n",
                          "c.yaml": "# c\nx: 1  # one\n", "pk/l.yaml": "lamp: 1  # lit\n"})
    before = snapshot(tmp_path)
    doc = torvex.loads((tmp_path / "root.yaml").read_bytes(), option=RT, include_dir=str(tmp_path))
    assert (doc.node["a"].source_tag, doc.node["a"].source_target) == ("!include", "b.yaml")
    assert {Path(p).name for p in torvex.dump_includes_map(doc)} >= {"b.yaml"}
    target = doc
    for key in path[:-1]:
        target = target[key]
    target[path[-1]] = 2
    assert doc.save() == [str(tmp_path / changed)]
    after = snapshot(tmp_path)
    assert {name for name in after if after[name] != before[name]} == {changed}
    assert after[changed] == before[changed].replace(b": 1  #", b": 2  #")
