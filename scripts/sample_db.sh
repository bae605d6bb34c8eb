#!/usr/bin/env bash
# Creates the sample database: scripts/sample_db.sh FILE
# (q4lite writes it from its built-in sample script and exits).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${Q4_BUILD_DIR:-$root/build}
rm -f "$1"
"$build/q4lite" --seed-sample "$1" >/dev/null 2>&1
echo "$1"
