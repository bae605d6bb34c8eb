#!/usr/bin/env bash
# Configures and builds one build tree: scripts/build.sh DIR [cmake options...]
# The compiler's output goes to DIR/build.log; it is shown only when the build
# fails.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
mkdir -p "$dir"
log=$dir/build.log
echo "building $dir/ (output in $log)"
if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" &&
       cmake --build "$dir" -j"$(nproc)"; } >"$log" 2>&1; then
  tail -n 60 "$log"
  echo "the build of $dir/ failed; its whole output is in $log" >&2
  exit 1
fi
