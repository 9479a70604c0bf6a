"""The built kelvora_ax.dll files: the shipping 32-bit one is a PE32 i386 DLL
that imports system DLLs only; both builds export the five COM server
functions undecorated and carry the type library, the two registry scripts,
the project name, the version block and an empty manifest."""
import os
import struct
import unittest
import xml.etree.ElementTree as ElementTree

from e2e_support import BUILD_DIR, SOURCE_DIR
from pe_file import SYSTEM_DLLS, PeFile, utf16

WIN32_DIR = os.environ.get("KELVORA_WIN32_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "win32"))
BUILDS = {"win32": (os.path.join(WIN32_DIR, "kelvora_ax.dll"), "i686-w64-mingw32-objdump"),
          "win64": (os.path.join(BUILD_DIR, "kelvora_ax.dll"), "x86_64-w64-mingw32-objdump")}
EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer", "DllUnregisterServer"]

RT_STRING, RT_VERSION, RT_MANIFEST = 6, 16, 24
ENGLISH, RUSSIAN = 1033, 1049


def resource_tree(pe):
    """{type: {name: {language: bytes}}}; named types and names are texts."""
    data = pe.data
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    (sections,) = struct.unpack_from("<H", data, pe_offset + 6)
    (optional_size,) = struct.unpack_from("<H", data, pe_offset + 20)
    table = pe_offset + 24 + optional_size
    for i in range(sections):
        name, _, address, raw_size, raw_offset = struct.unpack_from("<8sIIII", data, table + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            break
    else:
        return {}
    rsrc = data[raw_offset:raw_offset + raw_size]

    def entry_name(value):
        if value & 0x80000000:
            offset = value & 0x7FFFFFFF
            (length,) = struct.unpack_from("<H", rsrc, offset)
            return rsrc[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
        return value

    def walk(offset):
        named, ids = struct.unpack_from("<HH", rsrc, offset + 12)
        out = {}
        for k in range(named + ids):
            name, target = struct.unpack_from("<II", rsrc, offset + 16 + 8 * k)
            if target & 0x80000000:
                out[entry_name(name)] = walk(target & 0x7FFFFFFF)
            else:
                rva, size = struct.unpack_from("<II", rsrc, target)
                out[entry_name(name)] = rsrc[rva - address:rva - address + size]
        return out

    return walk(0)


def string_table_entry(block, index):
    """String index (0..15) of a string-table block."""
    offset = 0
    for i in range(16):
        (length,) = struct.unpack_from("<H", block, offset)
        if i == index:
            return block[offset + 2:offset + 2 + 2 * length].decode("utf-16-le")
        offset += 2 + 2 * length
    return None


class ShippingFile(unittest.TestCase):
    def setUp(self):
        self.pe = PeFile(BUILDS["win32"][0])

    def test_is_a_pe32_i386_dll(self):
        self.assertTrue(self.pe.is_pe32_i386)
        self.assertTrue(self.pe.characteristics & 0x2000)

    def test_imports_only_system_dlls(self):
        dlls = self.pe.imported_dlls(BUILDS["win32"][1])
        for needed in ("ole32.dll", "oleaut32.dll", "advapi32.dll", "user32.dll"):
            self.assertIn(needed, dlls)
        self.assertEqual([d for d in dlls if d not in SYSTEM_DLLS], [])


class BothBuilds(unittest.TestCase):
    def test_exports_the_five_functions_undecorated(self):
        for build, (path, objdump) in BUILDS.items():
            self.assertEqual(sorted(PeFile(path).exports(objdump)), EXPORTS, build)

    def test_resources(self):
        for build, (path, _) in BUILDS.items():
            with self.subTest(build=build):
                self.check_resources(resource_tree(PeFile(path)))

    def check_resources(self, tree):
        self.assertEqual(tree["TYPELIB"], {1: {ENGLISH: tree["TYPELIB"][1][ENGLISH]}})
        self.assertEqual(tree["TYPELIB"][1][ENGLISH][:4], b"MSFT")
        self.assertIn(b"ActiveXLib", tree["TYPELIB"][1][ENGLISH])

        registry = tree["REGISTRY"]
        self.assertEqual(sorted(registry), [101, 106])
        self.assertEqual(list(registry[101]), [ENGLISH])
        appid_script = registry[101][ENGLISH]
        self.assertEqual(appid_script.splitlines(), [b"HKCR", b"{", b"}"])
        self.assertTrue(appid_script.endswith(b"\n"))
        self.assertEqual(list(registry[106]), [RUSSIAN])
        for text in (b"NoRemove CLSID", b"ForceRemove", b"val ThreadingModel = s 'Apartment'",
                     b"kelvora.plugin.1", b"CurVer", b"Programmable", b"%MODULE%",
                     b"ForceRemove {4017F20F-0E0B-4713-B6D3-4B0AA0F1003F} = s 'Kelvora browser plugin'",
                     b"CLSID = s '{4017F20F-0E0B-4713-B6D3-4B0AA0F1003F}'",
                     b"TypeLib = s '{01C6D14D-9288-494F-9F8D-88FE70415076}'"):
            self.assertIn(text, registry[106][RUSSIAN])

        # String 100 lives in block 7 (100 / 16 + 1), at index 4.
        self.assertEqual(string_table_entry(tree[RT_STRING][7][ENGLISH], 4), "activex")

        version = tree[RT_VERSION][1][ENGLISH]
        fixed = version.find(struct.pack("<I", 0xFEEF04BD))
        self.assertGreaterEqual(fixed, 0)
        _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", version, fixed)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (0x00020001, 0x00660001, 0x00020001, 0x00660001))
        for text in ("041904e3", "Kelvora browser plugin", "2.1.0102", "2.1.102.1", "kelvora_ax.dll",
                     "OriginalFilename", "InternalName", "CompanyName", "LegalCopyright", "Translation"):
            self.assertTrue(utf16(text) in version, text)
        # The one translation: Russian, code page 1251; it ends the block.
        self.assertEqual(version[-4:], struct.pack("<HH", 0x0419, 1251))

        manifest = ElementTree.fromstring(tree[RT_MANIFEST][2][ENGLISH])
        self.assertEqual(manifest.tag, "{urn:schemas-microsoft-com:asm.v1}assembly")
        self.assertEqual(list(manifest), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
