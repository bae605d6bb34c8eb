#!/usr/bin/env bash
# Creates the sample database: scripts/sample_db.sh FILE
# (the SQL scripts of server/sample/, applied in name order with sqlite3).
set -euo pipefail
cd "$(dirname "$0")/.."
db=$1
rm -f "$db"
for f in server/sample/*.sql; do
  sqlite3 "$db" < "$f"
done
echo "$db"
