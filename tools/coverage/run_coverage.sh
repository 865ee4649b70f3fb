#!/usr/bin/env bash
# Line and branch coverage of the whole test suite: an instrumented build of its
# own (build/coverage), every ctest case, then gcovr's HTML report and a summary
# per library and per file. Branches that only exist for thrown exceptions and
# branches the compiler proved unreachable are left out of the figures.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=build/coverage
cmake --preset coverage >/dev/null
cmake --build --preset coverage -j "${TALVANE_JOBS:-$(nproc)}"
find "$build" -name '*.gcda' -delete
ctest --preset coverage -j "${TALVANE_JOBS:-$(nproc)}" || echo "coverage: some tests failed; figures are still written" >&2
mkdir -p "$build/html"
gcovr --root . --object-directory "$build" --filter 'src/' --filter 'tools/' \
  --exclude 'tools/fuzz/' --exclude 'tools/bench/' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --html-details "$build/html/index.html" --json-summary "$build/summary.json" \
  --json-summary-pretty --print-summary
python3 tools/coverage/summarize.py "$build/summary.json" "$@"
echo "HTML report: $build/html/index.html"
