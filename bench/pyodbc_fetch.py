#!/usr/bin/python3
"""A bulk fetch as a Python application does it: pyodbc with default settings (text read as
SQL_C_WCHAR), cursor.fetchall() of the first ROWS rows of the results benchmark's table.
Run by bench/results_bench.sh with its private ODBC configuration:
    pyodbc_fetch.py ROWS ROUNDS LABEL=DSN..."""
import sys
import time

import pyodbc


def main():
    rows, rounds = int(sys.argv[1]), int(sys.argv[2])
    query = "SELECT id, name, amount, created, note FROM bench WHERE id <= %d ORDER BY id" % rows
    print("pyodbc (default settings) fetchall of %d rows x 5 columns, best of %d" % (rows, rounds))
    for source in sys.argv[3:]:
        label, dsn = source.split("=", 1)
        conn = pyodbc.connect("DSN=" + dsn)
        best, check = None, None
        for _ in range(rounds):
            start = time.perf_counter()
            got = conn.cursor().execute(query).fetchall()
            elapsed = time.perf_counter() - start
            best = elapsed if best is None else min(best, elapsed)
            check = (len(got), sum(r[0] for r in got), sum(len(r[4]) for r in got),
                     type(got[0][2]).__name__)
        conn.close()
        print("  %-12s %9.0f rows/s  (%.2f s; rows, id sum, note chars, amount type: %s)"
              % (label, rows / best, best, check))


if __name__ == "__main__":
    main()
