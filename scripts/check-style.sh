#!/usr/bin/env bash
# Checks the style of every C++ source: clang-format (the project's .clang-format, no difference
# allowed) and clang-tidy (the project's .clang-tidy, warnings are errors) over the compile
# database of a configured build, on all cores; then clang-tidy over the Windows-only sources
# from the windows preset's database (configured here when it is not), as the MinGW target.
# Usage: check-style.sh [--part linux|windows] [BUILD_DIR] (build/debug) [WINDOWS_BUILD_DIR]
# (build/windows). --part linux: clang-format and the Linux build's clang-tidy; --part windows:
# the Windows-only sources' clang-tidy alone (scripts/test-all.sh runs it beside the Wine tests).
set -euo pipefail
cd "$(dirname "$0")/.."
part=all
if [ "${1:-}" = --part ]; then
  part=$2
  shift 2
fi
build=${1:-build/debug}
windows_build=${2:-build/windows}
jobs=$(nproc)
start=$(date +%s)
linux_done=$start

# The project sources a build's database lists, less those another database lists.
project_sources() {
  python3 - "$@" <<'PY'
import json, os, sys
root = os.getcwd()
def sources(database):
    found = {}
    for entry in json.load(open(database)):
        path = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
        if path.startswith(root + "/") and "/build/" not in path[len(root):]:
            found.setdefault(path)
    return list(found)
checked = set(sources(sys.argv[2])) if len(sys.argv) > 2 else set()
print("\n".join(path for path in sources(sys.argv[1]) if path not in checked))
PY
}

if [ "$part" != windows ]; then
  echo "=== clang-format"
  git ls-files '*.h' '*.cpp' | xargs clang-format-14 --dry-run --Werror
  echo "=== clang-tidy ($jobs at a time)"
  project_sources "$build/compile_commands.json" > "$build/tidy-files.txt"
  xargs -P "$jobs" -n 4 clang-tidy-14 -p "$build" --quiet < "$build/tidy-files.txt"
  linux_done=$(date +%s)
  echo "=== style: clean ($(wc -l < "$build/tidy-files.txt") files through clang-tidy) in" \
    "$(( linux_done - start )) s"
fi
if [ "$part" = linux ]; then
  exit 0
fi

echo "=== clang-tidy over the Windows-only sources ($jobs at a time)"
if [ ! -f "$windows_build/compile_commands.json" ]; then
  cmake --preset windows >/dev/null
fi
# clang takes the MinGW target and its sysroot (/usr/x86_64-w64-mingw32) from the triple; the C++
# library is the MinGW compiler's libstdc++, which clang does not find under its "-posix" name.
cxx=$(python3 -c 'import json, shlex, sys
print(shlex.split(json.load(open(sys.argv[1]))[0]["command"])[0])' \
  "$windows_build/compile_commands.json")
mingw_args=(--extra-arg=--target=x86_64-w64-mingw32 --extra-arg=-nostdinc++)
while read -r folder; do
  mingw_args+=("--extra-arg=-isystem$folder")
done < <(echo | "$cxx" -xc++ -E -v - 2>&1 | sed -n '/^#include <...>/,/^End of search/p' |
         grep '/include/c++' | sed 's/^ *//')
# The program's own sources, not the Windows test suites: each Windows unit costs seconds of
# parsing (windows.h), and the suites' code is built with warnings as errors under Wine's tests.
project_sources "$windows_build/compile_commands.json" "$build/compile_commands.json" |
  grep -v "^$PWD/tests/" > "$build/tidy-files-windows.txt"
xargs -P "$jobs" -n 2 clang-tidy-14 -p "$windows_build" --quiet "${mingw_args[@]}" \
  < "$build/tidy-files-windows.txt"
echo "=== style: clean ($(wc -l < "$build/tidy-files-windows.txt") Windows-only files through" \
  "clang-tidy) in $(( $(date +%s) - linux_done )) s"
