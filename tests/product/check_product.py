#!/usr/bin/python3
"""Static checks of the 32-bit product, which this machine cannot run: its PE header, imports, resources, manifest,
version block, and the absence of initialisers of our own (from the link map).

usage: check_product.py <build tree of the x86-release preset>
HOST_PRODUCT_EXE checks another copy of that tree's exe instead (the signed release file).
"""
import os
import re
import sys
import unittest
import xml.etree.ElementTree as ET

import pefile

BUILD = os.environ.get("HOST_PRODUCT_DIR") or (sys.argv.pop(1) if len(sys.argv) > 1 else "build/x86-release")
EXE = os.environ.get("HOST_PRODUCT_EXE") or os.path.join(BUILD, "bin", "VelvaroHost.exe")
MAP = os.path.join(BUILD, "VelvaroHost.map")
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "advapi32.dll",
               "ole32.dll", "winhttp.dll", "msvcrt.dll", "ntdll.dll"}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SUPPORTED_OS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
                "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def embedded_payload_path():
    """The file the product was built to carry: HOST_PAYLOAD of its build tree, else the demo payload."""
    with open(os.path.join(BUILD, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("HOST_PAYLOAD:"):
                value = line.split("=", 1)[1].strip()
                if value:
                    return value
    return os.path.join(BUILD, "bin", "demo_payload.exe")


class Product(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def resources(self):
        found = {}
        for rtype in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in rtype.directory.entries:
                for lang in name.directory.entries:
                    data = self.pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
                    found.setdefault((rtype.id, name.id), []).append((lang.id, data))
        return found

    def test_header(self):
        header = self.pe.FILE_HEADER
        optional = self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Machine, 0x14C, "i386")
        self.assertTrue(header.Characteristics & 0x0100, "32-bit machine")
        self.assertEqual(optional.Magic, 0x10B, "PE32")
        self.assertEqual(optional.Subsystem, 2, "Windows GUI")
        self.assertEqual((optional.MajorOperatingSystemVersion, optional.MinorOperatingSystemVersion), (6, 1))
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (6, 1))

    def test_imports_only_system_dlls(self):
        dlls = {entry.dll.decode().lower() for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        self.assertTrue(dlls <= SYSTEM_DLLS, sorted(dlls - SYSTEM_DLLS))
        for runtime in ("libgcc", "libstdc++", "libwinpthread"):
            self.assertFalse(any(runtime in dll for dll in dlls), runtime)
        names = {imp.name.decode() for entry in self.pe.DIRECTORY_ENTRY_IMPORT for imp in entry.imports if imp.name}
        self.assertNotIn("RtlGetVersion", names, "looked up at run time, so a missing one cannot stop the load")

    def test_resources_and_their_language(self):
        found = self.resources()
        self.assertEqual(set(found), {(10, 101), (16, 1), (24, 1)}, "RCDATA 101, the version block, the manifest")
        for key, entries in found.items():
            self.assertEqual([lang for lang, _ in entries], [1033], key)
        with open(embedded_payload_path(), "rb") as payload:
            self.assertEqual(found[(10, 101)][0][1], payload.read())

    def test_manifest(self):
        text = self.resources()[(24, 1)][0][1]
        root = ET.fromstring(text)
        identity = root.find(ASM_V1 + "assemblyIdentity")
        self.assertEqual(identity.get("name"), "Oristane.Velvaro.Host")
        self.assertEqual(identity.get("version"), "1.0.0.0")
        level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                          f"{ASM_V3}requestedExecutionLevel")
        self.assertEqual(level.get("level"), "asInvoker")
        self.assertEqual(level.get("uiAccess"), "false")
        ids = [os_.get("Id") for os_ in root.iter(COMPAT + "supportedOS")]
        self.assertEqual(len(ids), 4)
        self.assertEqual(set(ids), SUPPORTED_OS)
        self.assertIsNone(root.find(ASM_V1 + "dependency"), "no common-controls v6 dependency")
        self.assertNotIn(b"Microsoft.Windows.Common-Controls", text)
        self.assertNotIn(b"dpiAware", text)

    def test_version_block(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        version = (fixed.FileVersionMS >> 16, fixed.FileVersionMS & 0xFFFF, fixed.FileVersionLS >> 16,
                   fixed.FileVersionLS & 0xFFFF)
        product = (fixed.ProductVersionMS >> 16, fixed.ProductVersionMS & 0xFFFF, fixed.ProductVersionLS >> 16,
                   fixed.ProductVersionLS & 0xFFFF)
        self.assertEqual(version, (1, 0, 3, 124))
        self.assertEqual(product, (1, 0, 3, 124))
        tables = []
        translations = []
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                tables += info.StringTable
            elif info.Key == b"VarFileInfo":
                for var in info.Var:
                    translations += var.entry[b"Translation"].split()
        self.assertEqual([t.LangID for t in tables], [b"080404b0"])
        self.assertEqual(translations, ["0x0804", "0x04b0"], "Simplified Chinese, code page 1200")
        strings = {k.decode(): v.decode() for k, v in tables[0].entries.items()}
        self.assertEqual(strings["FileVersion"], "1.0.3.124")
        self.assertEqual(strings["ProductVersion"], "1.0.3.124")
        for key in ("FileDescription", "ProductName"):
            self.assertRegex(strings[key], "[\u4e00-\u9fff]", key + " is descriptive Chinese")

    def test_no_initialisers_of_our_own(self):
        """Constructors and TLS callbacks come only from the C runtime, never from the project's objects."""
        ours = []
        section = None
        with open(MAP, encoding="utf-8", errors="replace") as link_map:
            for line in link_map:
                match = re.match(r"^ (\.ctors\S*|\.dtors\S*|\.CRT\$X[CILPT]\S*|\.tls\S*|\.init_array\S*)\s*(.*)$", line)
                if match:
                    section = match.group(1)
                    rest = match.group(2)
                    if not rest.strip():
                        continue  # the address and object follow on the next line
                    line = rest
                elif section is None or not line.startswith(" " * 16):
                    section = None
                    continue
                if "/CMakeFiles/" in line:
                    ours.append(f"{section}: {line.strip()}")
                section = None
        self.assertEqual(ours, [])
        with open(MAP, encoding="utf-8", errors="replace") as link_map:
            text = link_map.read()
        self.assertRegex(text, r"launcher/CMakeFiles/\S+main\.cpp\.obj", "the map names our objects")


if __name__ == "__main__":
    unittest.main(verbosity=2)
