#!/usr/bin/env bash
# Installs, builds and runs every test: the native suite through ctest (each
# case a test of its own with a time bound, two at a time), the win64 suite
# once under Wine's 64-bit loader, the wizard's windows under Wine on Xvfb,
# the release packages (tests/packages/package_test.sh), the native suite
# again under AddressSanitizer and UndefinedBehaviorSanitizer
# through ctest (without the QEMU boots, which exercise guest code, not ours),
# and every fuzz target for a short time (PURGEX_FUZZ_SECONDS, 20 by default).
# Ends with the line "N passed, N failed, N skipped" and a non-zero status on
# any failure.
#
# To add a run: write its ctest or GoogleTest output to $logs/<name>.log and
# add <name> to the runs list below (and to ctest_runs for a ctest run).
set -uo pipefail
cd "$(dirname "$0")/.."
top=$PWD
logs=$top/build/test-logs
mkdir -p "$logs"

scripts/setup.sh || { echo "setup failed"; exit 1; }
scripts/build.sh 2>&1 | tee "$logs/build.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "build failed"; exit 1; }
if [ ! -f build/asan/build.ninja ]; then
  cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPURGEX_SANITIZE=ON >/dev/null || exit 1
fi
cmake --build build/asan 2>&1 | tee -a "$logs/build.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || { echo "sanitizer build failed"; exit 1; }
# The builds stay free of warnings (what was compiled this time).
if grep -q "warning:" "$logs/build.log"; then
  echo "the build printed warnings:"
  grep "warning:" "$logs/build.log" | sort -u
  exit 1
fi

status=0

# Each case is its own ctest test with a time bound (a hang fails and names
# its case); two run at a time.
echo "=== native (ctest)"
ctest --test-dir build/linux -j2 --output-on-failure >"$logs/native.log" 2>&1 || status=1
grep -E 'tests passed|tests failed' "$logs/native.log" || true

echo "=== win64 under wine64"
wine_loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX=$top/build/wineprefix WINEDEBUG=-all
timeout 1800 "$wine_loader" build/win64/tests/purgex_tests.exe >"$logs/win64.log" 2>&1 || status=1
grep -E '^\[  (PASSED|FAILED|SKIPPED) +\] [0-9]' "$logs/win64.log" || true
wineserver -k 2>/dev/null || true

echo "=== wizard windows under wine64 on Xvfb"
screens=$top/build/win64/screens
rm -rf "$screens" && mkdir -p "$screens"
SOURCE_DATE_EPOCH=1136073600 PURGEX_SCREENS=$screens PURGEX_WIZARD_ISO=$screens/wizard.iso \
  xvfb-run -a -s "-screen 0 1024x768x24" \
  timeout 1200 "$wine_loader" build/win64/tests/gui/purgex_gui_tests.exe >"$logs/gui.log" 2>&1 || status=1
grep -E '^\[  (PASSED|FAILED|SKIPPED) +\] [0-9]' "$logs/gui.log" || true
# The wizard's image is the one purgex makes from the same choices.
SOURCE_DATE_EPOCH=1136073600 build/linux/cli/purgex iso "$screens/purgex.iso" --yes --os rxdos \
  --options 100111001010 >/dev/null 2>&1 &&
  cmp "$screens/wizard.iso" "$screens/purgex.iso" || { echo "wizard.iso differs from purgex.iso"; status=1; }
rm -f "$screens"/*.iso
for bmp in "$screens"/*.bmp; do [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm "$bmp"; done
wineserver -k 2>/dev/null || true

echo "=== packages: made, installed with dpkg and under Wine, checked"
timeout 600 tests/packages/package_test.sh >"$logs/package.log" 2>&1 || status=1
grep -E '^\[  (PASSED|FAILED) +\] [0-9]' "$logs/package.log" || true
wineserver -k 2>/dev/null || true

echo "=== native under ASan and UBSan (QEMU boots run in the native pass only)"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan -j2 -LE qemu --output-on-failure >"$logs/asan.log" 2>&1 || status=1
grep -E 'tests passed|tests failed' "$logs/asan.log" || true

echo "=== fuzz targets, ${PURGEX_FUZZ_SECONDS:-20} s each"
fuzz_failed=0
scripts/fuzz.sh 2>&1 | tee "$logs/fuzz.log"
[ "${PIPESTATUS[0]}" -eq 0 ] || { status=1; fuzz_failed=$(grep -c 'FINDING' "$logs/fuzz.log"); fuzz_failed=$((fuzz_failed > 0 ? fuzz_failed : 1)); }

runs=(native win64 gui package asan)
# Totals: ctest's line per case in the ctest runs, GoogleTest's summaries in
# the single-process Wine runs.
ctest_runs=" native asan "
count() { # Passed, Failed or Skipped
  local kind=$1 total=0 n log
  for log in "${runs[@]}"; do
    if [[ $ctest_runs == *" $log "* ]]; then
      case $kind in
        Passed) n=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .* Passed ' "$logs/$log.log") ;;
        Skipped) n=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+: .*\*\*\*Skipped' "$logs/$log.log") ;;
        Failed) n=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+: ' "$logs/$log.log" | grep -vcE ' Passed |\*\*\*Skipped') ;;
      esac
    else
      n=$(grep -E "^\[ +${kind^^} +\] [0-9]+ tests?" "$logs/$log.log" | awk '{s += $4} END {print s + 0}')
    fi
    total=$((total + ${n:-0}))
  done
  echo "$total"
}
passed=$(count Passed)
failed=$(( $(count Failed) + fuzz_failed ))
skipped=$(count Skipped)
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then
  failed=1
  echo "a test run failed without a test failure (crash or build problem); see $logs"
  for log in "${runs[@]}"; do
    grep -q -E '\[  PASSED  \] [0-9]+ test|tests passed' "$logs/$log.log" && continue
    # A single-process run that was stopped names the case it was in.
    grep -E '^\[ RUN +\] ' "$logs/$log.log" | tail -n 1 | sed "s/^\[ RUN *\] /$log: unfinished: /"
    echo "--- end of $log.log"; tail -n 30 "$logs/$log.log"
  done
fi
if [ "$failed" -ne 0 ]; then
  for log in "${runs[@]}"; do
    if [[ $ctest_runs == *" $log "* ]]; then
      sed -n '/The following tests FAILED:/,$p' "$logs/$log.log" | grep -E '^\s+[0-9]+ - ' | sed "s/^\s*/$log: /" || true
    else
      grep -E '^\[  FAILED  \] [A-Za-z]' "$logs/$log.log" | sed "s/^/$log: /" || true
    fi
  done
fi
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ] && [ "$status" -eq 0 ]
