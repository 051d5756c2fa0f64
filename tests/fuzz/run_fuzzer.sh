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
# The seeds go in as a list in a fixed order (each corpus in turn, its files by name), copied
# under numbered names. Handed over as folders they would come in the order each file system
# keeps them, which differs between machines, and with it every input the runs make from seed 1:
# so the runs that pass here pass in CI, and what they find is found on any machine.
mkdir "$scratch/seeds" "$scratch/found"
count=0
: > "$scratch/list"
for corpus in "$@"; do
  (cd "$corpus" && find . -type f | LC_ALL=C sort) > "$scratch/names"
  while IFS= read -r file; do
    count=$((count + 1))
    cp "$corpus/$file" "$scratch/seeds/$count"
    if [ "$count" -gt 1 ]; then printf ',' >> "$scratch/list"; fi
    printf '%s' "$scratch/seeds/$count" >> "$scratch/list"
  done < "$scratch/names"
done
"$fuzzer" -seed=1 -runs="$runs" -max_len=4096 -timeout=25 -seed_inputs="@$scratch/list" \
  "$scratch/found"
