#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the driver and the server,
# runs all test tiers, then runs the unit and wire tiers again under
# AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

bash scripts/build.sh build
(cd build && ctest --output-on-failure -j2)

bash scripts/build.sh build-asan -DQ4_SANITIZE=ON -DQ4_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j2 -E '^e2e\.')
