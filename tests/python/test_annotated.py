"""Annotated results: the native dict and list classes (constructors, fields,
pickling, copying), what annotated loads return, and the composed pipeline's
checks (decoder errors first, duplicate keys, 1.1 warnings, custom tags)."""

import copy
import logging
import pickle
import threading

import pytest

import torvex

ANN = torvex.OPT_ANNOTATED
STATE = (3, 4, "conf.yaml", 5, 6, "!include", "sub.yaml", 10, 20)
FIELDS = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__", "__source_tag__",
          "__source_target__", "__offset__", "__end_offset__")
CLASSES = [torvex.TorvexAnnotatedDict, torvex.TorvexAnnotatedList]
DOCS = {
    torvex.TorvexAnnotatedDict: (
        "A `dict` subclass carrying source-location metadata (`__line__`,\n`__column__`, `__file__`). Returned for "
        "mappings in annotated mode,\nmirroring Home Assistant's `NodeDictClass`.\n\nIt is a genuine `dict` "
        "subclass: constructible (`TorvexAnnotatedDict()`),\nand round-trips through `copy`/`deepcopy`/`pickle` like "
        "any plain subclass,\nso consumers (voluptuous's `data.__class__()`, `copy`, serializers) can use it\n"
        "directly without converting to a built-in `dict` first. `module` is set so\npickle can locate the class by "
        "reference."),
    torvex.TorvexAnnotatedList: (
        "A `list` subclass carrying source-location metadata, mirroring Home\nAssistant's `NodeListClass`. Like "
        "[`TorvexAnnotatedDict`], it is a genuine\n`list` subclass: constructible and `copy`/`deepcopy`/`pickle`-able."),
}


def fields(obj):
    return tuple(getattr(obj, name) for name in FIELDS)


def annotated_with_state(cls):
    obj = cls({"a": [1, {"b": 2}], "c": "d"}) if cls is torvex.TorvexAnnotatedDict else cls([1, [2, 3], "x"])
    obj.__setstate__(STATE)
    return obj


# ---- the classes ----

@pytest.mark.parametrize("cls, base, args, kwargs, expected", [
    (torvex.TorvexAnnotatedDict, dict, (), {}, {}),
    (torvex.TorvexAnnotatedDict, dict, ({"a": 1},), {"b": 2}, {"a": 1, "b": 2}),
    (torvex.TorvexAnnotatedDict, dict, ([("a", 1)],), {}, {"a": 1}),
    (torvex.TorvexAnnotatedList, list, (), {}, []),
    (torvex.TorvexAnnotatedList, list, ("ab",), {}, ["a", "b"]),
])
def test_constructors_behave_like_the_base_class(cls, base, args, kwargs, expected):
    obj = cls(*args, **kwargs)
    assert isinstance(obj, base) and type(obj) is cls and obj == expected
    assert fields(obj) == (0, 0, None, 0, 0, None, None, 0, 0)
    assert (obj.is_secret, obj.is_env_var, obj.is_include) == (False, False, False)


@pytest.mark.parametrize("cls, bad", [(torvex.TorvexAnnotatedDict, (1,)), (torvex.TorvexAnnotatedList, (1,)),
                                      (torvex.TorvexAnnotatedList, ([], []))])
def test_constructors_refuse_what_the_base_class_refuses(cls, bad):
    with pytest.raises(TypeError):
        cls(*bad)


@pytest.mark.parametrize("cls", CLASSES)
def test_class_surface(cls):
    assert cls.__module__ == "torvex"
    assert cls.__text_signature__ == "(*_args, **_kwargs)"
    assert cls.__doc__ == DOCS[cls]
    obj = cls()
    for name in FIELDS + ("is_secret", "is_env_var", "is_include"):
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)


@pytest.mark.parametrize("cls", CLASSES)
@pytest.mark.parametrize("how", ["copy", "deepcopy"] + [f"pickle{p}" for p in range(pickle.HIGHEST_PROTOCOL + 1)])
def test_copies_keep_items_and_annotations(cls, how):
    obj = annotated_with_state(cls)
    if how == "copy":
        clone = copy.copy(obj)
    elif how == "deepcopy":
        clone = copy.deepcopy(obj)
    else:
        clone = pickle.loads(pickle.dumps(obj, protocol=int(how[6:])))
    assert type(clone) is cls and clone == obj and clone is not obj
    assert fields(clone) == STATE and clone.is_include
    inner = clone["a"] if cls is torvex.TorvexAnnotatedDict else clone[1]
    original = obj["a"] if cls is torvex.TorvexAnnotatedDict else obj[1]
    assert (inner is original) == (how == "copy")  # copy shares the values, the others do not


def test_reduce_follows_the_pickle_protocol():
    d = annotated_with_state(torvex.TorvexAnnotatedDict)
    cls, args, state, items, pairs = d.__reduce__()
    assert (cls, args, state, items) == (torvex.TorvexAnnotatedDict, (), STATE, None)
    assert list(pairs) == list(d.items())
    lst = annotated_with_state(torvex.TorvexAnnotatedList)
    cls, args, state, items, pairs = lst.__reduce__()
    assert (cls, args, state, pairs) == (torvex.TorvexAnnotatedList, (), STATE, None) and list(items) == lst


@pytest.mark.parametrize("state, error", [
    ((1, 2, 3), TypeError),
    ([3, 4, None, 5, 6, None, None, 10, 20], TypeError),
    ((3, 4, 5, 5, 6, None, None, 10, 20), TypeError),  # file must be str or None
    ((-1, 4, None, 5, 6, None, None, 10, 20), OverflowError),
    ((3, 4, None, 5, 6, None, None, "10", 20), TypeError),
    ((2**40, 4, None, 5, 6, None, None, 10, 20), OverflowError),
])
def test_setstate_refuses_bad_state_and_changes_nothing(state, error):
    obj = annotated_with_state(torvex.TorvexAnnotatedDict)
    with pytest.raises(error):
        obj.__setstate__(state)
    assert fields(obj) == STATE


@pytest.mark.parametrize("tag, flags", [("!secret", (True, False, False)), ("!env_var", (False, True, False)),
                                        ("!include_dir_merge_named", (False, False, True)),
                                        ("!custom", (False, False, False))])
def test_provenance_flags_follow_the_source_tag(tag, flags):
    obj = torvex.TorvexAnnotatedList()
    obj.__setstate__((1, 1, None, 1, 2, tag, "x", 0, 1))
    assert (obj.is_secret, obj.is_env_var, obj.is_include) == flags


def test_subclasses_and_reference_cycles_are_collected():
    class Sub(torvex.TorvexAnnotatedDict):
        pass

    d = Sub(a=1)
    d["self"] = d
    d.__setstate__(STATE)
    assert d["self"].__file__ == "conf.yaml"
    lst = torvex.TorvexAnnotatedList()
    lst.append(lst)
    del d, lst


def test_fields_can_be_read_while_other_threads_replace_them():
    obj = annotated_with_state(torvex.TorvexAnnotatedList)
    other = (7, 8, "other.yaml", 9, 10, None, None, 11, 12)
    stop, seen, errors = threading.Event(), set(), []

    def reader():
        while not stop.is_set():
            try:
                seen.add(obj.__file__)
            except RuntimeError:
                pass  # a reader meeting __setstate__ fails at once rather than waiting

    def writer():
        for i in range(2000):
            try:
                obj.__setstate__(STATE if i % 2 else other)
            except RuntimeError as error:
                errors.append(str(error))

    threads = [threading.Thread(target=reader) for _ in range(3)]
    for t in threads:
        t.start()
    writer()
    stop.set()
    for t in threads:
        t.join()
    assert seen <= {"conf.yaml", "other.yaml"}
    assert set(errors) <= {"Already borrowed"}


# ---- annotated loads ----

def test_mapping_and_strings_carry_their_positions():
    text = "a: x\nlist:\n  - 'q'\n  - \"w\"\n  - |\n    lit\n  - >\n    fold\n"
    d = torvex.loads(text, option=ANN)
    assert type(d) is torvex.TorvexAnnotatedDict and (d.__line__, d.__column__, d.__file__) == (1, 1, None)
    key, value = next(iter(d.items()))
    assert type(key) is torvex.TorvexAnnotatedStr and type(value) is torvex.TorvexAnnotatedStr
    assert (key.__line__, key.__column__, value.__line__, value.__column__) == (1, 1, 1, 4)
    assert (value.__end_line__, value.__end_column__) == (1, 5)
    assert [s.__style__ for s in d["list"]] == ["single", "double", "literal", "folded"]
    assert type(d["list"]) is torvex.TorvexAnnotatedList and (d["list"].__line__, d["list"].__column__) == (3, 3)
    source = text.encode()
    for obj in (d, d["list"], *d["list"], value):
        piece = source[obj.__offset__:obj.__end_offset__].decode()
        assert piece.strip().startswith(("a:", "-", "'q'", '"w"', "|", ">", "x"))
    assert source[d["list"][0].__offset__:d["list"][0].__end_offset__] == b"'q'"
    assert (value.__source_tag__, value.__source_target__, value.is_secret, value.is_include) == (None, None, False, False)


@pytest.mark.parametrize("text, numbers, expected_type", [
    ("a: 1", 0, int), ("a: 1", torvex.OPT_ANNOTATE_NUMBERS, torvex.TorvexAnnotatedInt),
    ("a: 1.5", 0, float), ("a: 1.5", torvex.OPT_ANNOTATE_NUMBERS, torvex.TorvexAnnotatedFloat),
    ("a: 123456789012345678901234567890", torvex.OPT_ANNOTATE_NUMBERS, torvex.TorvexAnnotatedInt),
    ("a: true", torvex.OPT_ANNOTATE_NUMBERS, bool), ("a: ~", torvex.OPT_ANNOTATE_NUMBERS, type(None)),
])
def test_numbers_are_annotated_only_when_asked(text, numbers, expected_type):
    value = torvex.loads(text, option=ANN | numbers)["a"]
    assert type(value) is expected_type and value == torvex.loads(text)["a"]
    if numbers and expected_type not in (bool, type(None)):
        assert (value.__line__, value.__column__, value.__style__) == (1, 4, "plain")


def test_loads_all_gives_one_annotated_document_each():
    docs = torvex.loads_all("a: 1\n---\n- b\n---\nplain\n", option=ANN)
    assert [type(d) for d in docs] == [torvex.TorvexAnnotatedDict, torvex.TorvexAnnotatedList,
                                       torvex.TorvexAnnotatedStr]
    assert [d.__line__ for d in docs] == [1, 3, 5]
    assert torvex.loads_all("", option=ANN) == [] and torvex.loads("# c\n", option=ANN) is None


def test_merged_entries_keep_where_they_were_written():
    text = "base: &b\n  x: 1\n  y: two\nd:\n  <<: *b\n  y: 3\n"
    d = torvex.loads(text, option=ANN)
    assert d["d"] == {"y": 3, "x": 1}
    keys = {str(k): k for k in d["d"]}
    assert (keys["x"].__line__, keys["y"].__line__) == (2, 6)


def test_properties_belong_to_the_node():
    d = torvex.loads("a: &anchor !!str value\nb: *anchor\n", option=ANN)
    assert (d["a"].__column__, d["b"].__column__) == (4, 4)  # an alias gives its anchor's node
    assert d["a"] is not d["b"]


@pytest.mark.parametrize("kwargs, check", [
    ({"tags": {"!p": lambda v: ("p", v)}}, lambda r: r[0] == "p" and type(r[1]) is torvex.TorvexAnnotatedList),
    ({"tag_handler": lambda t, v: (t, v)},
     lambda r: r[0] == "!p" and type(r[1]) is torvex.TorvexAnnotatedList and r[1].__column__ == 4),
    ({"option": torvex.OPT_PASSTHROUGH_TAG},
     lambda r: type(r) is torvex.TorvexTag and r.tag == "!p" and type(r.value) is torvex.TorvexAnnotatedList),
    ({}, lambda r: type(r) is torvex.TorvexAnnotatedList and r == [1, 2]),
])
def test_custom_tags_receive_the_annotated_object(kwargs, check):
    option = kwargs.pop("option", 0) | ANN
    assert check(torvex.loads("x: !p [1, 2]", option=option, **kwargs)["x"])


def test_unhashable_tagged_key():
    with pytest.raises(torvex.TorvexDecodeError, match="mapping key is not hashable in Python"):
        torvex.loads("{!foo a: 1}", option=ANN, tag_handler=lambda t, v: [v])


def test_collection_keys_are_plain_tuples():
    d = torvex.loads("? [1, [2, 3]]\n: x\n? {a: 1}\n: y\n", option=ANN)
    assert list(d) == [(1, (2, 3)), (("a", 1),)]
    assert all(type(k) is tuple for k in d) and type(next(iter(d))[0]) is int
    assert type(list(d)[1][0][0]) is str


def plain_and_annotated_errors(text, option=0):
    caught = []
    for extra in (0, ANN):
        with pytest.raises(torvex.TorvexError) as info:
            torvex.loads(text, option=option | extra)
        caught.append((type(info.value), str(info.value), getattr(info.value, "line", None),
                       getattr(info.value, "file", "unset")))
    return caught


@pytest.mark.parametrize("text, option", [
    ("a: [1, 2\n", 0),  # the decoder's syntax error, raised before anything is composed
    ("a: *nowhere\n", 0),
    ("- &a [*a]\n", 0),
    ("a: 1\n---\n{", 0),  # a later document fails the call
    ("? [a]\n: 1\n", torvex.OPT_REJECT_COMPLEX_KEYS),
    ("a: 1\nb: 2\na: 3\n", torvex.OPT_DUPLICATE_KEYS_ERROR),
    ("x:\n  1: a\n  0x1: b\n", torvex.OPT_DUPLICATE_KEYS_ERROR),
])
def test_errors_are_those_of_the_plain_pipeline(text, option):
    plain, annotated = plain_and_annotated_errors(text, option)
    assert annotated == plain and plain[3] is None


@pytest.mark.parametrize("text, option", [
    ("a: 1\nb: 2\na: 3\n", torvex.OPT_DUPLICATE_KEYS_WARN),
    ("a: yes\nb: 0o17\nc: 010\n", torvex.OPT_YAML_1_1 | torvex.OPT_YAML_1_1_WARN),
    ("%YAML 1.1\n---\n{on: off}\n", torvex.OPT_YAML_1_1_WARN | torvex.OPT_DUPLICATE_KEYS_WARN),
])
def test_warnings_are_those_of_the_plain_pipeline(caplog, text, option):
    logged = []
    for extra in (0, ANN):
        caplog.clear()
        with caplog.at_level(logging.WARNING, logger="torvex"):
            torvex.loads(text, option=option | extra)
        logged.append([r.getMessage() for r in caplog.records])
    assert logged[0] and logged[0] == logged[1]


def test_deep_nesting_converts():
    depth = 999
    value = torvex.loads("[" * depth + "x" + "]" * depth, option=ANN)
    for _ in range(depth):
        assert type(value) is torvex.TorvexAnnotatedList
        value = value[0]
    assert value == "x" and value.__column__ == depth + 1


@pytest.mark.parametrize("with_init", [False, True])
def test_scalar_class_is_called_with_eleven_arguments(monkeypatch, with_init):
    cls = torvex.TorvexAnnotatedStr
    calls, original = [], cls.__new__

    def recording_new(klass, *args):
        calls.append(args)
        return original(klass, *args)

    monkeypatch.setattr(cls, "__new__", recording_new)
    if with_init:  # a class with an __init__ of its own is called as a whole
        monkeypatch.setattr(cls, "__init__", lambda self, *args: calls.append("init"), raising=False)
    d = torvex.loads("k: 'v'\n", option=ANN)
    args = [c for c in calls if c != "init"]
    assert [a[0] for a in args] == ["k", "v"] and all(len(a) == 11 for a in args)
    assert args[1] == ("v", 1, 4, None, 1, 7, "single", None, None, 3, 6)
    assert calls.count("init") == (2 if with_init else 0)
    assert type(d["k"]) is cls


def test_scalar_class_failure_ends_the_load(monkeypatch):
    def failing_new(klass, *args):
        raise LookupError("no annotations today")

    monkeypatch.setattr(torvex.TorvexAnnotatedStr, "__new__", failing_new)
    with pytest.raises(LookupError, match="no annotations today"):
        torvex.loads("a: [x]\n", option=ANN)


MERGES = [
    "a: &a {x: 1, y: 2}\nb: {<<: *a, y: 3}\n",
    "a: &a {x: 1}\nb: &b {x: 2, z: 2}\nc: {<<: [*a, *b], w: 0}\n",
    "a: &a {x: 1, x: 2}\nb: {<<: *a}\n",  # a source's repeated key: its first entry merges
    "a: &a {x: 1}\nb: {<<: [*a, 5, [k]], y: 1}\n",  # what cannot merge stays under '<<'
    "b: {<<: 5, <<: ~, y: 1}\n",
    "a: &a {x: 1}\nb: &b {<<: *a, y: 2}\nc: {<<: *b, z: 3}\n",  # merges of merges
    "a: &a !t {x: 1}\nb: {<<: *a}\n",  # a custom-tagged mapping does not merge
    "a: &a !!map {x: 1}\nb: {<<: *a, '<<': q}\n",
    "- <<\n- {<<: {x: 1}}\n- {? {<<: {k: v}} : 1}\n",  # '<<' as a value, merges inside a key
    "a: &a {1: one, 1.0: float}\nb: {<<: *a, 1: own}\n",
]


@pytest.mark.parametrize("mode", [0, torvex.OPT_YAML_1_1, torvex.OPT_PYYAML_COMPAT])
@pytest.mark.parametrize("text", MERGES)
def test_merge_keys_read_as_in_the_plain_pipeline(text, mode):
    handler = lambda tag, value: ("tag", tag, value)  # noqa: E731
    plain = torvex.loads(text, option=mode, tag_handler=handler)
    annotated = torvex.loads(text, option=mode | ANN, tag_handler=handler)
    assert repr(annotated) == repr(plain)
    assert [list(d) for d in (annotated if isinstance(annotated, list) else [annotated])] == \
        [list(d) for d in (plain if isinstance(plain, list) else [plain])]


def test_alias_expansion_is_bounded():
    lines = ["a0: &a0 [x, x, x, x, x, x, x, x, x, x]"]
    lines += [f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]" for i in range(1, 9)]
    with pytest.raises(torvex.TorvexParseError, match="too many nodes"):
        torvex.loads("\n".join(lines), option=ANN)


# ---- with directives ----

DIRECTIVES = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR


def directive_tree(root):
    files = {
        "main.yaml": "db: !secret db_password\nsub: !include sub.yaml\nnamed: !include_dir_named parts\n"
                     "home: !env_var TORVEX_ANNOTATED_UNSET fallback\n",
        "secrets.yaml": "db_password: hunter2\n",
        "sub.yaml": "x: [1, two]\n",
        "parts/p1.yaml": "k: v\n",
    }
    for name, text in files.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    return root / "main.yaml"


def load_tree(main, option):
    return torvex.loads(main.read_bytes(), option=DIRECTIVES | option, include_dir=str(main.parent),
                        root_path=str(main))


def test_directives_give_provenance_and_files(tmp_path, monkeypatch):
    monkeypatch.delenv("TORVEX_ANNOTATED_UNSET", raising=False)
    main = directive_tree(tmp_path)
    d = load_tree(main, ANN)
    assert d == load_tree(main, 0) == {"db": "hunter2", "sub": {"x": [1, "two"]}, "named": {"p1": {"k": "v"}},
                                       "home": "fallback"}
    assert d.__file__ == str(main)
    provenance = {k: (v.__source_tag__, v.__source_target__, v.is_secret, v.is_include, v.is_env_var)
                  for k, v in d.items()}
    assert provenance == {
        "db": ("!secret", "db_password", True, False, False),
        "sub": ("!include", "sub.yaml", False, True, False),
        "named": ("!include_dir_named", "parts", False, True, False),
        "home": ("!env_var", "TORVEX_ANNOTATED_UNSET fallback", False, False, True),
    }
    assert d["sub"].__file__ == str(tmp_path / "sub.yaml") and d["sub"]["x"].__line__ == 1
    assert d["named"]["p1"].__file__ == str(tmp_path / "parts" / "p1.yaml")
    plain = load_tree(main, 0)
    assert type(plain) is dict and type(plain["sub"]["x"]) is list and type(plain["db"]) is str


def test_decoder_errors_of_included_files_carry_their_path(tmp_path):
    (tmp_path / "sub.yaml").write_text("a: *nowhere\n")  # the composer takes it, the decoder does not
    main = tmp_path / "main.yaml"
    main.write_text("sub: !include sub.yaml\n")
    for option in (0, ANN):
        with pytest.raises(torvex.TorvexParseError, match="unknown alias") as info:
            load_tree(main, option)
        assert info.value.file == str(tmp_path / "sub.yaml") and info.value.line == 1


def test_directive_load_resolves_in_the_load_mode(tmp_path):
    main = tmp_path / "main.yaml"
    main.write_text("a: yes\nb: &b {x: 1}\nc: {<<: *b}\n")
    assert load_tree(main, torvex.OPT_YAML_1_1) == torvex.loads(main.read_bytes(), option=torvex.OPT_YAML_1_1)
    assert load_tree(main, 0) == {"a": "yes", "b": {"x": 1}, "c": {"x": 1}}
