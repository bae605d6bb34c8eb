#!/usr/bin/env bash
# Runs q4_params_bench against q4lite (through build/libq4odbc.so) and against
# a throw-away PostgreSQL cluster (through Debian's psqlODBC driver), both on
# loopback and both through a private unixODBC configuration:
#   bench/params_bench.sh [build dir] [extra q4_params_bench options...]
# e.g. `bench/params_bench.sh build --rows 100000 --array 1000` for parameter
# arrays beside a loop of single executions.
# PROFILE=callgrind runs one q4lite run (no PostgreSQL) under callgrind and
# prints the client's instruction counts: the steadiest figure on a shared
# machine, e.g. `PROFILE=callgrind bench/params_bench.sh build --rows 5000`.
# Needs the postgresql and odbc-postgresql packages (valgrind for the
# profile). The machine's own ODBC files and PostgreSQL clusters are not
# touched.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
shift || true
pgbin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
psqlodbc=/usr/lib/x86_64-linux-gnu/odbc/psqlodbca.so
work=$(mktemp -d /tmp/q4params.XXXXXX)
chmod 755 "$work"
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  if [ -f "$work/pg/postmaster.pid" ]; then
    su postgres -s /bin/sh -c "'$pgbin/pg_ctl' -D '$work/pg' -m fast stop" >/dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# q4lite on a file database (WAL mode, as it serves files).
"$build/q4lite" --listen 127.0.0.1:0 --port-file "$work/q4port" --db "$work/bench.db" --quiet &
server_pid=$!
for _ in $(seq 1 500); do [ -s "$work/q4port" ] && break; sleep 0.01; done
q4port=$(cat "$work/q4port")

# The private unixODBC configuration: q4lite always, PostgreSQL when its
# port is given.
write_config() {
  {
    printf '[Q4]\nDriver=%s\n' "$build/libq4odbc.so"
    if [ -n "${1:-}" ]; then printf '[PostgreSQL]\nDriver=%s\n' "$psqlodbc"; fi
  } >"$work/odbcinst.ini"
  {
    printf '[q4lite]\nDriver=Q4\nSERVER=127.0.0.1\nPORTNUMBER=%s\nACCOUNT=main\n' "$q4port"
    if [ -n "${1:-}" ]; then
      printf '[postgresql]\nDriver=PostgreSQL\nServername=127.0.0.1\nPort=%s\nDatabase=postgres\n' "$1"
    fi
  } >"$work/odbc.ini"
  export ODBCSYSINI=$work ODBCINSTINI=odbcinst.ini ODBCINI=$work/odbc.ini
}

if [ "${PROFILE:-}" = callgrind ]; then
  write_config
  valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
    "$build/q4_params_bench" --runs 1 "$@" q4lite:bench:bench
  # The whole client process, then the request building inclusive of what it
  # calls (scan, literals, binary blocks, trailer) and the execution around it.
  callgrind_annotate --inclusive=yes "$work/callgrind.out" 2>/dev/null >"$work/annotated"
  grep 'PROGRAM TOTALS' "$work/annotated" | head -1
  grep -E 'q4::(build_request|scan_markers|make_literal|send_text_request|execute_rows)\(.*libq4odbc' \
    "$work/annotated" || true
  exit 0
fi

# PostgreSQL: a fresh cluster owned by the postgres account, TCP on loopback
# only, trust authentication for the local benchmark user.
pgport=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/pg" && chown postgres "$work/pg"
su postgres -s /bin/sh -c "'$pgbin/initdb' -D '$work/pg' -A trust -U bench" >/dev/null
su postgres -s /bin/sh -c "'$pgbin/pg_ctl' -D '$work/pg' -l '$work/pg/log' -w \
  -o \"-p $pgport -c listen_addresses=127.0.0.1 -k '$work/pg'\" start" >/dev/null

write_config "$pgport"
"$build/q4_params_bench" "$@" q4lite:bench:bench postgresql:bench:
