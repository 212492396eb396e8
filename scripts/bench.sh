#!/usr/bin/env bash
# Runs every benchmark the build made (bench/ targets are named bench_*). Benchmarks are not tests.
set -euo pipefail
build=${1:-build}
status=0
for b in "$build"/bench/bench_*; do
  [ -f "$b" ] && [ -x "$b" ] || continue # not the autogen folders
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
