"""pyodbc executemany through unixODBC against q4lite: rows of bound
parameters (text with apostrophes, integers, exact decimals, dates, bytes and
None) inserted by one prepared statement and read back."""
import datetime
import decimal
import os
import sys

import pyodbc


def main():
    cnxn = pyodbc.connect("DSN=%s;UID=test;PWD=secret" % os.environ["Q4_DSN"], autocommit=True)
    # The driver takes single-byte text: str parameters go as SQL_C_CHAR.
    cnxn.setencoding(encoding="utf-8")
    cnxn.setdecoding(pyodbc.SQL_CHAR, encoding="utf-8")
    cur = cnxn.cursor()
    cur.execute("CREATE TABLE P (K INTEGER, NAME VARCHAR(60), AMOUNT NUMERIC(10,2), "
                "DAY DATE, RAW BLOB, NOTE VARCHAR(20))")

    rows = []
    for k in range(1, 501):
        rows.append((k,
                     "O'Brien #%d, 'quoted' ?" % k,
                     decimal.Decimal("%d.%02d" % (k, k % 100)),
                     datetime.date(2000 + k % 30, 1 + k % 12, 1 + k % 28),
                     bytes([k % 256, 0, 255, (k * 7) % 256]),
                     None if k % 3 == 0 else "note %d" % k))
    cur.executemany("INSERT INTO P (K, NAME, AMOUNT, DAY, RAW, NOTE) VALUES (?, ?, ?, ?, ?, ?)",
                    rows)

    cur.execute("SELECT COUNT(*) FROM P")
    count = cur.fetchone()[0]
    if count != len(rows):
        sys.exit("expected %d rows, found %d" % (len(rows), count))

    cur.execute("SELECT K, NAME, AMOUNT, DAY, RAW, NOTE FROM P ORDER BY K")
    back = cur.fetchall()
    for sent, got in zip(rows, back):
        got = tuple(got)
        if int(got[0]) != sent[0] or got[1] != sent[1] or decimal.Decimal(got[2]) != sent[2]:
            sys.exit("row %d: sent %r, got %r" % (sent[0], sent, got))
        day = got[3] if isinstance(got[3], datetime.date) else datetime.date.fromisoformat(got[3])
        if day != sent[3] or bytes(got[4]) != sent[4] or got[5] != sent[5]:
            sys.exit("row %d: sent %r, got %r" % (sent[0], sent, got))

    # A parameter in a WHERE clause, and one that matches nothing.
    cur.execute("SELECT COUNT(*) FROM P WHERE NAME = ?", "O'Brien #7, 'quoted' ?")
    if cur.fetchone()[0] != 1:
        sys.exit("lookup by a name with apostrophes failed")
    cur.execute("SELECT COUNT(*) FROM P WHERE NOTE IS NULL")
    if cur.fetchone()[0] != len([r for r in rows if r[5] is None]):
        sys.exit("NULL parameters were not stored as NULL")
    print("executemany ok: %d rows" % count)


if __name__ == "__main__":
    main()
