"""Just enough of the PE format to check the built files: machine, imports
(through objdump) and the bytes of the resource section."""
import struct
import subprocess


class PeFile:
    def __init__(self, path):
        self.path = path
        with open(path, "rb") as f:
            self.data = f.read()
        (pe_offset,) = struct.unpack_from("<I", self.data, 0x3C)
        assert self.data[pe_offset:pe_offset + 4] == b"PE\0\0"
        self.machine, sections, _, _, _, optional_size, self.characteristics = struct.unpack_from(
            "<HHIIIHH", self.data, pe_offset + 4)
        (self.magic,) = struct.unpack_from("<H", self.data, pe_offset + 24)
        table = pe_offset + 24 + optional_size
        self.sections = {}
        for i in range(sections):
            name, _, _, raw_size, raw_offset = struct.unpack_from("<8sIIII", self.data, table + 40 * i)
            self.sections[name.rstrip(b"\0").decode()] = self.data[raw_offset:raw_offset + raw_size]

    @property
    def is_pe32_i386(self):
        return self.machine == 0x14C and self.magic == 0x10B

    def resources(self):
        return self.sections.get(".rsrc", b"")

    def imported_dlls(self, objdump):
        out = subprocess.run([objdump, "-p", self.path], capture_output=True, text=True, check=True).stdout
        return sorted({line.split("DLL Name:")[1].strip().lower() for line in out.splitlines() if "DLL Name:" in line})

    def exports(self, objdump):
        out = subprocess.run([objdump, "-p", self.path], capture_output=True, text=True, check=True).stdout
        names, inside = [], False
        for line in out.splitlines():
            if "[Ordinal/Name Pointer] Table" in line:
                inside = True
                continue
            if inside:
                if not line.strip():
                    break
                names.append(line.split()[-1])
        return names


SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "user32.dll", "crypt32.dll", "ole32.dll",
               "oleaut32.dll", "winscard.dll", "bcrypt.dll", "shell32.dll", "ws2_32.dll"}


def utf16(text):
    return text.encode("utf-16-le")
