#!/usr/bin/python3
"""Qt's ODBC plugin (QODBC, Debian's libqt5sql5-odbc) through PyQt5's QtSql against the sample
database served by run_script.sh: QSqlQuery with prepare, addBindValue and exec, QSqlRecord field
types and doubles at the ends of their range."""
import os
import sys
import unittest

try:
    from PyQt5.QtCore import QCoreApplication, QDate, QDateTime, QTime, QVariant
    from PyQt5.QtSql import QSql, QSqlDatabase, QSqlQuery
except ImportError:
    print("SKIPPED: PyQt5's QtSql is missing (python3-pyqt5.qtsql)")
    sys.exit(77)

APP = QCoreApplication(sys.argv)
if not QSqlDatabase.isDriverAvailable("QODBC"):
    print("SKIPPED: Qt's ODBC plugin is missing (libqt5sql5-odbc)")
    sys.exit(77)
TEXT = "Zoë Ærø 東京 😀"


class QtSql(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.db = QSqlDatabase.addDatabase("QODBC")
        cls.db.setDatabaseName(os.environ["Q4_DSN"])
        cls.db.setUserName("test")
        cls.db.setPassword("secret")
        if not cls.db.open():
            raise AssertionError("open: " + cls.db.lastError().text())

    def run_sql(self, sql, *values, precision=None):
        """Prepares, binds and executes; returns the query positioned before its first row."""
        query = QSqlQuery(self.db)
        if precision is not None:
            query.setNumericalPrecisionPolicy(precision)
        self.assertTrue(query.prepare(sql), query.lastError().text())
        for value in values:
            query.addBindValue(value)
        self.assertTrue(query.exec_(), "%s: %s" % (sql, query.lastError().text()))
        return query

    def table(self, name, columns, rows):
        """Creates table `name` (`columns`) and inserts `rows` in order, one execution each."""
        self.run_sql("CREATE TABLE %s (%s)" % (name, columns))
        for row in rows:
            self.run_sql("INSERT INTO %s VALUES (%s)" % (name, ", ".join("?" * len(row))), *row)

    def rows(self, sql, *values, precision=None):
        query = self.run_sql(sql, *values, precision=precision)
        width, got = query.record().count(), []
        while query.next():
            got.append(tuple(query.value(i) for i in range(width)))
        self.assertEqual(query.lastError().text(), "")
        return got

    def test_text_round_trips_and_fields_have_their_types(self):
        self.table("typed", "k INTEGER, name VARCHAR(40), x DOUBLE, d DATE, ts TIMESTAMP", [
            (1, TEXT, -2.5e-7, QDate(2024, 2, 29), QDateTime(QDate(2024, 3, 5), QTime(10, 20, 15))),
            (2, "", QVariant(), QVariant(), QVariant())])
        query = self.run_sql("SELECT k, name, x, d, ts FROM typed ORDER BY k")
        record = query.record()
        self.assertEqual([record.field(i).type() for i in range(record.count())],
                         [QVariant.Int, QVariant.String, QVariant.Double, QVariant.Date,
                          QVariant.DateTime])
        self.assertTrue(query.next())
        self.assertEqual([query.value(i) for i in range(2)], [1, TEXT])
        self.assertTrue(query.next())
        self.assertEqual(query.value(1), "")
        self.assertTrue(all(query.isNull(i) for i in range(2, 5)))

    def test_doubles_read_back_exactly_in_either_precision_policy(self):
        # LowPrecisionDouble (the default) reads a double; HighPrecision reads text into a buffer
        # of the column size plus one, where the exponent form of 1e300 fits.
        values = [1e300, 1e-300, 0.1, -2.5e-7, -1.7976931348623157e308, 5e-324]
        self.table("edges", "k INTEGER, x DOUBLE", enumerate(values))
        for policy, count in ((QSql.LowPrecisionDouble, 6), (QSql.HighPrecision, 4)):
            with self.subTest(policy=policy):
                got = self.rows("SELECT x FROM edges WHERE k < ? ORDER BY k", count,
                                precision=policy)
                self.assertEqual([float(r[0] or "nan") for r in got], values[:count])


if __name__ == "__main__":
    unittest.main(verbosity=2)
