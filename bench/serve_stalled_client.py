#!/usr/bin/env python3
"""Peak memory of `nimbra serve` and `nimbra serve --json` while the client stops reading.

The client writes MIB MiB of small "sizeOf" calls and reads nothing until its writes have made
no progress for STALL seconds (or all are written); then it reads every answer, closes its
input and waits for the host to end. The host's peak resident size comes from
`/usr/bin/time -v`. Goal: the peak stays far below the input written (a session that keeps
reading what it cannot answer grows with it).

Usage: bench/serve_stalled_client.py [--nimbra build/nimbra] [--mib 300] [--stall 3]
"""

import argparse
import os
import re
import select
import struct
import subprocess
import sys
import time

CHANNEL = b"nimbra/native"


def codec_string(b):
    assert len(b) < 254
    return bytes([7, len(b)]) + b


def size_of_frame(call_id, path):
    call = codec_string(b"sizeOf") + bytes([13, 1]) + codec_string(b"path") + codec_string(path)
    body = bytes([12, 4, 3]) + struct.pack("<i", 0) + bytes([3]) + struct.pack("<i", call_id)
    body += codec_string(CHANNEL) + bytes([8, len(call)]) + call
    return struct.pack("<I", len(body)) + body


def size_of_line(call_id, path):
    return b'{"id":%d,"method":"sizeOf","args":{"path":"%s"}}\n' % (call_id, path)


def run(nimbra, json_lines, mib, stall):
    argv = ["/usr/bin/time", "-v", nimbra, "serve"] + (["--json"] if json_lines else [])
    child = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    os.set_blocking(child.stdin.fileno(), False)
    make = size_of_line if json_lines else size_of_frame
    target, written, calls, pending = mib << 20, 0, 0, b""
    last_progress = time.monotonic()
    while written < target or pending:
        if not pending:
            batch = [make(calls + i + 1, b"/nonexistent/nimbra-bench") for i in range(512)]
            calls += len(batch)
            pending = b"".join(batch)
        _, ready, _ = select.select([], [child.stdin], [], 0.2)
        if ready:
            try:
                n = os.write(child.stdin.fileno(), pending)
            except BlockingIOError:
                n = 0
            if n:
                written += n
                pending = pending[n:]
                last_progress = time.monotonic()
                continue
        if time.monotonic() - last_progress > stall:
            break
    stalled_at = written
    # Now read, and write the rest meanwhile: the host takes more input as answers leave.
    answers, tail, out = 0, b"", child.stdout.fileno()
    while True:
        if not pending and written < target:
            batch = [make(calls + i + 1, b"/nonexistent/nimbra-bench") for i in range(512)]
            calls += len(batch)
            pending = b"".join(batch)
        if not pending and not child.stdin.closed:
            child.stdin.close()
        readable, writable, _ = select.select([out], [] if child.stdin.closed else [child.stdin], [])
        if writable:
            try:
                n = os.write(child.stdin.fileno(), pending)
                written += n
                pending = pending[n:]
            except BlockingIOError:
                pass
        if readable:
            chunk = os.read(out, 1 << 20)
            if not chunk:
                break
            if json_lines:
                answers += chunk.count(b"\n")  # sizeOf sends no events
            else:
                tail += chunk
                while len(tail) >= 4 and len(tail) >= 4 + struct.unpack("<I", tail[:4])[0]:
                    answers += 1
                    tail = tail[4 + struct.unpack("<I", tail[:4])[0]:]
            if not json_lines and answers == calls and child.stdin.closed:
                break  # frames: the host ends at the end of input, perhaps before the last answers
    err = child.stderr.read().decode()
    child.wait()
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", err).group(1))
    return stalled_at, written, calls, answers, peak, child.returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nimbra", default="build/nimbra")
    parser.add_argument("--mib", type=int, default=300)
    parser.add_argument("--stall", type=float, default=3)
    a = parser.parse_args()
    nimbra = os.path.realpath(a.nimbra)
    print("| front end | input read before the client read (MiB) | input (MiB) | calls | answers | peak RSS (MiB) | status |")
    print("|---|---|---|---|---|---|---|")
    for name, json_lines in (("serve", False), ("serve --json", True)):
        stalled, written, calls, answers, peak, status = run(nimbra, json_lines, a.mib, a.stall)
        print("| %s | %.1f | %.1f | %d | %d | %.1f | %d |" % (name, stalled / 2**20, written / 2**20, calls,
                                                            answers, peak / 1024, status))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
