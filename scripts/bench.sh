#!/usr/bin/env bash
# Runs every benchmark binary of the given build tree.
set -eu
dir=${1:-build-bench}
for b in "$dir"/*_bench; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
