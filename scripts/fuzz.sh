#!/usr/bin/env bash
# Builds the libFuzzer targets (build/fuzz: clang, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs every tests/fuzz/*Fuzz.cpp target for
# a bounded time each.
#
#   scripts/fuzz.sh                 every target, PURGEX_FUZZ_SECONDS (20) each
#   scripts/fuzz.sh 600 LzhFuzz     one target for ten minutes
#
# Each target starts from its seeds (tests/fuzz/corpus/<Name>/) and its kept
# findings (tests/fuzz/regressions/<Name>/); what it learns stays in
# build/fuzz/corpus/<Name>/, a crashing input lands in build/fuzz/findings/.
# Exit status 1 when any target found something.
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${PURGEX_FUZZ_SECONDS:-20}}
shift || true
only=("$@")

if [ ! -f build/fuzz/build.ninja ]; then
  cmake -S tests/fuzz -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null || exit 1
fi
cmake --build build/fuzz || { echo "fuzz build failed"; exit 1; }

status=0
mkdir -p build/fuzz/findings
for source in tests/fuzz/*Fuzz.cpp; do
  name=$(basename "$source" .cpp)
  if [ ${#only[@]} -gt 0 ] && [[ ! " ${only[*]} " =~ " $name " ]]; then continue; fi
  work=build/fuzz/corpus/$name
  mkdir -p "$work"
  seeds=()
  for kept in tests/fuzz/corpus/$name tests/fuzz/regressions/$name; do
    [ -d "$kept" ] && seeds+=("$kept")
  done
  log=build/fuzz/$name.log
  if build/fuzz/$name -max_total_time="$seconds" -max_len=65536 -timeout=20 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$name-" \
      "$work" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
    cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1)
    echo "fuzz $name: ${runs:-?} runs, ${cov:-cov: ?}, no finding"
  else
    status=1
    echo "fuzz $name: FINDING (see $log and build/fuzz/findings/)"
    grep -E 'ERROR|rule broken|SUMMARY' "$log" | head -5
  fi
done
exit $status
