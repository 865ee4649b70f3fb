#!/usr/bin/env bash
# The core builds without a GUI toolkit: only src/frontends/wx/ may include
# wxWidgets, and only the frontends and the entry point include a frontend.
set -euo pipefail
src="${1:?source folder}"
bad=$(grep -rlE '#include[[:space:]]*<wx/' "$src" --include='*.cpp' --include='*.h' | grep -v '/frontends/wx/' || true)
if [[ -n "$bad" ]]; then
  echo "GUI toolkit included outside src/frontends/wx/:"; echo "$bad"; exit 1
fi
bad=$(grep -rlE '#include[[:space:]]*"frontends/' "$src" --include='*.cpp' --include='*.h' \
      | grep -vE '/frontends/|/main/' || true)
if [[ -n "$bad" ]]; then
  echo "core code includes a frontend:"; echo "$bad"; exit 1
fi
echo "layers ok"
