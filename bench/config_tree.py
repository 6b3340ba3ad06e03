"""A generated configuration tree in the style of a home-automation setup, and a PyYAML-based loader for it.

`generate(root, seed, packages, areas, per_area)` writes a root `configuration.yaml` that pulls in packages
(`!include_dir_named`), automations split over one folder per area (`!include_dir_merge_list`, recursive),
scripts (`!include_dir_merge_named`), sensors (`!include_dir_list`), groups and customisations (`!include`),
with secrets at two levels (the root's `secrets.yaml` and one in `packages/`) and environment variables with
defaults. `PeerLoader` reads the same tree with PyYAML's CSafeLoader, the directives implemented as
constructors with the same rules; the benchmark compares against it and the tests check torvex against it.
"""

from __future__ import annotations

import os
import random
from pathlib import Path

import yaml

ROOT_NAME = "configuration.yaml"
# PyYAML's C loader; its pure-Python loader, which reads these files alike, where libyaml has no build (the
# free-threaded interpreter). The benchmark compares only against the C loader.
BASE_LOADER = yaml.CSafeLoader if yaml.__with_libyaml__ else yaml.SafeLoader


def _automation(rng: random.Random, area: str, n: int) -> str:
    entity = f"light.{area}_{n}"
    return (
        f"- id: '{area}-{n}-{rng.randrange(10**6)}'\n"
        f"  alias: {area.title()} lights {n}\n"
        f"  description: Turn the {area} lights on at dusk and off at night\n"
        f"  trigger:\n"
        f"    - platform: sun\n"
        f"      event: sunset\n"
        f"      offset: '-00:{rng.randrange(10, 59)}:00'\n"
        f"  condition:\n"
        f"    - condition: state\n"
        f"      entity_id: binary_sensor.{area}_occupied\n"
        f"      state: 'on'\n"
        f"  action:\n"
        f"    - service: light.turn_on\n"
        f"      target: {{entity_id: {entity}}}\n"
        f"      data: {{brightness_pct: {rng.randrange(10, 100)}, transition: {rng.randrange(1, 9)}}}\n"
        f"    - delay: {{minutes: {rng.randrange(1, 90)}}}\n"
        f"    - service: light.turn_off\n"
        f"      target: {{entity_id: {entity}}}\n"
        f"  mode: single\n"
    )


def generate(root: Path, seed: int = 0, packages: int = 20, areas: int = 8, per_area: int = 25) -> Path:
    """Writes the tree under `root`; returns the path of the root file."""
    rng = random.Random(seed)
    root.mkdir(parents=True, exist_ok=True)
    (root / "secrets.yaml").write_text(
        "logger: debug\nhome_latitude: 52.3731\nhome_longitude: 4.8922\nhttp_password: 'hunter2'\n"
        "mqtt_password: outer-mqtt\n" + "".join(f"api_key_{i}: key-{rng.randrange(10**9)}\n" for i in range(packages))
    )
    (root / "customize.yaml").write_text(
        "".join(f"light.room_{i}:\n  friendly_name: Room {i}\n  icon: mdi:lightbulb\n" for i in range(30))
    )
    (root / "groups.yaml").write_text(
        "".join(f"area_{i}:\n  name: Area {i}\n  entities: [light.a_{i}, light.b_{i}, switch.fan_{i}]\n"
                for i in range(areas))
    )
    pkg = root / "packages"
    pkg.mkdir(exist_ok=True)
    (pkg / "secrets.yaml").write_text("mqtt_password: package-mqtt\n")
    for i in range(packages):
        (pkg / f"pkg_{i:03d}.yaml").write_text(
            f"input_boolean:\n  guest_mode_{i}:\n    name: Guest mode {i}\n    initial: false\n"
            f"rest:\n  - resource: https://api.example.org/v1/{i}\n    headers:\n"
            f"      authorization: !secret api_key_{i}\n    scan_interval: {rng.randrange(30, 600)}\n"
            f"mqtt:\n  password: !secret mqtt_password\n  port: !env_var MQTT_PORT_{i} 1883\n"
            f"sensor:\n" + "".join(f"  - platform: template\n    name: pkg {i} sensor {j}\n"
                                   f"    value_template: '{{{{ states(\"sensor.s_{j}\") | float * 1.8 + 32 }}}}'\n"
                                   for j in range(5))
        )
    auto = root / "automations"
    for a in range(areas):
        area = f"area{a}"
        folder = auto / area
        folder.mkdir(parents=True, exist_ok=True)
        for n in range(per_area):
            (folder / f"{n:03d}_{area}.yaml").write_text(_automation(rng, area, n) + _automation(rng, area, n + 1000))
    scripts = root / "scripts"
    scripts.mkdir(exist_ok=True)
    for i in range(max(1, packages // 2)):
        (scripts / f"script_{i}.yaml").write_text(
            f"wake_up_{i}:\n  alias: Wake up {i}\n  sequence:\n    - service: media_player.play_media\n"
            f"      data: {{media_content_id: 'radio {i}', volume: 0.{rng.randrange(1, 9)}}}\n"
        )
    sensors = root / "sensors"
    sensors.mkdir(exist_ok=True)
    for i in range(max(1, packages // 2)):
        (sensors / f"sensor_{i}.yaml").write_text(
            f"platform: rest\nname: weather {i}\nresource: !env_var WEATHER_URL https://weather.example.org\n"
            f"unit_of_measurement: '°C'\nscan_interval: {rng.randrange(60, 900)}\n"
        )
    main = root / ROOT_NAME
    main.write_text(
        "# Home configuration\n"
        "homeassistant:\n"
        "  name: Home\n"
        "  latitude: !secret home_latitude\n"
        "  longitude: !secret home_longitude\n"
        "  time_zone: !env_var TORVEX_BENCH_TZ Europe/Amsterdam\n"
        "  customize: !include customize.yaml\n"
        "  packages: !include_dir_named packages\n"
        "http:\n"
        "  server_port: !env_var TORVEX_BENCH_PORT 8123\n"
        "  api_password: !secret http_password\n"
        "mqtt:\n"
        "  password: !secret mqtt_password\n"
        "automation: !include_dir_merge_list automations\n"
        "script: !include_dir_merge_named scripts\n"
        "sensor: !include_dir_list sensors\n"
        "group: !include groups.yaml\n"
    )
    return main


class PeerLoader:
    """PyYAML's CSafeLoader (BASE_LOADER) with the directives as constructors: every file read once per
    reference."""

    def __init__(self, include_dir: Path, recursive: bool = True):
        self.root = os.path.realpath(include_dir)
        self.recursive = recursive
        self.secrets: dict[str, dict] = {}
        loader = type("DirectiveLoader", (BASE_LOADER,), {})
        loader.add_constructor("!include", self._include)
        for tag in ("!include_dir_list", "!include_dir_named", "!include_dir_merge_list",
                    "!include_dir_merge_named"):
            loader.add_constructor(tag, self._include_dir)
        loader.add_constructor("!secret", self._secret)
        loader.add_constructor("!env_var", self._env_var)
        self.loader = loader

    def load(self, path: Path | str) -> object:
        return self._load_file(os.path.realpath(path), first_only=True)

    def _load_file(self, path: str, first_only: bool) -> object:
        with open(path, "rb") as f:
            loader = self.loader(f.read())
        loader.torvex_path = path
        try:
            if first_only:
                return loader.get_data() if loader.check_data() else {}
            docs = []
            while loader.check_data():
                docs.append(loader.get_data())
            return docs
        finally:
            loader.dispose()

    def _target(self, loader, node) -> str:
        return os.path.realpath(os.path.join(os.path.dirname(loader.torvex_path), loader.construct_scalar(node)))

    def _include(self, loader, node):
        return self._load_file(self._target(loader, node), first_only=True)

    def _files(self, top: str):
        stack = [top]
        while stack:
            folder = stack.pop()
            names = sorted(os.listdir(folder), key=os.fsencode)
            subdirs = []
            for name in names:
                if name.startswith("."):
                    continue
                path = os.path.join(folder, name)
                if os.path.isdir(path):
                    if self.recursive:
                        subdirs.append(path)
                    continue
                stem, dot, ext = name.rpartition(".")
                if not dot or not stem or ext not in ("yaml", "yml") or name == "secrets.yaml":
                    continue
                yield stem, path
            stack.extend(reversed(subdirs))

    def _include_dir(self, loader, node):
        tag, top = node.tag, self._target(loader, node)
        named = tag.endswith("named")
        merge = "merge" in tag
        result: dict | list = {} if named else []
        if not os.path.isdir(top):
            return result
        for stem, path in self._files(top):
            if named:
                value = self._load_file(path, first_only=True)
                if merge:
                    if isinstance(value, dict):
                        result.update(value)
                else:
                    result[stem] = value
                continue
            for doc in self._load_file(path, first_only=False):
                if merge and isinstance(doc, list):
                    result.extend(doc)
                else:
                    result.append(doc)
        return result

    def _secrets_of(self, folder: str) -> dict:
        if folder not in self.secrets:
            path = os.path.join(folder, "secrets.yaml")
            data = {}
            if os.path.isfile(path):
                with open(path, "rb") as f:
                    data = yaml.load(f.read(), Loader=BASE_LOADER) or {}
                data.pop("logger", None)
            self.secrets[folder] = data
        return self.secrets[folder]

    def _secret(self, loader, node):
        name = loader.construct_scalar(node)
        folder = os.path.dirname(loader.torvex_path)
        while True:
            secrets = self._secrets_of(folder)
            if name in secrets:
                return secrets[name]
            if folder == self.root or not folder.startswith(self.root):
                raise KeyError(name)
            folder = os.path.dirname(folder)

    def _env_var(self, loader, node):
        words = loader.construct_scalar(node).split()
        if not words:
            return ""
        value = os.environ.get(words[0])
        if value is None and len(words) > 1:
            return " ".join(words[1:])
        if value is None:
            raise KeyError(words[0])
        return value
