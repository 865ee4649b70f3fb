#!/usr/bin/env bash
# The core builds without a GUI toolkit: only src/ui/wx/ may include wxWidgets,
# and the core never includes a frontend.
set -euo pipefail
src="${1:?source folder}"
bad=$(grep -rlE '#include[[:space:]]*<wx/' "$src" --include='*.cpp' --include='*.h' | grep -v '/ui/wx/' || true)
if [[ -n "$bad" ]]; then
  echo "GUI toolkit included outside src/ui/wx/:"; echo "$bad"; exit 1
fi
bad=$(grep -rlE '#include[[:space:]]*"ui/(console|wx)/' "$src" --include='*.cpp' --include='*.h' \
      | grep -vE '/ui/(console|wx)/|/startup/main\.cpp$' || true)
if [[ -n "$bad" ]]; then
  echo "core code includes a frontend:"; echo "$bad"; exit 1
fi
echo "layers ok"
