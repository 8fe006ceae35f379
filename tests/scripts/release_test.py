#!/usr/bin/python3
"""scripts/release.sh run twice, as two users would: from two copies of the sources in different folders, with
different build folders, at different times, in different time zones, once test-signed and once with a PKCS#12 that
the user gives. The unsigned bytes must be identical, carry no time stamp and no path of either machine, the signed
files must verify against their own CA only, and the static checks of the product must pass on the signed file.

usage: release_test.py [work folder]   (default: a new temporary folder)
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import pefile

from signing_bench import (PYTHON, SOURCE, make_ca, make_leaf, make_pkcs12, run_script)

WORK = sys.argv.pop(1) if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="release-test-")


def copy_sources(target):
    """The files a fresh clone would hold (with the working tree's edits), copied with new modification times."""
    listed = subprocess.run(["git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, listed):
        source = os.path.join(SOURCE, name)
        if os.path.isfile(source):
            os.makedirs(os.path.dirname(os.path.join(target, name)), exist_ok=True)
            shutil.copy(source, os.path.join(target, name))


def read(path):
    with open(path, "rb") as f:
        return f.read()


class Release(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        keys = os.path.join(WORK, "keys")
        os.makedirs(keys)
        cls.ca = make_ca(keys, "Test publisher CA")
        cls.p12 = make_pkcs12(keys, "publisher", make_leaf(keys, "Test publisher", cls.ca, "codeSigning"), cls.ca,
                              "p12 secret")
        # Different depths and names for everything, and the second build folder outside its sources.
        cls.runs = [
            dict(source=os.path.join(WORK, "a", "src"), build=os.path.join(WORK, "a", "src", "build", "release"),
                 out=os.path.join(WORK, "a", "out"), env=dict(TZ="UTC", USER="builder", LOGNAME="builder")),
            dict(source=os.path.join(WORK, "second checkout", "VelvaroHost-sources"),
                 build=os.path.join(WORK, "elsewhere", "b-build-folder"), out=os.path.join(WORK, "b-release"),
                 env=dict(TZ="Asia/Shanghai", USER="merchant-it", LOGNAME="merchant-it", HOST_SIGN_PKCS12=cls.p12,
                          HOST_SIGN_PASSWORD="p12 secret", HOST_SIGN_CA=cls.ca[1])),
        ]
        cls.results = []
        for run in cls.runs:
            if cls.results:
                time.sleep(2)  # the two links at least one whole second apart, even on a fast machine
            copy_sources(run["source"])
            run["started"] = time.time()
            cls.results.append(run_script(os.path.join(run["source"], "scripts", "release.sh"), timeout=600,
                                          HOST_RELEASE_BUILD=run["build"], HOST_RELEASE_DIR=run["out"], **run["env"]))

    def setUp(self):
        for run, result in zip(self.runs, self.results):
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def unsigned(self, run):
        return os.path.join(run["out"], "unsigned", "VelvaroHost.exe")

    def signed(self, run):
        return os.path.join(run["out"], "VelvaroHost.exe")

    def test_unsigned_bytes_are_identical(self):
        first, second = (read(self.unsigned(run)) for run in self.runs)
        digests = [hashlib.sha256(data).hexdigest() for data in (first, second)]
        print(f"\nunsigned SHA-256: {digests[0]} (first build), {digests[1]} (second build); {len(first)} bytes")
        self.assertEqual(digests[0], digests[1])
        self.assertEqual(first, second)
        # The demo payload is a build product as well: identical on its own, and identical inside the host.
        payloads = [read(os.path.join(run["build"], "bin", "demo_payload.exe")) for run in self.runs]
        self.assertEqual(payloads[0], payloads[1])
        self.assertIn(payloads[0], first)
        self.assertGreater(self.runs[1]["started"] - os.path.getmtime(self.unsigned(self.runs[0])), 1,
                           "the second build began more than a second after the first had finished")

    def test_no_time_stamp_or_path_in_the_image(self):
        run = self.runs[1]
        for name in ("unsigned/VelvaroHost.exe", "demo_payload.exe"):
            path = self.unsigned(run) if name.startswith("unsigned") else os.path.join(run["build"], "bin", name)
            with self.subTest(name):
                pe = pefile.PE(path)
                self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0, "link time stamp")
                self.assertFalse(hasattr(pe, "DIRECTORY_ENTRY_DEBUG"), "a debug directory would carry a stamp")
                stamps = []
                if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
                    pending = [pe.DIRECTORY_ENTRY_RESOURCE]
                    while pending:
                        directory = pending.pop()
                        stamps.append(directory.struct.TimeDateStamp)
                        pending += [e.directory for e in directory.entries if hasattr(e, "directory")]
                self.assertEqual(set(stamps) - {0}, set(), "resource directory time stamps")
                data = read(path)
                texts = [r[key] for r in self.runs for key in ("source", "build")] + [WORK, "VelvaroHost-sources",
                                                                                    "b-build-folder", "CMakeFiles"]
                for text in texts:
                    for encoded in (text.encode(), text.encode("utf-16-le")):
                        self.assertFalse(encoded in data, f"{text!r} in the image")
        # The same search finds those folders where they are: in the build's own cache.
        cache = read(os.path.join(run["build"], "CMakeCache.txt"))
        self.assertIn(run["source"].encode(), cache)
        self.assertIn(run["build"].encode(), cache)

    def test_each_file_has_its_sha256(self):
        for run in self.runs:
            for path in (self.unsigned(run), self.signed(run)):
                with self.subTest(path):
                    line = read(path + ".sha256").decode()
                    self.assertEqual(line, f"{hashlib.sha256(read(path)).hexdigest()}  VelvaroHost.exe\n")
                    checked = subprocess.run(["sha256sum", "-c", "VelvaroHost.exe.sha256"], cwd=os.path.dirname(path),
                                             capture_output=True, text=True, timeout=30)
                    self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_signed_files_verify_against_their_own_ca_only(self):
        test_ca = os.path.join(self.runs[0]["out"], "test-signing-ca.pem")
        self.assertIn("TEST-SIGNED", self.results[0].stdout + self.results[0].stderr)
        self.assertTrue(os.path.isfile(test_ca))
        self.assertNotIn("TEST-SIGNED", self.results[1].stdout + self.results[1].stderr)
        self.assertFalse(os.path.exists(os.path.join(self.runs[1]["out"], "test-signing-ca.pem")))
        cases = [
            dict(label="test-signed, its test CA", run=0, ca=test_ca, ok=True),
            dict(label="test-signed, the user's CA", run=0, ca=self.ca[1], ok=False),
            dict(label="test-signed, the system's CAs", run=0, ca=None, ok=False),
            dict(label="user-signed, the user's CA", run=1, ca=self.ca[1], ok=True),
            dict(label="user-signed, the test CA", run=1, ca=test_ca, ok=False),
        ]
        for case in cases:
            with self.subTest(case["label"]):
                args = [self.signed(self.runs[case["run"]])] + ([case["ca"]] if case["ca"] else [])
                checked = run_script("verify-signature.sh", *args)
                self.assertEqual(checked.returncode == 0, case["ok"], checked.stdout + checked.stderr)
        checked = run_script("verify-signature.sh", self.signed(self.runs[1]), self.ca[1])
        self.assertIn("signed by /CN=Test publisher, no timestamp", checked.stdout)

    def test_only_a_build_folder_of_its_own_is_emptied(self):
        """The build folder is emptied before the build: one holding anything the command did not make is refused
        before anything is removed, while the folders of the runs above carry the command's mark."""
        others = os.path.join(WORK, "someone's folder")
        os.makedirs(others, exist_ok=True)
        with open(os.path.join(others, "notes.txt"), "w", encoding="ascii") as f:
            f.write("keep me")
        a_file = os.path.join(WORK, "a file")
        with open(a_file, "w", encoding="ascii") as f:
            f.write("keep me")
        release = os.path.join(self.runs[0]["source"], "scripts", "release.sh")
        out = os.path.join(WORK, "refused-release")
        for label, build in [("a folder of other files", others), ("a file", a_file),
                             ("the sources", self.runs[0]["source"]), ("above the sources", WORK)]:
            with self.subTest(label):
                result = run_script(release, timeout=120, HOST_RELEASE_BUILD=build, HOST_RELEASE_DIR=out)
                self.assertNotEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn("holds files this command did not make", result.stderr)
                self.assertFalse(os.path.exists(out))
        self.assertEqual(read(os.path.join(others, "notes.txt")), b"keep me")
        self.assertEqual(read(a_file), b"keep me")
        self.assertTrue(os.path.isfile(release))
        for run in self.runs:
            self.assertTrue(os.path.isfile(os.path.join(run["build"], ".velvaro-release-build")))

    def test_static_checks_pass_on_the_signed_file(self):
        for run in self.runs:
            checker = os.path.join(run["source"], "tests", "product", "check_product.py")
            with self.subTest(run["out"]):
                checked = subprocess.run([PYTHON, checker, run["build"]], capture_output=True, text=True, timeout=60,
                                         env=dict(os.environ, HOST_PRODUCT_EXE=self.signed(run)))
                self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
                # The checks read the file they are given: the signed file's headers alone fail them.
                cut = os.path.join(WORK, "cut.exe")
                with open(cut, "wb") as f:
                    f.write(read(self.signed(run))[:0x400])
                failed = subprocess.run([PYTHON, checker, run["build"]], capture_output=True, text=True, timeout=60,
                                        env=dict(os.environ, HOST_PRODUCT_EXE=cut))
                self.assertNotEqual(failed.returncode, 0, failed.stdout + failed.stderr)
        self.assertGreater(len(read(self.signed(self.runs[0]))), len(read(self.unsigned(self.runs[0]))))
        print(f"\nsigned file: {len(read(self.signed(self.runs[0])))} bytes (test-signed), "
              f"{len(read(self.signed(self.runs[1])))} bytes (signed with the given PKCS#12)")


if __name__ == "__main__":
    unittest.main(verbosity=2)
