#!/usr/bin/env bash
# DDL and DML through isql against q4lite: row counts of INSERT, UPDATE and
# DELETE, and a syntax error reported as "37000". Run by run_script.sh, which
# sets up the data source.
set -euo pipefail
dsn=${Q4_DSN:-q4sample}
failures=0

run() { printf '%s\n' "$1" | isql -b -v "$dsn" test secret 2>&1 || true; }

expect() {  # expect WHAT OUTPUT PATTERN
  if ! grep -Eq "$3" <<<"$2"; then
    echo "FAIL: $1: no line matches /$3/"
    echo "$2"
    failures=$((failures + 1))
  fi
}

expect "create" "$(run 'CREATE TABLE e2e_items (id INTEGER PRIMARY KEY, name VARCHAR(20))')" \
  'SQLRowCount returns 0'
expect "insert" "$(run "INSERT INTO e2e_items VALUES (1, 'one'), (2, 'two'), (3, 'three')")" \
  'SQLRowCount returns 3'
expect "update" "$(run "UPDATE e2e_items SET name = 'many' WHERE id >= 2")" \
  'SQLRowCount returns 2'
expect "delete" "$(run 'DELETE FROM e2e_items WHERE id = 1')" 'SQLRowCount returns 1'
expect "select" "$(run 'SELECT id, name FROM e2e_items ORDER BY id')" '2 rows fetched'
expect "syntax error" "$(run 'SELEC nothing FROM')" '\[37000\].*Syntax error'
expect "missing table" "$(run 'SELECT * FROM no_such_table')" '\[S0002\].*Base table not found'
expect "duplicate table" \
  "$(run 'CREATE TABLE e2e_items (id INTEGER)')" '\[S0001\].*Base table already exists'

[ "$failures" -eq 0 ] && echo "isql statements: all checks passed"
exit "$failures"
