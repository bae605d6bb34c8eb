#!/usr/bin/env bash
# isql's "help" (SQLTables) and "help TABLE" (SQLColumns) against q4lite's
# sample database; run by run_script.sh, which sets up the data source.
set -euo pipefail
dsn=${Q4_DSN:-q4sample}
failures=0

check() {  # check WHAT OUTPUT PATTERN...: every pattern must match a line
  local what=$1 output=$2
  shift 2
  for pattern in "$@"; do
    if ! grep -Eq "$pattern" <<<"$output"; then
      echo "FAIL: $what: no line matches /$pattern/"
      failures=$((failures + 1))
    fi
  done
}

reject() {  # reject WHAT OUTPUT PATTERN: no line may match
  if grep -Eq "$3" <<<"$2"; then
    echo "FAIL: $1: a line matches /$3/"
    failures=$((failures + 1))
  fi
}

# -b: batch mode, -v: print diagnostics.
tables=$(echo "help" | isql -b -v "$dsn" test secret 2>&1)
echo "$tables"
check "help" "$tables" \
  'TABLE_NAME' \
  '\| *customers *\| *TABLE' '\| *products *\| *TABLE' \
  '\| *orders *\| *TABLE' '\| *order_lines *\| *TABLE' '\| *order_totals *\| *VIEW'
reject "help" "$tables" '\[ISQL\]ERROR|\[[0-9A-Z]{5}\]'

columns=$(echo "help customers" | isql -b -v "$dsn" test secret 2>&1)
echo "$columns"
check "help customers" "$columns" \
  'COLUMN_NAME' \
  '\| *customers *\| *id *\| *4 *\|' \
  '\| *customers *\| *name *\| *12 *\|' \
  '\| *customers *\| *country *\| *1 *\|' \
  '\| *customers *\| *credit_limit *\| *2 *\|' \
  '\| *customers *\| *since *\| *9 *\|' \
  '\| *customers *\| *rating *\| *5 *\|' \
  '\| *customers *\| *badge *\| *-3 *\|'
reject "help customers" "$columns" '\[ISQL\]ERROR|\[[0-9A-Z]{5}\]'
reject "help customers" "$columns" '\| *orders *\|'

# A table that does not exist lists no columns (and is no error).
none=$(echo "help no_such_table" | isql -b -v "$dsn" test secret 2>&1)
echo "$none"
reject "help no_such_table" "$none" '\| *no_such_table *\|'
reject "help no_such_table" "$none" '\[ISQL\]ERROR'

if [ "$failures" -ne 0 ]; then
  echo "$failures failed"
  exit 1
fi
echo "isql catalog: all checks passed"
