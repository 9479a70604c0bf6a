"""The shipping 32-bit files are what a bare Windows can load: PE32 for i386,
importing system DLLs only, carrying the version block and the manifest."""
import os
import struct
import unittest

from e2e_support import SOURCE_DIR
from pe_file import SYSTEM_DLLS, PeFile, utf16

WIN32_DIR = os.path.join(SOURCE_DIR, "build", "win32")
OBJDUMP = "i686-w64-mingw32-objdump"


class MessagingHostFile(unittest.TestCase):
    def setUp(self):
        self.pe = PeFile(os.path.join(WIN32_DIR, "kelvora_messaging.exe"))

    def test_is_a_pe32_i386_console_program(self):
        self.assertTrue(self.pe.is_pe32_i386)

    def test_imports_only_system_dlls(self):
        dlls = self.pe.imported_dlls(OBJDUMP)
        self.assertIn("advapi32.dll", dlls)
        self.assertEqual([d for d in dlls if d not in SYSTEM_DLLS], [])

    def test_version_block(self):
        rsrc = self.pe.resources()
        fixed = rsrc.find(struct.pack("<I", 0xFEEF04BD))
        self.assertGreaterEqual(fixed, 0)
        _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", rsrc, fixed)
        self.assertEqual((file_ms, file_ls), (0x00020001, 0x00660001))
        for text in ("Kelvora browser plugin", "2.1.0102", "2.1.102.1", "ProductName", "FileDescription"):
            self.assertIn(utf16(text), rsrc, text)

    def test_manifest_runs_as_invoker_without_ui_access(self):
        rsrc = self.pe.resources()
        self.assertIn(b'level="asInvoker"', rsrc)
        self.assertIn(b'uiAccess="false"', rsrc)


if __name__ == "__main__":
    unittest.main(verbosity=2)
