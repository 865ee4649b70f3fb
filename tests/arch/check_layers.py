#!/usr/bin/env python3
"""The layer order of src/: a library includes only itself and the libraries
below it, and only src/frontends/wx/ includes the GUI toolkit.

    platform <- common <- settings, zip, net <- app <- frontends/* <- main
"""
import pathlib
import re
import sys

LAYERS = [["platform"], ["common"], ["settings", "zip", "net"], ["app"],
          ["frontends/console", "frontends/wx"], ["main"]]
BELOW = {lib: {low for lower in LAYERS[:i] for low in lower} for i, layer in enumerate(LAYERS)
         for lib in layer}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def library_of(relative):
    parts = relative.parts
    return "/".join(parts[:2]) if parts[0] == "frontends" else parts[0]


def main(src):
    root = pathlib.Path(src)
    problems = []
    for path in sorted(list(root.rglob("*.cpp")) + list(root.rglob("*.h"))):
        relative = path.relative_to(root)
        if len(relative.parts) < 2:
            continue
        own = library_of(relative)
        allowed = BELOW.get(own)
        if allowed is None:
            problems.append("%s: the library %s has no place in the layer order" % (relative, own))
            continue
        for kind, name in INCLUDE.findall(path.read_text("utf-8", "replace")):
            if kind == "<" and name.startswith("wx/") and own != "frontends/wx":
                problems.append("%s: includes the GUI toolkit (%s)" % (relative, name))
            if kind != '"' or "/" not in name:
                continue
            target = library_of(pathlib.PurePosixPath(name))
            if target != own and target in BELOW and target not in allowed:
                problems.append("%s (%s) includes %s (%s)" % (relative, own, name, target))
    print("\n".join(problems) or "layers ok")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "src"))
