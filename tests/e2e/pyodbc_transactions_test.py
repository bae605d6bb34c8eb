#!/usr/bin/python3
"""pyodbc's transactions as people use them: its default manual commit, commit() and rollback()
(SQLEndTran through unixODBC), autocommit switched on and off (SQLSetConnectAttr) and connection
attributes set with set_attr. What another connection sees tells committed work from open work."""
import decimal

import pyodbc

import q4e2e
from q4e2e import TEXT

SQL_ATTR_CONNECTION_TIMEOUT = 113
SQL_ATTR_CURRENT_CATALOG = 109

INSERT = """
-- one order line; the note may be missing
INSERT INTO ledger (id, note, amount)
    VALUES (?, ?, ?)"""
ROWS = [(1, TEXT, decimal.Decimal("-12.125")), (2, None, None), (3, "", decimal.Decimal("0.001"))]


def committed_rows():
    """The ledger as a new session sees it (closed at once, so that it holds no lock)."""
    conn = q4e2e.connect()
    try:
        return [tuple(r) for r in conn.cursor().execute("SELECT * FROM ledger ORDER BY id")]
    finally:
        conn.close()


class Transactions(q4e2e.Connected):
    autocommit = False  # pyodbc's default

    def setUp(self):
        super().setUp()
        self.cur.execute("CREATE TABLE ledger (id INTEGER, note VARCHAR(40), amount NUMERIC(12,3))")
        self.conn.commit()

    def test_autocommit_switched_on_commits_each_statement(self):
        self.cur.execute(INSERT, *ROWS[0])
        self.conn.autocommit = True  # ODBC: switching it on commits the open work
        self.assertEqual(committed_rows(), ROWS[:1])
        self.cur.execute(INSERT, *ROWS[1])
        self.assertEqual(committed_rows(), ROWS[:2])
        self.conn.autocommit = False
        self.cur.execute(INSERT, *ROWS[2])
        self.conn.rollback()
        self.assertEqual(committed_rows(), ROWS[:2])

    def test_connection_attributes(self):
        self.conn.set_attr(pyodbc.SQL_ATTR_TXN_ISOLATION, pyodbc.SQL_TXN_SERIALIZABLE)
        self.conn.set_attr(SQL_ATTR_CONNECTION_TIMEOUT, 30)
        self.cur.execute(INSERT, *ROWS[0])
        self.conn.commit()
        self.assertEqual(committed_rows(), ROWS[:1])
        # An isolation level ODBC does not define is refused (and set right again: the
        # driver keeps refusing settings until it is).
        with self.assertRaises(pyodbc.Error):
            self.conn.set_attr(pyodbc.SQL_ATTR_TXN_ISOLATION, 3)
        self.conn.set_attr(pyodbc.SQL_ATTR_TXN_ISOLATION, pyodbc.SQL_TXN_READ_COMMITTED)

    def tearDown(self):
        self.conn.rollback()
        self.conn.autocommit = True
        self.cur.execute("DROP TABLE ledger")


if __name__ == "__main__":
    q4e2e.main()
