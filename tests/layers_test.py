#!/usr/bin/env python3
"""No room of src/ includes a room above its own.

The rooms and their order are read from the drawing in docs/architecture.md
(its first code block: a line with a number starts a layer, a line without one
adds a room to the layer above it), so the page and this test cannot disagree.
Every #include "ROOM/..." of every file below src/ROOM/ is checked; a room of
src/ missing from the drawing fails too. Usage: layers_test.py SOURCE_DIR
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
page = (root / "docs" / "architecture.md").read_text(encoding="utf-8")
drawing = page.split("```")[1]
layers = {}
layer = None
for line in drawing.splitlines():
    found = re.match(r"^\s*(\d+)?\s+([a-z_]+)/\s", line)
    if not found:
        continue
    if found.group(1):
        layer = int(found.group(1))
    layers[found.group(2)] = layer

problems = []
if not layers:
    problems.append("docs/architecture.md: no rooms found in its drawing")
src = root / "src"
for folder in sorted(p for p in src.iterdir() if p.is_dir()):
    if folder.name not in layers:
        problems.append(f"src/{folder.name}/ is not in the drawing of docs/architecture.md")
for path in sorted(src.rglob("*")):
    parts = path.relative_to(src).parts
    if not path.is_file() or len(parts) < 2 or parts[0] not in layers:
        continue
    room = parts[0]
    text = path.read_text(encoding="utf-8", errors="replace")
    for number, line in enumerate(text.splitlines(), 1):
        include = re.match(r'\s*#\s*include\s+"([a-z_]+)/[^"]+"', line)
        if include and include.group(1) in layers and layers[include.group(1)] > layers[room]:
            problems.append(f"src/{'/'.join(parts)}:{number}: {line.strip()} reaches {include.group(1)}/ "
                            f"(layer {layers[include.group(1)]}) from {room}/ (layer {layers[room]})")

for problem in problems:
    print(problem)
print(f"{len(layers)} rooms in {len(set(layers.values()))} layers; {len(problems)} problems")
sys.exit(1 if problems else 0)
