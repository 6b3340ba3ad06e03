"""Round-trip documents and views: access, edits through paths, what edits
write back, and the borrow rules."""

import gc
import threading

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import torvex
from resident import resident_bytes

RT = torvex.OPT_ROUND_TRIP


def rt(text, option=0):
    return torvex.loads(text, option=RT | option)


CONFIG = """\
# service settings
server:
  host: example.org   # where it runs
  port: 8080

  tags: [a, b]
list:
  - one
  - two: 2
"""


@pytest.mark.parametrize(
    "text, key, error, message",
    [
        ("a: 1", "b", KeyError, "b"),
        ("a: 1", 2.5, KeyError, "2.5"),
        ("- a", 2.5, TypeError, "mapping keys must be str or int"),
        ("- a", 3, IndexError, "index out of range"),
        ("- a", -1, IndexError, "index out of range"),
        ("- a", "x", IndexError, "index out of range"),
        ("a: 1\n---\nb: 2", "a", KeyError, "multi-document access requires an integer index"),
        ("a: 1\n---\nb: 2", 2, IndexError, "index out of range"),
        ("scalar", "a", KeyError, "a"),
    ],
)
def test_lookup_errors(text, key, error, message):
    with pytest.raises(error) as raised:
        rt(text)[key]
    assert raised.value.args[0] == message


def test_access_resolves_scalars_and_views_collections():
    doc = rt(CONFIG)
    server = doc["server"]
    assert isinstance(server, torvex.TorvexDocumentView)
    assert (server["host"], server["port"], server["tags"][1]) == ("example.org", 8080, "b")
    assert doc["list"][1]["two"] == 2
    assert (len(doc), len(server), len(server["tags"])) == (2, 3, 2)
    assert ("server" in doc, "host" in server, 1 in doc, "nope" in server) == (True, True, False, False)
    assert doc.keys() == ["server", "list"] and server.keys() == ["host", "port", "tags"]
    assert doc.walk() == [(("server", "host"), "example.org"), (("server", "port"), 8080),
                          (("server", "tags", 0), "a"), (("server", "tags", 1), "b"),
                          (("list", 0), "one"), (("list", 1, "two"), 2)]
    assert server.walk()[0] == (("host",), "example.org")
    assert doc.range() == (2, 1, 9, 11) and server.range()[:2] == (3, 3)
    assert server.unwrap() == server.to_dict() == doc.to_dict()["server"]
    assert (repr(doc), repr(server), repr(doc["list"])) == (
        "TorvexDocument(documents=1)", "TorvexDocumentView(mapping)", "TorvexDocumentView(sequence)")


@pytest.mark.parametrize(
    "text, expected",
    [
        ("yes: no", {"yes": "no"}),  # YAML 1.2 rules whatever the load used
        ("a: !!str\nb: !!int 7\nc: ~\nd: 0x10", {"a": "", "b": 7, "c": None, "d": 16}),
        ("a: &x [1, 2]\nb: *x", {"a": [1, 2], "b": [1, 2]}),
        ("&a x: 1\n*a : 2", {"x": 2}),
        ("? [a, b]\n: 1\n? {k: v}\n: 2", {("a", "b"): 1, (("k", "v"),): 2}),
        ("a: &v 1\nb: *v\nb2: &v 2\nc: *v", {"a": 1, "b": 1, "b2": 2, "c": 2}),  # redefined anchors
        ("n: 123456789012345678901234567890", {"n": 123456789012345678901234567890}),
        ("b: &b {x: 1, y: 0}\nd:\n  <<: *b\n  y: 3", {"b": {"x": 1, "y": 0}, "d": {"y": 3, "x": 1}}),
        ("d:\n  <<: [{a: 1}, {a: 2, b: 2}, 5]", {"d": {"a": 1, "b": 2, "<<": [5]}}),
        ("d:\n  '<<': {a: 1}", {"d": {"<<": {"a": 1}}}),
    ],
)
def test_to_dict_agrees_with_plain_loads(text, expected):
    assert rt(text).to_dict() == expected == torvex.loads(text)
    assert rt(text, torvex.OPT_YAML_1_1).to_dict() == expected


def test_repeated_keys_read_and_edit_the_value_a_load_keeps():
    doc = rt("a: 1\nb: 2\na: {x: 3}\n")
    assert (doc["a"]["x"], doc.walk(), doc.to_dict()) == (3, [(("b",), 2), (("a", "x"), 3)], torvex.loads(
        "a: 1\nb: 2\na: {x: 3}\n"))
    doc["a"]["x"] = 4
    assert torvex.loads(doc.to_yaml()) == doc.to_dict() == {"a": {"x": 4}, "b": 2}
    del doc["a"]
    assert torvex.loads(doc.to_yaml()) == doc.to_dict() == {"b": 2}


def test_lookup_through_merge_keys():
    doc = rt("base: &b {retries: 3, opts: {v: 1}}\nprod:\n  <<: *b\n  name: p\n")
    assert (doc["prod"]["retries"], doc["prod"]["opts"]["v"], doc["prod"].get("nope")) == (3, 1, None)
    doc["prod"]["retries"] = 5  # an own entry now overrides the merged one
    assert torvex.loads(doc.to_yaml()) == {"base": {"retries": 3, "opts": {"v": 1}},
                                           "prod": {"name": "p", "retries": 5, "opts": {"v": 1}}}


def test_undefined_alias_reads_as_none():
    assert rt("a: *missing\nb: &c [*c]").to_dict() == {"a": None, "b": [None]}


def test_multi_document_access():
    doc = rt("a: 1\n---\n- x\n---\nplain")
    assert (len(doc), doc[0]["a"], doc[1][0], doc[2]) == (3, 1, "x", "plain")
    assert doc.to_dict() == [{"a": 1}, ["x"], "plain"]
    with pytest.raises(TypeError, match="single mapping document"):
        doc.keys()
    assert (doc.get("a"), doc.get(1)[0], doc.get(3.5, "x")) == (None, "x", "x")
    assert "a" not in doc
    doc[2] = {"k": None}
    del doc[0]
    assert doc.to_dict() == [["x"], {"k": None}]
    assert torvex.loads_all(doc.to_yaml()) == [["x"], {"k": None}]


@pytest.mark.parametrize("text", ["", "# only a comment\n"])
def test_empty_streams(text):
    doc = rt(text)
    assert (len(doc), doc.to_dict(), doc.walk(), doc.range(), torvex.to_json(doc)) == (0, [], [], None, b"null")
    assert doc.to_yaml() == text.encode()


def test_empty_documents_are_kept():
    doc = rt("a: 1\n---\n---\n# c\n")
    assert (len(doc), doc.to_dict(), doc[1]) == (3, [{"a": 1}, None, None], None)
    doc[0]["a"] = 2
    assert torvex.loads_all(doc.to_yaml()) == [{"a": 2}, None, None]


def test_view_of_an_alias_reads_and_edits_the_anchored_node():
    doc = rt("base: &b {x: 1}\nuse: *b\n")
    assert doc["use"]["x"] == 1
    doc["use"]["x"] = 5
    assert torvex.loads(doc.to_yaml()) == {"base": {"x": 5}, "use": {"x": 5}}


EDITS = [
    # (text, edit, expected to_yaml)
    ("a: 1  # keep\nb: 2\n", lambda d: d.__setitem__("a", 10), "a: 10  # keep\nb: 2\n"),
    ("# head\n\n\na: 1\n\n# c\nz: 2\n", lambda d: d.__setitem__("b", "x y"), "# head\n\n\na: 1\n\n# c\nz: 2\nb: x y\n"),
    ("a: {x: 1}\n", lambda d: d["a"].__setitem__("z", [1, 2]), "a: {x: 1, z: [1, 2]}\n"),
    ("a: 1\nb: 2\n", lambda d: d.__delitem__("a"), "b: 2\n"),
    ("s:\n  - 1\n  - 2\n", lambda d: d["s"].__delitem__(0), "s:\n  - 2\n"),
    ("a: !!int 5\n", lambda d: d.__setitem__("a", "text"), "a: text\n"),
    ("a: !custom 5\n", lambda d: d.__setitem__("a", "text"), "a: !custom text\n"),
    ("a: 1\n", lambda d: d.__setitem__("b", None), "a: 1\nb:\n"),
    ("run: |\n  make\n", lambda d: d.__setitem__("run", "make\nmake test\n"), "run: |\n  make\n  make test\n"),
    ("run: |\n  make\n", lambda d: d.__setitem__("run", "one line"), "run: one line\n"),
    ("f: >\n  a\n  b\n", lambda d: d.__setitem__("f", "x\ny\n"), "f: >\n  x\n\n  y\n"),
    # a value that is not equal to itself must not cost the rest of the document its layout
    ("a:   1  # one\nb: .nan   # nan\nc: [1,   2]\n", lambda d: d.__setitem__("a", 5),
     "a:   5  # one\nb: .nan   # nan\nc: [1,   2]\n"),
]


@pytest.mark.parametrize("text, edit, expected", EDITS)
def test_edits_keep_the_layout(text, edit, expected):
    doc = rt(text)
    edit(doc)
    assert doc.to_yaml().decode() == expected


@pytest.mark.parametrize(
    "key, value",
    [("a: b", 1), ("", 1), ("#x", 1), ("1", 1), ("true", "yes"), ("x", "it's"), ("x", "two\nlines"),
     ("x", " padded "), ("x", ""), ("x", "null"), ("x", 3.0), ("x", 10**30), ("x", {"k": ["v", None]})],
)
@pytest.mark.parametrize("option", [0, torvex.OPT_SINGLE_QUOTES])
def test_new_keys_and_values_read_back_as_assigned(key, value, option):
    doc = rt("a: 1\n", option)
    doc[key] = value
    assert torvex.loads(doc.to_yaml()) == {"a": 1, key: value}


@pytest.mark.parametrize(
    "option, expected", [(0, "b:\n"), (torvex.OPT_NULL_AS_KEYWORD, "b: null\n"), (torvex.OPT_NULL_AS_TILDE, "b: ~\n")]
)
def test_null_style_of_assigned_nulls(option, expected):
    doc = rt("a: 1\n", option)
    doc["b"] = None
    assert doc.to_yaml().decode() == "a: 1\n" + expected


def test_both_null_styles_are_refused():
    with pytest.raises(ValueError, match="mutually exclusive"):
        rt("a: 1", torvex.OPT_NULL_AS_KEYWORD | torvex.OPT_NULL_AS_TILDE)
    assert torvex.loads("a: 1", option=torvex.OPT_NULL_AS_KEYWORD | torvex.OPT_NULL_AS_TILDE) == {"a": 1}


@pytest.mark.parametrize(
    "text, key, error, message",
    [
        ("a: 1", [1], TypeError, "unhashable type: 'list'"),
        ("- 1", 5, IndexError, "index out of range"),
        ("x", "a", TypeError, "node is not a mapping or sequence"),
    ],
)
def test_assignment_errors(text, key, error, message):
    doc = rt(text)
    with pytest.raises(error, match=message):
        doc[key] = 1
    with pytest.raises(error, match=message):
        del doc[key]
    assert doc.to_yaml() == text.encode()


@pytest.mark.parametrize(
    "value, error, message",
    [((1,), TypeError, "cannot convert tuple to a YAML node"),
     ({1, 2}, TypeError, "cannot convert set to a YAML node")],
)
def test_unconvertible_values(value, error, message):
    with pytest.raises(error, match=message):
        rt("a: 1")["b"] = value


def test_self_reference_is_refused():
    looped = []
    looped.append(looped)
    with pytest.raises(ValueError, match="too deeply nested"):
        rt("a: 1")["b"] = looped
    deep = None
    for _ in range(998):
        deep = [deep]
    doc = rt("a: 1")
    doc["b"] = deep
    assert torvex.loads(doc.to_yaml())["b"] == deep


def test_stale_views_and_nodes():
    doc = rt("a: {b: 1}\n")
    view, node = doc["a"], doc.node["a"]["b"]
    del doc["a"]
    assert (repr(view), repr(node)) == ("TorvexDocumentView(<stale>)", "TorvexNode(<stale>)")
    for stale, message in ((lambda: view["b"], "stale view"), (lambda: node.value, "stale node")):
        with pytest.raises(KeyError, match=message):
            stale()
    doc["a"] = {"b": 2}
    assert (view["b"], node.value) == (2, 2)


def test_get_swallows_errors_but_not_interrupts():
    class Interrupting(str):
        def __str__(self):
            raise KeyboardInterrupt

    doc = rt("- 1")
    assert doc.get(7, "d") == "d"
    with pytest.raises(KeyboardInterrupt):
        rt("a: 1").get(Interrupting())


def test_node_positions_and_styles():
    doc = rt("a: 'x'  # c\nb: |\n  lit\n")
    a, b = doc.node["a"], doc.node["b"]
    assert (a.line, a.column, a.offset, a.end_offset, a.style, a.comment) == (1, 4, 3, 6, "single", "c")
    assert (b.style, doc.node.style, a.file) == ("literal", "block", None)


def test_dumps_and_to_json_of_documents():
    doc = rt("b: 1  # note\na: [x]\n")
    assert torvex.dumps(doc, option=torvex.OPT_SORT_KEYS, null_style="bogus") == b"b: 1  # note\na: [x]\n"
    assert torvex.to_json(doc) == b'{"b":1,"a":["x"]}'
    assert torvex.dumps(doc["a"]) == b"- x\n"
    assert torvex.to_json(doc["a"]) == b'["x"]'


def test_set_origin():
    doc = rt("a: 1")
    assert doc.origin is None
    doc.set_origin(__import__("pathlib").Path("/tmp/x.yaml"))
    assert doc.origin == "/tmp/x.yaml"
    with pytest.raises(TypeError, match="path"):
        doc.set_origin(3)


@pytest.mark.parametrize("cls", [torvex.TorvexDocument, torvex.TorvexDocumentView, torvex.TorvexNode])
def test_handles_cannot_be_made_from_python(cls):
    with pytest.raises(TypeError):
        cls()


def test_access_from_user_code_inside_a_borrow_fails_at_once():
    doc = rt("a: 1\n")
    seen = []

    class Meddling(str):
        # str(key) is taken for the KeyError while the document is borrowed
        def __str__(self):
            for attempt in (lambda: doc.__setitem__("b", 2), lambda: doc["a"]):
                try:
                    attempt()
                except RuntimeError as error:
                    seen.append(str(error))
            return "missing"

    with pytest.raises(KeyError):
        doc[Meddling("missing")]
    with pytest.raises(KeyError):
        del doc[Meddling("missing")]
    assert seen == ["Already borrowed", "Already borrowed", "Already mutably borrowed"]
    assert doc.to_yaml() == b"a: 1\n"


def test_threads_share_one_document():
    doc = rt("\n".join(f"k{i}: {i}" for i in range(200)))
    errors, barrier = [], threading.Barrier(4)

    def work(n):
        try:
            barrier.wait()
            for i in range(300):
                try:
                    if n % 2:
                        doc[f"k{i % 200}"] = i
                    else:
                        assert len(doc.to_dict()) >= 200
                        doc.to_yaml()
                except RuntimeError as error:
                    assert str(error) in ("Already borrowed", "Already mutably borrowed")
        except BaseException as error:
            errors.append(error)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert torvex.loads(doc.to_yaml()) == doc.to_dict()


def test_no_native_leak_over_load_edit_emit_cycles():
    def cycle():
        doc = rt(CONFIG)
        doc["server"]["port"] = 9090
        doc["list"][1] = {"n": [1, 2, None]}
        doc.node["server"]["host"].value = "x"
        del doc["server"]["tags"]
        doc.to_yaml()
        doc.to_dict()
        doc["server"].to_yaml()
        try:
            rt("a: [1\n")
        except torvex.TorvexParseError:
            pass

    for _ in range(300):
        cycle()
    gc.collect()
    before = resident_bytes()
    for _ in range(3000):
        cycle()
    gc.collect()
    assert resident_bytes() - before < 4 * 1024 * 1024


KEYS = st.text(st.characters(codec="utf-8", exclude_categories=("Cs",)), max_size=8)
LEAVES = st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | KEYS
TREES = st.recursive(LEAVES, lambda inner: st.lists(inner, max_size=4) | st.dictionaries(KEYS, inner, max_size=4),
                     max_leaves=20)


@settings(max_examples=200, deadline=None)
@given(st.dictionaries(KEYS, TREES, min_size=1, max_size=5), TREES, st.data(),
       st.sampled_from([0, torvex.OPT_FLOW_STYLE, torvex.OPT_INDENT_4 | torvex.OPT_INDENTLESS_SEQUENCES]))
def test_random_edits_reload_as_expected(data, new_value, draw, dump_option):
    doc = rt(torvex.dumps(data, option=dump_option))
    paths = [path for path, _ in doc.walk()] or [()]
    path = draw.draw(st.sampled_from(paths))
    if not path:
        key = draw.draw(KEYS)
        doc[key] = new_value
        data[key] = new_value
    else:
        target, view = data, doc
        for segment in path[:-1]:
            target, view = target[segment], view[segment]
        target[path[-1]] = new_value
        view[path[-1]] = new_value
    assert torvex.loads(doc.to_yaml()) == data == doc.to_dict()


def test_upgrade_rewrites_1_1_spellings_and_writes_the_header():
    doc = rt("%YAML 1.1\n---\nenabled: yes\nmode: 0755\nk: on  # c\n", torvex.OPT_UPGRADE_1_1)
    assert doc.to_dict() == {"enabled": True, "mode": 493, "k": True}
    assert doc.to_yaml() == b"%YAML 1.2\n---\nenabled: true\nmode: 493\nk: true  # c\n"
    assert rt("a: yes\n", torvex.OPT_UPGRADE_1_1).to_yaml() == b"%YAML 1.2\n---\na: true\n"


def test_key_checks_and_version_warnings(caplog):
    with pytest.raises(torvex.TorvexDuplicateKeyError) as raised:
        rt("a: 1\nb: {x: 1, x: 2}\n", torvex.OPT_DUPLICATE_KEYS_ERROR)
    assert (str(raised.value), raised.value.line, raised.value.column) == (
        "duplicate mapping key: x at line 2, column 11", 2, 11)
    rt("1: x\n0x1: y\n", torvex.OPT_DUPLICATE_KEYS_WARN)
    rt("a: yes\n", torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN)
    assert [r.getMessage() for r in caplog.records] == [
        "duplicate mapping key 'Int(1)' at line 2, column 1; keeping the last value",
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4",
    ]
    with pytest.raises(torvex.TorvexParseError, match="unclosed flow collection"):
        rt("a: [1\n")
