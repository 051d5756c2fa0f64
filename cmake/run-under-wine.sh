#!/bin/sh
# Runs a Windows program under Wine for CTest: PREFIX is a Wine prefix of the build's own, made on
# first use without asking for Mono or Gecko. Quiet Wine, the program's exit code passed on; a
# failing one is also said, since a program that Wine could not start says nothing else.
# Usage: run-under-wine.sh PREFIX PROGRAM [ARGUMENTS...]
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine64
"$wine" "$@"
status=$?
[ "$status" -eq 0 ] || echo "run-under-wine.sh: $1 ended with exit status $status" >&2
exit "$status"
