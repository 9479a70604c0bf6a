"""The native-messaging protocol of the built host, byte for byte, under wine64."""
import json
import struct
import unittest

from e2e_support import frame, run_raw, run_requests


class HostProtocol(unittest.TestCase):
    def test_version_frame_is_exact(self):
        run = run_raw(bytes.fromhex("19000000") + b'{"type":"Version","id":7}')
        self.assertEqual(run.output, bytes.fromhex("33000000") + b'{"response":"success","id":"7","result":"2.1.0102"}')
        self.assertEqual(run.status, 0)

    def test_many_requests_in_one_process(self):
        run = run_requests(['{"type":"VersionEx","id":"v/1"}',
                            '{"type":"Version","id":{"a":1},"arguments":{"ignored":"yes"}}',
                            'not json at all',
                            '{"type":"Version"}',
                            '{"type":"Version","id":true}'])
        self.assertEqual(run.texts(), [
            '{"response":"success","id":"v\\/1","result":{"version":"2.1.0102","system":"windows"}}',
            '{"response":"success","id":"","result":"2.1.0102"}',
            '{"response":"success","id":"true","result":"2.1.0102"}',
        ])
        self.assertEqual(run.status, 0)

    def test_bodies_that_are_not_utf8_or_hold_too_many_values_get_no_answer(self):
        # Each refused body sits between two answered requests of one process.
        refused = [b"\xC0\xAF", b"\xE0\x80\xAF", b"\xED\xA0\x80", b"\xED\xA0\xBD\xED\xB8\x80",
                   b"\xF4\x90\x80\x80", b"\xFF", b"\x80", b"\xE2\x82"]
        bodies, expected = [], []
        for n, bad in enumerate(refused):
            bodies.append(b'{"type":"Version","id":"' + bad + b'"}')
            bodies.append(('{"type":"Version","id":"ok%d"}' % n).encode())
            expected.append("ok%d" % n)
        # More values than a request may hold (the limit is 2 Mi values).
        bodies.append(b'{"type":"Version","id":"many","arguments":[' + b"1," * (2 << 20) + b'1]}')
        # Well-formed text of every sequence length, and a request of many values.
        bodies.append('{"type":"Version","id":"\u0416\u20ac\U0001F600\U0010FFFF"}'.encode())
        expected.append("\u0416\u20ac\U0001F600\U0010FFFF")
        bodies.append(b'{"type":"Version","id":"last","arguments":[' + b"1," * 1000 + b'1]}')
        expected.append("last")
        run = run_raw(b"".join(frame(body) for body in bodies))
        self.assertEqual([json.loads(text)["id"] for text in run.texts()], expected)
        self.assertEqual(run.status, 0)

    def test_unregistered_type_ends_without_answer(self):
        for name in ("version", "VERSION", "NoSuchCommand"):
            run = run_requests(['{"type":"Version","id":1}', '{"type":"%s","id":2}' % name,
                                '{"type":"Version","id":3}'])
            self.assertEqual(len(run.frames()), 1, name)
            self.assertEqual(json.loads(run.texts()[0])["id"], "1")
            self.assertEqual(run.status, 0)

    def test_zero_length_and_short_reads_end_the_host(self):
        version = frame('{"type":"Version","id":1}')
        for tail in (struct.pack("<I", 0) + version, b"\x05\x00", struct.pack("<I", 50) + b'{"type"'):
            run = run_raw(version + tail)
            self.assertEqual(len(run.frames()), 1)
            self.assertEqual(run.status, 0)

    def test_oversized_length_ends_with_nonzero_status(self):
        run = run_raw(struct.pack("<I", 0xFFFFFFF0) + b"{}")
        self.assertEqual(run.output, b"")
        self.assertNotEqual(run.status, 0)

    def test_ctrl_z_and_crlf_bytes_pass_untranslated(self):
        # Lengths 0x1A and 0x0A0D, and CR LF bytes inside a body, are read as they are.
        body26 = b'{"type":"Version","id":1} '
        self.assertEqual(len(body26), 0x1A)
        head = b'{"type":"Version",\r\n"id":"\\r\\n\\u001a","x":"'
        body = head + b"a" * (0x0A0D - len(head) - 2) + b'"}'
        self.assertEqual(len(body), 0x0A0D)
        run = run_raw(frame(body26) + frame(body))
        self.assertEqual(run.texts()[1], '{"response":"success","id":"\\r\\n\\u001A","result":"2.1.0102"}')

    def test_parent_window_arguments_do_not_disturb_the_host(self):
        for arg in ("--parent-window=123", "--parent-window", "--parent-window=abc",
                    "--parent-window=99999999999999999999999", "x--parent-window=1"):
            run = run_raw(frame('{"type":"Version","id":1}'), args=(arg,))
            self.assertEqual(run.texts(), ['{"response":"success","id":"1","result":"2.1.0102"}'], arg)


if __name__ == "__main__":
    unittest.main(verbosity=2)
