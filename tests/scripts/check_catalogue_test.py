#!/usr/bin/python3
"""scripts/check-catalogue.sh against the bench's loopback server (never the internet): catalogues of the generated
road catalogue's shape whose addresses serve a matching package, a changed size, a changed byte, a 404 and nothing at
all, over HTTPS (the bench's test CA) and HTTP, with and without --full; and the product's own catalogue read as the
check reads it.

    check_catalogue_test.py WORK_DIR
"""
import os
import subprocess
import sys
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CHECK = os.path.join(SOURCE, "scripts", "check-catalogue.sh")
SERVER = os.path.join(SOURCE, "tests", "bench", "download_server.sh")
WORK = os.path.abspath(sys.argv.pop(1) if len(sys.argv) > 1 else "check-catalogue-test")
SERVER_DIR = os.path.join(WORK, "server")
# No proxy (the server is loopback) and no Wine prefix (nothing here runs Wine: the check trusts the CA by file).
ENV = {k: v for k, v in os.environ.items() if "proxy" not in k.lower() and k != "WINEPREFIX"}
ENV["SSL_CERT_FILE"] = os.path.join(SERVER_DIR, "pki", "ca.pem")

# The product's records as this test knows them: name, file name, size.
PRODUCT = [
    ("ServicingStackUpdateX86", "windows6.1-kb4490628-x86.msu", 4217422),
    ("Sha2UpdateX86", "windows6.1-kb4474419-v3-x86.msu", 35919018),
    ("ServicingStackUpdateX64", "windows6.1-kb4490628-x64.msu", 9543846),
    ("Sha2UpdateX64", "windows6.1-kb4474419-v3-x64.msu", 55853327),
    ("NetFramework48", "NDP48-x86-x64-AllOS-ENU.exe", 121346568),
]


def run(*args):
    done = subprocess.run([CHECK, *args], env=ENV, capture_output=True, text=True, timeout=90)
    return done.returncode, done.stdout + done.stderr


def record(name, primary, fallback, size, sha256):
    """One record as road_catalog.py writes it."""
    digest = ", ".join("0x" + sha256[i:i + 2] for i in range(0, 64, 2))
    fallback = 'L"%s"' % fallback if fallback else "nullptr"
    return ("static constexpr BYTE k%sSha256[32] = {%s};\n"
            'extern const PrerequisiteItem %s = {L"名称 %s", L"%s.exe", L"%s", %s, L"http://127.0.0.1/page", %dull, '
            "k%sSha256, nullptr};\n" % (name, digest, name, name, name, primary, fallback, size, name))


class CheckCatalogue(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        os.makedirs(WORK, exist_ok=True)
        subprocess.run([SERVER, "start", SERVER_DIR], env=ENV, check=True, timeout=60, stdout=subprocess.DEVNULL)
        with open(os.path.join(SERVER_DIR, "server.txt")) as f:
            lines = f.read().split("\n")
        info = dict(line.split("=", 1) for line in lines if "=" in line)
        cls.http = "http://127.0.0.1:%s" % info["http_port"]
        cls.https = "https://localhost:%s" % info["https_port"]
        cls.closed = "http://127.0.0.1:%s" % info["closed_port"]
        fixtures = dict(line.split(" ", 1) for line in lines if line.startswith("fixture="))
        size, cls.sha = fixtures["fixture=setup.exe"].split()
        cls.size = int(size)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([SERVER, "stop", SERVER_DIR], env=ENV, timeout=60, stdout=subprocess.DEVNULL)

    def catalogue(self, label, records):
        path = os.path.join(WORK, label + ".cpp")
        with open(path, "w", encoding="utf-8") as f:
            f.write('#include "prereq/catalog.h"\n\n' + "\n".join(records))
        return path

    def test_each_address_is_judged_on_its_own(self):
        s, h = self.size, self.sha
        catalogue = self.catalogue("mixed", [
            record("Match", self.https + "/ok/setup.exe", self.http + "/redirect/setup.exe", s, h),
            record("Resized", self.https + "/ok/setup.exe", self.http + "/ok/setup.exe", s - 1, h),
            record("Flipped", self.https + "/flip/setup.exe", None, s, h),
            record("Missing", self.https + "/ok/setup.exe", self.http + "/missing/setup.exe", s, h),
            record("Unreachable", self.closed + "/ok/setup.exe", None, s, h),
        ])
        # (mode, entries that no longer match, text of each of their lines)
        cases = [
            ([], {"Resized": "size %d, the catalogue says %d" % (s, s - 1), "Missing": "HTTP 404",
                  "Unreachable": "unreachable"}),
            (["--full"], {"Resized": "size %d, the catalogue says %d" % (s, s - 1), "Missing": "HTTP 404",
                          "Unreachable": "unreachable", "Flipped": "SHA-256 "}),
        ]
        for mode, stale in cases:
            with self.subTest(mode=mode):
                rc, out = run("--catalogue", catalogue, "--timeout", "10", *mode)
                self.assertEqual(rc, 1, out)
                lines = out.splitlines()
                # Every address gets its line: both schemes of a record, the redirect followed, HEAD with its date.
                self.assertIn("ok       Match %s/ok/setup.exe: %d bytes" % (self.https, s), out)
                self.assertIn("ok       Match %s/redirect/setup.exe: %d bytes" % (self.http, s), out)
                self.assertIn("(via %s/ok/setup.exe)" % self.http, out)
                if not mode:
                    self.assertIn("Thu, 06 Feb 2025 10:00:00 GMT", out)
                for name in ("Match", "Resized", "Flipped", "Missing", "Unreachable"):
                    judged = [l for l in lines if l.split()[1:2] == [name]]
                    self.assertEqual(len(judged), 1 if name in ("Flipped", "Unreachable") else 2, out)
                    changed = [l for l in judged if not l.startswith("ok ")]
                    if name in stale:
                        label = "CHANGED" if name in ("Resized", "Flipped") else "FAILED "
                        self.assertTrue(changed and all(l.startswith(label) and stale[name] in l for l in changed),
                                        out)
                    else:
                        self.assertEqual(changed, [], out)
                self.assertEqual(lines[-1], "%d of 5 catalogue entries do not match or could not be checked: %s"
                                 % (len(stale), ", ".join(n for n in ("Resized", "Flipped", "Missing", "Unreachable")
                                                          if n in stale)), out)

    def test_a_matching_catalogue_passes_in_both_modes(self):
        catalogue = self.catalogue("matching", [
            record("Match", self.https + "/ok/setup.exe", self.http + "/ok/setup.exe", self.size, self.sha)])
        for mode, what in (([], "size"), (["--full"], "size and SHA-256")):
            with self.subTest(mode=mode):
                rc, out = run("--catalogue", catalogue, *mode)
                self.assertEqual((rc, out.splitlines()[-1]),
                                 (0, "all 2 addresses of 1 entries match the catalogue (%s)" % what), out)

    def test_the_product_catalogue_is_read_from_its_source(self):
        rc, out = run("--list")
        self.assertEqual(rc, 0, out)
        listed = [line.split() for line in out.splitlines()]
        self.assertEqual([(l[0], l[1], int(l[2])) for l in listed], [r for r in PRODUCT for _ in ("https", "http")])
        for entry in listed:
            self.assertRegex(entry[3], "^[0-9a-f]{64}$")
            self.assertTrue(os.path.basename(entry[4]).startswith(entry[1].rsplit(".", 1)[0]), entry)
        self.assertEqual([l[4].split(":")[0] for l in listed], ["https", "http"] * len(PRODUCT))
        self.assertEqual(listed[-1][3], "0a3a390c47e639d0f7fc65b21195fee6b7f65b066f80f70c60fab191d14b7e40")

    def test_an_unreadable_catalogue_is_an_error(self):
        rc, out = run("--catalogue", self.catalogue("broken", ["int nothing = 1;\n"]))
        self.assertEqual(rc, 2, out)
        self.assertIn("cannot read the catalogue", out)


if __name__ == "__main__":
    unittest.main()
