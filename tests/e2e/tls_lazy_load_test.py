#!/usr/bin/python3
"""OpenSSL as a program meets it: pyodbc with default settings runs a report over plain links
without the process ever mapping libssl; its first connection with SSLMode loads it and gets the
same rows over TLS, and later connections use the same copy. This script imports nothing that
loads libssl itself (no ssl module), so /proc/self/maps shows what the driver loaded. (Python
maps libcrypto on its own, for its hash functions: only libssl tells the driver's doing.)"""
import decimal
import os
import tempfile
import unittest

import pyodbc

import q4e2e
from q4e2e import cert

REPORT = """SELECT 'Zoë Ærø 東京 😀' AS label, -- what the customer typed
       NULL AS missing,
       12345678901234567890.0123456789 AS amount,
       '' AS empty,
       ? AS long_text"""
AMOUNT = decimal.Decimal("12345678901234567890.0123456789")
LONG_TEXT = "Dünn und lang. " * 3000
EXPECTED = ("Zoë Ærø 東京 😀", None, AMOUNT, "", LONG_TEXT)


def libssl_mapped():
    """The paths of the libssl copies mapped into this process."""
    with open("/proc/self/maps") as maps:
        return sorted({line.split()[-1] for line in maps if "/libssl.so" in line})


class OpenSslLoadedOnDemand(unittest.TestCase):
    def report(self, text):
        with pyodbc.connect(text, autocommit=True) as conn:
            return tuple(conn.cursor().execute(REPORT, LONG_TEXT).fetchone())

    def test_plain_links_never_load_openssl_and_the_first_tls_link_does(self):
        self.assertEqual(libssl_mapped(), [], "loaded before the driver was")
        for _ in range(2):
            self.assertEqual(self.report(q4e2e.DSN), EXPECTED)
        self.assertEqual(libssl_mapped(), [], "a plain link loaded OpenSSL")

        server, port = q4e2e.start_q4lite(tempfile.mkdtemp(dir=q4e2e.WORK), "--tls-cert",
                                          cert("server.pem"), "--tls-key", cert("server.key"))
        self.addCleanup(server.wait)
        self.addCleanup(server.terminate)
        tls = ("DRIVER=Q4;SERVER=127.0.0.1;PORT=%d;UID=test;PWD=secret;ACCOUNT=main;"
               "SSLMode=verify-full;SSLRootCert=%s" % (port, cert("ca.pem")))
        self.assertEqual(self.report(tls), EXPECTED)
        loaded = libssl_mapped()
        self.assertEqual([os.path.basename(p) for p in loaded], ["libssl.so.3"])
        # Later connections, TLS and plain, keep the one copy.
        self.assertEqual(self.report(tls), EXPECTED)
        self.assertEqual(self.report(q4e2e.DSN), EXPECTED)
        self.assertEqual(libssl_mapped(), loaded)


if __name__ == "__main__":
    q4e2e.main()
