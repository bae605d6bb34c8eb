#!/usr/bin/python3
"""LibreOffice Base's ODBC database driver, run headless and driven through its Python bridge
(python3-uno) against the sample database served by run_script.sh: result descriptions (type names,
precision, scale) and prepared statements with setTimestamp and setString.
LibreOffice runs with a private profile under $Q4_WORK and is killed when the script ends."""
import atexit
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

try:
    import uno
    from com.sun.star.beans import PropertyValue
    from com.sun.star.sdbc import DataType, SQLException
    from com.sun.star.util import DateTime
except ImportError:
    print("SKIPPED: LibreOffice's Python bridge is missing (python3-uno)")
    sys.exit(77)

if not shutil.which("soffice") or not os.path.exists("/usr/lib/libreoffice/program/libodbclo.so"):
    print("SKIPPED: LibreOffice or its ODBC database driver is missing (libreoffice-base-drivers)")
    sys.exit(77)
TEXT = "Zoë Ærø 東京 😀"
WORK = os.environ["Q4_WORK"]
PIPE = "q4odbc_e2e_%d" % os.getpid()


def start_office():
    """Starts soffice in a process group of its own and returns its component context."""
    office = subprocess.Popen(
        ["soffice", "--headless", "--invisible", "--nologo", "--norestore", "--nodefault",
         "--nolockcheck", "-env:UserInstallation=file://%s/libreoffice" % WORK,
         "--accept=pipe,name=%s;urp;" % PIPE],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True)
    # soffice forks soffice.bin: killing the whole group leaves nothing behind, even when the
    # office hangs or this script fails.
    atexit.register(lambda: os.killpg(office.pid, signal.SIGKILL) if office.poll() is None else None)
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # a timeout's TERM runs atexit too
    local = uno.getComponentContext()
    resolver = local.ServiceManager.createInstanceWithContext(
        "com.sun.star.bridge.UnoUrlResolver", local)
    deadline = time.monotonic() + 60
    while True:
        try:
            return resolver.resolve("uno:pipe,name=%s;urp;StarOffice.ComponentContext" % PIPE)
        except Exception:  # not listening yet (NoConnectException)
            if office.poll() is not None or time.monotonic() > deadline:
                raise
            time.sleep(0.1)


def prop(name, value):
    p = PropertyValue()
    p.Name, p.Value = name, value
    return p


class LibreOfficeBase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        context = start_office()
        manager = context.ServiceManager.createInstanceWithContext(
            "com.sun.star.sdbc.DriverManager", context)
        # CharSet is the data source's "Character set" in Base: without it LibreOffice converts
        # text to a single-byte character set and sends "?" for whatever that cannot hold.
        cls.conn = manager.getConnectionWithInfo(
            "sdbc:odbc:" + os.environ["Q4_DSN"],
            (prop("user", "test"), prop("password", "secret"), prop("CharSet", "UTF-8")))

    @classmethod
    def tearDownClass(cls):
        cls.conn.close()

    def execute(self, sql, *setters):
        """Prepares sql, calls each (method name, value) setter in parameter order, executes."""
        statement = self.conn.prepareStatement(sql)
        for index, (method, value) in enumerate(setters, 1):
            getattr(statement, method)(index, value)
        return statement.executeQuery() if sql.lstrip().upper().startswith("SELECT") else \
            statement.executeUpdate()

    def column(self, sql, getter, *setters):
        result, got = self.execute(sql, *setters), []
        while result.next():
            value = getattr(result, getter)(1)
            got.append(None if result.wasNull() else value)
        return got

    def round_trip(self, table, column_type, getter, setters):
        """Inserts one row (k, v) per (method name, value) setter, k counting from 0, and reads v
        back through `getter` in that order."""
        self.execute("CREATE TABLE %s (k INTEGER, v %s)" % (table, column_type))
        for k, setter in enumerate(setters):
            self.execute("INSERT INTO %s VALUES (?, ?)" % table, ("setInt", k), setter)
        return self.column("SELECT v FROM %s ORDER BY k" % table, getter)

    def test_columns_describe_their_type_name_precision_and_scale(self):
        self.execute("CREATE TABLE described (k INTEGER, name VARCHAR(40), amount NUMERIC(12,2), "
                     "x DOUBLE, d DATE, ts TIMESTAMP)")
        result = self.conn.createStatement().executeQuery("SELECT * FROM described")
        meta = result.getMetaData()  # valid while its result set lives
        got = {meta.getColumnName(i): (meta.getColumnTypeName(i), meta.getPrecision(i),
                                       meta.getScale(i)) for i in range(1, meta.getColumnCount() + 1)}
        for name, (type_word, precision, scale) in {"k": ("INT", 10, 0), "name": ("CHAR", 40, 0),
                                                    "amount": ("", 12, 2), "x": ("", None, 0),
                                                    "d": ("DATE", 10, 0), "ts": ("TIME", None, None)
                                                    }.items():
            with self.subTest(column=name):
                type_name, got_precision, got_scale = got[name]
                self.assertTrue(type_name, "empty type name")
                self.assertIn(type_word, type_name.upper())
                if precision is not None:
                    self.assertEqual(got_precision, precision)
                if scale is not None:
                    self.assertEqual(got_scale, scale)

    def test_timestamps_keep_their_fraction(self):
        stamps = [DateTime(123456000, 15, 20, 10, 5, 3, 2024, False),
                  DateTime(999000000, 59, 59, 23, 31, 12, 1999, False),
                  DateTime(1000, 0, 0, 0, 29, 2, 2024, False)]
        got = self.round_trip("stamps", "TIMESTAMP", "getTimestamp",
                              [("setTimestamp", ts) for ts in stamps])
        as_tuple = lambda t: (t.Year, t.Month, t.Day, t.Hours, t.Minutes, t.Seconds, t.NanoSeconds)
        self.assertEqual([as_tuple(t) for t in got], [as_tuple(t) for t in stamps])

    def test_text_round_trips(self):
        # LibreOffice binds text as SQL_CHAR, whose trailing blanks the driver drops as padding.
        texts = [TEXT, "", "it's " * 2000 + "the end", None]
        setters = [("setNull", DataType.VARCHAR) if t is None else ("setString", t) for t in texts]
        self.assertEqual(self.round_trip("notes", "TEXT", "getString", setters), texts)


if __name__ == "__main__":
    unittest.main(verbosity=2)
