#!/usr/bin/env bash
# isql against q4lite's sample database (run by run_script.sh): "help"
# (SQLTables), "help TABLE" (SQLColumns), row counts of DDL and DML, and
# errors with their SQLSTATE.
set -uo pipefail
failures=0
run() { printf '%s\n' "$1" | isql -b -v "${Q4_DSN:-q4sample}" test secret 2>&1; }
expect() {  # expect WHAT SQL PATTERN...: every pattern matches a line; "!PATTERN": none does
  local what=$1 output
  output=$(run "$2")
  shift 2
  for pattern in "$@"; do
    if [[ $pattern == !* ]]; then
      grep -Eq "${pattern#!}" <<<"$output" || continue
    elif grep -Eq "$pattern" <<<"$output"; then
      continue
    fi
    echo "FAIL: $what: /$pattern/"$'\n'"$output"
    failures=$((failures + 1))
  done
}
no_error='!\[ISQL\]ERROR|\[[0-9A-Z]{5}\]'
expect "help" "help" 'TABLE_NAME' '\| *customers *\| *TABLE' '\| *products *\| *TABLE' \
  '\| *orders *\| *TABLE' '\| *order_lines *\| *TABLE' '\| *order_totals *\| *VIEW' "$no_error"
expect "help customers" "help customers" 'COLUMN_NAME' '\| *customers *\| *id *\| *4 *\|' \
  '\| *customers *\| *name *\| *12 *\|' '\| *customers *\| *country *\| *1 *\|' \
  '\| *customers *\| *credit_limit *\| *2 *\|' '\| *customers *\| *since *\| *9 *\|' \
  '\| *customers *\| *rating *\| *5 *\|' '\| *customers *\| *badge *\| *-3 *\|' \
  '!\| *orders *\|' "$no_error"
expect "help no_such_table" "help no_such_table" '!\| *no_such_table *\|' '!\[ISQL\]ERROR'
expect "create" 'CREATE TABLE e2e_items (id INTEGER PRIMARY KEY, name VARCHAR(20))' \
  'SQLRowCount returns 0'
expect "insert" "INSERT INTO e2e_items VALUES (1, 'one'), (2, 'two'), (3, 'three')" \
  'SQLRowCount returns 3'
expect "update" "UPDATE e2e_items SET name = 'many' WHERE id >= 2" 'SQLRowCount returns 2'
expect "delete" 'DELETE FROM e2e_items WHERE id = 1' 'SQLRowCount returns 1'
expect "select" 'SELECT id, name FROM e2e_items ORDER BY id' '2 rows fetched'
expect "syntax error" 'SELEC nothing FROM' '\[37000\].*Syntax error'
expect "missing table" 'SELECT * FROM no_such_table' '\[S0002\].*Base table not found'
expect "duplicate table" 'CREATE TABLE e2e_items (id INTEGER)' '\[S0001\].*Base table already exists'
[ "$failures" -eq 0 ] && echo "isql: all checks passed"
exit "$failures"
