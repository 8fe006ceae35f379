#!/usr/bin/python3
"""scripts/sign.sh on the product exe with certificates a user would give: a key and certificate in PEM with a
password and an RFC 3161 timestamp from a loopback server, a PKCS#12, and every way signing can go wrong, which must
end in a failure and no signed file."""
import os
import shutil
import socket
import tempfile
import unittest

from signing_bench import (PRODUCT_EXE, TimestampServer, make_ca, make_leaf, make_pkcs12, run_script)


class Sign(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="sign-test-")
        cls.unsigned = os.path.join(cls.work, "VelvaroHost.exe")
        shutil.copyfile(PRODUCT_EXE, cls.unsigned)
        cls.ca = make_ca(cls.work, "Test publisher CA")
        cls.other_ca = make_ca(cls.work, "Some other CA")
        cls.leaf = make_leaf(cls.work, "Test publisher", cls.ca, "codeSigning", password="pem secret")
        cls.p12 = make_pkcs12(cls.work, "publisher", make_leaf(cls.work, "Test p12 publisher", cls.ca, "codeSigning"),
                              cls.ca, "p12 secret")
        cls.tsa = TimestampServer(cls.work)

    @classmethod
    def tearDownClass(cls):
        cls.tsa.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def out(self, name):
        folder = os.path.join(self.work, name)
        os.makedirs(folder)
        return os.path.join(folder, "VelvaroHost.exe")

    def verify(self, path, ca, tsa_ca=None):
        args = [path, ca] + ([tsa_ca] if tsa_ca else [])
        return run_script("verify-signature.sh", *args)

    def test_pem_pair_with_password_and_timestamp(self):
        out = self.out("pem")
        before = self.tsa.requests
        result = run_script("sign.sh", self.unsigned, out, HOST_SIGN_CERT=self.leaf[1], HOST_SIGN_KEY=self.leaf[0],
                            HOST_SIGN_PASSWORD="pem secret", HOST_SIGN_CA=self.ca[1],
                            HOST_TIMESTAMP_URL=self.tsa.url, HOST_TIMESTAMP_CA=self.tsa.ca[1])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.tsa.requests, before + 1, "one timestamp from the server")
        self.assertNotIn("TEST-SIGNED", result.stdout + result.stderr)
        self.assertFalse(os.path.exists(os.path.join(os.path.dirname(out), "test-signing-ca.pem")))
        checked = self.verify(out, self.ca[1], self.tsa.ca[1])
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertIn("signed by /CN=Test publisher, timestamped", checked.stdout)
        # osslsigncode itself still exits with 0 when the timestamp's chain fails; the check must not.
        wrong_tsa = self.verify(out, self.ca[1], self.other_ca[1])
        self.assertNotEqual(wrong_tsa.returncode, 0, wrong_tsa.stdout)
        self.assertIn("the timestamp does not verify", wrong_tsa.stderr)
        wrong_ca = self.verify(out, self.other_ca[1], self.tsa.ca[1])
        self.assertNotEqual(wrong_ca.returncode, 0, wrong_ca.stdout)

    def test_pkcs12_with_password(self):
        out = self.out("p12")
        result = run_script("sign.sh", self.unsigned, out, HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="p12 secret",
                            HOST_SIGN_CA=self.ca[1])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertNotIn("p12 secret", result.stdout + result.stderr)
        checked = self.verify(out, self.ca[1])
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertIn("signed by /CN=Test p12 publisher, no timestamp", checked.stdout)

    def test_failures_write_nothing(self):
        with socket.socket() as unused:  # a loopback port that nobody listens on
            unused.bind(("127.0.0.1", 0))
            dead_url = f"http://127.0.0.1:{unused.getsockname()[1]}/"
        cases = [
            ("wrong PKCS#12 password", dict(HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="wrong",
                                            HOST_SIGN_CA=self.ca[1])),
            ("PKCS#12 without its password", dict(HOST_SIGN_PKCS12=self.p12, HOST_SIGN_CA=self.ca[1])),
            ("wrong key password", dict(HOST_SIGN_CERT=self.leaf[1], HOST_SIGN_KEY=self.leaf[0],
                                        HOST_SIGN_PASSWORD="wrong", HOST_SIGN_CA=self.ca[1])),
            ("certificate without its key", dict(HOST_SIGN_CERT=self.leaf[1], HOST_SIGN_CA=self.ca[1])),
            ("both kinds of credentials", dict(HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="p12 secret",
                                               HOST_SIGN_CERT=self.leaf[1], HOST_SIGN_KEY=self.leaf[0],
                                               HOST_SIGN_CA=self.ca[1])),
            ("signature from another CA", dict(HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="p12 secret",
                                               HOST_SIGN_CA=self.other_ca[1])),
            ("no CA given for a private certificate", dict(HOST_SIGN_PKCS12=self.p12,
                                                           HOST_SIGN_PASSWORD="p12 secret")),
            ("timestamp server not answering", dict(HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="p12 secret",
                                                    HOST_SIGN_CA=self.ca[1], HOST_TIMESTAMP_URL=dead_url)),
            ("timestamp from an untrusted authority", dict(HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="p12 secret",
                                                           HOST_SIGN_CA=self.ca[1], HOST_TIMESTAMP_URL=self.tsa.url,
                                                           HOST_TIMESTAMP_CA=self.other_ca[1])),
        ]
        for label, env in cases:
            with self.subTest(label):
                out = self.out("fail-" + label.replace(" ", "-").replace("#", ""))
                with open(out, "wb") as stale:
                    stale.write(b"an earlier file of that name")
                result = run_script("sign.sh", self.unsigned, out, **env)
                self.assertNotEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertFalse(os.path.exists(out), "no signed file, and no stale one that could pass for it")
        # The same call with the right values succeeds, so each failure above is the one value changed.
        out = self.out("control")
        result = run_script("sign.sh", self.unsigned, out, HOST_SIGN_PKCS12=self.p12, HOST_SIGN_PASSWORD="p12 secret",
                            HOST_SIGN_CA=self.ca[1], HOST_TIMESTAMP_URL=self.tsa.url, HOST_TIMESTAMP_CA=self.tsa.ca[1])
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertTrue(os.path.exists(out))


if __name__ == "__main__":
    unittest.main(verbosity=2)
