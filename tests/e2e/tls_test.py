#!/usr/bin/python3
"""Encrypted links as applications meet them: pyodbc with default settings (and a C program
through ctypes) against q4lite serving TLS (--tls-cert/--tls-key, certificates made at
test time by tests/tls/make_certs.sh): every SSLMode against every certificate, settings that
cannot work, both wrong pairings and a silent server within the time limits, the query timeout
and a cancel over TLS, the driver log's version and cipher, a recording relay showing that
neither the password nor a statement crosses in clear; and q4lite's own side as any TLS client
sees it: TLS 1.2 or newer, SIGHUP's reload of the certificate under an open connection, a broken
reload keeping the certificate, and refusing to start on files it cannot use."""
import contextlib
import ctypes
import os
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

import pyodbc

import q4e2e

from q4e2e import WORK, cert

Q4LITE = os.path.join(q4e2e.BUILD, "q4lite")
PLAIN_PORT = int(os.environ["Q4_PORT"])  # run_script.sh's own q4lite, plain text

# A report as people write it: several lines, a comment, NULLs, non-ASCII text, a fraction,
# an empty string and a long text.
REPORT = """SELECT 'Zoë Ærø 東京 😀' AS label, -- what the customer typed
       NULL AS missing,
       1.25 AS fraction,
       '' AS empty,
       ? AS long_text"""
LONG_TEXT = "Dünn und lang. " * 3000  # 45,000 characters: several frames each way
SERVER_NAMES = ["localhost", "127.0.0.1"]  # server.pem's subjectAltName


class Server:
    """A q4lite of its own with --quiet on a free port, serving the sample database of
    run_script.sh to the same users over TLS with copies of `name`'s certificate and key (so that
    a test may replace them). Its stderr is kept in `log_path`."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(dir=WORK)
        self.cert = os.path.join(self.dir, "q4lite.pem")
        self.key = os.path.join(self.dir, "q4lite.key")
        self.install(name)
        self.log_path = os.path.join(self.dir, "q4lite.log")
        self.log = open(self.log_path, "w")
        self.process, self.port = q4e2e.start_q4lite(
            self.dir, "--test-functions", "--tls-cert", self.cert, "--tls-key", self.key,
            stderr=self.log)

    def install(self, name):
        shutil.copy(cert(name + ".pem"), self.cert)
        shutil.copy(cert(name + ".key"), self.key)

    def read_log(self):
        self.log.flush()
        with open(self.log_path) as f:
            return f.read()

    def reload(self, words):
        """SIGHUP, then waits for q4lite to log `words`."""
        os.kill(self.process.pid, signal.SIGHUP)
        for _ in range(250):
            if words in self.read_log():
                return
            time.sleep(0.02)
        raise AssertionError("q4lite did not log %r: %s" % (words, self.read_log()))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()


def string(port, mode=None, server="127.0.0.1", root=None, extra=""):
    """A DRIVER connection string as an application writes one, user test / secret."""
    return ("DRIVER=Q4;SERVER=%s;PORT=%d;UID=test;PWD=secret;ACCOUNT=main;" % (server, port)
            + ("SSLMode=%s;" % mode if mode else "") + ("SSLRootCert=%s;" % root if root else "")
            + extra)


connect = q4e2e.connect  # autocommit on, pyodbc's defaults otherwise


def verified(port, extra=""):
    """verify-full of localhost against the test CA."""
    return string(port, "verify-full", "localhost", cert("ca.pem"), extra)


def tls_client(port, check_hostname=True, maximum=None):
    """A TLS connection of Python's ssl module that trusts the test CA and checks localhost."""
    context = ssl.create_default_context(cafile=cert("ca.pem"))
    context.check_hostname = check_hostname
    if maximum is not None:
        context.maximum_version = maximum
    return context.wrap_socket(socket.create_connection(("127.0.0.1", port), timeout=5),
                               server_hostname="localhost")


def names_of(connection):
    return [value for _, value in connection.getpeercert()["subjectAltName"]]


def c_connect(text):
    """(return code, state, message) of SQLDriverConnect without prompting, as a C application
    calls it through unixODBC: pyodbc would try a failed connect twice (its wide and its ANSI
    call)."""
    odbc = ctypes.CDLL("libodbc.so.2")
    env, dbc = ctypes.c_void_p(), ctypes.c_void_p()
    odbc.SQLAllocHandle(1, None, ctypes.byref(env))
    odbc.SQLSetEnvAttr(env, 200, ctypes.c_void_p(3), 0)  # SQL_OV_ODBC3
    odbc.SQLAllocHandle(2, env, ctypes.byref(dbc))
    rc = odbc.SQLDriverConnect(dbc, None, text.encode(), -3, None, 0, None, 0)
    state, message = ctypes.create_string_buffer(6), ctypes.create_string_buffer(512)
    odbc.SQLGetDiagRec(2, dbc, 1, state, None, message, 512, None)
    odbc.SQLDisconnect(dbc)
    odbc.SQLFreeHandle(2, dbc)
    odbc.SQLFreeHandle(1, env)
    return rc, state.value.decode(), message.value.decode()


class Relay:
    """A TCP relay that writes down every byte it forwards, both ways."""

    def __init__(self, target_port):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.target = target_port
        self.recorded = bytearray()
        self.lock = threading.Lock()
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.target))
            for a, b in ((client, server), (server, client)):
                threading.Thread(target=self.pump, args=(a, b), daemon=True).start()

    def pump(self, source, sink):
        with contextlib.suppress(OSError):
            while data := source.recv(65536):
                with self.lock:
                    self.recorded += data
                sink.sendall(data)
        with contextlib.suppress(OSError):
            sink.shutdown(socket.SHUT_WR)


class Tls(unittest.TestCase):
    """Four TLS servers shared by the tests: the names are make_certs.sh's certificates."""

    @classmethod
    def setUpClass(cls):
        cls.servers = {name: Server(name) for name in ("server", "other", "expired", "rogue")}

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers.values():
            server.stop()

    def port(self, name):
        return self.servers[name].port

    def assert_refused(self, text, words, state="08001"):
        """The connect fails within 5 seconds with `state` and `words`; returns the message."""
        start = time.monotonic()
        with self.assertRaises(pyodbc.Error) as failure:
            connect(text)
        elapsed, message = time.monotonic() - start, str(failure.exception)
        print("  %.2f s: %s" % (elapsed, message))
        self.assertEqual(failure.exception.args[0], state, message)
        self.assertIn(words, message)
        self.assertLess(elapsed, 5.0)
        return message

    def test_every_mode_against_every_certificate(self):
        ca = cert("ca.pem")
        # (certificate the server shows, SSLMode, SERVER, SSLRootCert, None or the reason)
        cases = [
            ("server", "require", "127.0.0.1", None, None),
            ("server", "REQUIRE", "localhost", None, None),
            ("server", "verify-ca", "127.0.0.1", ca, None),
            ("server", "verify-full", "localhost", ca, None),
            ("server", "verify-full", "127.0.0.1", ca, None),
            ("other", "verify-ca", "localhost", ca, None),
            ("other", "verify-full", "localhost", ca, "hostname mismatch"),
            # other.pem names other.example only: an address is no match for verify-full.
            ("other", "verify-full", "127.0.0.1", ca, "IP address mismatch"),
            ("expired", "verify-ca", "localhost", ca, "certificate has expired"),
            ("rogue", "require", "localhost", None, None),  # require checks no certificate
            ("rogue", "verify-ca", "localhost", ca, "unable to get local issuer certificate"),
            # The system's store does not know the test CA.
            ("server", "verify-ca", "localhost", None, "unable to get local issuer certificate"),
        ]
        for name, mode, host, root, reason in cases:
            with self.subTest(certificate=name, mode=mode, host=host, root=root):
                text = string(self.port(name), mode, host, root)
                if reason is None:
                    conn = connect(text)
                    row = conn.cursor().execute("SELECT 'Zoë', NULL, 1.25").fetchone()
                    self.assertEqual(tuple(row), ("Zoë", None, 1.25))
                    conn.close()
                else:
                    message = self.assert_refused(text, reason)
                    self.assertIn("TLS handshake with the server failed: certificate verify "
                                  "failed", message)

    def test_settings_that_cannot_work_fail_before_anything_is_sent(self):
        missing = os.path.join(WORK, "no-such-roots.pem")
        not_pem = cert("server.ext")
        cases = [
            (string(self.port("server"), "on"),
             'The SSLMode value "on" is not one of disable, require, verify-ca, verify-full.'),
            (string(self.port("server"), "verify-ca", root=missing),
             "TLS could not be set up: cannot read the trusted roots in %s: No such file or "
             "directory" % missing),
            (string(self.port("server"), "verify-full", "localhost", not_pem),
             "TLS could not be set up: cannot read the trusted roots in %s: no PEM certificate "
             "in the file" % not_pem),
            # A TLS driver at a plain port: q4lite's plain port recognises the hello and closes.
            (string(PLAIN_PORT, "require"), "is it a TLS port?"),
        ]
        for text, words in cases:
            with self.subTest(text=text):
                self.assert_refused(text, words)

    def test_a_plain_driver_at_a_tls_port_fails_at_once_and_is_logged(self):
        server = self.servers["server"]
        self.assert_refused(string(server.port), "", "08S01")
        time.sleep(0.2)
        # Logged although q4lite runs with --quiet.
        self.assertIn("refused, TLS handshake failed", server.read_log())

    def test_a_silent_server_ends_the_handshake_at_the_login_timeout(self):
        with socket.create_server(("127.0.0.1", 0)) as silent:
            start = time.monotonic()
            rc, state, message = c_connect(
                string(silent.getsockname()[1], "require", extra="LoginTimeout=2;"))
            elapsed = time.monotonic() - start
            print("  %.2f s: %s %s" % (elapsed, state, message))
            self.assertEqual((rc, state), (-1, "08001"))
            self.assertIn("TLS handshake with the server failed: no TLS answer from the server "
                          "within 2 seconds", message)
            self.assertTrue(1.9 < elapsed < 3.0, elapsed)

    def test_q4lite_serves_tls_1_2_or_newer(self):
        with tls_client(self.port("server")) as connection:
            self.assertIn(connection.version(), ("TLSv1.2", "TLSv1.3"))
            self.assertEqual(names_of(connection), SERVER_NAMES)
        # A client that offers TLS 1.2 at most still gets in.
        with tls_client(self.port("server"), maximum=ssl.TLSVersion.TLSv1_2) as connection:
            self.assertEqual(connection.version(), "TLSv1.2")

    def test_an_everyday_report_over_tls(self):
        conn = connect(verified(self.port("server")))
        cur = conn.cursor()
        # (1.25 equals the fraction whether it comes as a float or a Decimal.)
        self.assertEqual(tuple(cur.execute(REPORT, LONG_TEXT).fetchone()),
                         ("Zoë Ærø 東京 😀", None, 1.25, "", LONG_TEXT))
        # Many rows, in several blocks.
        rows = cur.execute("""WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
                              WHERE i < 20000) SELECT i, 'row ' || i FROM n""").fetchall()
        self.assertEqual(len(rows), 20000)
        self.assertEqual(tuple(rows[-1]), (20000, "row 20000"))
        # A parameter array sent ahead of its replies (pyodbc's fast_executemany).
        cur.execute("CREATE TEMP TABLE notes (id INTEGER, body VARCHAR(200))")
        cur.fast_executemany = True
        cur.executemany("INSERT INTO notes VALUES (?, ?)",
                        [(i, "note %d Ærø" % i if i % 7 else None) for i in range(3000)])
        self.assertEqual(tuple(cur.execute("SELECT COUNT(*), COUNT(body) FROM notes").fetchone()),
                         (3000, 2571))
        conn.close()

    def test_the_driver_log_names_version_and_cipher(self):
        log = os.path.join(WORK, "tls-driver.log")
        connect(verified(self.port("server"), "LogFile=%s;" % log)).close()
        with open(log) as f:
            self.assertRegex(f.read(), r'event="tls TLSv1\.[23] \S+ sslmode=verify-full"')
        with self.assertRaises(pyodbc.Error):
            connect(verified(self.port("other"), "LogFile=%s;" % log))
        with open(log) as f:
            self.assertIn('event="tls failed: certificate verify failed: hostname mismatch"',
                          f.read())

    def test_the_query_timeout_ends_a_held_statement(self):
        conn = connect(verified(self.port("server")))
        self.addCleanup(conn.close)
        conn.timeout = 1  # pyodbc sets it as each statement's SQL_ATTR_QUERY_TIMEOUT
        start = time.monotonic()
        with self.assertRaises(pyodbc.Error) as failure:
            conn.cursor().execute("SELECT q4_sleep(4000) AS held -- on purpose\n")
        elapsed = time.monotonic() - start
        print("  %.2f s: %s" % (elapsed, failure.exception))
        self.assertEqual(failure.exception.args[0], "HYT00", failure.exception)
        self.assertIn("Timeout expired", failure.exception.args[1])
        self.assertLess(elapsed, 3.0)
        with self.assertRaises(pyodbc.Error) as after:  # a late reply could not be told apart
            conn.cursor().execute("SELECT 1").fetchall()
        self.assertEqual(after.exception.args[0], "08S01", after.exception)

    def test_a_cancel_from_another_thread_cuts_the_wait(self):
        conn = connect(string(self.port("server"), "require"))
        cursor = conn.cursor()
        with q4e2e.cancel_after(cursor) as cut:
            cursor.execute("SELECT q4_sleep(4000) AS waited, -- held on purpose\n 'Zoë'")
        print("  returned %.1f ms after cancel()" % (cut["latency"] * 1000))
        self.assertEqual(cut["error"].args[0], "HY008", cut["error"])
        self.assertLess(cut["latency"], 1.0)
        conn.close()
        # A new encrypted connection works.
        again = connect(string(self.port("server"), "require"))
        self.assertEqual(again.cursor().execute("SELECT 'Zoë'").fetchone()[0], "Zoë")
        again.close()

    def test_no_password_or_statement_crosses_a_tls_link_in_clear(self):
        marker = "Quarterly_Ærø_marker_%d" % os.getpid()
        secrets = [b"secret", b"acsecret9", marker.encode(), "Ærø".encode(), b"SELECT",
                   b"marker", b"Z\xc3\xab"]
        # The control first: through the same relay a plain link shows them.
        for label, target, mode in (("plain", PLAIN_PORT, None),
                                    ("tls", self.port("server"), "require")):
            with self.subTest(label):
                relay = Relay(target)
                conn = connect(string(relay.port, mode, extra="ACPASSWORD=acsecret9;"))
                rows = conn.cursor().execute(
                    "SELECT '%s' AS marker, -- a comment\n ? AS text" % marker, "Zoë").fetchall()
                self.assertEqual(tuple(rows[0]), (marker, "Zoë"))
                conn.close()
                time.sleep(0.2)
                relay.listener.close()
                with relay.lock:
                    wire = bytes(relay.recorded)
                if mode is None:
                    self.assertIn(b"secret", wire)
                    self.assertIn(marker.encode(), wire)
                    continue
                self.assertGreater(len(wire), 1000)
                for secret in secrets:
                    self.assertNotIn(secret, wire, secret)


class Reload(unittest.TestCase):
    def setUp(self):
        self.server = Server("server")
        self.addCleanup(self.server.stop)

    def test_sighup_serves_the_new_certificate_and_keeps_open_connections(self):
        before = connect(verified(self.server.port))
        cursor = before.cursor()
        self.assertEqual(cursor.execute("SELECT 'Zoë'").fetchone()[0], "Zoë")
        self.server.install("other")
        self.server.reload("certificate and key reloaded")
        # The open connection goes on, on its session.
        self.assertEqual(cursor.execute("SELECT ?", LONG_TEXT).fetchone()[0], LONG_TEXT)
        # New connections meet the new certificate (for other.example only).
        with tls_client(self.server.port, check_hostname=False) as after:
            self.assertEqual(names_of(after), ["other.example"])
        with self.assertRaises(pyodbc.Error) as failure:
            connect(verified(self.server.port))
        self.assertIn("hostname mismatch", str(failure.exception))
        connect(string(self.server.port, "verify-ca", "localhost", cert("ca.pem"))).close()
        before.close()

    def test_broken_files_keep_the_certificate_served(self):
        cases = [
            ("key", "not a key\n", "cannot use the key %s: no PEM private key in the file"),
            ("cert", "not a certificate\n",
             "cannot use the certificate %s: no PEM certificate in the file"),
        ]
        for which, text, words in cases:
            with self.subTest(which=which):
                path = self.server.key if which == "key" else self.server.cert
                with open(path, "w") as f:
                    f.write(text)
                self.server.reload("reload failed, the previous certificate stays: " +
                                   words % path)
                with tls_client(self.server.port) as connection:
                    self.assertEqual(names_of(connection), SERVER_NAMES)
                self.server.install("server")
        # A key, but another certificate's.
        shutil.copy(cert("other.key"), self.server.key)
        self.server.reload("the key %s does not match the certificate %s"
                           % (self.server.key, self.server.cert))
        connect(verified(self.server.port)).close()


class StartErrors(unittest.TestCase):
    def test_q4lite_names_the_file_it_cannot_use(self):
        missing, pem, key, ext, other = (os.path.join(WORK, "missing.pem"), cert("server.pem"),
                                         cert("server.key"), cert("server.ext"), cert("other.key"))
        cases = [  # (--tls-cert, --tls-key, exit status, message)
            (missing, key, 1, "cannot read the certificate %s: No such file or directory" % missing),
            (pem, missing, 1, "cannot read the key %s: No such file or directory" % missing),
            (ext, key, 1, "cannot use the certificate %s: no PEM certificate in the file" % ext),
            (pem, ext, 1, "cannot use the key %s: no PEM private key in the file" % ext),
            (pem, other, 1, "the key %s does not match the certificate %s" % (other, pem)),
            (pem, None, 2, "--tls-cert needs --tls-key"),
            (None, key, 2, "--tls-key needs --tls-cert"),
        ]
        for certificate, private_key, status, words in cases:
            args = (["--tls-cert", certificate] if certificate else []) + \
                   (["--tls-key", private_key] if private_key else [])
            with self.subTest(args=args):
                done = subprocess.run([Q4LITE, "--listen", "127.0.0.1:0"] + args,
                                      capture_output=True, text=True, timeout=10)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn("q4lite: " + words, done.stderr)


if __name__ == "__main__":
    q4e2e.main()
