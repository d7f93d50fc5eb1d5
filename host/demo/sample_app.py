"""A small stand-in for the desktop application: listens on the bridge socket, prints every
line that arrives and answers requests. `app.sendLarge` makes it send a message too large for
the browser; `app.leave` makes it close the connection and exit."""

import json
import os
import socket
import sys


def say(text):
    # One write per line, so lines never run into those the browser side prints meanwhile.
    sys.stdout.write(f"  [app]     {text}\n")
    sys.stdout.flush()


def main(path):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    if os.path.exists(path):
        os.unlink(path)
    server.bind(path)
    server.listen(1)
    say(f"listening on {path}")
    print("READY", file=sys.stderr, flush=True)
    conn, _ = server.accept()
    say("the host connected")
    buffer = b""
    while True:
        chunk = conn.recv(65536)
        if not chunk:
            say("the host closed the connection")
            break
        buffer += chunk
        while b"\n" in buffer:
            line, buffer = buffer.split(b"\n", 1)
            shown = line if len(line) < 160 else line[:100] + b"..."
            say(f"<- {shown.decode(errors='replace')}")
            message = json.loads(line)
            method = message.get("method")
            if method == "app.leave":
                say("leaving: closing the connection")
                conn.close()
                server.close()
                os.unlink(path)
                return
            if method == "app.sendLarge":
                big = json.dumps({"id": message["id"], "result": "x" * 1_100_000})
                say(f"-> a {len(big)}-byte reply (more than the browser accepts)")
                conn.sendall(big.encode() + b"\n")
            elif "id" in message and method:
                reply = {"id": message["id"], "result": {"echo": message.get("params")}}
                say(f"-> {json.dumps(reply)}")
                conn.sendall(json.dumps(reply).encode() + b"\n")


if __name__ == "__main__":
    main(sys.argv[1])
