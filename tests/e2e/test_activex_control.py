"""kelvora_ax.dll as Windows programs see it, under wine64: what regsvr32
writes to and removes from the registry, and what scripts get from
SendMessage. Every test class works in its own copy of the build's Wine
prefix."""
import base64
import json
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

from e2e_support import BUILD_DIR, SOURCE_DIR, run_requests
from viewer_certificates import Certificates

WINE_RUN = os.path.join(BUILD_DIR, "wine-run")
CONTROL = os.path.join(BUILD_DIR, "kelvora_ax.dll")
CONTROL_WINDOWS_PATH = "Z:" + os.path.abspath(CONTROL).replace("/", "\\")


# The identifiers pages and installers know the control by, written out here
# rather than read from the sources, so that a changed GUID fails the tests.
CLSID = "{4017F20F-0E0B-4713-B6D3-4B0AA0F1003F}"
IID = "{009F16C6-D934-43F1-8D4D-589B9B3AC24B}"
LIBID = "{01C6D14D-9288-494F-9F8D-88FE70415076}"
APPID = "{05D36373-F196-4FB6-9BA4-B56A2E01B0D9}"


class FreshPrefix:
    """A copy of the build's pristine prefix, removed with its wineserver."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="activex-e2e.", dir=BUILD_DIR)
        self.path = os.path.join(self.work, "prefix")
        subprocess.run([WINE_RUN, "--fresh-prefix", self.path], check=True, capture_output=True, timeout=600)
        self.drive_c = os.path.join(self.path, "drive_c")

    def run(self, *args, check=False):
        """Runs a program in the prefix. Its output goes through files: Wine's
        background processes inherit the handles and would hold a pipe open
        for seconds after the program ends."""
        env = dict(os.environ, KELVORA_WINEPREFIX=self.path)
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            status = subprocess.run([WINE_RUN, *args], env=env, stdout=out, stderr=err, timeout=300).returncode
            out.seek(0)
            err.seek(0)
            result = subprocess.CompletedProcess(args, status, out.read().decode("utf-8", "replace"),
                                                 err.read().decode("utf-8", "replace"))
        if check and result.returncode != 0:
            raise AssertionError("%s failed (%d): %s %s" % (args, result.returncode, result.stdout, result.stderr))
        return result

    def reg_query(self, key):
        """{subkey path relative to key: {value name: (type, data)}}, or None
        when the key does not exist."""
        result = self.run("reg", "query", key, "/s")
        if result.returncode != 0:
            return None
        tree, current = {}, None
        for line in result.stdout.splitlines():
            if not line.strip():
                continue
            if line.startswith("HKEY_"):
                full = line.strip()
                current = full[len(self.long_name(key)):].lstrip("\\")
                tree.setdefault(current, {})
            else:
                parts = line.strip().split("    ")
                tree[current][parts[0]] = (parts[1], parts[2] if len(parts) > 2 else "")
        return tree

    def reg_export_text(self, key):
        target = "C:\\export.reg"
        self.run("reg", "export", key, target, "/y", check=True)
        with open(os.path.join(self.drive_c, "export.reg"), "rb") as f:
            return f.read().decode("utf-16")

    @staticmethod
    def long_name(key):
        root, _, rest = key.partition("\\")
        root = {"HKCR": "HKEY_CLASSES_ROOT", "HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE"}[root]
        return root + ("\\" + rest if rest else "")

    def remove(self):
        subprocess.run(["/usr/lib/wine/wineserver", "-k"], env=dict(os.environ, WINEPREFIX=self.path),
                       capture_output=True)
        shutil.rmtree(self.work, ignore_errors=True)


def default(data):
    return {"(Default)": ("REG_SZ", data)}


EXPECTED_CLASS_KEY = {
    "": default("Kelvora browser plugin"),
    "InprocServer32": {"(Default)": ("REG_SZ", CONTROL_WINDOWS_PATH), "ThreadingModel": ("REG_SZ", "Apartment")},
    "ProgID": default("kelvora.plugin.1"),
    "Programmable": {},
    "TypeLib": default(LIBID),
    "Version": default("1.0"),
    "VersionIndependentProgID": default("kelvora.plugin"),
}
EXPECTED_VERSIONED_PROGID = {"": default("Kelvora browser plugin"), "CLSID": default(CLSID)}
EXPECTED_PROGID = {"": default("Kelvora browser plugin"), "CLSID": default(CLSID),
                   "CurVer": default("kelvora.plugin.1")}


class Regsvr32(unittest.TestCase):
    def setUp(self):
        self.prefix = FreshPrefix()

    def tearDown(self):
        self.prefix.remove()

    def classes(self, root):
        return {name: self.prefix.reg_query("%s\\%s" % (root, name))
                for name in ("CLSID\\" + CLSID, "kelvora.plugin.1", "kelvora.plugin")}

    def test_registration_per_machine_and_its_removal(self):
        result = self.prefix.run("regsvr32", "/s", CONTROL_WINDOWS_PATH)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.classes("HKCR"), {"CLSID\\" + CLSID: EXPECTED_CLASS_KEY,
                                                "kelvora.plugin.1": EXPECTED_VERSIONED_PROGID,
                                                "kelvora.plugin": EXPECTED_PROGID})
        typelib = self.prefix.reg_query("HKCR\\TypeLib\\" + LIBID)
        self.assertIsNotNone(typelib)
        self.assertEqual(typelib["1.0"], default("ActiveXLib"))
        self.assertEqual(typelib["1.0\\0\\win64"], default(CONTROL_WINDOWS_PATH))
        # The type library registers its dual interface IPlugin.
        interface = self.prefix.reg_query("HKCR\\Interface\\" + IID)
        self.assertIsNotNone(interface)
        self.assertEqual(interface[""], default("IPlugin"))
        self.assertEqual(interface["TypeLib"]["(Default)"], ("REG_SZ", LIBID))
        # The AppID is offered to the scripts but written nowhere.
        self.assertIsNone(self.prefix.reg_query("HKCR\\AppID\\" + APPID))
        exported = {root: self.prefix.reg_export_text(root).upper()
                    for root in ("HKLM\\Software\\Classes", "HKCU\\Software")}
        self.assertTrue(CLSID in exported["HKLM\\Software\\Classes"])
        for root, text in exported.items():
            self.assertFalse(APPID in text, root)

        result = self.prefix.run("regsvr32", "/s", "/u", CONTROL_WINDOWS_PATH)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.classes("HKCR"), {"CLSID\\" + CLSID: None, "kelvora.plugin.1": None,
                                                "kelvora.plugin": None})
        self.assertIsNone(self.prefix.reg_query("HKCR\\TypeLib\\" + LIBID))
        # The CLSID root and the other classes stay.
        self.assertEqual(self.prefix.run("reg", "query", "HKCR\\CLSID").returncode, 0)
        self.assertIsNotNone(self.prefix.reg_query("HKCR\\CLSID\\{0002DF01-0000-0000-C000-000000000046}"))

    def test_dllinstall_user_registers_under_the_users_classes(self):
        result = self.prefix.run("regsvr32", "/s", "/n", "/i:user", CONTROL_WINDOWS_PATH)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.classes("HKCU\\Software\\Classes"),
                         {"CLSID\\" + CLSID: EXPECTED_CLASS_KEY, "kelvora.plugin.1": EXPECTED_VERSIONED_PROGID,
                          "kelvora.plugin": EXPECTED_PROGID})
        self.assertEqual(self.classes("HKLM\\Software\\Classes"),
                         {"CLSID\\" + CLSID: None, "kelvora.plugin.1": None, "kelvora.plugin": None})

        result = self.prefix.run("regsvr32", "/s", "/u", "/n", "/i:user", CONTROL_WINDOWS_PATH)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(self.classes("HKCU\\Software\\Classes"),
                         {"CLSID\\" + CLSID: None, "kelvora.plugin.1": None, "kelvora.plugin": None})


def js_unescape(text):
    """The inverse of JScript's escape(): %XX and %uXXXX are UTF-16 units."""
    units, i = [], 0
    while i < len(text):
        if text.startswith("%u", i):
            units.append(int(text[i + 2:i + 6], 16))
            i += 6
        elif text[i] == "%":
            units.append(int(text[i + 1:i + 3], 16))
            i += 3
        else:
            units.append(ord(text[i]))
            i += 1
    return b"".join(struct.pack("<H", u) for u in units).decode("utf-16-le", errors="surrogatepass")


JSCRIPT = r"""
var plugin = new ActiveXObject("kelvora.plugin");
function send(label, request) {
    try {
        WScript.Echo(label + "|ok|" + escape(plugin.SendMessage(request)));
    } catch (e) {
        WScript.Echo(label + "|error|" + escape(e.description) + "|" + typeof e.source);
    }
}
send("version", '{"type":"Version","id":"1"}');
send("unknown", '{"type":"NoSuchCommand","id":"1"}');
send("after-unknown", '{"type":"Version","id":"2"}');
send("no-id", '{"type":"Version"}');
send("empty-id", '{"type":"Version","id":""}');
send("lower-case", '{"type":"version","id":"1"}');
send("after-empty", '{"type":"VersionEx","id":"3"}');
send("command-fails", '{"type":"EncryptPin","id":"4"}');
send("pair", '{"type":"Version","id":"\ud83d\ude00"}');
send("number-id", '{"type":"Version","id":0}');
WScript.Echo("done");
"""

VBSCRIPT = r"""
Set plugin = CreateObject("kelvora.plugin")
On Error Resume Next
answer = plugin.SendMessage("{""type"":""NoSuchCommand"",""id"":""1""}")
WScript.Echo "unknown|" & Hex(Err.Number) & "|" & Err.Source & "|" & Err.Description
Err.Clear
answer = plugin.SendMessage("{""type"":""Version"",""id"":""1""}")
WScript.Echo "version|" & Hex(Err.Number) & "|" & Replace(answer, vbLf, "<LF>")
WScript.Echo "done"
"""


class ScriptHost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = FreshPrefix()
        cls.prefix.run("regsvr32", "/s", CONTROL_WINDOWS_PATH, check=True)

    @classmethod
    def tearDownClass(cls):
        cls.prefix.remove()

    def run_script(self, name, text):
        with open(os.path.join(self.prefix.drive_c, name), "w", newline="\r\n") as f:
            f.write(text)
        result = self.prefix.run("cscript", "//nologo", "C:\\" + name)
        lines = [line.strip() for line in result.stdout.splitlines() if line.strip()]
        # Wine's script host prints nothing for an uncaught script error.
        self.assertEqual(lines[-1:], ["done"], result.stdout + result.stderr)
        return dict(line.split("|", 1) for line in lines[:-1])

    def test_jscript_gets_answers_and_exceptions(self):
        out = self.run_script("plugin.js", JSCRIPT)
        answer = lambda label: js_unescape(out[label].split("|", 1)[1])  # noqa: E731
        self.assertEqual(answer("version"), '{"response":"success","result":"2.1.0102","id":"1"}\n')
        for label in ("unknown", "no-id", "empty-id", "lower-case"):
            status, description, _ = out[label].split("|")
            self.assertEqual((status, js_unescape(description)), ("error", "Invalid message"), label)
        self.assertEqual(answer("after-unknown"), '{"response":"success","result":"2.1.0102","id":"2"}\n')
        self.assertEqual(answer("after-empty"),
                         '{"response":"success","result":{"version":"2.1.0102","system":"windows"},"id":"3"}\n')
        self.assertEqual(answer("command-fails"),
                         '{"response":"fail","error":"No such node (pincode)","id":"4"}\n')
        self.assertEqual(answer("pair"), '{"response":"success","result":"2.1.0102","id":"\U0001F600"}\n')
        self.assertEqual(answer("number-id"), '{"response":"success","result":"2.1.0102","id":"0"}\n')

    def test_serialize_certificate_answers_as_the_host_does(self):
        certs = Certificates()
        try:
            requests = [json.dumps({"type": "SerializeCertificate", "id": name,
                                    "arguments": {"cert": base64.b64encode(certs.der[name]).decode()}})
                        for name in ("full", "second", "gost512")]
            requests.append(json.dumps({"type": "SerializeCertificate", "id": "bad", "arguments": {"cert": "@"}}))
        finally:
            certs.close()
        script = JSCRIPT[:JSCRIPT.index('send("version"')] + "".join(
            "send(%s, %s);\n" % (json.dumps(str(n)), json.dumps(r)) for n, r in enumerate(requests)) + 'WScript.Echo("done");\n'
        out = self.run_script("viewer.js", script)
        host = [json.loads(t) for t in run_requests(requests).texts()]
        self.assertEqual(len(host), len(requests))
        for n, expected in enumerate(host):
            text = js_unescape(out[str(n)].split("|", 1)[1])
            self.assertTrue(text.endswith("}\n"), text[-40:])
            answer = json.loads(text)
            self.assertEqual(list(answer), ["response", "result", "id"])
            self.assertEqual(answer, expected)
        self.assertEqual(host[3]["result"], {"valid": "false", "error": "Ошибка чтения сертификата"})
        self.assertEqual(host[1]["result"]["certificate"]["subject"]["rdn"][0]["value"], "Line\nfeed")

    def test_vbscript_sees_the_source_and_the_error_code(self):
        # Wine's JScript error objects carry no source; VBScript's Err does.
        out = self.run_script("plugin.vbs", VBSCRIPT)
        self.assertEqual(out["unknown"], "80020009|kelvora.plugin.1|Invalid message")
        self.assertEqual(out["version"], '0|{"response":"success","result":"2.1.0102","id":"1"}<LF>')


if __name__ == "__main__":
    unittest.main(verbosity=2)
