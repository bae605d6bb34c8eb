"""What the pyodbc end-to-end tests share: the data source run_script.sh serves, a connection to
it with pyodbc's default settings, a test case that opens one for each test, a q4lite of a test's
own (TLS ones with tests/tls/make_certs.sh's certificates), and the way a test script ends. The
tests run from this folder, so `import q4e2e` finds this file."""
import contextlib
import os
import subprocess
import sys
import threading
import time
import unittest

import pyodbc

# The data source of run_script.sh as user test; Q4_DSN_NAME alone for strings that name
# another user or add keywords.
Q4_DSN_NAME = os.environ["Q4_DSN"]
DSN = "DSN=%s;UID=test;PWD=secret" % Q4_DSN_NAME
# Text as people write it: accents, another script, a character outside the BMP.
TEXT = "Zoë Ærø 東京 😀"
HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("Q4_BUILD_DIR") or os.path.join(HERE, "..", "..", "build")
WORK = os.environ["Q4_WORK"]


def cert(name):
    """The path of one of make_certs.sh's files, made at the first call."""
    certs = os.path.join(WORK, "certs")
    if not os.path.exists(os.path.join(certs, "ca.pem")):
        subprocess.run(["bash", os.path.join(HERE, "..", "tls", "make_certs.sh"), certs],
                       check=True, stdout=subprocess.DEVNULL)
    return os.path.join(certs, name)


def start_q4lite(directory, *args, stderr=None):
    """A q4lite with --quiet on a free port serving run_script.sh's sample database to the same
    users, with `args` added (its port file in `directory`); returns the process and the port."""
    port_file = os.path.join(directory, "port")
    process = subprocess.Popen(
        [os.path.join(BUILD, "q4lite"), "--listen", "127.0.0.1:0", "--port-file", port_file,
         "--quiet", "--db", os.path.join(WORK, "sample.db"), "--users",
         os.path.join(WORK, "users"), *args], stderr=stderr)
    for _ in range(500):
        if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
            with open(port_file) as f:
                return process, int(f.read())
        if process.poll() is not None:
            break
        time.sleep(0.01)
    raise RuntimeError("q4lite did not start" + (": " + open(stderr.name).read() if stderr else ""))


def connect(text=DSN, autocommit=True):
    """A pyodbc connection with default settings but autocommit, which pyodbc turns off unless
    asked."""
    return pyodbc.connect(text, autocommit=autocommit)


@contextlib.contextmanager
def cancel_after(cursor, seconds=0.5):
    """The block runs while another thread calls cursor.cancel() after `seconds`, and must fail
    with a pyodbc.Error. Yields a dict that then holds the "error", when the block "ended", and
    the "latency" from the cancel to the end."""
    cut, when = {}, []

    def cancel():
        time.sleep(seconds)
        when.append(time.monotonic())
        cursor.cancel()
    thread = threading.Thread(target=cancel)
    thread.start()
    try:
        yield cut
    except pyodbc.Error as error:
        cut["error"] = error
    cut["ended"] = time.monotonic()
    thread.join()
    cut["latency"] = time.monotonic() - when[0]
    if "error" not in cut:
        raise AssertionError("the cancelled call did not fail")


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
