#!/usr/bin/env python3
"""End-to-end check of the Windows window program under Wine.

Starts portwick.exe (the window, no --console) under Wine with
"--source=P --destination=127.0.0.1:Q start", finds its window by the
running title "[LP: P, RP: Q, RH: 127.0.0.1] - Portwick" (window_probe.exe,
in the same Wine prefix and display), sends a few MiB each way between two
Linux peers and checks both byte-exact, then presses Esc in the window and
checks that the program ends with exit code 2. Needs DISPLAY (the Wine
stage starts an Xvfb). Every wait has a deadline: a hang fails.

usage: wine_gui_check.py BUILD_DIR [MIB] [--exe=WINDOWS_PATH]
--exe runs that program (an installed portwick.exe, e.g.
'C:\\Program Files\\Portwick\\portwick.exe') in BUILD_DIR's Wine prefix
instead of BUILD_DIR's own.
"""
import hashlib
import os
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WINE_RUN = os.path.join(ROOT, "scripts", "wine_run.sh")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def fail(message, child=None):
    if child is not None and child.poll() is None:
        child.kill()
    sys.exit("wine gui check: " + message)


def relay_both_ways(client, peer, size, child):
    """Sends `size` random bytes each way at once; fails unless both arrive whole."""
    data = {"up": os.urandom(size), "down": os.urandom(size)}
    received = {}

    def drain(sock, key):
        digest, count = hashlib.sha256(), 0
        while True:
            chunk = sock.recv(1 << 20)
            if not chunk:
                break
            digest.update(chunk)
            count += len(chunk)
        received[key] = (count, digest.hexdigest())

    def send(sock, key):
        sock.sendall(data[key])
        sock.shutdown(socket.SHUT_WR)

    threads = [threading.Thread(target=drain, args=(peer, "up")),
               threading.Thread(target=drain, args=(client, "down")),
               threading.Thread(target=send, args=(client, "up")),
               threading.Thread(target=send, args=(peer, "down"))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(120)
        if thread.is_alive():
            fail("the relay did not finish within two minutes", child)
    for key in ("up", "down"):
        if received.get(key) != (size, hashlib.sha256(data[key]).hexdigest()):
            fail("%s: %r arrived, not the %d bytes sent" % (key, received.get(key), size), child)


def run_probe(probe, env, child):
    """Runs window_probe; its output goes to a file, not a pipe, which a Wine
    service started on the way could hold open."""
    with tempfile.TemporaryFile(mode="w+") as out:
        try:
            code = subprocess.run(probe, env=env, stdout=out, stderr=out, timeout=90).returncode
        except subprocess.TimeoutExpired:
            fail("window_probe did not end", child)
        out.seek(0)
        return code, out.read().strip()


def main():
    exe = [a[len("--exe="):] for a in sys.argv[1:] if a.startswith("--exe=")]
    args = [a for a in sys.argv[1:] if not a.startswith("--exe=")]
    build = os.path.abspath(args[0])
    size = int(args[1] if len(args) > 1 else 4) << 20
    program = exe[0] if exe else os.path.join(build, "app", "portwick.exe")
    env = dict(os.environ, PORTWICK_WINEPREFIX=os.path.join(build, "wineprefix"))
    if not env.get("DISPLAY"):
        fail("DISPLAY is not set")
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(60)
    port, remote = free_port(), server.getsockname()[1]
    output = tempfile.TemporaryFile(mode="w+")
    child = subprocess.Popen(
        [WINE_RUN, program, "--source=%d" % port,
         "--destination=127.0.0.1:%d" % remote, "start"],
        env=env, stdout=output, stderr=output)

    title = "[LP: %d, RP: %d, RH: 127.0.0.1] - Portwick" % (port, remote)
    probe = [WINE_RUN, os.path.join(build, "tests", "ui", "win32", "window_probe.exe"), title]
    code, found = run_probe(probe, env, child)
    if code != 0:
        fail("no window titled %r: %s" % (title, found), child)

    deadline = time.monotonic() + 30
    while True:
        try:
            client = socket.create_connection(("127.0.0.1", port), timeout=5)
            break
        except OSError:
            if child.poll() is not None or time.monotonic() > deadline:
                fail("the window did not listen on %d" % port, child)
            time.sleep(0.2)
    client.settimeout(60)
    peer, _ = server.accept()
    peer.settimeout(60)
    start = time.monotonic()
    relay_both_ways(client, peer, size, child)
    seconds = time.monotonic() - start
    client.close()
    peer.close()

    code, pressed = run_probe(probe + ["--escape"], env, child)
    if code != 0:
        fail("the window was gone before Esc: %s" % pressed, child)
    try:
        child.wait(timeout=60)
    except subprocess.TimeoutExpired:
        fail("portwick.exe did not end after Esc", child)
    output.seek(0)
    if child.returncode != 2:
        fail("exit code %d after Esc, not 2: %r" % (child.returncode, output.read()))
    print("wine gui check: %s; %d MiB each way in %.2f s; Esc ended it with 2"
          % (found, size >> 20, seconds))


if __name__ == "__main__":
    main()
