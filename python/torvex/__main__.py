"""``python -m torvex``: see ``python -m torvex --help``."""

from torvex.cli import main

raise SystemExit(main())
