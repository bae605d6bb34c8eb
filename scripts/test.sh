#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the driver and the server,
# runs the tiers of the normal build (unit, wire, server, stress, e2e,
# odbc3, package), then the unit, wire, server and stress tiers again under
# AddressSanitizer + UndefinedBehaviorSanitizer, the thread stress tier under
# ThreadSanitizer, and the fuzz targets for a short fixed time each.
#
# Prints one line per build and tier, a failing tier's output in full, and a
# last line with the totals; exits non-zero when any test failed. Build output
# stays in DIR/build.log, each tier's ctest output in DIR/ctest-TIER.log.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

passed=0
failed=0
skipped=0
runs=0
# run_tier DIR LABEL TIER [environment...]: the ctest tests named "TIER.*"
# of the build in DIR, LABEL saying which build that is.
run_tier() {
  local dir=$1 label=$2 tier=$3
  shift 3
  local log=$dir/ctest-$tier.log status=0
  (cd "$dir" && env "$@" ctest --output-on-failure -j2 -R "^$tier\\.") >"$log" 2>&1 || status=$?
  local total failures skips
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -1)
  failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -1)
  skips=$(grep -c '(Skipped)$' "$log" || true)
  if [ -z "$total" ]; then
    # No summary: ctest itself failed (or the tier has no tests).
    total=0
    failures=$((status != 0))
  fi
  local ok=$((total - failures - skips))
  passed=$((passed + ok))
  failed=$((failed + failures))
  skipped=$((skipped + skips))
  runs=$((runs + 1))
  printf '%-44s %-8s %5d passed' "$label" "$tier" "$ok"
  [ "$failures" = 0 ] || printf ', %d FAILED' "$failures"
  [ "$skips" = 0 ] || printf ', %d skipped' "$skips"
  printf '\n'
  if [ "$failures" != 0 ]; then
    grep -v -e '^ *Start ' -e ' Passed ' "$log" | sed 's/^/    /'
  fi
  if [ "$skips" != 0 ]; then
    # Skipped tests say why in their output, which ctest keeps here.
    grep -h '^SKIPPED: ' "$dir/Testing/Temporary/LastTest.log" | sort -u | sed 's/^/    /' || true
  fi
}

bash scripts/build.sh build
# The Node.js recipe's client library (from npm; without it that recipe is skipped).
bash scripts/node_odbc.sh build
for tier in unit wire server stress e2e odbc3 package; do
  run_tier build "build/ (RelWithDebInfo)" "$tier"
done

bash scripts/build.sh build-asan -DQ4_SANITIZE=ON -DQ4_BENCH=OFF
for tier in unit wire server stress; do
  run_tier build-asan "build-asan/ (AddressSanitizer + UBSan)" "$tier" ASAN_OPTIONS=detect_leaks=1
done

# ThreadSanitizer: only what the thread stress tier needs is built.
mkdir -p build-tsan
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQ4_TSAN=ON -DQ4_BENCH=OFF \
  >build-tsan/build.log 2>&1
cmake --build build-tsan -j"$(nproc)" --target q4_stress_tests q4lite >>build-tsan/build.log 2>&1
run_tier build-tsan "build-tsan/ (ThreadSanitizer)" stress TSAN_OPTIONS=halt_on_error=1

# The fuzz targets of the driver and the server, a short fixed time each; a
# finding counts as a failure.
if bash scripts/fuzz.sh 20; then
  passed=$((passed + 4))
else
  failed=$((failed + 1))
fi
runs=$((runs + 1))

echo "totals: $passed passed, $failed failed, $skipped skipped ($runs tier runs in 4 builds)"
[ "$failed" = 0 ]
