"""What the pyodbc end-to-end tests share: the data source run_script.sh serves, a connection to
it with pyodbc's default settings, a test case that opens one for each test, and the way a test
script ends. The tests run from this folder, so `import q4e2e` finds this file."""
import os
import sys
import unittest

import pyodbc

# The data source of run_script.sh as user test; Q4_DSN_NAME alone for strings that name
# another user or add keywords.
Q4_DSN_NAME = os.environ["Q4_DSN"]
DSN = "DSN=%s;UID=test;PWD=secret" % Q4_DSN_NAME
# Text as people write it: accents, another script, a character outside the BMP.
TEXT = "Zoë Ærø 東京 😀"


def connect(text=DSN, autocommit=True):
    """A pyodbc connection with default settings but autocommit, which pyodbc turns off unless
    asked."""
    return pyodbc.connect(text, autocommit=autocommit)


class Connected(unittest.TestCase):
    """A connection (self.conn) and a cursor (self.cur) for each test, closed after it.
    `autocommit` False gives pyodbc's default, a transaction the test commits."""
    autocommit = True

    def connect(self):
        return connect(autocommit=self.autocommit)

    def setUp(self):
        self.conn = self.connect()
        self.addCleanup(self.conn.close)
        self.cur = self.conn.cursor()

    def read(self, query, *parameters):
        """The rows of `query` as tuples."""
        return [tuple(r) for r in self.cur.execute(query, *parameters).fetchall()]


def main():
    """Runs the test cases of the script that calls it, naming each test; the exit status is 1
    when any failed."""
    result = unittest.main(module="__main__", verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
