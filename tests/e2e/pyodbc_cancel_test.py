#!/usr/bin/python3
"""pyodbc's Cursor.cancel() from another thread, with default settings, while the main thread
waits for a statement the server holds (q4lite's q4_sleep): the wait ends at once with HY008
(the driver's S1008, which unixODBC shows an ODBC 3 application as HY008), the connection's link
is gone (08S01 afterwards), and a new connection works. A cancel of a cursor whose statement is
not running only discards its result."""
import contextlib
import time

import pyodbc

import q4e2e

HELD_MS = 4000

# A report as people write them: several lines, a comment, non-ASCII text, a NULL.
SLOW_REPORT = """SELECT q4_sleep(%d) AS waited, -- the monthly report: slow on purpose
       'Zoë Ærø 東京' AS label,
       NULL AS empty
""" % HELD_MS

# 20,000 numbered rows; building the block that holds row 15,000 takes the server HELD_MS,
# so that a fetch in the middle of the result waits for it.
SLOW_MIDDLE = """WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000)
SELECT i, q4_sleep(CASE WHEN i = 15000 THEN %d ELSE 0 END) AS held, 'row ' || i AS label
FROM n
""" % HELD_MS


class CancelFromAnotherThread(q4e2e.Connected):
    @contextlib.contextmanager
    def cancelled(self, cursor, what, limit=1.0):
        """The block, cancelled from another thread after half a second, must end in the cut
        assert_cut checks; self.ended is when the block ended."""
        with q4e2e.cancel_after(cursor) as cut:
            yield
        self.ended = cut["ended"]
        self.assert_cut(cut["error"], cut["latency"], what, limit)

    def assert_cut(self, error, latency, what, limit):
        print("%s: returned %.1f ms after cursor.cancel()" % (what, latency * 1000))
        self.assertEqual(error.args[0], "HY008", error)
        self.assertIn("Operation cancelled", str(error))
        self.assertLess(latency, limit, "the wait went on after the cancel")
        # The link went with the wait: a late reply could not be told from the next one.
        with self.assertRaises(pyodbc.Error) as after:
            self.conn.cursor().execute("SELECT 1").fetchall()
        self.assertEqual(after.exception.args[0], "08S01", after.exception)
        # Reconnecting is the way on.
        again = q4e2e.connect()
        row = again.cursor().execute("SELECT 'Zoë', NULL, 1.25").fetchone()
        self.assertEqual(tuple(row), ("Zoë", None, 1.25))
        again.close()

    def test_cancel_ends_the_wait_for_a_statement(self):
        cursor = self.conn.cursor()
        started = time.monotonic()
        with self.cancelled(cursor, "execute"):
            cursor.execute(SLOW_REPORT)
        self.assertLess(self.ended - started, HELD_MS / 1000 / 2)

    def test_cancel_ends_the_wait_for_the_next_rows(self):
        cursor = self.conn.cursor()
        cursor.execute(SLOW_MIDDLE)
        self.assertEqual(tuple(cursor.fetchone()), (1, 0, "row 1"))
        read = 1
        with self.cancelled(cursor, "fetch"):
            while cursor.fetchone() is not None:
                read += 1
        self.assertLess(read, 15000)

    def test_cancel_of_an_idle_cursor_only_discards_its_result(self):
        cursor = self.conn.cursor()
        cursor.execute("SELECT 'Zoë' AS name, NULL AS empty")
        cursor.cancel()
        with self.assertRaises(pyodbc.Error) as gone:
            cursor.fetchone()
        self.assertEqual(gone.exception.args[0], "HY010", gone.exception)
        self.assertEqual(tuple(cursor.execute("SELECT 'Zoë', NULL").fetchone()), ("Zoë", None))


if __name__ == "__main__":
    q4e2e.main()
