#!/usr/bin/env bash
# The main job: install what is missing, build, start q4lite on the sample
# database, register the driver and a data source in a private unixODBC
# configuration (never the machine's global files) and run sample queries
# through unixODBC's isql. It stops q4lite when it ends and writes
# .run/try.sh, which starts q4lite again on the same database and port and
# opens isql on the data source (or runs the command it is given).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh
bash scripts/build.sh build

run=$root/.run
mkdir -p "$run"
Q4_BUILD_DIR=$root/build bash scripts/sample_db.sh "$run/sample.db" >/dev/null
rm -f "$run/port"
build/q4lite --listen 127.0.0.1:0 --port-file "$run/port" --db "$run/sample.db" 2>"$run/q4lite.log" &
server=$!
trap 'kill $server 2>/dev/null; wait $server 2>/dev/null || true' EXIT
for _ in $(seq 1 500); do [ -s "$run/port" ] && break; sleep 0.01; done
port=$(cat "$run/port")
echo "q4lite is serving $run/sample.db on 127.0.0.1:$port"

cat > "$run/odbcinst.ini" <<INI
[Q4]
Description=q4odbc, the ODBC driver for Q4 servers
Driver=$root/build/libq4odbc.so
FileUsage=1
INI
cat > "$run/odbc.ini" <<INI
[q4sample]
Driver=Q4
Description=q4lite sample database
SERVER=127.0.0.1
PORTNUMBER=$port
USER=demo
PASSWORD=demo
ACCOUNT=sample
LoginTimeout=10
INI
export ODBCSYSINI=$run ODBCINSTINI=odbcinst.ini ODBCINI=$run/odbc.ini

query() {
  echo
  echo "SQL> $1"
  printf '%s\n' "$1" | isql -v -b q4sample
}
query "SELECT COUNT(*) FROM customers"
query "SELECT id, name, country, credit_limit, since, rating FROM customers WHERE id <= 5 ORDER BY id"
query "SELECT p.code, p.title, p.price, p.stock FROM products p ORDER BY p.price DESC LIMIT 5"
query "SELECT o.id, c.name, o.ordered_at, COUNT(*) AS lines FROM orders o JOIN customers c ON c.id = o.customer_id JOIN order_lines l ON l.order_id = o.id GROUP BY o.id ORDER BY o.id LIMIT 5"

# q4lite stops with this script; try.sh brings it back for the user.
{
  echo '#!/usr/bin/env bash'
  echo "# Written by scripts/run.sh: q4lite serves $run/sample.db again on port $port"
  echo "# (on a free port, written into odbc.ini, if that one is taken), isql opens"
  echo "# the data source q4sample, and leaving isql (quit) stops q4lite."
  echo "# try.sh COMMAND [ARGUMENTS...] runs COMMAND in that configuration instead."
  printf 'run=%q q4lite=%q port=%q\n' "$run" "$root/build/q4lite" "$port"
  cat <<'TRY'
set -euo pipefail
# start PORT: q4lite in the background; false when it could not listen.
start() {
  rm -f "$run/port"
  "$q4lite" --listen "127.0.0.1:$1" --port-file "$run/port" --db "$run/sample.db" \
    2>>"$run/q4lite.log" &
  server=$!
  for _ in $(seq 1 500); do
    [ -s "$run/port" ] && return 0
    kill -0 "$server" 2>/dev/null || return 1
    sleep 0.01
  done
  return 1
}
if ! start "$port"; then
  start 0
  sed -i "s/^PORTNUMBER=.*/PORTNUMBER=$(cat "$run/port")/" "$run/odbc.ini"
fi
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null || true' EXIT
echo "q4lite is serving $run/sample.db on 127.0.0.1:$(cat "$run/port") until ${1:-isql} ends" >&2
export ODBCSYSINI=$run ODBCINSTINI=odbcinst.ini ODBCINI=$run/odbc.ini
if [ $# -gt 0 ]; then
  "$@"
else
  isql -v q4sample
fi
TRY
} > "$run/try.sh"
chmod +x "$run/try.sh"
echo
echo "Done; q4lite has stopped. Try it yourself (q4lite again on the same database and port,"
echo "isql on the data source q4sample; quit leaves isql and stops q4lite):"
echo
echo "    bash $run/try.sh"
echo
echo "or run a program of yours, e.g. a recipe of docs/clients/, against it:"
echo
echo "    bash $run/try.sh python3 recipe.py"
