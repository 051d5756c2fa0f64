#!/bin/sh
# Runs a libFuzzer target for CTest.
#   run_fuzzer.sh replay FUZZER CORPUS...   every input of the corpora once; a finding fails
#   run_fuzzer.sh runs N FUZZER CORPUS...   N runs from seed 1, starting from the corpora; the new
#                                           inputs go to a scratch folder, never into the corpora
set -eu
mode=$1
shift
if [ "$mode" = replay ]; then
  fuzzer=$1
  shift
  exec "$fuzzer" -runs=0 "$@"
fi
runs=$1
fuzzer=$2
shift 2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$fuzzer" -seed=1 -runs="$runs" -max_len=4096 -timeout=25 "$scratch" "$@"
