#!/usr/bin/env python3
"""Console end-to-end check of the Windows build under Wine.

Starts portwick.exe --console under Wine between two Linux peers on
loopback, sends 64 MiB of random bytes from the client, half-closes, then
64 MiB back from the server, checks both byte-exact, stops the program
with SIGINT (Wine hands it over as CTRL_C_EVENT) and checks that it exits
with 0 and that its queued log file holds every byte, in order. Prints the
relay speed of each direction. Every wait has a deadline: a hang fails.

usage: wine_console_check.py BUILD_DIR [MIB] [--native=PROGRAM]
--native runs a Linux build of the program the same way, without Wine, for
a speed to set next to Wine's.
"""
import hashlib
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def fail(message, child=None):
    if child is not None and child.poll() is None:
        child.kill()
    sys.exit("wine console check: " + message)


def main():
    native = [a[len("--native="):] for a in sys.argv[1:] if a.startswith("--native=")]
    args = [a for a in sys.argv[1:] if not a.startswith("--native=")]
    build = os.path.abspath(args[0])
    size = int(args[1] if len(args) > 1 else 64) << 20
    program = ([os.path.abspath(native[0])] if native else
               [os.path.join(ROOT, "scripts", "wine_run.sh"),
                os.path.join(build, "app", "portwick.exe")])
    upstream = os.urandom(size)
    downstream = os.urandom(size)

    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(60)
    port = free_port()
    work = tempfile.mkdtemp(prefix="portwick-wine-")
    env = dict(os.environ, PORTWICK_WINEPREFIX=os.path.join(build, "wineprefix"))
    child = subprocess.Popen(
        program + ["--console", "--output=off", "--source=%d" % port,
                   "--destination=127.0.0.1:%d" % server.getsockname()[1],
                   "--filename=traffic.log"],
        cwd=work, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    # Wine may take a while to start a cold prefix.
    deadline = time.monotonic() + 90
    while True:
        try:
            client = socket.create_connection(("127.0.0.1", port), timeout=5)
            break
        except OSError:
            if child.poll() is not None or time.monotonic() > deadline:
                fail("portwick.exe did not listen on %d: %r" % (port, child.communicate()), child)
            time.sleep(0.2)
    client.settimeout(60)
    peer, _ = server.accept()
    peer.settimeout(60)

    received = {}

    def drain(sock, key):
        digest = hashlib.sha256()
        count = 0
        while True:
            chunk = sock.recv(1 << 20)
            if not chunk:
                break
            digest.update(chunk)
            count += len(chunk)
        received[key] = (count, digest.hexdigest())

    timings = []
    for name, sender, receiver, data in (("client->server", client, peer, upstream),
                                         ("server->client", peer, client, downstream)):
        reader = threading.Thread(target=drain, args=(receiver, name))
        start = time.monotonic()
        reader.start()
        sender.sendall(data)
        sender.shutdown(socket.SHUT_WR)  # the half-close travels through
        reader.join(60)
        if reader.is_alive():
            fail(name + ": the end of the stream never arrived", child)
        timings.append((name, time.monotonic() - start))
        if received[name] != (len(data), hashlib.sha256(data).hexdigest()):
            fail("%s: %d bytes arrived, not the %d sent, or other bytes"
                 % (name, received[name][0], len(data)), child)
    client.close()
    peer.close()

    child.send_signal(signal.SIGINT)
    try:
        out, err = child.communicate(timeout=60)
    except subprocess.TimeoutExpired:
        fail("portwick.exe did not end after SIGINT", child)
    if child.returncode != 0:
        fail("exit code %d: %r" % (child.returncode, err))
    log_path = os.path.join(work, "traffic.log")
    with open(log_path, "rb") as log:
        logged = log.read()
    if logged != upstream + downstream:
        fail("the log holds %d bytes, not the %d relayed (or other bytes)"
             % (len(logged), 2 * size))
    os.remove(log_path)
    os.rmdir(work)
    for name, seconds in timings:
        print("wine console check: %s %d MiB in %.2f s = %.0f MiB/s"
              % (name, size >> 20, seconds, (size >> 20) / seconds))
    print("wine console check: passed (exit 0, log byte-exact)")


if __name__ == "__main__":
    main()
