#!/usr/bin/env bash
# Reading results through unixODBC with three drivers on the same data:
#   bench/results_bench.sh [results_bench options...]
# Builds nothing: it uses build/results_bench, build/q4lite and
# build/libq4odbc.so (or $Q4_BUILD_DIR). It creates a SQLite file with
# $ROWS rows (default 1,000,000) of
#   bench (id INTEGER, name VARCHAR(40), amount NUMERIC(12,2), created DATE,
#          note VARCHAR(200))
# serves it with q4lite on 127.0.0.1, loads the same rows into a private
# PostgreSQL cluster on 127.0.0.1 (initdb in a temporary folder, run as the
# postgres user when started as root), writes a private unixODBC
# configuration (never the machine's files) with the data sources q4bench
# (q4odbc), pgbench (psqlODBC) and sqlitebench (SQLite ODBC driver on the same
# file), and runs results_bench against the three; then a 100,000-row
# fetchall through pyodbc with default settings (bench/pyodbc_fetch.py)
# against q4odbc, psqlODBC's Unicode driver (psqlodbcw.so) and the SQLite
# driver.
# PROFILE=perf or PROFILE=callgrind profiles one q4bench round instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${Q4_BUILD_DIR:-$root/build}
rows=${ROWS:-1000000}
odbc_lib=/usr/lib/x86_64-linux-gnu/odbc
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
source "$root/bench/bench_data.sh"

work=$(mktemp -d /tmp/q4bench.XXXXXX)
chmod 755 "$work"
q4lite_pid=
cleanup() {
  [ -n "$q4lite_pid" ] && kill "$q4lite_pid" 2>/dev/null && wait "$q4lite_pid" 2>/dev/null || true
  bench_postgres_stop "$work/pg"
  rm -rf "$work"
}
trap cleanup EXIT

echo "creating $rows rows"
bench_sqlite "$work/bench.db" "$rows"

"$build/q4lite" --listen 127.0.0.1:0 --port-file "$work/q4port" --db "$work/bench.db" --quiet &
q4lite_pid=$!
for _ in $(seq 1 500); do [ -s "$work/q4port" ] && break; sleep 0.01; done

pgport=$(free_port)
bench_postgres "$work/pg" "$pgport" "$rows"

cat > "$work/odbcinst.ini" <<INI
[Q4]
Driver=$build/libq4odbc.so
[PostgreSQL]
Driver=$odbc_lib/psqlodbca.so
[PostgreSQLW]
Driver=$odbc_lib/psqlodbcw.so
[SQLite3]
Driver=$odbc_lib/libsqlite3odbc.so
INI
cat > "$work/odbc.ini" <<INI
[q4bench]
Driver=Q4
SERVER=127.0.0.1
PORTNUMBER=$(cat "$work/q4port")
USER=bench
PASSWORD=bench
ACCOUNT=main
[pgbench]
Driver=PostgreSQL
Servername=127.0.0.1
Port=$pgport
Database=postgres
Username=bench
[pgbenchw]
Driver=PostgreSQLW
Servername=127.0.0.1
Port=$pgport
Database=postgres
Username=bench
[sqlitebench]
Driver=SQLite3
Database=$work/bench.db
INI
export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini

case "${PROFILE:-}" in
  "")
    "$build/results_bench" --q4lite-pid "$q4lite_pid" "$@" \
      q4odbc=q4bench psqlodbc=pgbench sqliteodbc=sqlitebench
    fetch_rows=$((rows < 100000 ? rows : 100000))
    /usr/bin/python3 "$root/bench/pyodbc_fetch.py" "$fetch_rows" 3 \
      q4odbc=q4bench psqlodbcw=pgbenchw sqliteodbc=sqlitebench
    ;;
  perf)
    # The client process only (q4lite is another process): where its time
    # goes, by library and then by function.
    perf record -q -o "$work/perf.data" "$build/results_bench" --rounds 1 --points 1 \
      q4odbc=q4bench
    perf report -q -i "$work/perf.data" --stdio --sort dso 2>/dev/null | head -12
    perf report -q -i "$work/perf.data" --stdio --sort dso,symbol 2>/dev/null | head -30
    ;;
  callgrind)
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
      "$build/results_bench" --rounds 1 --points 1 q4odbc=q4bench
    callgrind_annotate "$work/callgrind.out" 2>/dev/null | head -40
    ;;
esac
