#!/usr/bin/python3
"""scripts/verify-signature.sh on a signed product exe changed after signing: one byte anywhere (every region of the
file: headers, the checksum, the certificate directory entry, each section, the embedded payload, every byte of the
signature), and the changes that the signature's own digest does not cover (the checksum field, data riding in or after
the certificate entry with the lengths and the checksum made right again). Each must fail; the untouched file
passes."""
import os
import random
import shutil
import struct
import tempfile
import unittest

import pefile

from signing_bench import PRODUCT_EXE, run_script


def security_entry(data):
    """File offset of the certificate directory entry, and the table's (offset, size)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    entry = pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8
    return entry, struct.unpack_from("<II", data, entry)


def with_checksum(data):
    """The file with its PE checksum made right again, as anyone who edits a file can."""
    pe = pefile.PE(data=bytes(data))
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    return bytearray(pe.write())


class VerifySignature(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="verify-signature-test-")
        unsigned = os.path.join(cls.work, "unsigned.exe")
        shutil.copyfile(PRODUCT_EXE, unsigned)
        cls.signed = os.path.join(cls.work, "VelvaroHost.exe")
        result = run_script("sign.sh", unsigned, cls.signed)
        assert result.returncode == 0, result.stdout + result.stderr
        cls.ca = os.path.join(cls.work, "test-signing-ca.pem")
        with open(cls.signed, "rb") as f:
            cls.data = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def check(self, data):
        changed = os.path.join(self.work, "changed.exe")
        with open(changed, "wb") as f:
            f.write(data)
        return run_script("verify-signature.sh", changed, self.ca)

    def test_untouched_file_verifies(self):
        result = self.check(self.data)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("(SHA-256, signed by /CN=Velvaro TEST-SIGNED build - not a release, no timestamp)",
                      result.stdout)

    def test_one_byte_changed_anywhere_fails(self):
        data = self.data
        pe = pefile.PE(data=data)
        entry, (table, table_size) = security_entry(data)
        checksum = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        resources = pe.get_offset_from_rva(pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress)
        regions = {
            "headers": range(0, pe.OPTIONAL_HEADER.SizeOfHeaders, 8),
            "checksum": range(checksum, checksum + 4),
            "certificate directory entry": range(entry, entry + 8),
            "certificate entry header": range(table, table + 8),
            # Every byte here: osslsigncode alone accepts changes to parts of the signature that its own signature
            # does not cover (measured: the signer's algorithm identifier, bytes of the certificate set).
            "signature": range(table + 8, len(data)),
            "resources": range(resources, resources + pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].Size, 997),
        }
        for section in pe.sections:
            start, size = section.PointerToRawData, section.SizeOfRawData
            name = section.Name.rstrip(b"\0").decode()
            regions["section " + name] = sorted({start, start + size // 2, start + size - 1})
        regions["anywhere"] = sorted(random.Random(12).sample(range(len(data)), 48))
        for label, positions in regions.items():
            with self.subTest(label):
                passed = []
                for position in positions:
                    changed = bytearray(data)
                    changed[position] ^= 0xFF
                    if self.check(changed).returncode == 0:
                        passed.append(position)
                self.assertEqual(passed, [], f"{label}: changed bytes that still verify")

    def test_changes_outside_the_signed_digest_fail(self):
        entry, (table, table_size) = security_entry(self.data)

        def ride_inside(data):
            # Eight bytes more in the certificate entry, both lengths and the checksum made right.
            data = bytearray(data) + b"RIDEALNG"
            struct.pack_into("<II", data, entry, table, table_size + 8)
            struct.pack_into("<I", data, table, table_size + 8)
            return with_checksum(data)

        def ride_after(data):
            return with_checksum(bytearray(data) + b"\0" * 8)

        def checksum_only(data):
            changed = bytearray(data)
            offset = pefile.PE(data=data).OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
            changed[offset] ^= 0x01
            return changed

        def cut(data):
            return with_checksum(bytearray(data)[:-8])

        for label, change in [("data in the certificate entry", ride_inside), ("data after it", ride_after),
                              ("the checksum field", checksum_only), ("the last eight bytes cut", cut)]:
            with self.subTest(label):
                result = self.check(change(self.data))
                self.assertNotEqual(result.returncode, 0, result.stdout + result.stderr)
        # Making the checksum right is no change in itself: the untouched file rewritten that way still verifies.
        result = self.check(with_checksum(self.data))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
