#!/usr/bin/env bash
# Builds the clang sanitizer preset, runs the whole test suite on it, then
# fuzzes every target for a bounded time. The seeds are copied to a scratch
# directory so the checkout is never modified. Exits non-zero on a failing
# test or on any crash, leak, sanitizer report or timeout the fuzzer finds;
# the offending input is left in $FUZZ_ARTIFACTS (default build/fuzz-artifacts).
#
#   fuzz/run-ci.sh [seconds per target, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build=build/fuzz
artifacts="${FUZZ_ARTIFACTS:-$PWD/build/fuzz-artifacts}"

cmake --preset fuzz
cmake --build --preset fuzz -j 2
ctest --preset fuzz

scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$artifacts"

status=0
while IFS=$'\t' read -r target dictionary; do
  [ -n "$target" ] || continue
  corpus="$scratch/$target"
  mkdir -p "$corpus"
  # Numbered copies: seeds from different folders may share a name.
  n=0
  while IFS= read -r seed; do
    [ -n "$seed" ] || continue
    n=$((n + 1))
    cp "$seed" "$corpus/seed-$n"
  done <"$build/fuzz/$target.seeds"
  echo "== $target: $seconds s from $(ls "$corpus" | wc -l) seeds"
  # -timeout: a single input taking seconds is a hang worth reporting.
  found=0
  if ! "$build/fuzz/$target" "$corpus" -dict="$dictionary" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" 2>"$scratch/$target.log"; then
    found=1
    status=1
  fi
  grep -E '^(stat::number_of_executed_units|Done|==[0-9]+==ERROR|SUMMARY)' "$scratch/$target.log" || true
  if [ $found -ne 0 ]; then
    tail -n 60 "$scratch/$target.log"
    echo "== $target found a problem; inputs in $artifacts"
  fi
done <"$build/fuzz/targets.txt"
exit $status
