"""Hand-written configuration files, generated: the layout people give home-automation
configurations (automations, dashboards, packages) rather than what a program writes.

Each file mixes the shapes such files have and a round-trip edit must leave alone:
comment blocks and blank lines (also after a `key:`), `key: # comment` above nested
content, trailing blanks, tabs in comments, CRLF line ends, anchors with extra spaces
before them, merge keys and aliases, explicit `? key` entries, flow collections spread
over several lines, block scalars with chomping and indentation indicators, deep
nesting, indented or indentless sequences and single or double quotes as the file's
own habit.

    corpus(seed, count) -> [(name, bytes)]    deterministic for a seed

Used by tests/python/test_roundtrip_edit_lines.py and bench/run.py.
"""

from __future__ import annotations

import random

ROOMS = ["kitchen", "living_room", "bedroom", "hallway", "garage", "office", "porch", "bathroom", "attic"]
DEVICES = ["light", "switch", "sensor", "binary_sensor", "climate", "cover", "media_player", "fan"]
WORDS = ("morning evening night away home motion door window temperature humidity lux battery "
         "notify alarm vacation guest sunset sunrise scene boost eco quiet").split()
SERVICES = ["light.turn_on", "light.turn_off", "switch.toggle", "notify.mobile_app_phone", "scene.turn_on",
            "climate.set_temperature", "cover.close_cover", "script.turn_on", "input_boolean.turn_off"]


class Style:
    """One file's habits: how it indents sequences, quotes, ends lines and spaces comments."""

    def __init__(self, rng: random.Random):
        self.indentless = rng.random() < 0.4  # `key:\n- item` rather than `key:\n  - item`
        self.quote = rng.choice(['"', "'"])
        self.crlf = rng.random() < 0.2
        self.comment_gap = rng.choice([1, 1, 2, 4])  # spaces before an inline `#`
        self.messy = rng.random() < 0.5  # trailing blanks, tabs in comments, blank lines after keys

    def seq_indent(self, indent: int) -> int:
        return indent if self.indentless else indent + 2


class Writer:
    def __init__(self, rng: random.Random, style: Style):
        self.rng = rng
        self.style = style
        self.lines: list[str] = []
        self.anchors: list[str] = []

    # -- small pieces ---------------------------------------------------------
    def word(self) -> str:
        return self.rng.choice(WORDS)

    def entity(self) -> str:
        return f"{self.rng.choice(DEVICES)}.{self.rng.choice(ROOMS)}_{self.word()}"

    def quoted(self, text: str) -> str:
        q = self.style.quote
        return f"{q}{text}{q}"

    def tail(self) -> str:
        """What may follow a value on its line: nothing, an inline comment, trailing blanks."""
        r = self.rng.random()
        if r < 0.12:
            gap = " " * self.style.comment_gap
            sep = "\t" if self.style.messy and self.rng.random() < 0.3 else " "
            return f"{gap}#{sep}{self.word()} {self.word()}"
        if r < 0.17 and self.style.messy:
            return self.rng.choice([" ", "  ", "\t"])
        return ""

    def scalar(self) -> str:
        r = self.rng.random()
        if r < 0.2:
            return str(self.rng.randint(0, 300))
        if r < 0.3:
            return f"{self.rng.uniform(0, 40):.1f}"
        if r < 0.4:
            return self.rng.choice(["true", "false", "'on'", "'off'", '"on"'])
        if r < 0.55:
            return self.quoted(f"{self.word()} {self.word()}")
        if r < 0.65:
            return self.quoted("{{ states('" + self.entity() + "') }}") if self.style.quote == '"' else \
                "\"{{ is_state('" + self.entity() + "', 'on') }}\""
        if r < 0.75:
            return f"'{self.rng.randint(0, 23):02d}:{self.rng.choice(['00', '15', '30', '45'])}:00'"
        if r < 0.85:
            return self.entity()
        return f"{self.word()} {self.word()} {self.word()}"

    def put(self, indent: int, text: str) -> None:
        self.lines.append(" " * indent + text)

    def blank(self, chance: float = 0.2) -> None:
        if self.rng.random() < chance:
            self.lines.append("  " if self.style.messy and self.rng.random() < 0.2 else "")

    def comment(self, indent: int, chance: float = 0.15) -> None:
        if self.rng.random() < chance:
            sep = "\t" if self.style.messy and self.rng.random() < 0.2 else " "
            self.put(indent, f"#{sep}{self.word()} {self.word()} {self.word()}")

    def key_open(self, indent: int, key: str) -> None:
        """`key:` above nested content, sometimes with a comment or a blank line after it."""
        r = self.rng.random()
        if r < 0.1:
            self.put(indent, f"{key}: # {self.word()} {self.word()}")
        elif r < 0.15:
            self.put(indent, f"{key}:  # {self.word()}")
        else:
            self.put(indent, f"{key}:")
        if self.style.messy and self.rng.random() < 0.1:
            self.lines.append("")

    # -- structures -----------------------------------------------------------
    def mapping(self, indent: int, depth: int, size: int) -> None:
        for _ in range(size):
            self.comment(indent, 0.08)
            key = f"{self.word()}_{self.rng.randint(0, 99)}"
            r = self.rng.random()
            if depth > 0 and r < 0.3:
                self.key_open(indent, key)
                self.mapping(indent + 2, depth - 1, self.rng.randint(1, 3))
            elif depth > 0 and r < 0.4:
                self.key_open(indent, key)
                self.sequence(self.style.seq_indent(indent), depth - 1, self.rng.randint(1, 3))
            elif r < 0.47:
                self.flow_value(indent, key)
            elif r < 0.52:
                self.block_scalar(indent, key)
            else:
                self.put(indent, f"{key}: {self.scalar()}{self.tail()}")

    def sequence(self, indent: int, depth: int, size: int) -> None:
        for _ in range(size):
            r = self.rng.random()
            if depth > 0 and r < 0.35:
                # `- key: value` with the rest of the mapping below it
                first = f"{self.word()}: {self.scalar()}{self.tail()}"
                self.put(indent, f"- {first}")
                self.mapping(indent + 2, depth - 1, self.rng.randint(0, 2))
            else:
                self.put(indent, f"- {self.scalar()}{self.tail()}")

    def flow_value(self, indent: int, key: str) -> None:
        items = [self.entity() for _ in range(self.rng.randint(2, 5))]
        if self.rng.random() < 0.5:
            self.put(indent, f"{key}: [{', '.join(items)}]{self.tail()}")
            return
        # spread over lines, as people wrap long lists
        self.put(indent, f"{key}: [")
        for i, item in enumerate(items):
            self.put(indent + 4, item + ("," if i + 1 < len(items) else ""))
        self.put(indent + 2, "]")

    def flow_mapping_lines(self, indent: int, key: str) -> None:
        self.put(indent, f"{key}: {{")
        pairs = [(self.word(), self.scalar()) for _ in range(self.rng.randint(2, 4))]
        for i, (k, v) in enumerate(pairs):
            self.put(indent + 2, f"{k}_{i}: {v}" + ("," if i + 1 < len(pairs) else ""))
        self.put(indent + 2, "}")

    def block_scalar(self, indent: int, key: str) -> None:
        indicator = self.rng.choice(["|", ">", "|-", ">-", "|+", "|2", ">2-"])
        self.put(indent, f"{key}: {indicator}")
        body_indent = indent + 2
        extra = " " if indicator[1:2] == "2" and self.rng.random() < 0.5 else ""
        for _ in range(self.rng.randint(1, 4)):
            self.put(body_indent, extra + "{% if is_state('" + self.entity() + "', 'on') %}" if
                     self.rng.random() < 0.3 else extra + f"{self.word()} {self.word()} {self.word()}")
        if indicator.endswith("+"):
            self.lines.append("")

    def anchored(self, indent: int, key: str) -> None:
        name = f"{self.word()}_{len(self.anchors)}"
        gap = "  " if self.rng.random() < 0.4 else " "
        self.put(indent, f"{key}:{gap}&{name}")
        self.mapping(indent + 2, 0, self.rng.randint(2, 3))
        self.anchors.append(name)

    # -- file kinds -----------------------------------------------------------
    def automations(self) -> None:
        self.put(0, f"# automations for the {self.rng.choice(ROOMS)}")
        self.lines.append("")
        step = 0 if self.style.indentless else 2
        for n in range(self.rng.randint(2, 5)):
            self.comment(0, 0.4)
            self.put(0, f"- id: '{self.rng.randint(10 ** 11, 10 ** 12)}'")
            self.put(2, f"alias: {self.word().title()} {self.word()} {n}")
            self.put(2, f"description: {self.quoted(self.word() + ' ' + self.word())}")
            if self.rng.random() < 0.3:
                self.put(2, "mode: single")
            self.key_open(2, "trigger")
            self.put(2 + step, f"- platform: state{self.tail()}")
            self.put(4 + step, f"entity_id: {self.entity()}")
            self.put(4 + step, f"to: {self.quoted('on')}")
            if self.rng.random() < 0.3:
                self.put(4 + step, "for:")
                self.put(6 + step, f"minutes: {self.rng.randint(1, 30)}")
            self.key_open(2, "condition")
            if self.rng.random() < 0.3:
                self.put(2 + step, "- condition: template")
                self.put(4 + step, "value_template: >-")
                self.put(6 + step, "{{ states('" + self.entity() + "') | float(0) > " +
                         str(self.rng.randint(0, 40)) + " }}")
            else:
                self.put(2 + step, f"- condition: time{self.tail()}")
                self.put(4 + step, f"after: {self.scalar()}")
            self.key_open(2, "action")
            for _ in range(self.rng.randint(1, 3)):
                self.put(2 + step, f"- service: {self.rng.choice(SERVICES)}")
                if self.rng.random() < 0.5:
                    self.put(4 + step, f"target:")
                    self.put(6 + step, f"entity_id: {self.entity()}{self.tail()}")
                if self.rng.random() < 0.4:
                    self.put(4 + step, "data:")
                    self.mapping(6 + step, 1, self.rng.randint(1, 3))
            self.blank(0.7)

    def dashboard(self) -> None:
        self.put(0, f"title: {self.word().title()} home")
        self.comment(0, 0.5)
        self.key_open(0, "views")
        ind = self.style.seq_indent(0)
        for _ in range(self.rng.randint(1, 3)):
            self.put(ind, f"- title: {self.word().title()}")
            self.put(ind + 2, f"path: {self.word()}")
            self.put(ind + 2, f"icon: mdi:{self.word()}")
            self.key_open(ind + 2, "cards")
            self.cards(self.style.seq_indent(ind + 2), 3)
            self.blank(0.5)

    def cards(self, indent: int, depth: int) -> None:
        for _ in range(self.rng.randint(1, 3)):
            r = self.rng.random()
            if depth > 0 and r < 0.35:
                self.put(indent, f"- type: {self.rng.choice(['vertical-stack', 'horizontal-stack', 'grid'])}")
                if self.rng.random() < 0.3:
                    self.put(indent + 2, f"columns: {self.rng.randint(1, 4)}")
                self.key_open(indent + 2, "cards")
                self.cards(self.style.seq_indent(indent + 2), depth - 1)
            elif r < 0.6:
                self.put(indent, f"- type: entities{self.tail()}")
                self.put(indent + 2, f"title: {self.scalar()}")
                self.key_open(indent + 2, "entities")
                inner = self.style.seq_indent(indent + 2)
                for _ in range(self.rng.randint(1, 4)):
                    if self.rng.random() < 0.3:
                        self.put(inner, f"- entity: {self.entity()}")
                        self.put(inner + 2, f"name: {self.scalar()}{self.tail()}")
                    else:
                        self.put(inner, f"- {self.entity()}{self.tail()}")
            elif r < 0.75:
                self.put(indent, "- type: markdown")
                self.block_scalar(indent + 2, "content")
            elif r < 0.88:
                self.put(indent, "- type: glance")
                self.flow_value(indent + 2, "entities")
            else:
                self.put(indent, f"- type: thermostat")
                self.put(indent + 2, f"entity: {self.entity()}")
                self.flow_mapping_lines(indent + 2, "card_mod")

    def package(self) -> None:
        self.put(0, f"# package: {self.word()} {self.word()}")
        self.anchored(0, "homeassistant")
        self.put(2, "customize:")
        self.put(4, f"{self.entity()}:")
        self.put(6, f"friendly_name: {self.quoted(self.word().title())}")
        self.lines.append("")
        self.key_open(0, "input_boolean")
        for _ in range(self.rng.randint(1, 3)):
            self.put(2, f"{self.word()}_{self.word()}:")
            self.put(4, f"name: {self.scalar()}{self.tail()}")
            self.put(4, f"icon: mdi:{self.word()}")
        self.blank(0.8)
        if self.anchors and self.rng.random() < 0.7:
            self.put(0, f"defaults: &base{self.tail()}")
            self.put(2, f"delay: {self.rng.randint(1, 60)}")
            self.put(2, f"retries: {self.rng.randint(1, 5)}")
            self.put(0, "sensor_config:")
            self.put(2, "<<: *base")
            self.put(2, f"delay: {self.rng.randint(61, 90)}")
            self.put(0, f"copy: *{self.anchors[-1]}")
        if self.rng.random() < 0.5:
            self.put(0, f"? {self.word()}_{self.word()}")
            self.put(0, f": {self.scalar()}")
        self.key_open(0, "template")
        ind = self.style.seq_indent(0)
        self.put(ind, "- sensor:")
        inner = self.style.seq_indent(ind + 2)
        for _ in range(self.rng.randint(1, 3)):
            self.put(inner, f"- name: {self.quoted(self.word().title() + ' ' + self.word())}")
            self.put(inner + 2, f"unit_of_measurement: {self.quoted('°C')}")
            self.block_scalar(inner + 2, "state")
            if self.rng.random() < 0.4:
                self.put(inner + 2, "attributes:")
                self.mapping(inner + 4, 2, self.rng.randint(1, 3))
        self.blank(0.5)
        self.key_open(0, "script")
        self.mapping(2, 4, self.rng.randint(2, 4))

    def text(self) -> bytes:
        body = "\n".join(self.lines) + "\n"
        return body.replace("\n", "\r\n").encode() if self.style.crlf else body.encode()


def one_file(rng: random.Random, kind: str) -> bytes:
    w = Writer(rng, Style(rng))
    getattr(w, kind)()
    return w.text()


def corpus(seed: int, count: int) -> list[tuple[str, bytes]]:
    """`count` files in the hand-written style, named by kind and number; the same for a seed."""
    rng = random.Random(seed)
    kinds = ["automations", "dashboard", "package"]
    return [(f"{kinds[i % 3]}-{i}.yaml", one_file(rng, kinds[i % 3])) for i in range(count)]
