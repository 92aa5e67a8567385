#!/usr/bin/env python3
"""Fails on any #include in src/ that points up or across the layers.

Each top-level folder of src/ is a layer; a file may include its own layer and the layers below
it. base sits at the bottom; platform and channel stand side by side on it and never include each
other; ops stands on both, service on ops, host on service:

    base <- platform, channel <- ops <- service <- host

Usage: check_layers.py SRC_DIR. Prints one line per wrong include and exits 1 when there is any.
"""

import pathlib
import re
import sys

BELOW = {
    "base": set(),
    "platform": {"base"},
    "channel": {"base"},
    "ops": {"base", "platform", "channel"},
    "service": {"base", "platform", "channel", "ops"},
    "host": {"base", "platform", "channel", "ops", "service"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"/]+)/')


def main(src: pathlib.Path) -> int:
    wrong = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in BELOW:
            wrong.append(f"{path}: not in a layer ({', '.join(BELOW)})")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = match.group(1)
            if target != layer and target not in BELOW[layer]:
                wrong.append(f"{path}:{number}: {layer} includes {target}: {line.strip()}")
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "src")))
