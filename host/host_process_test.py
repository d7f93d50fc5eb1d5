"""quorvel-host as a process: the real binary between pipes (the browser) and a real
Unix-domain socket listener (the application)."""

import os
import queue
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "testing"))
from hostproc import DETACH, HOST, WAIT, App, Host, Workspace, frame  # noqa: E402

LIMIT = 1_048_576
REPLY_TAIL = b',"error":"The message is larger than the browser accepts (1 MB)."}'


def cpu_seconds(pid):
    """User and system time the process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def sized(n, head=b'{"id":7,"x":"', fill=b"a"):
    """A JSON object of exactly n bytes."""
    tail = b'"}'
    return head + fill * (n - len(head) - len(tail)) + tail


class HostTest(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()
        self.hosts = []
        self.apps = []

    def tearDown(self):
        for h in self.hosts:
            h.stop()
            # The host leaves through _Exit, so a sanitizer finding shows only on stderr.
            for marker in (b"Sanitizer", b"runtime error:"):
                self.assertNotIn(marker, h.stderr())
        for a in self.apps:
            a.close()
        self.ws.cleanup()

    def host(self, **kw):
        h = Host(kw.pop("path", self.ws.path), **kw)
        self.hosts.append(h)
        return h

    def app(self, path=None):
        a = App(path or self.ws.path)
        self.apps.append(a)
        return a

    def connected(self):
        app = self.app()
        host = self.host()
        app.accept()
        host.wait_for_connections(1)
        return host, app

    def test_missing_or_empty_variable_exits_1(self):
        base = {k: v for k, v in os.environ.items() if k != "QV_BROWSER_BRIDGE_SOCKET"}
        for name, env in [("unset", base), ("empty", dict(base, QV_BROWSER_BRIDGE_SOCKET=""))]:
            with self.subTest(name):
                h = self.host(env=env)
                self.assertEqual(h.wait(), 1)
                self.assertEqual(h.stderr(), b"QV_BROWSER_BRIDGE_SOCKET is not set.\n")
                self.assertIsNone(h.next_frame())

    def test_reader_thread_that_cannot_start_exits_101(self):
        shim = os.environ.get("QV_NO_THREADS_SHIM")
        if not shim:
            self.skipTest("the thread-failure shim is only built without sanitizers")
        h = self.host(env_extra={"LD_PRELOAD": shim})
        self.assertEqual(h.wait(), 101)
        self.assertIn(b"failed to spawn thread", h.stderr())
        self.assertIn(os.strerror(11).encode(), h.stderr())

    def test_without_application_keeps_retrying_and_exits_0_on_end_of_input(self):
        h = self.host()
        h.send(b'{"event":"hello"}', b'{"id":1}')
        time.sleep(2)
        self.assertIsNone(h.proc.poll())
        # Failed attempts pause in between: a retry loop without its pause would spin a core.
        self.assertLess(cpu_seconds(h.proc.pid), 0.2)
        # An application that appears later still gets the hello, after at most one pause
        # (with room for a loaded machine).
        app = self.app()
        listening = time.monotonic()
        self.assertLess(app.accept(timeout=WAIT) - listening, 1 + 1.5)
        self.assertEqual(app.line(), b'{"event":"hello"}')
        h.close_stdin()
        self.assertEqual(h.wait(), 0)
        self.assertIsNone(h.next_frame(), "nothing is sent to the browser at exit")
        self.assertTrue(app.at_eof())

    def test_only_the_last_hello_is_replayed_first(self):
        h = self.host()
        h.send(b'{"event":"hello","n":1}', b'{"id":5}', b'{"event":"hel\\u006co","n":2}', b'{"id":6}')
        time.sleep(0.3)
        app = self.app()
        app.accept()
        h.wait_for_connections(1)
        h.send(b'{"id":8}')
        self.assertEqual(app.line(), b'{"event":"hel\\u006co","n":2}')
        self.assertEqual(app.line(), b'{"id":8}')
        self.assertEqual(h.stderr().count(b"[quorvel-host] connected to Quorvel\n"), 1)

    def test_replayed_hello_comes_before_everything_else(self):
        import threading

        # Where it is built, a preloaded library holds the reader thread back after every lock
        # it releases: a replay sent after the lock's release would then lose the race.
        shim = os.environ.get("QV_SLOW_UNLOCK_SHIM")
        h = self.host(env_extra={"LD_PRELOAD": shim} if shim else None)
        h.send(b'{"event":"hello"}')
        stop = threading.Event()

        def flood():
            n = 1
            while not stop.is_set():
                h.send(b'{"id":%d}' % n)
                n += 1
                time.sleep(0.001)

        writer = threading.Thread(target=flood)
        writer.start()
        try:
            time.sleep(0.3)
            app = self.app()
            app.accept()
            self.assertEqual(app.line(), b'{"event":"hello"}')
            # Then the flood continues in order, from wherever the connection caught it.
            first = int(app.line()[6:-1])
            for expected in range(first + 1, first + 20):
                self.assertEqual(app.line(), b'{"id":%d}' % expected)
        finally:
            stop.set()
            writer.join()

    def test_browser_messages_are_validated_and_routed(self):
        h, app = self.connected()
        cases = [
            # (payload, what the application receives or None)
            (b'{"id":0,"x":1}', None),
            (b'{"id":-0}', None),
            (b'{"id":0.0e5}', None),
            (b'{"id":1e-400}', None),
            (b'{"id":1}', b'{"id":1}'),
            (b'{"x":"no id"}', b'{"x":"no id"}'),
            (b'{"id":"0"}', b'{"id":"0"}'),
            (b'{"params":{"id":0}}', b'{"params":{"id":0}}'),
            (b'[0]', b"[0]"),
            (b'"text"', b'"text"'),
            (b"", None),
            (b"{", None),
            (b'{"id":1,}', None),
            (b"\xef\xbb\xbf{}", None),
            (b"{} {}", None),
            (b'{"id":01}', None),
            (b'{"id":2}\r\n\t ', b'{"id":2}\r \t '),
            (b'{\n"id" :\n3\n}', b'{ "id" : 3 }'),
            (b'{"s":"\xff\xc3"}', b'{"s":"\xef\xbf\xbd\xef\xbf\xbd"}'),
            (b'{"s":"a\\nb"}', b'{"s":"a\\nb"}'),
            # A long message among short ones, all in one write.
            (sized(40_000), sized(40_000)),
            (b'{"id":0,"long":"' + b"x" * 40_000 + b'"}', None),
            (b'{"after":"long"}', b'{"after":"long"}'),
        ]
        # Many short messages in one write, more than are joined for one send.
        many = [b'{"n":%d}' % n for n in range(20_000)]
        h.send(*[p for p, _ in cases], *many, b'{"end":true}')
        for _, expected in cases:
            if expected is not None:
                self.assertEqual(app.line(), expected)
        for expected in many:
            self.assertEqual(app.line(), expected)
        self.assertEqual(app.line(), b'{"end":true}')

    def test_application_lines_reach_the_browser_as_frames(self):
        h, app = self.connected()
        app.send(b'abc\n\n{"id":1}\r\n\xe2\x82\n' + b'{"big":"' + b"b" * 100000 + b'"}\n')
        self.assertEqual(h.next_frame(), b"abc")
        self.assertEqual(h.next_frame(), b'{"id":1}\r')
        self.assertEqual(h.next_frame(), b"\xef\xbf\xbd")
        self.assertEqual(len(h.next_frame()), 100010)
        # Lines split across many small writes are joined.
        for piece in [b'{"a"', b":", b"1}", b"\n"]:
            app.send(piece)
            time.sleep(0.02)
        self.assertEqual(h.next_frame(), b'{"a":1}')
        h.no_frame_within(0.2)

    def test_browser_size_limit(self):
        h, app = self.connected()
        exact = sized(LIMIT)
        app.send(exact + b"\n")
        self.assertEqual(h.next_frame(), exact)
        cases = [
            # (line, reply id or None, logged length)
            (sized(LIMIT + 1), b"7", LIMIT + 1),
            (sized(LIMIT + 1, head=b'{"id":7.0,"x":"'), b"7", LIMIT + 1),
            (sized(LIMIT + 1, head=b'{"id":1.25,"x":"'), b"1.25", LIMIT + 1),
            (sized(LIMIT + 1, head=b'{"id":1e400,"x":"'), b"null", LIMIT + 1),
            (sized(LIMIT + 1, head=b'{"id":"7","x":"'), None, LIMIT + 1),
            (sized(LIMIT + 1, head=b'{"x":"'), None, LIMIT + 1),
            (b"[" + b"1," * (LIMIT // 2), None, LIMIT + 1),
            # Below the limit as bytes, above it once each invalid byte becomes U+FFFD.
            (sized(LIMIT - 200, head=b'{"id":9,"x":"', fill=b"a") [:-1000] + b"\xff" * 498 + b'"}',
             b"9", LIMIT - 200 - 998 + 498 * 3),
        ]
        for line, _, _ in cases:
            app.send(line + b"\n")
        app.send(b'{"after":1}\n')
        self.assertEqual(h.next_frame(), b'{"after":1}')
        for _, reply_id, _ in cases:
            if reply_id is not None:
                self.assertEqual(app.line(), b'{"id":' + reply_id + REPLY_TAIL)
        h.no_frame_within(0.2)
        log = h.stderr().decode().splitlines()
        dropped = [line for line in log if "dropped" in line]
        self.assertEqual(dropped, [f"[quorvel-host] dropped a {n}-byte message to the browser"
                                   for _, _, n in cases])
        app.conn.settimeout(0.3)
        with self.assertRaises(TimeoutError):
            app.line(timeout=0.3)

    def test_detach_notice_once_then_reconnect_and_replay(self):
        h, app = self.connected()
        # Raw line feeds between tokens travel as spaces, in the cached copy as well.
        h.send(b'{"event":"hello",\n"v":1}')
        self.assertEqual(app.line(), b'{"event":"hello", "v":1}')
        for round_ in range(2):
            app.drop_connection()
            closed = time.monotonic()
            self.assertEqual(h.next_frame(), DETACH)
            reconnected = app.accept()
            # The host waits about a second before it tries again.
            self.assertGreaterEqual(reconnected - closed, 0.9)
            self.assertLess(reconnected - closed, 1 + WAIT)
            self.assertEqual(app.line(), b'{"event":"hello", "v":1}', f"round {round_}")
            h.no_frame_within(0.2)
        h.send(b'{"id":3}')
        self.assertEqual(app.line(), b'{"id":3}')
        self.assertEqual(h.stderr().count(b"[quorvel-host] connected to Quorvel\n"), 3)

    def test_failed_send_ends_the_connection(self):
        import socket

        h, app = self.connected()
        # The application stops reading but keeps its connection open: only the host's own
        # shutdown after the failed send can end this connection.
        app.conn.shutdown(socket.SHUT_RD)
        h.send(b'{"id":1}')
        self.assertEqual(h.next_frame(), DETACH)
        self.assertTrue(app.at_eof())
        app.accept()
        h.wait_for_connections(2)
        h.send(b'{"id":2}')
        self.assertEqual(app.line(), b'{"id":2}')
        h.no_frame_within(0.2)

    def test_unterminated_last_line_is_dropped(self):
        h, app = self.connected()
        app.send(b'{"id":1}\n{"id":2}')
        app.drop_connection()
        self.assertEqual(h.next_frame(), b'{"id":1}')
        self.assertEqual(h.next_frame(), DETACH)
        h.no_frame_within(0.3)

    def test_end_of_input_while_connected_exits_0_silently(self):
        for name, tail in [("clean end", b""), ("cut in prefix", b"\x05\x00"),
                           ("cut in payload", b"\x0a\x00\x00\x00{}")]:
            with self.subTest(name):
                h, app = self.connected()
                h.send_raw(tail)
                h.close_stdin()
                self.assertEqual(h.wait(), 0)
                self.assertIsNone(h.next_frame())
                self.assertTrue(app.at_eof())
                app.close()
                self.apps.remove(app)

    def test_browser_that_stops_reading(self):
        app = self.app()
        h = self.host(read_stdout=False)
        app.accept()
        h.wait_for_connections(1)
        # Fill the pipe to the browser until the reader thread is stuck writing to it.
        app.conn.setblocking(False)
        line = b'{"fill":"' + b"f" * 65536 + b'"}\n'
        stuck_after = None
        sent = 0
        deadline = time.monotonic() + WAIT
        while time.monotonic() < deadline:
            try:
                sent += app.conn.send(line)
            except BlockingIOError:
                if stuck_after is None:
                    stuck_after = time.monotonic()
                elif time.monotonic() - stuck_after > 0.5:
                    break
                time.sleep(0.05)
                continue
            stuck_after = None
        app.conn.setblocking(True)
        self.assertGreater(sent, 3 * 65536)
        # The browser's messages still reach the application.
        h.send(b'{"id":11}')
        self.assertEqual(app.line(), b'{"id":11}')
        # When the browser closes its end, the blocked write fails and the host exits 0.
        h.proc.stdout.close()
        self.assertEqual(h.wait(), 0)

    def test_closed_standard_output_is_replaced_by_dev_null(self):
        # Were descriptor 1 left closed, the socket would take its number and the browser's
        # frames would go to the application.
        import subprocess

        app = self.app()
        env = dict(os.environ, QV_BROWSER_BRIDGE_SOCKET=self.ws.path)
        proc = subprocess.Popen([HOST], stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, env=env, preexec_fn=lambda: os.close(1))
        try:
            app.accept()
            app.send(b'{"to":"browser"}\n')
            deadline = time.monotonic() + WAIT
            while b"connected to Quorvel" not in proc.stderr.peek(1):
                self.assertLess(time.monotonic(), deadline)
                time.sleep(0.01)
            proc.stdin.write(frame(b'{"to":"app"}'))
            proc.stdin.flush()
            self.assertEqual(app.line(), b'{"to":"app"}')
            proc.stdin.close()
            self.assertEqual(proc.wait(timeout=WAIT), 0)
            self.assertTrue(app.at_eof())
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stderr.close()

    def test_socket_path_length_limit(self):
        base = os.path.join(self.ws.dir, "")
        for length, connects in [(103, True), (104, False)]:
            with self.subTest(length=length):
                path = base + "p" * (length - len(base))
                self.assertEqual(len(path.encode()), length)
                app = self.app(path)
                h = self.host(path=path)
                if connects:
                    app.accept()
                else:
                    self.assertTrue(app.no_connection_within(2.5))
                h.close_stdin()
                self.assertEqual(h.wait(), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
