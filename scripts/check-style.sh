#!/usr/bin/env bash
# Checks the style of every C++ source: clang-format (the project's .clang-format, no difference
# allowed) and clang-tidy (the project's .clang-tidy, warnings are errors) over the compile
# database of a configured build, on all cores. Usage: check-style.sh [BUILD_DIR] (build/debug).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/debug}
jobs=$(nproc)
start=$(date +%s)

echo "=== clang-format"
git ls-files '*.h' '*.cpp' | xargs clang-format-14 --dry-run --Werror

echo "=== clang-tidy ($jobs at a time)"
# Every project source the build compiles (the Windows-only files are not in a Linux build's
# database; the Windows build is compiled with warnings as errors instead).
python3 - "$build/compile_commands.json" > "$build/tidy-files.txt" <<'PY'
import json, os, sys
root = os.getcwd()
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
    if path.startswith(root + "/") and "/build/" not in path[len(root):] and path not in seen:
        seen.add(path)
        print(path)
PY
xargs -P "$jobs" -n 4 clang-tidy-14 -p "$build" --quiet < "$build/tidy-files.txt"
echo "=== style: clean ($(wc -l < "$build/tidy-files.txt") files through clang-tidy) in $(( $(date +%s) - start )) s"
