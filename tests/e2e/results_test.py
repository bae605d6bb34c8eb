"""Reading results through pyodbc (Debian's python3-pyodbc) against q4lite.

Run by run_script.sh, which serves a copy of the sample database as the data
source $Q4_DSN and leaves the SQLite file in $Q4_WORK/sample.db. Every value
read through the driver is compared with the same row read straight from
that file with Python's sqlite3 module.
"""

import datetime
import decimal
import os
import sqlite3
import sys
import time

import pyodbc

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def connect():
    connection = pyodbc.connect("DSN=%s" % os.environ["Q4_DSN"], autocommit=True)
    # The driver hands out single-byte text.
    connection.setdecoding(pyodbc.SQL_CHAR, encoding="latin-1")
    return connection


def same_number(got, want, places):
    return got is not None and abs(float(got) - float(want)) < 10 ** -places / 2 + 1e-9


def compare_table(cursor, reference, query, columns):
    """Runs `query` on both sides and compares every column as `columns`
    says: (name, kind) with kind one of int, text, char, number<places>,
    float, date, time, timestamp, bytes."""
    got = cursor.execute(query).fetchall()
    want = reference.execute(query).fetchall()
    check(len(got) == len(want), "%s: %d rows, want %d" % (query, len(got), len(want)))
    nulls = 0
    for row_got, row_want in zip(got, want):
        for index, (name, kind) in enumerate(columns):
            g, w = row_got[index], row_want[index]
            if w is None:
                nulls += 1
                check(g is None, "%s.%s: %r, want NULL" % (query, name, g))
                continue
            if kind == "int":
                ok = g == w
            elif kind == "text":
                ok = g == w
            elif kind == "char":
                ok = g.rstrip() == w.rstrip()
            elif kind.startswith("number"):
                ok = isinstance(g, decimal.Decimal) and same_number(g, w, int(kind[6:]))
            elif kind == "float":
                ok = same_number(g, w, 9)
            elif kind == "date":
                ok = g == datetime.date.fromisoformat(w[:10])
            elif kind == "time":
                ok = g == datetime.time.fromisoformat(w)
            elif kind == "timestamp":
                ok = g == datetime.datetime.fromisoformat(w)
            elif kind == "bytes":
                ok = bytes(g) == bytes(w)
            else:
                raise ValueError(kind)
            check(ok, "%s row %r, %s: %r, want %r" % (query, row_want[0], name, g, w))
    return len(got), nulls


def every_wire_type(cursor, reference):
    rows, nulls = compare_table(
        cursor, reference,
        "SELECT id, name, country, credit_limit, since, rating, badge FROM customers ORDER BY id",
        [("id", "int"), ("name", "text"), ("country", "char"), ("credit_limit", "number2"),
         ("since", "date"), ("rating", "int"), ("badge", "bytes")])
    check(rows == 500 and nulls > 0, "customers: %d rows, %d NULLs" % (rows, nulls))
    rows, nulls = compare_table(
        cursor, reference,
        "SELECT id, customer_id, ordered_at, ship_date, ship_time, status, note FROM orders "
        "ORDER BY id",
        [("id", "int"), ("customer_id", "int"), ("ordered_at", "timestamp"), ("ship_date", "date"),
         ("ship_time", "time"), ("status", "char"), ("note", "text")])
    check(rows == 5000 and nulls > 0, "orders: %d rows, %d NULLs" % (rows, nulls))
    rows, nulls = compare_table(
        cursor, reference,
        "SELECT id, code, title, price, weight_kg, stock, datasheet FROM products ORDER BY id",
        [("id", "int"), ("code", "char"), ("title", "text"), ("price", "number2"),
         ("weight_kg", "float"), ("stock", "number0"), ("datasheet", "bytes")])
    check(rows == 200 and nulls > 0, "products: %d rows, %d NULLs" % (rows, nulls))
    rows, _ = compare_table(
        cursor, reference,
        "SELECT order_id, line_no, product_id, quantity, amount FROM order_lines "
        "ORDER BY order_id, line_no",
        [("order_id", "int"), ("line_no", "int"), ("product_id", "int"), ("quantity", "int"),
         ("amount", "number2")])
    check(rows == 15000, "order_lines: %d rows" % rows)


def numbered(pieces, width):
    return "".join("%0*d|" % (width - 1, i) for i in range(pieces))


def long_values(cursor):
    # pyodbc reads a value longer than its first buffer with further
    # SQLGetData calls on the same column and joins the pieces.
    text = cursor.execute(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 9999) "
        "SELECT group_concat(printf('%09d|', i), '') FROM n").fetchone()[0]
    check(text == numbered(10000, 10), "100 KB text: %d characters" % len(text or ""))
    blob = cursor.execute(
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 65535) "
        "SELECT CAST(group_concat(printf('%015d|', i), '') AS BLOB) FROM n").fetchone()[0]
    check(bytes(blob) == numbered(65536, 16).encode(), "1 MB blob: %d bytes" % len(blob or b""))


def many_rows(cursor, count):
    started = time.monotonic()
    cursor.execute(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %d) "
        "SELECT i, 'name ' || i FROM n" % count)
    seen = 0
    wrong = 0
    while True:
        batch = cursor.fetchmany(5000)
        if not batch:
            break
        for number, name in batch:
            seen += 1
            if number != seen or name != "name %d" % seen:
                wrong += 1
    check(seen == count and wrong == 0, "%d rows: %d seen, %d wrong" % (count, seen, wrong))
    print("pyodbc: %d rows in %.2f s" % (seen, time.monotonic() - started))


def close_and_reexecute(cursor):
    query = "SELECT id FROM customers WHERE id <= 10 ORDER BY id"
    for _ in range(3):
        cursor.execute(query)
        first = [cursor.fetchone()[0] for _ in range(3)]
        check(first == [1, 2, 3], "re-execution starts over: %r" % first)
    cursor.execute(query)
    check([r[0] for r in cursor.fetchall()] == list(range(1, 11)), "all ten rows after re-execution")


def main():
    reference = sqlite3.connect(os.path.join(os.environ["Q4_WORK"], "sample.db"))
    connection = connect()
    cursor = connection.cursor()
    every_wire_type(cursor, reference)
    long_values(cursor)
    many_rows(cursor, 200000)
    close_and_reexecute(cursor)
    connection.close()
    if failures:
        print("%d failures" % len(failures), file=sys.stderr)
        sys.exit(1)
    print("pyodbc: all reads match")


main()
