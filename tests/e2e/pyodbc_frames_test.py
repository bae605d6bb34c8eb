#!/usr/bin/python3
"""pyodbc with default settings on values that cross the 20,480-byte frames the driver and the
server cut every request and reply into: long texts with non-ASCII characters sent as parameters
and inside the statement text, read back whole (one frame, a byte more, several frames), many
rows over many blocks with NULLs, fractions and empty strings, parameter arrays sent ahead of
their replies; and the driver log's line for each of those exchanges."""
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


if __name__ == "__main__":
    q4e2e.main()
