#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the driver and the server,
# runs all test tiers, then the unit, wire, server and stress tiers again under
# AddressSanitizer + UndefinedBehaviorSanitizer, and the thread stress tier
# under ThreadSanitizer, then the fuzz targets for a short fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

bash scripts/build.sh build
(cd build && ctest --output-on-failure -j2)

bash scripts/build.sh build-asan -DQ4_SANITIZE=ON -DQ4_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2 -E '^e2e\.')

# ThreadSanitizer: only what the thread stress tier needs is built.
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQ4_TSAN=ON -DQ4_BENCH=OFF >/dev/null
cmake --build build-tsan -j"$(nproc)" --target q4_stress_tests q4lite
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -R '^stress\.')

# The fuzz targets of the driver and the server, a short fixed time each.
bash scripts/fuzz.sh 20
