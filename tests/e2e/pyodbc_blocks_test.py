#!/usr/bin/python3
"""pyodbc with default settings on values that cross the 20,480-byte frames the driver and the
server cut every request and reply into, and on results that span many row blocks: long texts
with non-ASCII characters sent as parameters and inside the statement text, read back whole (one
frame, a byte more, several frames); many rows with NULLs, empty strings, multi-line text,
30-digit decimals and negative fractions, rows too long for a block (whose values the driver asks
for one by one) between ordinary ones; two cursors of one connection read in turns, each from its
own blocks; parameter arrays sent ahead of their replies; and the driver log's line for each of those exchanges."""
import decimal
import os
import tempfile

import q4e2e
from q4e2e import DSN

WORDS = q4e2e.TEXT + " O'Brien\nline two\t"
# UTF-8 lengths around one frame's payload, and several frames.
LENGTHS = [0, 1, 20_470, 20_480, 20_481, 20_500, 41_000, 100_000]


def text_of(n):
    """A text of exactly n UTF-8 bytes, non-ASCII characters throughout."""
    unit = WORDS.encode("utf-8")
    # A character cut at the end is left out, and ASCII fills its place.
    text = (unit * (n // len(unit) + 1))[:n].decode("utf-8", errors="ignore")
    return text + "x" * (n - len(text.encode("utf-8")))


class Frames(q4e2e.Connected):
    def connect(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.log = os.path.join(folder.name, "q4odbc.log")
        return q4e2e.connect(DSN + ";LogFile=" + self.log)

    def log_lines(self, command):
        with open(self.log, encoding="utf-8") as f:
            return [line for line in f if " command=%s " % command in line]

    def test_long_texts_cross_frames_both_ways_and_come_back_whole(self):
        self.cur.execute("CREATE TABLE notes (id INTEGER, note VARCHAR(200000))")
        for i, n in enumerate(LENGTHS):
            self.cur.execute("INSERT INTO notes (id, note) VALUES (?, ?)", i, text_of(n))
        # The same kind of text written into the statement itself: a request of three frames.
        literal = text_of(45_000).replace("'", "''")
        self.cur.execute("""
            -- a statement text longer than two frames
            INSERT INTO notes (id, note)
            VALUES (99, '%s')""" % literal)
        rows = self.cur.execute("SELECT id, note FROM notes ORDER BY id").fetchall()
        expected = [(i, text_of(n)) for i, n in enumerate(LENGTHS)] + [(99, text_of(45_000))]
        self.assertEqual([(r.id, len(r.note.encode("utf-8"))) for r in rows],
                         [(i, len(t.encode("utf-8"))) for i, t in expected])
        self.assertEqual([tuple(r) for r in rows], expected)
        # Each exchange is one line, with the reply's whole size and no link failure.
        executes = self.log_lines("execute")
        requests = [int(line.split(" request=")[1].split()[0]) for line in executes]
        self.assertTrue(any(n > 2 * 20_480 for n in requests), requests)
        for line in executes + self.log_lines("get-data") + self.log_lines("fetch"):
            self.assertNotIn(" link=", line)
        replies = [int(line.split(" reply=")[1].split()[0]) for line in self.log_lines("get-data")]
        self.assertTrue(any(size > 100_000 for size in replies), replies)

    def test_many_rows_over_many_blocks(self):
        self.cur.execute("CREATE TABLE many (id INTEGER, name VARCHAR(40), amount DECIMAL(12,2))")
        self.conn.autocommit = False  # one transaction: a commit per row would take minutes
        self.cur.fast_executemany = True  # parameter arrays: rows sent ahead of their replies
        rows = [(i, None if i % 7 == 0 else ("" if i % 11 == 0 else "näme %d" % i),
                 None if i % 5 == 0 else decimal.Decimal("%d.%02d" % (i, i % 100)))
                for i in range(1, 5001)]
        self.cur.executemany("INSERT INTO many (id, name, amount) VALUES (?, ?, ?)", rows)
        self.cur.fast_executemany = False
        self.cur.executemany("INSERT INTO many (id, name, amount) VALUES (?, ?, ?)",
                             [(6000, "Ærø", decimal.Decimal("-0.50")), (6001, None, None)])
        self.conn.commit()
        got = self.read("SELECT id, name, amount FROM many ORDER BY id")
        self.assertEqual(got, rows + [(6000, "Ærø", decimal.Decimal("-0.50")), (6001, None, None)])
        fetches = self.log_lines("fetch")
        self.assertGreater(len(fetches), 5, "5,000 rows come in several blocks")
        for line in fetches:
            self.assertLessEqual(int(line.split(" reply=")[1].split()[0]), 20_480)



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

    def test_every_value_comes_back(self):
        got = [tuple(r) for r in self.query(self.cur).fetchall()]
        self.assertEqual(len(got), ROWS)
        for row, want in zip(got, (expected_row(i) for i in range(1, ROWS + 1))):
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
