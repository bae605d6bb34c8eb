#!/usr/bin/python3
"""Encrypted links as an application meets them: pyodbc with default settings connects to q4lite
serving TLS (--tls-cert/--tls-key, certificates made at test time by tests/tls/make_certs.sh),
with every SSLMode, every failure of the handshake, both wrong pairings (a TLS driver and a plain
port, a plain driver and a TLS port) within the time limits, the query timeout and a cancel over
TLS, the driver log's record of version and cipher, a recording relay showing that neither the
password nor a statement crosses in clear, and SIGHUP's reload of the certificate under an open
connection. (q4lite's side alone: q4lite_tls_test.py.)"""
import ctypes
import decimal
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

import pyodbc

import q4e2e

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("Q4_BUILD_DIR") or os.path.join(HERE, "..", "..", "build")
Q4LITE = os.path.join(BUILD, "q4lite")
WORK = os.environ["Q4_WORK"]
CERTS = os.path.join(WORK, "certs")
PLAIN_PORT = int(os.environ["Q4_PORT"])  # run_script.sh's own q4lite, plain text

# A report as people write it: several lines, a comment, NULLs, non-ASCII text, a 30-digit
# decimal, a fraction, an empty string and a long text.
REPORT = """SELECT 'Zoë Ærø 東京 😀' AS label, -- what the customer typed
       NULL AS missing,
       1.25 AS fraction,
       '' AS empty,
       ? AS long_text"""
LONG_TEXT = "Dünn und lang. " * 3000  # 45,000 characters: several frames each way


def make_certificates():
    if not os.path.exists(os.path.join(CERTS, "ca.pem")):
        subprocess.run(["bash", os.path.join(HERE, "..", "tls", "make_certs.sh"), CERTS],
                       check=True, stdout=subprocess.DEVNULL)


def cert(name):
    return os.path.join(CERTS, name)


class Server:
    """A q4lite of its own on a free port, serving the sample database of run_script.sh to the
    same users; TLS with `cert_name` when given. Its stderr is kept in `log_path`."""

    def __init__(self, cert_name=None, cert_file=None, key_file=None, extra=()):
        self.dir = tempfile.mkdtemp(dir=WORK)
        self.log_path = os.path.join(self.dir, "q4lite.log")
        port_file = os.path.join(self.dir, "port")
        args = [Q4LITE, "--listen", "127.0.0.1:0", "--port-file", port_file,
                "--db", os.path.join(WORK, "sample.db"), "--users", os.path.join(WORK, "users"),
                "--test-functions"] + list(extra)
        if cert_name is not None:
            cert_file, key_file = cert(cert_name + ".pem"), cert(cert_name + ".key")
        if cert_file is not None:
            args += ["--tls-cert", cert_file, "--tls-key", key_file]
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(args, stderr=self.log)
        for _ in range(500):
            if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
                break
            if self.process.poll() is not None:
                raise RuntimeError("q4lite ended: " + self.read_log())
            time.sleep(0.01)
        with open(port_file) as f:
            self.port = int(f.read())

    def read_log(self):
        self.log.flush()
        with open(self.log_path) as f:
            return f.read()

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()


def string(port, mode=None, server="127.0.0.1", root=None, extra=""):
    """A DRIVER connection string as an application writes one, user test / secret."""
    text = "DRIVER=Q4;SERVER=%s;PORT=%d;UID=test;PWD=secret;ACCOUNT=main;" % (server, port)
    if mode is not None:
        text += "SSLMode=%s;" % mode
    if root is not None:
        text += "SSLRootCert=%s;" % root
    return text + extra


def connect(text):
    return pyodbc.connect(text, autocommit=True)


class CApplication:
    """An ODBC 3 application in C, as ctypes calls unixODBC: for what pyodbc cannot do (a
    statement's query timeout) or does twice (a failed connect is tried by its wide and its ANSI
    call)."""

    def __init__(self):
        self.odbc = ctypes.CDLL("libodbc.so.2")
        self.env, self.dbc, self.stmt = ctypes.c_void_p(), ctypes.c_void_p(), ctypes.c_void_p()
        self.odbc.SQLAllocHandle(1, None, ctypes.byref(self.env))
        self.odbc.SQLSetEnvAttr(self.env, 200, ctypes.c_void_p(3), 0)  # SQL_OV_ODBC3
        self.odbc.SQLAllocHandle(2, self.env, ctypes.byref(self.dbc))

    def diagnostic(self, handle_type, handle):
        state, native = ctypes.create_string_buffer(6), ctypes.c_int()
        message, length = ctypes.create_string_buffer(512), ctypes.c_short()
        self.odbc.SQLGetDiagRec(handle_type, handle, 1, state, ctypes.byref(native), message, 512,
                                ctypes.byref(length))
        return state.value.decode(), message.value.decode()

    def connect(self, text):
        """(return code, state, message) of SQLDriverConnect without prompting."""
        rc = self.odbc.SQLDriverConnect(self.dbc, None, text.encode(), -3, None, 0, None, 0)
        return (rc,) + self.diagnostic(2, self.dbc)

    def execute(self, sql, query_timeout):
        self.odbc.SQLAllocHandle(3, self.dbc, ctypes.byref(self.stmt))
        self.odbc.SQLSetStmtAttr(self.stmt, 0, ctypes.c_void_p(query_timeout), 0)
        rc = self.odbc.SQLExecDirect(self.stmt, sql.encode(), -3)
        return (rc,) + self.diagnostic(3, self.stmt)

    def close(self):
        if self.stmt:
            self.odbc.SQLFreeHandle(3, self.stmt)
        self.odbc.SQLDisconnect(self.dbc)
        self.odbc.SQLFreeHandle(2, self.dbc)
        self.odbc.SQLFreeHandle(1, self.env)


class TlsCase(unittest.TestCase):
    servers = {}

    @classmethod
    def setUpClass(cls):
        make_certificates()
        cls.servers = {name: Server(name) for name in ("server", "other", "expired", "rogue")}

    @classmethod
    def tearDownClass(cls):
        for server in cls.servers.values():
            server.stop()

    def port(self, name):
        return self.servers[name].port

    def assert_refused(self, text, words, limit=5.0):
        start = time.monotonic()
        with self.assertRaises(pyodbc.Error) as failure:
            connect(text)
        elapsed = time.monotonic() - start
        message = str(failure.exception)
        print("  %.2f s: %s" % (elapsed, message))
        self.assertEqual(failure.exception.args[0], "08001", message)
        self.assertIn(words, message)
        self.assertLess(elapsed, limit)
        return message


class Modes(TlsCase):
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
            ("expired", "require", "localhost", None, None),
            ("expired", "verify-ca", "localhost", ca, "certificate has expired"),
            ("rogue", "require", "localhost", None, None),
            ("rogue", "verify-ca", "localhost", ca, "unable to get local issuer certificate"),
            ("rogue", "verify-full", "localhost", ca, "unable to get local issuer certificate"),
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

    def test_an_address_must_be_among_the_ip_names(self):
        # other.pem names other.example only: 127.0.0.1 is no match for verify-full.
        self.assert_refused(string(self.port("other"), "verify-full", "127.0.0.1",
                                   cert("ca.pem")), "IP address mismatch")

    def test_settings_that_cannot_work_fail_before_anything_is_sent(self):
        missing = os.path.join(WORK, "no-such-roots.pem")
        not_pem = cert("server.ext")
        cases = [
            (string(self.port("server"), "on"),
             'The SSLMode value "on" is not one of disable, require, verify-ca, verify-full.'),
            (string(self.port("server"), "verify"), 'The SSLMode value "verify"'),
            (string(self.port("server"), "verify-ca", root=missing),
             "TLS could not be set up: cannot read the trusted roots in %s: No such file or "
             "directory" % missing),
            (string(self.port("server"), "verify-full", "localhost", not_pem),
             "TLS could not be set up: cannot read the trusted roots in %s: no PEM certificate "
             "in the file" % not_pem),
        ]
        for text, words in cases:
            with self.subTest(text=text):
                self.assert_refused(text, words)

    def test_an_everyday_report_over_tls(self):
        conn = connect(string(self.port("server"), "verify-full", "localhost", cert("ca.pem")))
        cur = conn.cursor()
        row = cur.execute(REPORT, LONG_TEXT).fetchone()
        self.assertEqual(row.label, "Zoë Ærø 東京 😀")
        self.assertIsNone(row.missing)
        self.assertEqual(float(row.fraction), 1.25)
        self.assertEqual(row.empty, "")
        self.assertEqual(row.long_text, LONG_TEXT)
        # Many rows, in several blocks.
        rows = cur.execute("""WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
                              WHERE i < 20000) SELECT i, 'row ' || i FROM n""").fetchall()
        self.assertEqual(len(rows), 20000)
        self.assertEqual(tuple(rows[-1]), (20000, "row 20000"))
        # A parameter array sent ahead of its replies (pyodbc's fast_executemany).
        # A 30-digit decimal there and back.
        big = decimal.Decimal("12345678901234567890.0123456789")
        cur.execute("CREATE TEMP TABLE amounts (d NUMERIC(30,10))")
        cur.execute("INSERT INTO amounts VALUES (?)", big)
        self.assertEqual(cur.execute("SELECT d FROM amounts").fetchone()[0], big)
        cur.execute("CREATE TEMP TABLE notes (id INTEGER, body VARCHAR(200))")
        cur.fast_executemany = True
        cur.executemany("INSERT INTO notes VALUES (?, ?)",
                        [(i, "note %d Ærø" % i if i % 7 else None) for i in range(3000)])
        self.assertEqual(cur.execute("SELECT COUNT(*), COUNT(body) FROM notes").fetchone()[0],
                         3000)
        conn.close()

    def test_the_driver_log_names_version_and_cipher(self):
        log = os.path.join(WORK, "tls-driver.log")
        conn = connect(string(self.port("server"), "verify-full", "localhost", cert("ca.pem"),
                              "LogFile=%s;" % log))
        conn.close()
        with open(log) as f:
            text = f.read()
        self.assertRegex(text, r'event="tls TLSv1\.[23] \S+ sslmode=verify-full"')
        with self.assertRaises(pyodbc.Error):
            connect(string(self.port("other"), "verify-full", "localhost", cert("ca.pem"),
                           "LogFile=%s;" % log))
        with open(log) as f:
            self.assertIn('event="tls failed: certificate verify failed: hostname mismatch"',
                          f.read())


class WrongPairings(TlsCase):
    def test_a_tls_driver_at_a_plain_port_fails_at_once(self):
        # No LoginTimeout: q4lite's plain port recognises the hello and closes.
        self.assert_refused(string(PLAIN_PORT, "require"), "is it a TLS port?", limit=5.0)

    def test_a_plain_driver_at_a_tls_port_fails_at_once(self):
        server = self.servers["server"]
        start = time.monotonic()
        with self.assertRaises(pyodbc.Error) as failure:
            connect(string(server.port))
        elapsed = time.monotonic() - start
        print("  %.2f s: %s" % (elapsed, failure.exception))
        self.assertEqual(failure.exception.args[0], "08S01", failure.exception)
        self.assertLess(elapsed, 5.0)
        time.sleep(0.2)
        self.assertIn("refused, TLS handshake failed", server.read_log())

    def test_a_silent_server_ends_the_handshake_at_the_login_timeout(self):
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(1)
        app = CApplication()
        try:
            start = time.monotonic()
            rc, state, message = app.connect(
                string(silent.getsockname()[1], "require", extra="LoginTimeout=2;"))
            elapsed = time.monotonic() - start
            print("  %.2f s: %s %s" % (elapsed, state, message))
            self.assertEqual((rc, state), (-1, "08001"))
            self.assertIn("TLS handshake with the server failed: no TLS answer from the server "
                          "within 2 seconds", message)
            self.assertGreater(elapsed, 1.9)
            self.assertLess(elapsed, 3.0)
        finally:
            app.close()
            silent.close()


class WaitsOverTls(TlsCase):
    def connect(self):
        return connect(string(self.port("server"), "require"))

    def test_the_query_timeout_ends_a_held_statement(self):
        # pyodbc has no query timeout of a statement's own: a C application's calls.
        app = CApplication()
        self.addCleanup(app.close)
        text = string(self.port("server"), "verify-full", "localhost", cert("ca.pem"))
        self.assertIn(app.connect(text)[0], (0, 1))
        start = time.monotonic()
        rc, state, message = app.execute("SELECT q4_sleep(4000) AS held -- on purpose\n", 1)
        elapsed = time.monotonic() - start
        print("  %.2f s: %s %s" % (elapsed, state, message))
        self.assertEqual((rc, state), (-1, "HYT00"))
        self.assertLess(elapsed, 3.0)

    def test_a_cancel_from_another_thread_cuts_the_wait(self):
        conn = self.connect()
        cursor = conn.cursor()
        when = []

        def cancel():
            time.sleep(0.5)
            when.append(time.monotonic())
            cursor.cancel()
        thread = threading.Thread(target=cancel)
        thread.start()
        with self.assertRaises(pyodbc.Error) as failure:
            cursor.execute("SELECT q4_sleep(4000) AS waited, -- held on purpose\n 'Zoë'")
        thread.join()
        latency = time.monotonic() - when[0]
        print("  returned %.1f ms after cancel()" % (latency * 1000))
        self.assertEqual(failure.exception.args[0], "HY008", failure.exception)
        self.assertLess(latency, 1.0)
        conn.close()
        # A new encrypted connection works.
        again = self.connect()
        self.assertEqual(again.cursor().execute("SELECT 'Zoë'").fetchone()[0], "Zoë")
        again.close()


class OtherClients(TlsCase):
    """Perl DBI and PHP's odbc extension over verify-full, as their users write them."""

    PERL = r"""
use strict; use warnings; use DBI;
binmode STDOUT, ':encoding(UTF-8)';
my $dbh = DBI->connect("dbi:ODBC:$ENV{Q4_TLS_STRING}", undef, undef,
                       {RaiseError => 1, PrintError => 0, odbc_utf8_on => 1});
my $row = $dbh->selectrow_arrayref("SELECT ? AS label, -- the customer's name\n NULL AS missing",
                                   undef, "Z\x{eb} \x{6771}\x{4eac}");
print join("|", map { defined $_ ? $_ : "NULL" } @$row), "\n";
$dbh->disconnect;
"""
    PHP = r"""<?php
$conn = odbc_connect(getenv("Q4_TLS_STRING"), "", "");
if (!$conn) { echo "no connection: ", odbc_errormsg(), "\n"; exit(1); }
$result = odbc_exec($conn, "SELECT 'Zoë' AS label,\n       '' AS empty, 1.25 AS fraction");
odbc_fetch_row($result);
echo odbc_result($result, 1), "|", odbc_result($result, 2), "|", odbc_result($result, 3), "\n";
odbc_close($conn);
"""

    def run_client(self, command, script, suffix):
        path = os.path.join(WORK, "tls_client" + suffix)
        with open(path, "w") as f:
            f.write(script)
        env = dict(os.environ, Q4_TLS_STRING=string(self.port("server"), "verify-full",
                                                    "localhost", cert("ca.pem")))
        done = subprocess.run(command + [path], capture_output=True, text=True, env=env,
                              timeout=60)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        return done.stdout.strip()

    def test_perl_dbi(self):
        if subprocess.run(["perl", "-MDBD::ODBC", "-e", "1"]).returncode != 0:
            self.skipTest("DBD::ODBC is missing")
        self.assertEqual(self.run_client(["perl"], self.PERL, ".pl"), "Zë 東京|NULL")

    def test_php_odbc(self):
        if shutil.which("php") is None:
            self.skipTest("php is missing")
        self.assertEqual(self.run_client(["php"], self.PHP, ".php"), "Zoë||1.25")


class Relay:
    """A TCP relay that writes down every byte it forwards, both ways."""

    def __init__(self, target_port):
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(4)
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
        while True:
            try:
                data = source.recv(65536)
            except OSError:
                data = b""
            if not data:
                try:
                    sink.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                return
            with self.lock:
                self.recorded += data
            sink.sendall(data)

    def close(self):
        self.listener.close()


class NothingInClear(TlsCase):
    MARKER = "Quarterly_Ærø_marker_%d" % os.getpid()

    def session_through(self, relay, mode):
        conn = connect(string(relay.port, mode, extra="ACPASSWORD=acsecret9;"))
        rows = conn.cursor().execute(
            "SELECT '%s' AS marker, -- a comment\n ? AS text" % self.MARKER, "Zoë").fetchall()
        self.assertEqual(tuple(rows[0]), (self.MARKER, "Zoë"))
        conn.close()
        time.sleep(0.2)
        with relay.lock:
            return bytes(relay.recorded)

    def test_the_relay_sees_the_secrets_of_a_plain_link(self):
        # The control: through the same relay a plain link shows them.
        relay = Relay(PLAIN_PORT)
        wire = self.session_through(relay, None)
        relay.close()
        self.assertIn(b"secret", wire)
        self.assertIn(self.MARKER.encode(), wire)

    def test_no_password_or_statement_crosses_a_tls_link_in_clear(self):
        relay = Relay(self.port("server"))
        wire = self.session_through(relay, "require")
        relay.close()
        self.assertGreater(len(wire), 1000)
        for secret in (b"secret", b"acsecret9", self.MARKER.encode(), "Ærø".encode(),
                       b"SELECT", b"marker", b"Z\xc3\xab"):
            self.assertNotIn(secret, wire, secret)


class Reload(unittest.TestCase):
    def setUp(self):
        make_certificates()
        self.dir = tempfile.mkdtemp(dir=WORK)
        self.cert = os.path.join(self.dir, "q4lite.pem")
        self.key = os.path.join(self.dir, "q4lite.key")
        shutil.copy(cert("server.pem"), self.cert)
        shutil.copy(cert("server.key"), self.key)
        self.server = Server(cert_file=self.cert, key_file=self.key)
        self.addCleanup(self.server.stop)

    def full(self):
        return string(self.server.port, "verify-full", "localhost", cert("ca.pem"))

    def test_sighup_serves_the_new_certificate_and_keeps_open_connections(self):
        before = connect(self.full())
        cursor = before.cursor()
        self.assertEqual(cursor.execute("SELECT 'Zoë'").fetchone()[0], "Zoë")
        shutil.copy(cert("other.pem"), self.cert)
        shutil.copy(cert("other.key"), self.key)
        os.kill(self.server.process.pid, signal.SIGHUP)
        for _ in range(200):
            if "certificate and key reloaded" in self.server.read_log():
                break
            time.sleep(0.02)
        # The open connection goes on, on its session.
        self.assertEqual(cursor.execute("SELECT ?", LONG_TEXT).fetchone()[0], LONG_TEXT)
        # New connections meet the new certificate (for other.example only).
        with self.assertRaises(pyodbc.Error) as failure:
            connect(self.full())
        self.assertIn("hostname mismatch", str(failure.exception))
        connect(string(self.server.port, "verify-ca", "localhost", cert("ca.pem"))).close()
        before.close()


if __name__ == "__main__":
    q4e2e.main()
