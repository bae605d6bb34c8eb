#!/usr/bin/python3
"""pyodbc with default settings: statement texts of every shape (triple-quoted multi-line queries,
a comment first, "?" inside literals and comments, parenthesised queries, escapes, pass-through
after a comment) get their parameters; and fast_executemany of 100,000 rows of (integer,
40-character text, Decimal(12,2), date) without setinputsizes, its buffers sized by the
descriptions the driver takes from the catalog, every value kept, the process under 100 MB."""
import datetime
import decimal
import os
import resource
import sys

import pyodbc

import q4e2e
from q4e2e import DSN


class StatementText(q4e2e.Connected):
    def test_texts_of_every_shape_get_their_parameters(self):
        self.cur.execute("""
            CREATE TABLE shapes (
                id INTEGER NOT NULL,
                name VARCHAR(20)
            )""")
        self.cur.execute("""
            -- four rows; this "?" is in a comment
            INSERT INTO shapes (id, name) VALUES (?, ?), (?, ?), (?, ?), (?, ?)""",
                         1, "Zoë", 2, "O'Brien?", 3, None, 4, "")
        cases = [
            ("""
             SELECT id, name
               FROM shapes
              WHERE id > ?
              ORDER BY id""", (1,), [(2, "O'Brien?"), (3, None), (4, "")]),
            ("\t\r\nSELECT id FROM shapes WHERE name = ?", ("Zoë",), [(1,)]),
            ("/* a ? in a comment */ SELECT id FROM shapes WHERE name = ? -- and ?", ("O'Brien?",),
             [(2,)]),
            ("SELECT '?', \"id\" FROM shapes WHERE id = ?", (3,), [("?", 3)]),
            ("(SELECT id FROM shapes WHERE id = ?) UNION (SELECT id FROM shapes WHERE id = ?) "
             "ORDER BY 1", (1, 3), [(1,), (3,)]),
            ("SELECT {fn UCASE(?)}, {d '2024-02-29'} FROM shapes WHERE id = ?", ("zoë?", 1),
             [("ZOë?", "2024-02-29")]),
            ("-- raw SQLite after the comment\n>SELECT count(*) FROM shapes", (), [(4,)]),
        ]
        for query, parameters, expected in cases:
            with self.subTest(query=query):
                self.assertEqual(self.read(query, *parameters), expected)

    def test_fast_executemany_sizes_its_buffers_by_the_described_columns(self):
        self.cur.execute("CREATE TABLE bulk (id INTEGER NOT NULL, name VARCHAR(40), "
                         "amount DECIMAL(12,2), day DATE)")
        count = 100000

        def row(i):
            name = None if i % 7 == 3 else ("Zoë Ærø %06d " % i).ljust(40, "-")
            amount = None if i % 11 == 5 else decimal.Decimal(i * 37 % 10 ** 9 - 5 * 10 ** 8) / 100
            day = None if i % 13 == 7 else datetime.date(1900 + i % 200, 1 + i % 12, 1 + i % 28)
            return (i, name, amount, day)

        rows = [row(i) for i in range(count)]
        self.conn.autocommit = False
        fast = self.conn.cursor()
        fast.fast_executemany = True
        fast.executemany("\n  INSERT INTO bulk (id, name, amount, day)\n  VALUES (?, ?, ?, ?)", rows)
        self.conn.commit()
        del rows
        got = self.conn.cursor().execute("SELECT id, name, amount, day FROM bulk ORDER BY id")
        seen = 0
        while True:
            batch = got.fetchmany(5000)
            if not batch:
                break
            for r in batch:
                self.assertEqual(tuple(r), row(seen))
                seen += 1
        self.assertEqual(seen, count)
        peak_mb = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
        print("fast_executemany of %d rows: peak RSS %.0f MB" % (count, peak_mb), file=sys.stderr)
        self.assertLess(peak_mb, 100)

    def test_the_catalog_is_asked_once_per_statement_text(self):
        # The driver log (one line per exchange) counts the catalog requests.
        log = os.path.join(os.environ["Q4_WORK"], "exchanges.log")
        conn = pyodbc.connect(DSN + ";LogFile=" + log, autocommit=True)
        self.addCleanup(conn.close)
        cur = conn.cursor()
        cur.execute("CREATE TABLE once (id INTEGER, name VARCHAR(10), day DATE)")
        cur.fast_executemany = True
        insert = "INSERT INTO once (id, name, day) VALUES (?, ?, ?)"
        for batch in range(3):  # the same cursor and text: prepared once, described once
            cur.executemany(insert, [(batch * 10 + i, "n%d" % i, datetime.date(2024, 1, 1 + i))
                                     for i in range(10)])
        with open(log) as f:
            commands = [line.split("command=")[1].split()[0] for line in f if "command=" in line]
        self.assertEqual(commands.count("columns"), 1, commands)
        lookup = commands.index("columns")
        self.assertEqual(commands[lookup + 1], "release", commands)  # its own id, released
        plain = conn.cursor()
        for k in range(3):  # NULLs bound as whatever pyodbc takes them for
            plain.execute("UPDATE once SET name = ?, day = ? WHERE id = ?", None, None, k)
        self.assertEqual(self.read("SELECT COUNT(*), COUNT(name), COUNT(day) FROM once"),
                         [(30, 27, 27)])


if __name__ == "__main__":
    q4e2e.main()
