#!/usr/bin/python3
"""q4lite's TLS port as any TLS client sees it (Python's ssl module, certificates made at test
time by tests/tls/make_certs.sh): it serves its certificate with TLS 1.2 or newer, refuses a
plain client at the handshake and logs it (also when quiet), closes a TLS client at its plain
port at once, serves a renewed certificate after SIGHUP while a connection made before stays
open, keeps its certificate when a reload finds broken files, and refuses to start on files it
cannot use, naming them."""
import os
import shutil
import signal
import socket
import ssl
import subprocess
import tempfile
import time
import unittest

import q4e2e

HERE = os.path.dirname(os.path.abspath(__file__))
BUILD = os.environ.get("Q4_BUILD_DIR") or os.path.join(HERE, "..", "..", "build")
Q4LITE = os.path.join(BUILD, "q4lite")
WORK = os.environ["Q4_WORK"]
CERTS = os.path.join(WORK, "certs")
PLAIN_PORT = int(os.environ["Q4_PORT"])  # run_script.sh's own q4lite, plain text


def cert(name):
    if not os.path.exists(os.path.join(CERTS, "ca.pem")):
        subprocess.run(["bash", os.path.join(HERE, "..", "tls", "make_certs.sh"), CERTS],
                       check=True, stdout=subprocess.DEVNULL)
    return os.path.join(CERTS, name)


class TlsServer:
    """q4lite with --quiet on a free port, TLS with copies of `name`'s certificate and key (so
    that a test may replace them)."""

    def __init__(self, name):
        self.dir = tempfile.mkdtemp(dir=WORK)
        self.cert = os.path.join(self.dir, "q4lite.pem")
        self.key = os.path.join(self.dir, "q4lite.key")
        self.install(name)
        self.log_path = os.path.join(self.dir, "q4lite.log")
        port_file = os.path.join(self.dir, "port")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen(
            [Q4LITE, "--listen", "127.0.0.1:0", "--port-file", port_file, "--quiet",
             "--tls-cert", self.cert, "--tls-key", self.key], stderr=self.log)
        for _ in range(500):
            if os.path.exists(port_file) and os.path.getsize(port_file) > 0:
                break
            time.sleep(0.01)
        with open(port_file) as f:
            self.port = int(f.read())

    def install(self, name):
        shutil.copy(cert(name + ".pem"), self.cert)
        shutil.copy(cert(name + ".key"), self.key)

    def read_log(self):
        self.log.flush()
        with open(self.log_path) as f:
            return f.read()

    def wait_for_log(self, words):
        for _ in range(250):
            if words in self.read_log():
                return
            time.sleep(0.02)
        raise AssertionError("q4lite did not log %r: %s" % (words, self.read_log()))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()


def tls_client(port, check_hostname=True):
    """A TLS connection that trusts the test CA and checks the name localhost."""
    context = ssl.create_default_context(cafile=cert("ca.pem"))
    context.check_hostname = check_hostname
    raw = socket.create_connection(("127.0.0.1", port), timeout=5)
    return context.wrap_socket(raw, server_hostname="localhost")


def names_of(connection):
    return [value for _, value in connection.getpeercert()["subjectAltName"]]


class TlsPort(unittest.TestCase):
    def setUp(self):
        self.server = TlsServer("server")
        self.addCleanup(self.server.stop)

    def test_serves_its_certificate_with_tls_1_2_or_newer(self):
        with tls_client(self.server.port) as connection:
            self.assertIn(connection.version(), ("TLSv1.2", "TLSv1.3"))
            self.assertEqual(names_of(connection), ["localhost", "127.0.0.1"])
        # A client that offers TLS 1.2 at most still gets in.
        context = ssl.create_default_context(cafile=cert("ca.pem"))
        context.maximum_version = ssl.TLSVersion.TLSv1_2
        with context.wrap_socket(socket.create_connection(("127.0.0.1", self.server.port)),
                                 server_hostname="localhost") as connection:
            self.assertEqual(connection.version(), "TLSv1.2")

    def test_a_plain_client_is_refused_at_the_handshake_and_logged(self):
        # A logon frame as the plain driver sends it; it never reaches the logon.
        start = time.monotonic()
        with socket.create_connection(("127.0.0.1", self.server.port), timeout=5) as plain:
            plain.sendall(b"\x00\x2aL\x00\x00\x00\x1eq4 test\xfe\xfetest\xfesecret\xfe\xfemain")
            received = b""
            while True:
                data = plain.recv(4096)
                if not data:
                    break
                received += data
        self.assertLess(time.monotonic() - start, 3.0)
        self.assertNotIn(b"K", received[:3])  # no status letter of a logon reply
        self.server.wait_for_log("refused, TLS handshake failed")


class PlainPort(unittest.TestCase):
    def test_a_tls_client_is_closed_at_once(self):
        start = time.monotonic()
        with self.assertRaises((ssl.SSLError, ConnectionError, OSError)):
            tls_client(PLAIN_PORT).close()
        self.assertLess(time.monotonic() - start, 3.0)


class Reload(unittest.TestCase):
    def setUp(self):
        self.server = TlsServer("server")
        self.addCleanup(self.server.stop)

    def test_sighup_serves_the_renewed_certificate_to_new_connections_only(self):
        before = tls_client(self.server.port)
        self.server.install("other")
        os.kill(self.server.process.pid, signal.SIGHUP)
        self.server.wait_for_log("certificate and key reloaded")
        with tls_client(self.server.port, check_hostname=False) as after:
            self.assertEqual(names_of(after), ["other.example"])
        # The connection made before is still open: the server has not closed it.
        before.settimeout(0.3)
        with self.assertRaises(socket.timeout):
            before.recv(1)
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
                os.kill(self.server.process.pid, signal.SIGHUP)
                self.server.wait_for_log("reload failed, the previous certificate stays: " +
                                         words % path)
                with tls_client(self.server.port) as connection:
                    self.assertEqual(names_of(connection), ["localhost", "127.0.0.1"])
                self.server.install("server")
        # A key, but another certificate's.
        shutil.copy(cert("other.key"), self.server.key)
        os.kill(self.server.process.pid, signal.SIGHUP)
        self.server.wait_for_log("the key %s does not match the certificate %s"
                                 % (self.server.key, self.server.cert))


class StartErrors(unittest.TestCase):
    def test_q4lite_names_the_file_it_cannot_use(self):
        missing = os.path.join(WORK, "missing.pem")
        cases = [
            (["--tls-cert", missing, "--tls-key", cert("server.key")], 1,
             "q4lite: cannot read the certificate %s: No such file or directory" % missing),
            (["--tls-cert", cert("server.pem"), "--tls-key", missing], 1,
             "q4lite: cannot read the key %s: No such file or directory" % missing),
            (["--tls-cert", cert("server.ext"), "--tls-key", cert("server.key")], 1,
             "q4lite: cannot use the certificate %s: no PEM certificate in the file"
             % cert("server.ext")),
            (["--tls-cert", cert("server.pem"), "--tls-key", cert("server.ext")], 1,
             "q4lite: cannot use the key %s: no PEM private key in the file" % cert("server.ext")),
            (["--tls-cert", cert("server.pem"), "--tls-key", cert("other.key")], 1,
             "q4lite: the key %s does not match the certificate %s"
             % (cert("other.key"), cert("server.pem"))),
            (["--tls-cert", cert("server.pem")], 2, "q4lite: --tls-cert needs --tls-key"),
            (["--tls-key", cert("server.key")], 2, "q4lite: --tls-key needs --tls-cert"),
        ]
        for args, status, words in cases:
            with self.subTest(args=args):
                done = subprocess.run([Q4LITE, "--listen", "127.0.0.1:0"] + args,
                                      capture_output=True, text=True, timeout=10)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertIn(words, done.stderr)


if __name__ == "__main__":
    q4e2e.main()
