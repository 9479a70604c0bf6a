"""kelvora_ax and the PKCS#11 modules it loaded: unloaded from a running
process, the control finalises and frees them; detached because the whole
process ends, it leaves them alone (no Cryptoki call under the loader lock,
into modules that may already be detached). Driven through
pkcs11_ax_client.exe (tests/win/pkcs11/ax_client.cpp) over the stand-in
token module."""
import json
import os
import unittest

from csp_support import result
from pkcs11_support import AX_CLIENT, ESMART, JACARTA, RUTOKEN, Tokens, certificate, slot

MODULES = (RUTOKEN, JACARTA, ESMART)


@unittest.skipUnless(os.path.exists(AX_CLIENT), "the control's test client is not built")
class ControlUnloading(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tokens = Tokens()
        ((cls.thumbprint, cls.der),) = cls.tokens.make_certs([{"algorithm": "2012-256", "subject": "CN=Control"}])
        cls.tokens.install(cls.modules())

    @classmethod
    def modules(cls, **rutoken):
        """The JaCarta holding the certificate; with rutoken, a Rutoken module
        described so holding it too."""
        modules = {JACARTA: {"slots": [slot("JaCarta", [certificate(cls.der, "c1")])]}}
        if rutoken:
            modules[RUTOKEN] = dict(rutoken, slots=[slot("Rutoken", [certificate(cls.der, "r1")])])
        return modules

    @classmethod
    def tearDownClass(cls):
        cls.tokens.close()

    def run_client(self, mode):
        self.tokens.clear_log()
        request = {"type": "CertificatesList", "id": "7", "arguments": {"store_type": "pkcs11"}}
        output = self.tokens.run_ax_client(mode, request)
        answer_text, _, rest = output.partition("\n")
        answer = json.loads(answer_text)
        self.assertEqual([c["thumbprint"] for c in result(answer)], [self.thumbprint])
        return rest

    def test_unloading_the_library_finalises_and_frees_the_modules(self):
        rest = self.run_client("unload")
        self.assertEqual(rest.strip(), "freed")
        self.assertEqual(sorted(line.split()[0] for line in self.tokens.log("C_Finalize reserved=null")),
                         sorted(MODULES))
        self.assertEqual(sorted(line.split()[0] for line in self.tokens.log("DllMain detach=unload")),
                         sorted(MODULES))
        self.assertEqual(self.tokens.log("process-exit"), [])

    def test_process_exit_leaves_the_modules_alone(self):
        self.run_client("exit")
        self.assertEqual(self.tokens.log("C_Finalize"), [])
        self.assertEqual(self.tokens.log("after-detach"), [])
        self.assertEqual(sorted(line.split()[0] for line in self.tokens.log("DllMain detach=process-exit")),
                         sorted(MODULES))

    def test_a_module_whose_function_list_falls_short_ends_nothing(self):
        # In the browser's own process: a list without an entry the control
        # calls (at listing, at unload), or cut short after C_Initialize,
        # leaves that module out; the control answers with the others, and
        # unloads or is detached without a fault.
        try:
            for rules in ({"null": ["C_GetSlotList"]}, {"null": ["C_Finalize"]}, {"end_after": "C_Initialize"}):
                self.tokens.install(self.modules(function_list=rules))
                for mode in ("unload", "exit"):
                    with self.subTest(function_list=rules, mode=mode):
                        self.run_client(mode)
                        self.assertEqual(self.tokens.log(RUTOKEN + " C_"), [RUTOKEN + " C_GetFunctionList"])
        finally:
            self.tokens.install(self.modules())


if __name__ == "__main__":
    unittest.main()
