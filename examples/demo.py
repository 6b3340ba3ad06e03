"""A short tour of torvex as it stands today.

Run with `make demo`.
"""

import dataclasses
import datetime
import os
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import torvex

# Every function reads str, bytes (UTF-8, UTF-16 or UTF-32, detected by the
# YAML byte patterns), bytearray or any byte buffer.
config = """\
# yaml-language-server: $schema=./config.schema.json
%YAML 1.1
---
name: demo
enabled: yes
"""

print("schema reference:", torvex.schema_ref(config))
print("YAML version:    ", torvex.yaml_version(config))
print("from UTF-16:     ", torvex.yaml_version(config.encode("utf-16")))

# Option flags are bits of one 64-bit word, combined with |.
print("option word:     ", hex(torvex.OPT_YAML_1_1_WARN | torvex.OPT_DUPLICATE_KEYS_ERROR | torvex.OPT_UTC_Z))

# Errors say exactly what went wrong and where.
try:
    torvex.schema_ref(b"key: \xff")
except ValueError as error:
    print("bad input:       ", error)

try:
    torvex.loads("x: 1", option=-1)
except OverflowError as error:
    print("bad option:      ", error, error.__notes__)

# Annotated scalars remember where a value came from.
value = torvex.TorvexAnnotatedStr("s3cret", 4, 11, "secrets.yaml", 4, 17, "plain", "!secret", "db_password", 60, 66)
print("annotated value: ", repr(value), "from", value.__file__, "line", value.__line__, "secret:", value.is_secret)

# Annotated loads: dicts, lists and strings that know their file, line, column and byte range.
source = "server:\n  host: example.org\n  ports: [80, 443]\n"
annotated = torvex.loads(source, option=torvex.OPT_ANNOTATED)
host = annotated["server"]["host"]
print("annotated load:  ", type(annotated).__name__, type(host).__name__, f"host at line {host.__line__}, "
      f"column {host.__column__}, text {source.encode()[host.__offset__:host.__end_offset__]!r}")
ports = annotated["server"]["ports"]
print("annotated list:  ", ports, f"line {ports.__line__}, column {ports.__column__}, file {ports.__file__}")

# Loading: YAML 1.2 by default; the %YAML 1.1 directive above switches to 1.1 rules.
print("loaded:          ", torvex.loads(config))
print("1.2 rules:       ", torvex.loads("enabled: yes"))
print("all documents:   ", torvex.loads_all("a: 1\n---\nb: [x, y]\n"))
print("merge keys:      ", torvex.loads("base: &b {x: 1, y: 2}\nd:\n  <<: *b\n  y: 3\n")["d"])
print("custom tag:      ", torvex.loads("p: !point [1, 2]", tags={"!point": tuple}))
print("base 60 (1.1):   ", torvex.loads("at: 07:30:00\nfor: 1:30\n", option=torvex.OPT_PYYAML_COMPAT))
print("JSON emoji:      ", torvex.loads('{"e": "\\ud83d\\ude00"}'))

try:
    torvex.loads("servers:\n  - a\n  - [b\n")
except torvex.TorvexParseError as error:
    print("parse error:     ", error, f"(line {error.line}, column {error.column})")
    print("message alone:   ", error.msg)
for slip in ("url: http://host:80/x: y\n", "server:\n  host: a\n port: 80\n"):
    try:
        torvex.loads(slip)
    except torvex.TorvexParseError as error:
        print("slip named:      ", error)

# Schema checks: the modeline names the schema, schema="auto" hands its reference to
# schema_resolver, and a violation says where it is.
config_schema = {
    "type": "object",
    "required": ["name"],
    "properties": {"name": {"type": "string"}, "enabled": {"type": "boolean"}, "port": {"maximum": 65535}},
}
schemas = {"./config.schema.json": config_schema}
print("validated:       ", torvex.loads(config, schema="auto", schema_resolver=schemas.get))
try:
    torvex.loads(config + "port: 70000\n", schema="auto", schema_resolver=schemas.get)
except torvex.TorvexSchemaError as error:
    print("schema error:    ", error)
    print("                 ", error.schema_path, error.line, error.column)

# Writing: YAML or JSON as bytes; dates, enums, dataclasses, sets and more are converted on the way.

@dataclasses.dataclass
class Service:
    name: str
    ports: tuple
    started: datetime.datetime


service = Service("web", (80, 443), datetime.datetime(2024, 1, 2, 3, 4, 5))
print("dumps:\n" + torvex.dumps({"service": service, "note": None}, null_style="~").decode(), end="")
print("to_json:         ", torvex.to_json(service, option=torvex.OPT_NAIVE_UTC | torvex.OPT_UTC_Z).decode())
print("custom tag out:  ", torvex.dumps(torvex.TorvexTag("!point", [1, 2]), option=torvex.OPT_FLOW_STYLE))
print("round trip:      ", torvex.loads(torvex.dumps({"ports": {443, 80}})))

# Round-trip editing keeps comments and layout.
doc = torvex.loads(
    "# service settings\nserver:\n  host: example.org   # public name\n  port: 8080\n",
    option=torvex.OPT_ROUND_TRIP,
)
doc["server"]["port"] = 9090
doc["server"]["tags"] = ["web", "prod"]
host = doc.node["server"]["host"]
print("node:            ", host.value, "at line", host.line, "comment:", repr(host.comment))
doc.node["server"]["port"].comment = "changed by the demo"
doc.node["server"].comment_before = "the web server"
doc.node["server"].anchor = "web"
doc["backup"] = None
doc.node["backup"].make_alias("web")
print("edited:\n" + doc.to_yaml().decode(), end="")

# Documents and views are containers: keys of any type, iteration, items(), values(), kind.
codes = torvex.loads(b"200: ok\n404: {reason: missing}\nretry: [1, 2]\n", option=torvex.OPT_ROUND_TRIP)
print("kind and keys:   ", codes.kind, codes.keys(), 200 in codes, codes[200])
for key, value in codes.items():
    print("  item:          ", repr(key), value.kind if isinstance(value, torvex.TorvexDocumentView) else value)
codes[404]["reason"] = "gone"
print("by int key:      ", codes[404].to_dict(), list(codes["retry"]))

# New content takes the file's habits: its indentation, sequence style and quotes.
doc = torvex.loads(b"hall:\n    light: 'on'\n    sensors:\n        - door\n", option=torvex.OPT_ROUND_TRIP)
doc["hall"]["light"] = "off"
doc["hall"]["scenes"] = {"night": ["dim"]}
print("in its habits:\n" + doc.to_yaml().decode(), end="")

# A hand-written file: one value changed, every other byte as it was (trailing blanks, the blank line
# after `action:`, the empty commented value, the explicit key, the flow list over two lines).
hand = (b"action:   \n\n  - delay: 5   \npatreon: # your name\n? long-key\n: x\n"
        b"lights: [den,\n    hall]\n")
doc = torvex.loads(hand, option=torvex.OPT_ROUND_TRIP)
doc["action"][0]["delay"] = 10
doc["lights"][1] = "porch"
changed = [new for old, new in zip(hand.splitlines(), doc.to_yaml().splitlines()) if old != new]
print("lines changed:   ", [line.decode() for line in changed])

# A configuration tree: includes, secrets and environment variables.
with tempfile.TemporaryDirectory() as tmp:
    conf = Path(tmp)
    (conf / "automations" / "kitchen").mkdir(parents=True)
    (conf / "packages").mkdir()
    (conf / "secrets.yaml").write_text("db_password: s3cret\nmqtt_password: outer\n")
    (conf / "packages" / "secrets.yaml").write_text("mqtt_password: package-only\n")
    (conf / "packages" / "heating.yaml").write_text("mqtt: {password: !secret mqtt_password}\n")
    (conf / "automations" / "kitchen" / "lights.yaml").write_text("- alias: kitchen lights\n")
    (conf / "automations" / "door.yaml").write_text("- alias: hall door\n")
    root = conf / "configuration.yaml"
    root.write_text(
        "homeassistant:\n  name: Home\n  packages: !include_dir_named packages\n"
        "automation: !include_dir_merge_list automations\n"
        "database: !secret db_password\n"
        "http:\n  port: !env_var TORVEX_DEMO_PORT 8123\n"
        "mail: !env_var TORVEX_DEMO_MAIL\n"
    )
    os.environ.pop("TORVEX_DEMO_MAIL", None)
    options = torvex.OPT_INCLUDES | torvex.OPT_SECRETS | torvex.OPT_ENV_VAR | torvex.OPT_INCLUDE_DIR_RECURSIVE
    config = torvex.loads(root.read_bytes(), option=options, include_dir=str(conf), root_path=str(root),
                          on_missing_env_var=lambda name, file, line: print(f"unset:            {name} (line {line})"))
    print("config tree:     ", config)
    doc = torvex.loads(root.read_bytes(), option=options | torvex.OPT_ROUND_TRIP, include_dir=str(conf),
                       root_path=str(root), on_missing_env_var=lambda *args: None)
    node = doc.node["homeassistant"]["packages"]["heating"]["mqtt"]["password"]
    print("provenance:      ", node.is_secret, node.source_target, Path(node.file).relative_to(conf))
    doc["homeassistant"]["name"] = "Cottage"
    print("written back:\n" + doc.to_yaml().decode(), end="")

    # Editing a configuration tree and saving it: only the changed file is written.
    (conf / "sensors.yaml").write_text("# sensors\n- name: hall   # by the door\n  platform: template\n")
    (conf / "site.yaml").write_text("title: Home\nsensor: !include sensors.yaml\n")
    # load() takes the file's path as root_path, its folder as include_dir, and saves back to it.
    site = torvex.load(conf / "site.yaml", option=torvex.OPT_ROUND_TRIP | torvex.OPT_INCLUDES)
    site["sensor"][0]["name"] = "hallway"
    print("saved:           ", [Path(p).name for p in site.save()])
    print("sensors.yaml:\n" + (conf / "sensors.yaml").read_text(), end="")
    print("includes:        ", sorted(Path(p).name for p in torvex.dump_includes_map(site)))
    try:
        torvex.loads("x: !include ../elsewhere.yaml", option=options, include_dir=str(conf))
    except torvex.TorvexIncludeConfinementError as error:
        print("confined:        ", str(error).split(" in ")[0])

    # The command line on the same files: problems as FILE:LINE:COLUMN, edits that touch one line.
    def command(*args: str) -> str:
        here = {**os.environ, "PYTHONPATH": str(Path(torvex.__file__).parent.parent)}  # this torvex, from any cwd
        done = subprocess.run([sys.executable, "-m", "torvex", *args], cwd=conf, capture_output=True, text=True,
                              env=here)
        return f"exit {done.returncode}: {(done.stdout + done.stderr).strip()}"

    (conf / "broken.yaml").write_text("name: demo\nports: [80, 443\n")
    print("cli check:       ", command("check", "site.yaml", "broken.yaml"))
    print("cli set:         ", command("set", "--includes", ".", "site.yaml", "sensor[0].platform", "rest"))
    print("cli get:         ", command("get", "--includes", ".", "site.yaml", "sensor[0]"))
    print("sensors.yaml:\n" + (conf / "sensors.yaml").read_text(), end="")

with tempfile.TemporaryFile("w+") as out:
    torvex.dump({"written": "by dump"}, out)
    out.seek(0)
    print("dump to a file:  ", out.read().strip())

# Threads: every call runs on the caller's thread and shares nothing with the others, so loads and
# dumps run in parallel; on a free-threaded python3.14t the interpreter lock stays off.
with ThreadPoolExecutor(4) as pool:
    loaded = list(pool.map(torvex.loads, [f"worker: {n}\nitems: [{n}, {n * n}]\n" for n in range(8)]))
print("on threads:      ", loaded[3], "lock on:", sys._is_gil_enabled())

try:
    torvex.dumps(object())
except torvex.TorvexUnserializableError as error:
    print("unserializable:  ", error)
