"""A scripted browser: starts quorvel-host the way a browser does (frames on its stdin and
stdout), starts the sample application, and prints what passes each way."""

import os
import queue
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
HOST = os.path.join(os.environ["QV_BUILD_DIR"], "host", "quorvel-host")


def show(line):
    # One write per line, so lines from the log thread and the application never run together.
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def say(text):
    show(f"  [browser] {text}")


def step(text):
    show(f"\n-- {text}")


def main():
    workdir = tempfile.mkdtemp(prefix="qv-demo-", dir="/tmp")
    path = os.path.join(workdir, "bridge.sock")
    env = dict(os.environ, QV_BROWSER_BRIDGE_SOCKET=path)
    host = subprocess.Popen([HOST, "chrome-extension://demo/"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    frames = queue.Queue()

    def read_frames():
        while (head := host.stdout.read(4)) and len(head) == 4:
            frames.put(host.stdout.read(struct.unpack("=I", head)[0]))
        frames.put(None)

    def show_log():
        for line in host.stderr:
            show(f"  [log]     {line.decode(errors='replace').rstrip()}")

    threading.Thread(target=read_frames, daemon=True).start()
    threading.Thread(target=show_log, daemon=True).start()

    def send(text):
        data = text.encode()
        say("-> " + text.replace("\n", "\\n"))
        host.stdin.write(struct.pack("=I", len(data)) + data)
        host.stdin.flush()

    def receive():
        frame = frames.get(timeout=10)
        say(f"<- {frame.decode()}")
        return frame

    app = None
    try:
        step("the browser starts quorvel-host before the application is running")
        send('{"event":"hello","client":"demo-extension","version":1}')
        send('{"id":1,"method":"tabs.query"}')
        say("(nothing is listening yet: the hello is kept, the request is lost)")

        step("the application starts; the host connects within a second and replays the hello")
        app = subprocess.Popen([sys.executable, os.path.join(HERE, "sample_app.py"), path],
                               stderr=subprocess.PIPE)
        app.stderr.readline()
        time.sleep(1.5)

        step("requests both ways")
        send('{"id":2,"method":"tabs.query","params":{"active":true}}')
        receive()
        send('{"id":0,"method":"debugger.ack"}')
        say("(id 0 is the host's own: that message is not passed on)")
        send('{\n  "id": 3,\n  "method": "page.title",\n  "params": {"tab": 7}\n}')
        receive()

        step("a reply too large for the browser: the host answers the application instead")
        send('{"id":4,"method":"app.sendLarge"}')
        time.sleep(1)

        step("the application goes away: the browser is told to detach its debugger sessions")
        send('{"id":5,"method":"app.leave"}')
        receive()
        app.wait(timeout=10)

        step("the browser closes the host's input: the host exits")
        host.stdin.close()
        status = host.wait(timeout=10)
        time.sleep(0.1)
        show(f"  quorvel-host exited with status {status}")
    finally:
        for proc in (host, app):
            if proc and proc.poll() is None:
                proc.kill()
                proc.wait()
        for name in os.listdir(workdir):
            os.unlink(os.path.join(workdir, name))
        os.rmdir(workdir)


if __name__ == "__main__":
    main()
