#!/usr/bin/env bash
# Installs the Node.js odbc package (built against unixODBC) under DIR/node/
# for the Node.js recipe of the documentation: scripts/node_odbc.sh [DIR]
# It needs the npm registry; when that fails the recipe's test reports itself
# skipped, so this script never fails the test command. npm's output goes to
# DIR/node/npm.log.
set -uo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}/node
[ -d "$dir/node_modules/odbc" ] && exit 0
if ! command -v npm >/dev/null; then
  echo "npm is missing: the Node.js recipe will be skipped"
  exit 0
fi
mkdir -p "$dir"
echo "installing the Node.js odbc package into $dir/ (output in $dir/npm.log)"
# 2.4.9 is the last version that runs on Debian 12's Node.js 18.
# The package builds its native part in an install script; a module that
# does not load (the script did not run, or failed) is removed again.
if ! npm install --prefix "$dir" --no-audit --no-fund --no-save odbc@2.4.9 >"$dir/npm.log" 2>&1 ||
   ! NODE_PATH="$dir/node_modules" node -e 'require("odbc")' >>"$dir/npm.log" 2>&1; then
  rm -rf "$dir/node_modules/odbc"
  echo "npm install odbc failed (see $dir/npm.log): the Node.js recipe will be skipped"
fi
exit 0
