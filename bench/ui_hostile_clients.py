#!/usr/bin/env python3
"""Peak memory of `nimbra ui --no-open` under clients that try to make it grow.

Two rounds, each against a fresh `nimbra ui`:
- strangers: CONNECTIONS WebSocket connections that never show the secret, each sending one
  message of MESSAGE MiB as its first; counts how many were upgraded and how many bytes each got
  to send before the server stopped reading or closed it.
- queued: one connection that shows the secret, starts a scan that runs until cancelled (the
  digests of two sparse 1 TiB files), then sends CALLS calls of CALL MiB each ("sizeOf" of a long
  path), which wait behind the scan; after STALL seconds it cancels the scan and reads every
  answer.
The peak resident size is the host's VmHWM from /proc: while the calls wait (just before the
cancel), and in all (just before the host is stopped).
Goal: the peak stays far below what the clients sent.

Usage: bench/ui_hostile_clients.py [--nimbra build/nimbra] [--connections 40] [--message 60]
                                    [--calls 40] [--call 10] [--stall 5]
"""

import argparse
import base64
import os
import re
import select
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time


def codec_string(b):
    if len(b) < 254:
        return bytes([7, len(b)]) + b
    if len(b) < 65536:
        return bytes([7, 254]) + struct.pack("<H", len(b)) + b
    return bytes([7, 255]) + struct.pack("<I", len(b)) + b


def codec_bytes(b):
    size = codec_string(b)
    return bytes([8]) + size[1:]


def method_call(name, args):
    """The standard method codec's call: the name, then the arguments (None or a map of strings)."""
    out = codec_string(name)
    if args is None:
        return out + b"\x00"
    out += bytes([13, len(args)])
    for key, value in args.items():
        out += codec_string(key) + codec_string(value)
    return out


def frame(call_id, channel, message):
    return (bytes([12, 4, 3]) + struct.pack("<i", 0) + bytes([3]) + struct.pack("<i", call_id) +
            codec_string(channel) + codec_bytes(message))


def ws_message(payload, opcode):
    """A masked client message in one WebSocket frame; the zero mask leaves the bytes as they are."""
    n = len(payload)
    if n < 126:
        head = bytes([0x80 | opcode, 0x80 | n])
    elif n < 65536:
        head = bytes([0x80 | opcode, 0x80 | 126]) + struct.pack(">H", n)
    else:
        head = bytes([0x80 | opcode, 0x80 | 127]) + struct.pack(">Q", n)
    return head + b"\x00\x00\x00\x00" + payload


def connect(port):
    s = socket.create_connection(("127.0.0.1", port))
    key = base64.b64encode(os.urandom(16)).decode()
    s.sendall(("GET /channel HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: http://127.0.0.1:%d\r\n"
               "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
               "Sec-WebSocket-Version: 13\r\n\r\n" % (port, port, key)).encode())
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = s.recv(4096)
        if not chunk:
            return s, 0
        head += chunk
    return s, int(head.split(b" ")[1])


def read_answers(s, wanted):
    """Reads server messages until `wanted` answer frames (kind 1) have come or the connection ends."""
    answers, pending = 0, b""
    while answers < wanted:
        chunk = s.recv(1 << 20)
        if not chunk:
            break
        pending += chunk
        while len(pending) >= 2:
            short, at = pending[1] & 0x7F, 2
            if short == 126:
                short, at = (struct.unpack(">H", pending[2:4])[0] if len(pending) >= 4 else None), 4
            elif short == 127:
                short, at = (struct.unpack(">Q", pending[2:10])[0] if len(pending) >= 10 else None), 10
            if short is None or len(pending) < at + short:
                break
            payload, pending = pending[at:at + short], pending[at + short:]
            # A frame is a list: 12, 4 elements, then the kind as an int32 (3 + 4 bytes).
            if payload[:3] == b"\x0c\x04\x03" and payload[3] == 1:
                answers += 1
    return answers


def send_nonblocking(sockets_and_data, stall):
    """Writes each socket's data until all is written or no socket took a byte for `stall` s.
    Answers the bytes each socket got to send."""
    sent = [0] * len(sockets_and_data)
    for s, _ in sockets_and_data:
        s.setblocking(False)
    last = time.monotonic()
    while time.monotonic() - last < stall:
        open_ = [i for i, (s, d) in enumerate(sockets_and_data) if sent[i] < len(d) and s.fileno() >= 0]
        if not open_:
            break
        _, ready, _ = select.select([], [sockets_and_data[i][0] for i in open_], [], 0.2)
        for i in open_:
            s, data = sockets_and_data[i]
            if s not in ready:
                continue
            try:
                n = s.send(data[sent[i]:sent[i] + (1 << 20)])
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                s.close()
                continue
            sent[i] += n
            last = time.monotonic()
    return sent


def start(nimbra):
    child = subprocess.Popen([nimbra, "ui", "--no-open", "--allow-root"], stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)
    line = child.stdout.readline().decode()
    port, secret = re.match(r"http://127\.0\.0\.1:(\d+)/#t=([\w-]+)", line).groups()
    return child, int(port), secret.encode()


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        return int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))


def stop(child):
    peak = peak_kib(child.pid)
    child.terminate()
    child.wait()
    return peak


def strangers(nimbra, connections, message_mib, stall):
    child, port, _ = start(nimbra)
    baseline = peak_kib(child.pid)
    sockets, upgraded = [], 0
    for _ in range(connections):
        s, status = connect(port)
        upgraded += status == 101
        sockets.append(s)
    message = ws_message(b"x" * (message_mib << 20), 1)
    sent = send_nonblocking([(s, message) for s in sockets], stall)
    peak = stop(child)
    for s in sockets:
        s.close()
    return upgraded, sum(sent), baseline, peak


def queued(nimbra, calls, call_mib, stall):
    child, port, secret = start(nimbra)
    baseline = peak_kib(child.pid)
    with tempfile.TemporaryDirectory() as tree:
        for name in ("one.bin", "two.bin"):
            with open(os.path.join(tree, name), "wb") as f:
                f.truncate(1 << 40)
        s, _ = connect(port)
        s.sendall(ws_message(secret, 1))
        s.sendall(ws_message(frame(1, b"nimbra/native", method_call(b"scanDuplicates", {b"root": tree.encode()})), 2))
        path = b"/" + b"p" * (call_mib << 20)
        big = ws_message(frame(2, b"nimbra/native", method_call(b"sizeOf", {b"path": path})), 2)
        everything = big * calls
        sent = send_nonblocking([(s, everything)], stall)[0]
        stalled_peak = peak_kib(child.pid)
        # Another connection cancels the scan; then the rest is written while the answers are read.
        other, _ = connect(port)
        other.sendall(ws_message(secret, 1) + ws_message(frame(1, b"nimbra/native", method_call(b"cancel", None)), 2))
        s.setblocking(True)
        writer = threading.Thread(target=s.sendall, args=(everything[sent:],))
        writer.start()
        answers = read_answers(s, calls + 1)
        writer.join()
        peak = stop(child)
        s.close()
        other.close()
    return sent, len(everything), answers, baseline, stalled_peak, peak


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nimbra", default="build/nimbra")
    parser.add_argument("--connections", type=int, default=40)
    parser.add_argument("--message", type=int, default=60, help="MiB each stranger sends")
    parser.add_argument("--calls", type=int, default=40)
    parser.add_argument("--call", type=int, default=10, help="MiB each queued call holds")
    parser.add_argument("--stall", type=float, default=5)
    a = parser.parse_args()
    nimbra = os.path.realpath(a.nimbra)
    mib = lambda n: n / 2**20
    upgraded, sent, base, peak = strangers(nimbra, a.connections, a.message, a.stall)
    print("strangers: %d connections, %d upgraded, %.1f MiB of %.1f MiB sent; RSS %.1f MiB at start, peak %.1f MiB"
          % (a.connections, upgraded, mib(sent), a.connections * a.message, base / 1024, peak / 1024))
    sys.stdout.flush()
    sent, total, answers, base, stalled, peak = queued(nimbra, a.calls, a.call, a.stall)
    print("queued: %d calls of %d MiB behind a scan, %.1f MiB of %.1f MiB sent before it was cancelled, %d answers; "
          "RSS %.1f MiB at start, peak %.1f MiB while they waited, %.1f MiB in all"
          % (a.calls, a.call, mib(sent), mib(total), answers, base / 1024, stalled / 1024, peak / 1024))


if __name__ == "__main__":
    main()
