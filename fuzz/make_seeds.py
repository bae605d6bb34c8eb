#!/usr/bin/python3
"""Writes the seed corpora of the driver's fuzz targets (fuzz/corpus/*):
well-formed inputs that reach the interesting paths at once."""
import os
import struct
import sys

root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    os.makedirs(os.path.join(root, target), exist_ok=True)
    with open(os.path.join(root, target, name), "wb") as f:
        f.write(data)


# Connection strings: byte 0 picks the keywords, the text follows.
for i, text in enumerate([
        "DSN=q4sample;UID=joe;PWD=secret;ACCOUNT=main",
        "DRIVER={Q4};SERVER=db.example.com;PORTNUMBER=1603;UID=a;PWD=~Zq;x;ACCOUNT=acc;"
        "ACPASSWORD=~Yy;LoginTimeout=5",
        "dsn = x ; uid=  u;Q4PWD=p;AConnectDialog=Yes;ConnectDialog=No;NUMERICFORMAT=$/,/.",
        "VIRTUALMACHINE=vm;Q4VERSION=754;ServerFormatOpt=1;NotNullConstraint=Y;DisableExtFetch=Yes",
]):
    write("connection_string", "seed%d" % i, bytes([i * 7 + (0x80 if i % 2 else 0)]) + text.encode())


# Execute replies: byte 0 the reading (fuzz/reply_fuzzer.cpp), byte 1 the
# status letter (0 "K"), then counts, description section and row block.
def value(sql_type, data):
    return struct.pack(">HI", sql_type, len(data)) + data


def counts(columns, rows):
    return struct.pack(">II", columns, rows)


def section(columns):
    entries = b""
    for name, sql_type in columns:
        record = name.encode() + b"\0" + struct.pack(">HIHH", sql_type, 10, 2, 1)
        entries += struct.pack(">I", len(record) + 4) + record
    return b"X" + struct.pack(">I", len(entries) + 4) + entries


rows = b""
for i in range(1, 6):
    rows += (b"K" if i > 1 else b"") + value(4, struct.pack(">i", i)) + value(12, b"name%d" % i) \
        + value(2, b"12.50") + value(9, b"2024-01-0%d" % i)
described = section([("T.ID", 4), ("T.NAME", 12), ("T.PRICE", 2), ("T.D", 9)])
write("reply", "rows", bytes([0, 0]) + counts(4, 5) + described + rows + b"W")
write("reply", "more", bytes([0x05, 0]) + counts(4, 50) + rows + b"M")
write("reply", "rowsets", bytes([0x0E, 0]) + counts(4, 5) + rows + b"W")
write("reply", "nulls", bytes([0x11, 0]) + counts(2, 1) + struct.pack(">HI", 0xFFFF, 0)
      + value(10, b"12:30:00") + b"W")
write("reply", "timestamps", bytes([0x1C, 0]) + counts(2, 2)
      + value(11, b"2024-02-29 23:59:59.123") + value(0xFFFD, b"\x00\x01\xff") + b"K"
      + value(11, b"1999-12-31 00:00:00") + value(0xFFFC, b"abc") + b"W")
write("reply", "error", bytes([0, 2]) + b"26 near FROM")
write("reply", "no_rows", bytes([0, 0]) + counts(3, 0xFFFFFFFF) + described)

# Row blocks: u16 column count, then the block.
write("row_block", "four_columns", struct.pack(">H", 4) + rows + b"W")
write("row_block", "nulls", struct.pack(">H", 2) + struct.pack(">HI", 0xFFFF, 0)
      + value(10, b"12:30:00") + b"K" + value(4, b"\0\0\0\1") + value(12, b"") + b"M")

# Reply streams for the assembler: byte 0 the area and frame rule
# (fuzz/reply_assembler_fuzzer.cpp), then frames: u16 frame length, the
# status string and its NUL (first frame only), u16 chunk length, u16 more
# flag, the chunk.
def frame(chunk, more=False, status=None):
    lead = b"" if status is None else status + b"\0"
    body = lead + struct.pack(">HH", len(chunk), 1 if more else 0) + chunk
    return struct.pack(">H", len(body) + 2) + body


write("reply_assembler", "one_frame", bytes([0x08]) + frame(b"0123456789" * 3, status=b"Kdone"))
write("reply_assembler", "status_only", bytes([0x01]) + frame(b"", status=b"E26 near FROM"))
write("reply_assembler", "three_frames", bytes([0x08]) + frame(bytes(range(256)) * 80, True, b"K")
      + frame(b"x", True) + frame(b"end"))
write("reply_assembler", "growing", bytes([0x14]) + frame(b"a" * 100, True, b"K")
      + frame(b"b" * 20480, True) + frame(b""))
write("reply_assembler", "grown_before", bytes([0x34]) + frame(b"c" * 300, status=b"K"))
write("reply_assembler", "one_frame_rule", bytes([0x48]) + frame(b"row", status=b"W")
      + frame(b"ignored", status=b"K"))

# Statement texts: every shape the scanner and the column reading know.
for i, text in enumerate([
        "\n  -- load ?\n  INSERT INTO t (a, \"b c\") VALUES (?, ?), (?, upper(?))",
        "/* ? */ UPDATE t SET a = ?, b = ? + 1 WHERE c = ? AND ? < d AND e BETWEEN ? AND ?",
        "SELECT 'it''s ?', \"q?\"\"\" FROM t x WHERE x.a IN (?, ?) AND NOT b <> ? -- ?",
        "(SELECT a FROM t WHERE a = ?) UNION (SELECT ? FROM u) {call p(?)} {fn UCASE(?)}",
        "DELETE FROM main.t WHERE a >= ? /* unterminated ?",
        "-- lead\n> raw ? text",
        "SELECT a FROM t, u WHERE a = ? AND 'unterminated ?",
]):
    write("statement_text", "seed%d" % i, text.encode())
sys.exit(0)

