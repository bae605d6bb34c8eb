#!/usr/bin/python3
"""pyodbc with default settings reading results that span many row blocks: every value as it was
written (NULLs, empty strings, non-ASCII and multi-line text, 30-digit decimals, negative
fractions), rows too long for a block (whose values the driver asks for one by one) between
ordinary ones, fetchone, fetchmany and fetchall alike, and two cursors of one connection read in
turns, each from its own blocks."""
import decimal

import q4e2e

ROWS = 3000
LONG = 30000  # characters: a row with such a note does not fit one block


def expected_row(i):
    name = [None, "", q4e2e.TEXT, "O'Brien\nline two\r\nline three", "n%05d" % i][i % 5]
    amount = None if i % 7 == 3 else (decimal.Decimal("12345678901234567890123456.7890") - i
                                      if i % 2 else decimal.Decimal(-i) / 10000)
    if i % 97 == 11:
        note = ("%05d" % i) * (LONG // 5)
    elif i % 13 == 4:
        note = None
    else:
        note = "note %d " % i + "é" * (i % 40)
    return (i, name, amount, note)


class RowBlocks(q4e2e.Connected):
    @classmethod
    def setUpClass(cls):
        conn = q4e2e.connect(autocommit=False)
        cur = conn.cursor()
        cur.execute("CREATE TABLE blocks (id INTEGER NOT NULL, name VARCHAR(60), "
                    "amount DECIMAL(30,4), note TEXT)")
        cur.executemany("INSERT INTO blocks (id, name, amount, note) VALUES (?, ?, ?, ?)",
                        [expected_row(i) for i in range(1, ROWS + 1)])
        conn.commit()
        conn.close()

    def query(self, cursor, low=1, high=ROWS):
        return cursor.execute("""
            SELECT id, name, amount, note
              FROM blocks
             WHERE id BETWEEN ? AND ?  -- long rows among short ones
             ORDER BY id""", low, high)

    def test_every_value_comes_back_whatever_the_fetch(self):
        expected = [expected_row(i) for i in range(1, ROWS + 1)]
        cur = self.cur

        def in_batches(cursor):
            return [row for batch in iter(lambda: cursor.fetchmany(333), []) for row in batch]

        readers = {
            "fetchall": lambda c: c.fetchall(),
            "fetchmany": in_batches,
            "fetchone": lambda c: list(iter(c.fetchone, None)),
        }
        for name, read in readers.items():
            with self.subTest(fetch=name):
                got = [tuple(r) for r in read(self.query(cur))]
                self.assertEqual(len(got), ROWS)
                for row, want in zip(got, expected):
                    self.assertEqual(row, want, "row %d" % want[0])

    def test_two_cursors_read_in_turns_each_from_its_own_blocks(self):
        first, second = self.conn.cursor(), self.conn.cursor()
        self.query(first, 1, 1500)
        self.query(second, 1501, ROWS)
        for k in range(1500):
            a, b = first.fetchone(), second.fetchone()
            self.assertEqual(tuple(a), expected_row(1 + k))
            self.assertEqual(tuple(b), expected_row(1501 + k))
        self.assertIsNone(first.fetchone())
        self.assertIsNone(second.fetchone())

    def test_a_new_query_on_the_cursor_reads_its_own_rows(self):
        cur = self.cur
        self.query(cur)
        self.assertEqual(tuple(cur.fetchone()), expected_row(1))
        # Fewer columns, with the first query's block read only in part.
        got = cur.execute("SELECT note, id FROM blocks WHERE id IN (11, 12) ORDER BY id").fetchall()
        self.assertEqual([tuple(r) for r in got],
                         [(expected_row(11)[3], 11), (expected_row(12)[3], 12)])


if __name__ == "__main__":
    q4e2e.main()
