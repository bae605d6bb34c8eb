#!/usr/bin/python3
"""pyodbc's executemany of ROWS rows (an integer, a text of up to 40 characters, a date), once
with the default settings (one SQLExecute per row) and once with fast_executemany (one parameter
array), each in one transaction, on the data source named by Q4_BENCH_DSN. Prints one line per
mode: "plain R rows/s" and "fast R rows/s". bench/arrays_bench.py runs it.

Usage: pyodbc_executemany.py ROWS [fast-first]"""
import datetime
import os
import sys
import time

import pyodbc

ROWS = int(sys.argv[1]) if len(sys.argv) > 1 else 100000
FAST_FIRST = len(sys.argv) > 2 and sys.argv[2] == "fast-first"
INSERT = "INSERT INTO bench_people (id, name, born) VALUES (?, ?, ?)"


def rows():
    names = ["Zoë Ærø", "O'Brien", "", "東京", "customer"]
    return [(k, "%s %d" % (names[k % len(names)], k), datetime.date(1950 + k % 70, 1 + k % 12, 1 + k % 28))
            for k in range(ROWS)]


def run(conn, fast, data):
    cur = conn.cursor()
    cur.execute("DELETE FROM bench_people")
    conn.commit()
    cur.fast_executemany = fast
    if fast:
        cur.setinputsizes([None, (pyodbc.SQL_WVARCHAR, 40, 0), (pyodbc.SQL_TYPE_DATE, 10, 0)])
    started = time.perf_counter()
    cur.executemany(INSERT, data)
    conn.commit()
    seconds = time.perf_counter() - started
    stored = cur.execute("SELECT COUNT(*) FROM bench_people").fetchone()[0]
    if stored != ROWS:
        sys.exit("%s: %d rows stored, %d expected" % ("fast" if fast else "plain", stored, ROWS))
    return ROWS / seconds


def main():
    conn = pyodbc.connect("DSN=%s" % os.environ["Q4_BENCH_DSN"], autocommit=False)
    cur = conn.cursor()
    cur.execute("DROP TABLE IF EXISTS bench_people")
    cur.execute("CREATE TABLE bench_people (id INTEGER, name VARCHAR(40), born DATE)")
    conn.commit()
    data = rows()
    for fast in ((True, False) if FAST_FIRST else (False, True)):
        print("%s %.0f rows/s" % ("fast" if fast else "plain", run(conn, fast, data)), flush=True)
    conn.close()


if __name__ == "__main__":
    main()
