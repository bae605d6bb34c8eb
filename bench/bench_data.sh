# Sourced by the benchmark scripts that read the table of bench/bench_table.h
# through several drivers: the same rows in a SQLite file and in a private
# PostgreSQL cluster, so that every driver reads the same data. The caller
# sets `pgbin` (the PostgreSQL programs' folder) and removes the cluster's
# folder itself after bench_postgres_stop.

# Runs a command as the postgres account when started as root (initdb and
# the server refuse to run as root), as the caller otherwise.
as_pg() {
  if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

# Prints a TCP port on 127.0.0.1 that nothing listens on.
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

bench_note_text=$(printf 'x%.0s' $(seq 1 200))

# bench_sqlite FILE ROWS: a new SQLite file holding the table with ROWS rows.
bench_sqlite() {
  sqlite3 "$1" <<SQL
CREATE TABLE bench (id INTEGER PRIMARY KEY, name VARCHAR(40), amount NUMERIC(12,2),
                    created DATE, note VARCHAR(200));
WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < $2)
INSERT INTO bench
SELECT i, 'customer name ' || i, (i * 7919 % 10000000) / 100.0,
       date('2000-01-01', '+' || (i % 9000) || ' days'), substr('$bench_note_text', 1, 40 + i % 160)
FROM n;
SQL
}

# bench_postgres FOLDER PORT ROWS: a new cluster in FOLDER (data in
# FOLDER/data, log FOLDER/log, socket in FOLDER) listening on 127.0.0.1:PORT,
# fsync off, user bench with trust authentication, holding the same ROWS rows
# as bench_sqlite makes. bench_postgres_stop FOLDER stops it.
bench_postgres() {
  mkdir "$1"
  if [ "$(id -u)" = 0 ]; then chown postgres "$1"; fi
  as_pg "$pgbin/initdb" -D "$1/data" --auth=trust -U bench >/dev/null
  as_pg "$pgbin/pg_ctl" -D "$1/data" -l "$1/log" -w \
    -o "-c listen_addresses=127.0.0.1 -p $2 -k $1 -c fsync=off" start >/dev/null
  "$pgbin/psql" -q -h 127.0.0.1 -p "$2" -U bench -d postgres <<SQL
CREATE TABLE bench (id INTEGER PRIMARY KEY, name VARCHAR(40), amount NUMERIC(12,2),
                    created DATE, note VARCHAR(200));
INSERT INTO bench
SELECT i, 'customer name ' || i, ((i::bigint * 7919) % 10000000) / 100.0,
       DATE '2000-01-01' + (i % 9000), substr('$bench_note_text', 1, 40 + i % 160)
FROM generate_series(1, $3) AS i;
VACUUM ANALYZE bench;
SQL
}

# Stops the cluster of bench_postgres FOLDER if it runs; nothing otherwise.
bench_postgres_stop() {
  if [ -f "$1/data/postmaster.pid" ]; then
    as_pg "$pgbin/pg_ctl" -D "$1/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
}
