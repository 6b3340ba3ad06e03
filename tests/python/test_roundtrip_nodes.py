"""Node handles: what they report, the edits they make (comments, anchors,
aliases, detach), and random edit sequences over the YAML test suite."""

import pathlib
import threading

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import torvex

RT = torvex.OPT_ROUND_TRIP
SUITE = pathlib.Path(__file__).resolve().parents[2].parent / "shared" / "yaml-test-suite"

TEXT = """\
# about the server
server: &srv
  host: "example.org"  # public
  port: 8080
copy: *srv
notes: |
  free text
tagged: !custom x
"""


def rt(text=TEXT):
    return torvex.loads(text, option=RT)


def test_reading_nodes():
    doc = rt()
    server, host, copy = doc.node["server"], doc.node["server"]["host"], doc.node["copy"]
    assert (server.line, server.column, server.style, server.anchor, server.comment_before) == (
        3, 3, "block", "srv", None)
    assert doc.node.comment_before == "about the server"  # the first comments go to the document
    assert (host.value, host.style, host.comment, host.offset, host.end_offset) == ("example.org", "double", "public",
                                                                                    40, 53)
    assert TEXT.encode()[host.offset:host.end_offset] == b'"example.org"'
    assert (copy.is_alias, copy.style, copy.target.anchor, copy["port"].value) == (True, "alias", "srv", 8080)
    assert [repr(a) for a in server.aliases] == ["TorvexNode(alias)"] and host.aliases == []
    assert (doc.node["notes"].style, doc.node["tagged"].tag, doc.node["tagged"].source_tag) == ("literal", "!custom",
                                                                                                "!custom")
    assert (host.file, host.source_target, host.is_secret, host.is_include, host.is_env_var) == (None, None, False,
                                                                                                 False, False)
    assert ("host" in server, "host" in copy, 1 in server) == (True, True, False)
    assert list(doc.anchors) == ["srv"] and repr(doc.node) == "TorvexNode(mapping)"
    for key, error in (("missing", KeyError), (2.5, KeyError), ([2], TypeError)):
        with pytest.raises(error):
            server[key]
    with pytest.raises(IndexError, match="index out of range"):
        rt("- a").node[3]


def test_comment_setters():
    doc = rt()
    port = doc.node["server"]["port"]
    port.comment = "the port"
    port.comment_before = "first\r\nsecond\n"
    doc.node["copy"].comment = None
    doc.node["server"]["host"].comment = None
    assert (port.comment, port.comment_before) == ("the port", "first\nsecond")
    text = doc.to_yaml().decode()
    assert "  # first\n  # second\n  port: 8080  # the port\n" in text and "public" not in text
    assert torvex.loads(text) == doc.to_dict()
    port.comment_before = None
    assert port.comment_before is None


@pytest.mark.parametrize(
    "attribute, value, error, message",
    [
        ("comment", "x\nevil: 1", ValueError, "line break"),
        ("comment", "x\revil", ValueError, "line break"),
        ("comment_before", "ok\rnot ok", ValueError, "carriage return"),
        ("comment", 5, TypeError, "text"),
        ("anchor", "", ValueError, "anchor name cannot be empty"),
        ("anchor", "a b", ValueError, "cannot contain"),
        ("anchor", "a,b", ValueError, "cannot contain"),
        ("anchor", "x\ny", ValueError, "cannot contain"),
        ("anchor", "srv", ValueError, "anchor name 'srv' is already used by another node"),
    ],
)
def test_setters_refuse_what_would_break_the_yaml(attribute, value, error, message):
    doc = rt()
    with pytest.raises(error, match=message):
        setattr(doc.node["server"]["port"], attribute, value)
    assert doc.to_yaml() == TEXT.encode()


def test_an_alias_takes_no_anchor():
    with pytest.raises(ValueError, match="an alias node cannot have an anchor"):
        rt().node["copy"].anchor = "x"


def test_anchor_setter_accepts_its_own_name_and_removal():
    doc = rt()
    doc.node["server"].anchor = "srv"
    doc.node["server"]["port"].anchor = "p"
    doc.node["notes"].anchor = None
    assert torvex.loads(doc.to_yaml()) == doc.to_dict()
    assert doc.node["server"]["port"].anchor == "p"


@pytest.mark.parametrize(
    "target, name, message",
    [
        (("server",), "zz", "no anchor '&zz' is defined in this document"),
        (("server", "port"), "srv", "anchor '&srv' contains the alias that would reference it, which is a cycle"),
        (("server",), "srv", "cycle"),
        (("server",), "late", "anchor '&late' must be defined before the alias that references it"),
    ],
)
def test_make_alias_rules(target, name, message):
    doc = rt(TEXT + "later: &late 1\n")
    node = doc.node
    for key in target:
        node = node[key]
    with pytest.raises(ValueError, match=message):
        node.make_alias(name)


def test_make_alias_and_detach():
    doc = rt()
    doc.node["tagged"].make_alias("srv")  # the tag goes: an alias cannot carry one
    assert doc.node["tagged"].tag is None and doc["tagged"]["port"] == 8080
    copy = doc.node["copy"].detach()
    assert (copy.is_alias, copy.anchor, copy.value) == (False, None, {"host": "example.org", "port": 8080})
    copy["port"].value = 9
    assert doc["server"]["port"] == 8080
    assert torvex.loads(doc.to_yaml()) == doc.to_dict()
    with pytest.raises(TypeError, match="only valid on an alias"):
        doc.node["server"].detach()
    with pytest.raises(KeyError, match=r"alias \*nope has no anchor to detach"):
        rt("a: *nope").node["a"].detach()


def test_detach_is_bounded():
    # Each level doubles the previous one: a full copy would have 2**40 nodes.
    lines = ["l0: &l0 [x, x]"] + [f"l{i}: &l{i} [*l{i - 1}, *l{i - 1}]" for i in range(1, 41)] + ["top: *l40"]
    doc = rt("\n".join(lines))
    doc.node["top"].detach()
    assert len(doc.to_yaml()) < 64 * 1024 * 1024


def test_threads_editing_through_nodes():
    # Every access to the document borrows it, reaching a node included: a writer holding it makes that fail too.
    doc = rt("\n".join(f"k{i}: {i}" for i in range(100)))
    errors, barrier = [], threading.Barrier(4)

    def work(n):
        try:
            barrier.wait()
            for i in range(200):
                try:
                    node = doc.node[f"k{i % 100}"]
                    if n % 2:
                        node.value = i
                        node.comment = f"set by {n}"
                    else:
                        assert isinstance(node.value, int)
                        assert torvex.loads(doc.to_yaml()) is not None
                except RuntimeError as error:
                    assert str(error) in ("Already borrowed", "Already mutably borrowed")
        except BaseException as error:
            errors.append(error)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == [] and torvex.loads(doc.to_yaml()) == doc.to_dict()


def suite_texts():
    if not SUITE.is_dir():
        return ["a: 1\n"]
    texts = []
    for path in sorted(SUITE.rglob("in.yaml")):
        text = path.read_bytes()
        if (path.parent / "error").exists() or b"%YAML 1.1" in text:
            continue
        texts.append(text)
    return texts


SUITE_TEXTS = suite_texts()
VALUES = st.none() | st.booleans() | st.integers() | st.text(max_size=6) | st.lists(st.integers(), max_size=2)
EDITS = st.lists(st.tuples(st.sampled_from(["value", "delete", "comment", "before", "anchor", "alias", "detach"]),
                           st.integers(0, 10_000), VALUES), min_size=1, max_size=6)


def leaf_nodes(doc):
    nodes = []
    for path, _ in doc.walk():
        node = doc.node
        for key in path:
            node = node[key]
        nodes.append((path, node))
    return nodes


def expected_documents(doc):
    data = doc.to_dict()
    return [data] if repr(doc) == "TorvexDocument(documents=1)" else data


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.sampled_from(SUITE_TEXTS), EDITS)
def test_random_edit_sequences_keep_the_document_readable(text, edits):
    doc = rt(text)
    handles = []
    for step, (kind, pick, value) in enumerate(edits):
        nodes = leaf_nodes(doc)
        if not nodes:
            break
        path, node = nodes[pick % len(nodes)]
        handles.append(node)
        try:
            if kind == "value":
                node.value = value
            elif kind == "delete":
                parent = doc if len(path) == 1 else doc[path[0]]
                for key in path[1:-1]:
                    parent = parent[key]
                del parent[path[-1]]
            elif kind == "comment":
                node.comment = f"c{step}"
            elif kind == "before":
                node.comment_before = f"b{step}\nmore"
            elif kind == "anchor":
                node.anchor = f"anchor{step}"
            elif kind == "alias":
                names = list(doc.anchors)
                if names:
                    node.make_alias(names[pick % len(names)])
            elif kind == "detach" and node.is_alias:
                node.detach()
        except (ValueError, KeyError, IndexError, TypeError):
            pass  # a refused edit leaves the document as it was
        written = doc.to_yaml()
        assert torvex.loads_all(written) == expected_documents(doc), written
        for handle in handles:
            try:
                handle.value
                assert repr(handle) != "TorvexNode(<stale>)"
            except KeyError as error:
                assert error.args == ("stale node",) and repr(handle) == "TorvexNode(<stale>)"
