"""Generate the benchmark data into bench/data/ (deterministic: same bytes on every run).

Files, about 6 MB in all:
  config.yaml   service configuration documents: nested block mappings, lists, comments, anchors
  openapi.yaml  an API description in the style of OpenAPI: paths, operations, schemas
  flow.yaml     flow-style records and matrices ({...} and [...] on one or a few lines)
  strings.yaml  long plain, single-quoted and double-quoted strings, some with escapes and folding
  blocks.yaml   literal and folded block scalars of varied length and chomping

Every value is JSON-representable (strings, integers, floats, booleans, null), so later comparisons can use
the JSON form of the same data. Run with the project's Python: python3.14 bench/generate_data.py [--out DIR]
"""

from __future__ import annotations

import argparse
import json
import random
from pathlib import Path

WORDS = (
    "alpha beta gamma delta epsilon zeta theta kappa lambda sigma omega service cluster node region zone "
    "primary replica cache queue worker scheduler gateway ingress backend frontend storage volume metrics "
    "logging tracing timeout retry limit request response payload header token session account order "
    "invoice customer product inventory shipment address country currency amount status created updated"
).split()

UNICODE_WORDS = ["café", "naïve", "Zürich", "São Paulo", "東京", "данные", "χρόνος", "日本語テキスト", "emoji 🚀"]


def word(rng: random.Random) -> str:
    return rng.choice(WORDS)


def sentence(rng: random.Random, lo: int, hi: int, unicode_share: float = 0.05) -> str:
    parts = []
    for _ in range(rng.randint(lo, hi)):
        parts.append(rng.choice(UNICODE_WORDS) if rng.random() < unicode_share else word(rng))
    return " ".join(parts)


def ident(rng: random.Random) -> str:
    return f"{word(rng)}_{word(rng)}"


def scalar_text(rng: random.Random) -> str:
    """A plain scalar value as it appears in configuration files."""
    r = rng.random()
    if r < 0.25:
        return str(rng.randint(0, 100000))
    if r < 0.35:
        return f"{rng.uniform(0, 1000):.3f}"
    if r < 0.45:
        return rng.choice(["true", "false"])
    if r < 0.5:
        return "null"
    if r < 0.6:
        return f"{word(rng)}.example.com"
    if r < 0.7:
        return f"/var/lib/{word(rng)}/{word(rng)}.conf"
    return sentence(rng, 1, 6)


# ---------------------------------------------------------------------------
# config.yaml


def config_document(rng: random.Random, index: int) -> str:
    name = f"{ident(rng)}-{index}"
    lines = [
        "---",
        f"# configuration for {name}",
        "apiVersion: apps/v1",
        "kind: Deployment",
        "metadata:",
        f"  name: {name}",
        f"  namespace: {word(rng)}",
        "  labels:",
    ]
    for _ in range(rng.randint(2, 5)):
        lines.append(f"    {word(rng)}.example.com/{word(rng)}: {word(rng)}")
    lines += [
        "  annotations:",
        f"    description: \"{sentence(rng, 4, 12)}\"",
        "deployment:",
        f"  replicas: {rng.randint(1, 12)}",
        "  defaults: &defaults",
        f"    timeout: {rng.randint(1, 120)}s",
        f"    retries: {rng.randint(0, 9)}",
        f"    verbose: {rng.choice(['true', 'false'])}",
        "  template:",
        "    pod:",
        "      containers:",
    ]
    for c in range(rng.randint(1, 4)):
        lines += [
            f"        - name: {word(rng)}-{c}",
            f"          image: registry.example.com/{word(rng)}/{word(rng)}:{rng.randint(1, 9)}.{rng.randint(0, 30)}.{rng.randint(0, 99)}",
            "          ports:",
        ]
        for _ in range(rng.randint(1, 3)):
            lines += [
                f"            - containerPort: {rng.randint(1024, 65535)}",
                f"              protocol: {rng.choice(['TCP', 'UDP'])}",
            ]
        lines.append("          env:")
        for _ in range(rng.randint(2, 8)):
            lines += [
                f"            - name: {word(rng).upper()}_{word(rng).upper()}",
                f"              value: '{scalar_text(rng)}'",
            ]
        lines += [
            "          resources:",
            f"            limits: {{cpu: {rng.randint(100, 4000)}m, memory: {rng.randint(64, 8192)}Mi}}",
            f"            requests: {{cpu: {rng.randint(50, 2000)}m, memory: {rng.randint(32, 4096)}Mi}}",
            "          settings:",
            f"            mode: {word(rng)}",
            "            fallback: *defaults",
            f"            threshold: {rng.uniform(0, 1):.4f}  # tuned {rng.randint(1, 28)}.{rng.randint(1, 12)}.",
        ]
    lines.append("  features:")
    for _ in range(rng.randint(3, 10)):
        lines.append(f"    {ident(rng)}: {scalar_text(rng)}")
    lines.append("  hosts:")
    for _ in range(rng.randint(2, 6)):
        lines.append(f"  - {word(rng)}-{rng.randint(1, 99)}.{word(rng)}.example.com")
    return "\n".join(lines) + "\n"


def make_config(rng: random.Random, size: int) -> str:
    out, total, i = [], 0, 0
    while total < size:
        doc = config_document(rng, i)
        out.append(doc)
        total += len(doc.encode())
        i += 1
    return "".join(out)


# ---------------------------------------------------------------------------
# openapi.yaml


def schema_block(rng: random.Random, indent: int, depth: int) -> list[str]:
    pad = " " * indent
    lines = [f"{pad}type: object", f"{pad}required: [{', '.join(word(rng) for _ in range(rng.randint(1, 3)))}]",
             f"{pad}properties:"]
    for _ in range(rng.randint(2, 7)):
        prop = ident(rng)
        lines.append(f"{pad}  {prop}:")
        kind = rng.random()
        if depth < 2 and kind < 0.2:
            lines += schema_block(rng, indent + 4, depth + 1)
        elif kind < 0.4:
            lines += [f"{pad}    type: array", f"{pad}    items:", f"{pad}      type: {rng.choice(['string', 'integer'])}"]
        else:
            lines.append(f"{pad}    type: {rng.choice(['string', 'integer', 'number', 'boolean'])}")
            if rng.random() < 0.5:
                lines.append(f"{pad}    description: {sentence(rng, 3, 10)}")
            if rng.random() < 0.3:
                lines.append(f"{pad}    example: {scalar_text(rng)}")
    return lines


def make_openapi(rng: random.Random, size: int) -> str:
    lines = [
        "openapi: 3.0.3",
        "info:",
        "  title: Example Commerce API",
        "  version: 2.4.1",
        "  description: >",
        "    Operations on accounts, orders, products and shipments.",
        "    Every response carries a request identifier.",
        "servers:",
        "  - url: https://api.example.com/v2",
        "  - url: https://staging.example.com/v2",
        "paths:",
    ]
    total = sum(len(x) + 1 for x in lines)
    n = 0
    schemas: list[str] = []
    while total < size * 0.7:
        resource = f"{word(rng)}s"
        path = f"/{resource}/{{{word(rng)}Id}}/{word(rng)}-{n}"
        block = [f"  {path}:"]
        for method in rng.sample(["get", "put", "post", "delete", "patch"], rng.randint(1, 3)):
            schema = f"{word(rng).capitalize()}{word(rng).capitalize()}{n}"
            schemas.append(schema)
            block += [
                f"    {method}:",
                f"      operationId: {method}{resource.capitalize()}{n}",
                f"      summary: {sentence(rng, 3, 8)}",
                f"      tags: [{word(rng)}, {word(rng)}]",
                "      parameters:",
                f"        - name: {word(rng)}Id",
                "          in: path",
                "          required: true",
                "          schema: {type: string, format: uuid}",
                f"        - name: {word(rng)}",
                "          in: query",
                f"          schema: {{type: integer, minimum: 0, maximum: {rng.randint(10, 1000)}}}",
                "      responses:",
                "        '200':",
                f"          description: \"{sentence(rng, 2, 6)}\"",
                "          content:",
                "            application/json:",
                "              schema:",
                f"                $ref: '#/components/schemas/{schema}'",
                "        '404':",
                "          description: not found",
            ]
        n += 1
        total += sum(len(x.encode()) + 1 for x in block)
        lines += block
    lines += ["components:", "  schemas:"]
    for schema in schemas:
        if total >= size:
            break
        block = [f"    {schema}:"] + schema_block(rng, 6, 0)
        total += sum(len(x.encode()) + 1 for x in block)
        lines += block
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# flow.yaml


def flow_value(rng: random.Random, depth: int = 0):
    r = rng.random()
    if depth < 2 and r < 0.15:
        return {ident(rng): flow_value(rng, depth + 1) for _ in range(rng.randint(1, 4))}
    if depth < 2 and r < 0.3:
        return [flow_value(rng, depth + 1) for _ in range(rng.randint(1, 5))]
    if r < 0.55:
        return rng.randint(-100000, 100000)
    if r < 0.65:
        return round(rng.uniform(-1000, 1000), 4)
    if r < 0.7:
        return rng.choice([True, False, None])
    return sentence(rng, 1, 4)


def flow_text(value) -> str:
    if isinstance(value, dict):
        return "{" + ", ".join(f"{k}: {flow_text(v)}" for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(flow_text(v) for v in value) + "]"
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    return json.dumps(value)


def make_flow(rng: random.Random, size: int) -> str:
    lines = ["# flow-style records", "records:"]
    total = 0
    i = 0
    while total < size * 0.6:
        rec = {"id": i, "name": sentence(rng, 1, 3), "tags": [word(rng) for _ in range(rng.randint(0, 4))],
               "score": round(rng.uniform(0, 100), 2), "active": rng.random() < 0.5,
               "attrs": {ident(rng): flow_value(rng) for _ in range(rng.randint(1, 5))}}
        line = f"  - {flow_text(rec)}"
        lines.append(line)
        total += len(line.encode()) + 1
        i += 1
    lines.append("matrix:")
    while total < size:
        row = "[" + ", ".join(str(rng.randint(-999, 999)) for _ in range(24)) + "]"
        line = f"  - {row}"
        lines.append(line)
        total += len(line) + 1
    lines.append("multiline: {")
    for _ in range(200):
        lines.append(f"    {ident(rng)}: [{rng.randint(0, 9)}, {rng.randint(0, 9)},")
        lines.append(f"      {rng.randint(0, 9)}],")
    lines.append("  }")
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# strings.yaml


def make_strings(rng: random.Random, size: int) -> str:
    lines = ["strings:"]
    total = 0
    i = 0
    while total < size:
        kind = i % 5
        key = f"  text_{i}:"
        if kind == 0:  # one long plain line
            lines.append(f"{key} {sentence(rng, 20, 60, 0.1)}")
        elif kind == 1:  # single-quoted with doubled quotes
            text = sentence(rng, 10, 40, 0.1).replace(" gamma ", " it''s ")
            lines.append(f"{key} '{text}'")
        elif kind == 2:  # double-quoted with escapes
            text = sentence(rng, 10, 40, 0.1).replace(" beta ", " \\t ").replace(" delta ", " \\\"q\\\" ")
            lines.append(f"{key} \"{text}\\n\"")
        elif kind == 3:  # multi-line plain, folded
            lines.append(f"{key} {sentence(rng, 5, 12)}")
            for _ in range(rng.randint(1, 4)):
                lines.append(f"    {sentence(rng, 5, 12)}")
        else:  # multi-line double-quoted
            lines.append(f"{key} \"{sentence(rng, 5, 12)}")
            for _ in range(rng.randint(1, 3)):
                lines.append(f"    {sentence(rng, 5, 12)}")
            lines[-1] += "\""
        total += len(lines[-1].encode()) + 1 + (0 if kind < 3 else 60 * 3)
        i += 1
    return "\n".join(lines) + "\n"


# ---------------------------------------------------------------------------
# blocks.yaml


def make_blocks(rng: random.Random, size: int) -> str:
    lines = ["documents:"]
    total = 0
    i = 0
    while total < size:
        style = rng.choice(["|", ">", "|-", ">+", "|+", ">-"])
        lines.append(f"  - title: {sentence(rng, 2, 5)}")
        lines.append(f"    body: {style}")
        start = len(lines)
        for p in range(rng.randint(1, 4)):
            for _ in range(rng.randint(1, 8)):
                lines.append(f"      {sentence(rng, 6, 14, 0.08)}")
            if rng.random() < 0.3:
                lines.append(f"        {sentence(rng, 2, 6)}")
            lines.append("")
        if style.endswith("+"):
            lines.append("")
        total += sum(len(x.encode()) + 1 for x in lines[start - 2:])
        i += 1
    return "\n".join(lines) + "\n"


FILES = {
    "config.yaml": (make_config, 1_600_000),
    "openapi.yaml": (make_openapi, 1_400_000),
    "flow.yaml": (make_flow, 1_200_000),
    "strings.yaml": (make_strings, 900_000),
    "blocks.yaml": (make_blocks, 900_000),
}


def generate(out: Path) -> list[Path]:
    out.mkdir(parents=True, exist_ok=True)
    written = []
    for seed, (name, (make, size)) in enumerate(FILES.items()):
        rng = random.Random(20261207 + seed)
        path = out / name
        path.write_text(make(rng, size), encoding="utf-8")
        written.append(path)
    return written


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "data")
    args = parser.parse_args()
    paths = generate(args.out)
    total = sum(p.stat().st_size for p in paths)
    for p in paths:
        print(f"{p.name}: {p.stat().st_size:,} bytes")
    print(f"total: {total:,} bytes")


if __name__ == "__main__":
    main()
