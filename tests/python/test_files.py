"""`load(fp_or_path)` and `dump(obj, fp)`: files in one call, and round-trip documents that save back to the
file they were loaded from."""

import io

import pytest

import torvex

RT = torvex.OPT_ROUND_TRIP


def write(root, files):
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_bytes(text.encode())


@pytest.mark.parametrize("opener", ["path", "binary", "text"])
def test_a_round_trip_document_from_a_file_saves_back_to_it_and_its_includes(tmp_path, opener):
    write(tmp_path, {"conf/main.yaml": "# main\nx: 0\nsub: !include parts/sub.yaml\n",
                     "conf/parts/sub.yaml": "port: 80  # web\n"})
    main = tmp_path / "conf" / "main.yaml"
    option = RT | torvex.OPT_INCLUDES
    if opener == "path":
        doc = torvex.load(main, option=option)
    else:
        with open(main, "rb") if opener == "binary" else open(main, encoding="utf-8") as file:
            doc = torvex.load(file, option=option)
    assert doc.origin == str(main) and doc.node["sub"]["port"].file == str(tmp_path / "conf/parts/sub.yaml")
    doc["x"] = 1
    doc["sub"]["port"] = 8080
    written = doc.save()
    assert sorted(written) == sorted([str(main), str(tmp_path / "conf/parts/sub.yaml")])
    assert main.read_text() == "# main\nx: 1\nsub: !include parts/sub.yaml\n"
    assert (tmp_path / "conf/parts/sub.yaml").read_text() == "port: 8080  # web\n"


def test_the_files_folder_confines_includes_unless_given(tmp_path):
    write(tmp_path, {"a/main.yaml": "v: !include ../b/x.yaml\n", "b/x.yaml": "2\n"})
    main = tmp_path / "a/main.yaml"
    with pytest.raises(torvex.TorvexIncludeConfinementError) as raised:
        torvex.load(main, option=torvex.OPT_INCLUDES)
    assert raised.value.file == str(main)  # the file's own path names it
    assert torvex.load(main, option=torvex.OPT_INCLUDES, include_dir=str(tmp_path)) == {"v": 2}


def test_a_file_object_without_a_path_loads_but_has_no_origin():
    doc = torvex.load(io.BytesIO(b"a: 1\n"), option=RT)
    assert doc.origin is None and doc["a"] == 1
    doc["a"] = 2
    with pytest.raises(ValueError, match="needs a path"):
        doc.save()
    assert torvex.load(io.StringIO("- x\n")) == ["x"]


def test_errors_in_a_loaded_file_name_it(tmp_path):
    write(tmp_path, {"bad.yaml": "ok: 1\nbad: [1\n"})
    with pytest.raises(torvex.TorvexIncludeError) as raised:
        torvex.load(tmp_path / "bad.yaml", option=torvex.OPT_INCLUDES)
    assert raised.value.file == str(tmp_path / "bad.yaml") and raised.value.msg.startswith("unclosed flow")


@pytest.mark.parametrize("target", [str, bytes])
def test_load_refuses_text_that_could_be_yaml_or_a_path(target):
    with pytest.raises(TypeError, match="use loads"):
        torvex.load(target(b"a: 1") if target is bytes else "a.yaml")
    with pytest.raises(TypeError, match="file object"):
        torvex.load(42)


@pytest.mark.parametrize("kind", ["bytesio", "stringio", "binary file", "text file"])
def test_dump_writes_what_dumps_returns(tmp_path, kind):
    data = {"name": "démo", "ports": [80, 443], "none": None}
    expected = torvex.dumps(data, null_style="~")
    if kind == "bytesio":
        out = io.BytesIO()
        torvex.dump(data, out, null_style="~")
        assert out.getvalue() == expected
    elif kind == "stringio":
        out = io.StringIO()
        torvex.dump(data, out, null_style="~")
        assert out.getvalue() == expected.decode()
    else:
        path = tmp_path / "out.yaml"
        with open(path, "wb") if kind == "binary file" else open(path, "w", encoding="utf-8") as file:
            torvex.dump(data, file, null_style="~")
        assert path.read_bytes() == expected
    with pytest.raises(TypeError, match="file object"):
        torvex.dump(data, tmp_path / "x.yaml")


def test_a_text_mode_file_saves_back_with_its_own_line_ends(tmp_path):
    path = tmp_path / "crlf.yaml"
    path.write_bytes(b"# kept\r\na: 1\r\nb: 2\r\n")
    with open(path, encoding="utf-8") as file:  # universal newlines would read the lines as LF
        doc = torvex.load(file, option=RT)
    doc["a"] = 10
    assert doc.save() == [str(path)]
    assert path.read_bytes() == b"# kept\r\na: 10\r\nb: 2\r\n"
    with open(path, encoding="utf-8") as file:
        file.readline()  # partly read: the rest comes as text
        assert torvex.load(file, option=RT).to_dict() == {"a": 10, "b": 2}
