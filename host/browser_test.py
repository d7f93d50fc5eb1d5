"""quorvel-host started by a real headless Chromium through a native-messaging host manifest,
relaying between the browser extension in testdata/extension and an application listener."""

import base64
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "testing"))
from hostproc import HOST, App  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
EXTENSION = os.path.join(HERE, "testdata", "extension")
HOST_NAME = "app.quorvel.bridge"
CHROMIUM = os.environ.get("QV_CHROMIUM", "/usr/lib/chromium/chromium")
WAIT = 60  # a cold browser start on a loaded machine can take a while
LIMIT = 1_048_576


def extension_id():
    """The id the browser derives from the manifest's public key."""
    with open(os.path.join(EXTENSION, "manifest.json")) as f:
        der = base64.b64decode(json.load(f)["key"])
    return "".join(chr(97 + int(c, 16)) for c in hashlib.sha256(der).hexdigest()[:32])


def group_alive(group):
    try:
        os.killpg(group, 0)
        return True
    except ProcessLookupError:
        return False


@unittest.skipUnless(os.access(CHROMIUM, os.X_OK), "chromium is not installed")
class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="qvb", dir="/tmp")
        self.profile = os.path.join(self.dir, "profile")
        hosts = os.path.join(self.profile, "NativeMessagingHosts")
        os.makedirs(hosts)
        manifest = {
            "name": HOST_NAME,
            "description": "Quorvel bridge host under test",
            "path": os.path.abspath(HOST),
            "type": "stdio",
            "allowed_origins": [f"chrome-extension://{extension_id()}/"],
        }
        with open(os.path.join(hosts, HOST_NAME + ".json"), "w") as f:
            json.dump(manifest, f)
        self.app = App(os.path.join(self.dir, "s"))
        self.browser_log = open(os.path.join(self.dir, "browser.log"), "wb")
        env = dict(os.environ, QV_BROWSER_BRIDGE_SOCKET=self.app.path)
        self.browser = subprocess.Popen(
            [CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--enable-logging=stderr", "--v=0",
             f"--user-data-dir={self.profile}", f"--load-extension={EXTENSION}", "about:blank"],
            stdin=subprocess.DEVNULL, stdout=self.browser_log, stderr=subprocess.STDOUT, env=env,
            start_new_session=True)

    def tearDown(self):
        self.browser.send_signal(signal.SIGTERM)
        try:
            self.browser.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.browser.kill()
            self.browser.wait()
        # The browser's helpers and the host it started leave shortly after the browser; they
        # all sit in the process group the browser was started in.
        group = self.browser.pid
        deadline = time.monotonic() + 10
        while group_alive(group):
            if time.monotonic() > deadline:
                os.killpg(group, signal.SIGKILL)
                break
            time.sleep(0.05)
        self.app.close()
        self.browser_log.close()
        if not getattr(self, "passed", False):
            with open(os.path.join(self.dir, "browser.log"), "rb") as f:
                sys.stderr.write(f.read()[-4000:].decode(errors="replace"))
        shutil.rmtree(self.dir, ignore_errors=True)

    def message(self):
        return json.loads(self.app.line(timeout=WAIT))

    def test_relay_through_a_real_browser(self):
        self.app.accept(timeout=WAIT)
        # The extension's hello comes first; its other early message arrives only when the host
        # was connected in time (the host drops what arrives before that).
        self.assertEqual(self.message(), {"event": "hello", "from": "test-extension", "detached": 0})

        # Application to browser and back, including text that needs repair on the way.
        params = {"text": "h\u00e9llo \U0001F600", "n": [1, 2.5, None]}
        self.app.send(json.dumps({"id": 2, "method": "echo", "params": params}).encode() + b"\n")
        answer = self.message()
        if answer == {"id": 1, "method": "early"}:
            answer = self.message()
        # The extension's id-0 message sent just before the answer is consumed by the host.
        self.assertEqual(answer, {"id": 2, "result": params})
        self.app.send(b'{"id":3,"method":"echo","params":"bad \xff byte"}\n')
        self.assertEqual(self.message(), {"id": 3, "result": "bad \ufffd byte"})

        # The largest message the browser accepts passes; one byte more is refused by the host.
        head = b'{"id":4,"method":"echo","params":"'
        exact = head + b"x" * (LIMIT - len(head) - 2) + b'"}'
        self.assertEqual(len(exact), LIMIT)
        self.app.send(exact + b"\n")
        self.assertEqual(len(self.message()["result"]), LIMIT - len(head) - 2)
        over = head.replace(b"4", b"5") + b"x" * (LIMIT - len(head) - 1) + b'"}'
        self.app.send(over + b"\n")
        self.assertEqual(self.message(), {"id": 5, "error": "The message is larger than the browser accepts (1 MB)."})

        # When the application goes away the extension hears about it, and its new hello is
        # what the application gets first when the host reconnects.
        self.app.drop_connection()
        self.app.accept(timeout=WAIT)
        self.assertEqual(self.message(), {"event": "hello", "from": "test-extension", "detached": 1})
        self.app.drop_connection()
        self.app.accept(timeout=WAIT)
        self.assertEqual(self.message(), {"event": "hello", "from": "test-extension", "detached": 2})
        self.passed = True


if __name__ == "__main__":
    unittest.main(verbosity=2)
