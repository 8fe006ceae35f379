#!/usr/bin/python3
"""The installer context's accessors as the 32-bit product compiles them: a plain 64-bit access there is two 32-bit
loads or stores, which another thread can see half done. So every accessor of a shared field may touch memory
outside its own stack frame only with locked instructions (lock-prefixed ones and xchg, which locks by itself).
This machine's tests run the x86_64 twin, where a plain 64-bit access is one instruction; the object code of the
i686 build is the one place where such a fault shows.

usage: installer_context_i686_check.py <libhost_installer.a of the x86-release build tree> [objdump]
"""
import re
import subprocess
import sys
import unittest

ARCHIVE = sys.argv[1] if len(sys.argv) > 1 else "build/x86-release/installer/libhost_installer.a"
OBJDUMP = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"
MEMBER = "installer_context.cpp.obj"
# Every accessor of a shared field (InitInstallerContext fills a record that no other thread can see yet).
ACCESSORS = ["StoreFlag", "LoadFlag", "TestAndSetFlag", "StoreExitCode", "LoadExitCode", "StoreCounter",
             "LoadCounter", "ExchangeRequest"]
# A memory operand: optional displacement, then (%base[,%index,scale]).
MEMORY = re.compile(r"(?:-?0x[0-9a-f]+)?\((%e[a-z]{2})(?:,%e[a-z]{2},\d)?\)")
FRAME = {"%esp", "%ebp"}  # arguments and locals


def functions():
    """{mangled name: [instruction text]} of the member's code, as objdump disassembles it."""
    out = subprocess.run([OBJDUMP, "-d", "--no-show-raw-insn", ARCHIVE], check=True, capture_output=True,
                         text=True).stdout
    found, current, in_member = {}, None, False
    for line in out.splitlines():
        if line.endswith("file format pe-i386"):
            in_member = line.split(":")[0].strip() == MEMBER
            current = None
            continue
        if not in_member:
            continue
        header = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
        if header:
            current = header.group(1)
            found[current] = []
        elif current and re.match(r"^\s+[0-9a-f]+:\t", line):
            found[current].append(line.split("\t", 1)[1].strip())
    return found


def shared_accesses(instructions):
    """The instructions that reach memory outside the stack frame, and those of them that are not locked."""
    reaching, unlocked = [], []
    for text in instructions:
        bases = MEMORY.findall(text)
        if any(base not in FRAME for base in bases):
            reaching.append(text)
            if not (text.startswith("lock ") or text.startswith("xchg ")):
                unlocked.append(text)
    return reaching, unlocked


class Accessors(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.code = functions()

    def test_every_accessor_is_there(self):
        for name in ACCESSORS:
            with self.subTest(name):
                self.assertTrue(any(name in mangled for mangled in self.code), f"{name} not in {MEMBER}")

    def test_shared_fields_are_touched_only_by_locked_instructions(self):
        for mangled, instructions in self.code.items():
            if not any(name in mangled for name in ACCESSORS):
                continue
            with self.subTest(mangled):
                reaching, unlocked = shared_accesses(instructions)
                # The check sees a field access when there is one: each accessor reaches its field at least once.
                self.assertTrue(reaching, "no access to the shared field found")
                self.assertEqual([], unlocked, "plain accesses to a shared field")

    def test_a_plain_64_bit_read_would_be_seen(self):
        # How the 32-bit build compiles `LONG64 seen = *counter;`: two loads through the pointer.
        reaching, unlocked = shared_accesses(["mov    0x8(%ebp),%eax", "mov    0x4(%eax),%edx",
                                              "mov    (%eax),%eax", "lock cmpxchg8b (%edi)"])
        self.assertEqual(["mov    0x4(%eax),%edx", "mov    (%eax),%eax"], unlocked)
        self.assertEqual(3, len(reaching))


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]], verbosity=2)
