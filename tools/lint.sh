#!/usr/bin/env bash
# Formatting and clang-tidy over the tree; CI runs it after the tests (it reads
# the debug build's compile database). The *_win.cpp siblings are not in that
# database: the Windows build's -Werror checks them.
set -euo pipefail
cd "$(dirname "$0")/.."
db=build/debug/compile_commands.json
[[ -f $db ]] || { echo "lint: $db is missing; run ./run test first" >&2; exit 2; }

git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format --dry-run -Werror
echo "lint: clang-format clean"

python3 - "$db" <<'PY' | xargs -P "$(nproc)" -n 4 clang-tidy -p build/debug --quiet
import json, os, sys
root = os.getcwd() + "/"
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    rel = path[len(root):] if path.startswith(root) else ""
    if rel.startswith(("src/", "tools/")) and rel not in seen:
        seen.add(rel)
        print(rel)
PY
echo "lint: clang-tidy clean"
