#!/usr/bin/env bash
# Runs every fuzz target of build-fuzz/ for FUZZ_SECONDS seconds (default 30), each from a
# writable copy of its seeds in fuzz/corpus/, so the checked-in files never change. Stops with
# a failure at the first crash, hang (10 s for one input), memory blow-up, leak or sanitizer
# report; the input that caused it is kept in build-fuzz/run/<target>/findings/ (crash-*,
# leak-*, timeout-*, oom-*).
# Reproduce one with: build-fuzz/fuzz/<target>_fuzzer <that file>. Targets may be named as
# arguments to run only those.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-30}
targets=(stream_name stored_path stream_header list_stream extract image_reader inflate catalogue)
if [ $# -gt 0 ]; then targets=("$@"); fi  # e.g. fuzz/run.sh image_reader

# Leaks and undefined behaviour abort like any other fault.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:halt_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp:print_suppressions=0

run=build-fuzz/run
for target in "${targets[@]}"; do
  work=$run/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings" "$work/tmp"
  if [ "$target" = image_reader ]; then
    fuzz/make-seeds.sh image "$work/corpus"
  elif [ "$target" = inflate ]; then
    build-fuzz/fuzz/inflate_seeds "$work/corpus"
  else
    cp fuzz/corpus/"$target"/* "$work/corpus/"
  fi
  echo "== $target: ${seconds}s from $(ls "$work/corpus" | wc -l) seeds"
  if ! TMPDIR=$PWD/$work/tmp build-fuzz/fuzz/"$target"_fuzzer \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/findings/" "$work/corpus" > "$work/log" 2>&1; then
    # The sanitizer's report from its first line, else the end of the log.
    if grep -q 'ERROR:' "$work/log"; then sed -n '/ERROR:/,$p' "$work/log" | head -n 80; else tail -n 60 "$work/log"; fi
    echo "fuzz: $target failed; the input is in $work/findings/" >&2
    exit 1
  fi
  grep -E '^(stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' \
    "$work/log" | sed 's/^/   /'
  echo "   corpus grew to $(ls "$work/corpus" | wc -l) inputs"
done
echo "fuzz: every target ran ${seconds}s without a fault"
