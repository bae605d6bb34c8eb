# Transactions through pyodbc against q4lite: with autocommit off a rolled
# back insert is gone and a committed one stays; run by run_script.sh.
import os
import sys

import pyodbc

dsn = os.environ.get("Q4_DSN", "q4sample")
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def count(conn, key):
    # A cursor of its own each time: the driver reports that commit and
    # rollback delete prepared statements (SQL_CB_DELETE), so the Driver
    # Manager refuses to re-execute a statement prepared before them.
    return conn.cursor().execute("SELECT COUNT(*) FROM e2e_tx WHERE id = ?", key).fetchone()[0]


setup = pyodbc.connect(f"DSN={dsn};UID=test;PWD=secret", autocommit=True)
setup.cursor().execute("CREATE TABLE e2e_tx (id INTEGER PRIMARY KEY, note VARCHAR(20))")
setup.close()

conn = pyodbc.connect(f"DSN={dsn};UID=test;PWD=secret", autocommit=False)
cur = conn.cursor()
cur.execute("INSERT INTO e2e_tx VALUES (1, 'rolled back')")
check("row visible inside the transaction", count(conn, 1), 1)
conn.rollback()
check("row after rollback", count(conn, 1), 0)

cur.execute("INSERT INTO e2e_tx VALUES (2, 'committed')")
conn.commit()
conn.close()

other = pyodbc.connect(f"DSN={dsn};UID=test;PWD=secret", autocommit=True)
check("committed row seen by another connection", count(other, 2), 1)
check("rolled back row seen by another connection", count(other, 1), 0)
other.close()

for f in failures:
    print("FAIL:", f)
print("transactions:", "all checks passed" if not failures else f"{len(failures)} failed")
sys.exit(1 if failures else 0)
