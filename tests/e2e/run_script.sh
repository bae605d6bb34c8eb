#!/usr/bin/env bash
# run_script.sh SCRIPT [ARGUMENTS...]: runs one end-to-end test (*.py with
# Debian's /usr/bin/python3, *.pl with perl, *.php with php, *.js with node,
# *.sh with bash, else a program) against q4lite serving a copy of the sample database to one
# user, test / secret, as the data source "q4sample" of a private unixODBC
# configuration.
set -euo pipefail
script=$1
shift
build=${Q4_BUILD_DIR:-$(cd "$(dirname "$0")/../.." && pwd)/build}
source_dir=${Q4_SOURCE_DIR:-$(cd "$(dirname "$0")/../.." && pwd)}
work=$(mktemp -d /tmp/q4e2e.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

bash "$source_dir/scripts/sample_db.sh" "$work/sample.db" >/dev/null
echo "test:secret" > "$work/users"
"$build/q4lite" --listen 127.0.0.1:0 --port-file "$work/port" --db "$work/sample.db" \
  --users "$work/users" --quiet &
server_pid=$!
for _ in $(seq 1 500); do [ -s "$work/port" ] && break; sleep 0.01; done
port=$(cat "$work/port")

cat > "$work/odbcinst.ini" <<INI
[Q4]
Description=q4odbc
Driver=$build/libq4odbc.so
FileUsage=1
INI
cat > "$work/odbc.ini" <<INI
[q4sample]
Driver=Q4
SERVER=127.0.0.1
PORTNUMBER=$port
USER=test
PASSWORD=secret
ACCOUNT=main
LoginTimeout=10
INI
export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini
export Q4_DSN=q4sample Q4_PORT=$port Q4_WORK=$work

case "$script" in
  *.py) /usr/bin/python3 "$script" "$@" ;;
  *.pl) perl "$script" "$@" ;;
  *.php) php "$script" "$@" ;;
  *.js) NODE_PATH=$build/node/node_modules node "$script" "$@" ;;
  *.sh) bash "$script" "$@" ;;
  *) "$script" "$@" ;;
esac
