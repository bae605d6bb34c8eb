#!/usr/bin/env bash
# run_script.sh SCRIPT [ARGUMENTS...]: runs one end-to-end test (*.py with
# Debian's /usr/bin/python3, *.pl with perl, *.php with php, *.js with node,
# *.sh with bash, else a program) against q4lite serving a copy of the sample
# database to three users, test / secret, nopw without a password and jörg / straße🔑, as the
# data source "q4sample" (user test) of a private unixODBC configuration.
# q4lite runs with its test functions (q4_sleep, to hold a statement on the
# server).
set -euo pipefail
script=$1
shift
build=${Q4_BUILD_DIR:-$(cd "$(dirname "$0")/../.." && pwd)/build}
work=$(mktemp -d /tmp/q4e2e.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

"$build/q4lite" --seed-sample "$work/sample.db" >/dev/null 2>&1
printf 'test:secret\nnopw:\nj\303\266rg:stra\303\237e\360\237\224\221\n' > "$work/users"
"$build/q4lite" --listen 127.0.0.1:0 --port-file "$work/port" --db "$work/sample.db" \
  --users "$work/users" --test-functions --quiet &
server_pid=$!
for _ in $(seq 1 500); do [ -s "$work/port" ] && break; sleep 0.01; done
port=$(cat "$work/port")

printf '[Q4]\nDescription=q4odbc\nDriver=%s/libq4odbc.so\nFileUsage=1\n' "$build" >"$work/odbcinst.ini"
printf '[q4sample]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nUSER=test\nPASSWORD=secret\n' \
  "$port" >"$work/odbc.ini"
printf 'ACCOUNT=main\nLoginTimeout=10\n' >>"$work/odbc.ini"
export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini
export Q4_DSN=q4sample Q4_PORT=$port Q4_WORK=$work NODE_PATH=$build/node/node_modules

case "$script" in
  *.py) /usr/bin/python3 "$script" "$@" ;;
  *.pl) perl "$script" "$@" ;;
  *.php) php "$script" "$@" ;;
  *.js) node "$script" "$@" ;;
  # R with Debian's Rscript; without it the test reports itself skipped.
  *.R)
    command -v Rscript >/dev/null || { echo "SKIPPED: Rscript is missing (r-base-core)"; exit 77; }
    Rscript "$script" "$@" ;;
  *.sh) bash "$script" "$@" ;;
  *) "$script" "$@" ;;
esac
