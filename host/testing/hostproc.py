"""Drives a real quorvel-host process: the browser side through its pipes, the application side
through a real Unix-domain socket listener."""

import os
import queue
import select
import socket
import struct
import subprocess
import tempfile
import threading
import time

HOST = os.path.join(os.environ.get("QV_BUILD_DIR", "build/default"), "host", "quorvel-host")
DETACH = b'{"id":0,"method":"debugger.detachAll","params":{}}'
ORIGIN = "chrome-extension://abcdefghijklmnopabcdefghijklmnop/"
# Generous: the machine may be loaded and the host may run under a sanitizer.
WAIT = float(os.environ.get("QV_TEST_WAIT", "10"))


def frame(payload: bytes) -> bytes:
    return struct.pack("=I", len(payload)) + payload


class Host:
    """One host process; frames it writes are collected by a thread unless `read_stdout` is
    false (a browser that never reads)."""

    def __init__(self, socket_path, env_extra=None, read_stdout=True, env=None):
        if env is None:
            env = dict(os.environ)
            env["QV_BROWSER_BRIDGE_SOCKET"] = socket_path
        env.update(env_extra or {})
        self.proc = subprocess.Popen(
            [HOST, ORIGIN, "--parent-window=0"],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            env=env,
        )
        self.frames = queue.Queue()
        self.stderr_chunks = []
        self._threads = [threading.Thread(target=self._collect_stderr, daemon=True)]
        if read_stdout:
            self._threads.append(threading.Thread(target=self._collect_frames, daemon=True))
        for t in self._threads:
            t.start()

    def _collect_frames(self):
        out = self.proc.stdout
        while True:
            head = out.read(4)
            if len(head) < 4:
                self.frames.put(None if not head else ("partial", head))
                return
            (n,) = struct.unpack("=I", head)
            self.frames.put(out.read(n))

    def _collect_stderr(self):
        for chunk in iter(lambda: self.proc.stderr.read1(65536), b""):
            self.stderr_chunks.append(chunk)

    def send(self, *payloads):
        self.proc.stdin.write(b"".join(frame(p) for p in payloads))
        self.proc.stdin.flush()

    def send_raw(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def next_frame(self, timeout=WAIT):
        return self.frames.get(timeout=timeout)

    def no_frame_within(self, seconds):
        try:
            f = self.frames.get(timeout=seconds)
        except queue.Empty:
            return True
        raise AssertionError(f"unexpected frame {f[:200]!r}")

    def close_stdin(self):
        self.proc.stdin.close()

    def wait(self, timeout=WAIT):
        code = self.proc.wait(timeout=timeout)
        for t in self._threads:
            t.join(timeout=WAIT)
        return code

    def wait_for_connections(self, count, timeout=WAIT):
        """Waits until the host has logged `count` connections: from then on the socket is
        installed and browser messages are forwarded."""
        deadline = time.monotonic() + timeout
        while self.stderr().count(b"[quorvel-host] connected to Quorvel\n") < count:
            if time.monotonic() > deadline:
                raise TimeoutError(f"no connection {count} logged: {self.stderr()!r}")
            time.sleep(0.01)

    def stderr(self):
        return b"".join(self.stderr_chunks)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except (OSError, ValueError):
                pass


class App:
    """The application's side: a listener on the bridge socket."""

    def __init__(self, path):
        self.path = path
        self.server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.server.bind(path)
        self.server.listen(4)
        self.conn = None
        self._buffer = b""

    def accept(self, timeout=WAIT):
        self.server.settimeout(timeout)
        self.conn, _ = self.server.accept()
        self.conn.settimeout(timeout)
        self._buffer = b""
        return time.monotonic()

    def no_connection_within(self, seconds):
        ready, _, _ = select.select([self.server], [], [], seconds)
        return not ready

    def line(self, timeout=WAIT):
        deadline = time.monotonic() + timeout
        while b"\n" not in self._buffer:
            self.conn.settimeout(max(0.01, deadline - time.monotonic()))
            chunk = self.conn.recv(1 << 20)
            if not chunk:
                raise EOFError("socket closed with %r pending" % self._buffer[:100])
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line

    def at_eof(self, timeout=WAIT):
        """True when the host has closed its end. A host that exits with unread data in its
        socket makes the close arrive as a reset, which means the same here."""
        self.conn.settimeout(timeout)
        try:
            return self._buffer == b"" and self.conn.recv(1) == b""
        except ConnectionResetError:
            return True

    def send(self, data):
        self.conn.sendall(data)

    def drop_connection(self):
        self.conn.close()
        self.conn = None

    def close(self):
        if self.conn:
            self.conn.close()
        self.server.close()
        if os.path.exists(self.path):
            os.unlink(self.path)


class Workspace:
    """A private folder for the socket; short enough for any socket path limit."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="qvh", dir="/tmp")
        self.path = os.path.join(self.dir, "s")

    def cleanup(self):
        for name in os.listdir(self.dir):
            os.unlink(os.path.join(self.dir, name))
        os.rmdir(self.dir)
