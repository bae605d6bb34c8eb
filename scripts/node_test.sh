#!/usr/bin/env bash
# Runs the Node.js end-to-end test (tests/e2e/node_params.js) against a built
# tree: scripts/node_test.sh [build dir]. It is kept out of scripts/test.sh
# because it needs the npm registry: the first run installs the npm package
# "odbc" (a native addon compiled against unixODBC with g++, make and python3)
# into BUILD/node, later runs reuse it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
prefix=$build/node
if [ ! -d "$prefix/node_modules/odbc" ]; then
  mkdir -p "$prefix"
  npm install --prefix "$prefix" --no-save --no-audit --no-fund odbc@2 >/dev/null
fi
NODE_PATH=$prefix/node_modules Q4_BUILD_DIR=$build Q4_SOURCE_DIR=$PWD \
  bash tests/e2e/run_script.sh tests/e2e/node_params.js
