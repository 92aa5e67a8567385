#!/usr/bin/env python3
"""Peak memory of a large answer through `nimbra call`, `nimbra serve` and `nimbra serve --json`.

The answer is "scanDuplicates" (minSize 1) over a tree of 200,000 small files in 100,000
pairs of equal content: its encoded size E is the yardstick. Goal: each front end's peak
resident size at most 4 x E above the program's idle size (the peak of a call with a tiny answer).

Usage: bench/answer_memory.py [--nimbra build/nimbra] [--tree DIR] [--pairs 100000]
The tree is made once (DIR defaults to $TMPDIR or /tmp, nimbra-bench-pairs-PAIRS) and reused.
"""

import argparse
import json
import os
import struct
import subprocess
import sys

CHANNEL = "nimbra/native"


def build_tree(root, pairs):
    partial = root + ".partial"
    os.makedirs(partial, exist_ok=True)
    per_folder = 1000
    for i in range(pairs):
        folder = os.path.join(partial, "d%04d" % (i // per_folder))
        if i % per_folder == 0:
            os.makedirs(folder, exist_ok=True)
        content = b"%07d\n" % i  # equal sizes: every file is a candidate, pairs differ by content
        for copy in "ab":
            with open(os.path.join(folder, "f%07d-%s" % (i, copy)), "wb") as f:
                f.write(content)
    os.rename(partial, root)


def peak_kib(argv, stdin_bytes=b"", until=None):
    """Runs argv to its end; answers (peak resident KiB, stdout bytes). `until`, when given,
    reads stdout until it answers true before closing stdin (serve ends with its input)."""
    child = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    child.stdin.write(stdin_bytes)
    child.stdin.flush()
    out = b""
    if until is not None:
        while not until(out):
            chunk = child.stdout.read1(1 << 20)
            if not chunk:
                break
            out += chunk
    child.stdin.close()
    out += child.stdout.read()
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit("%s exited with status %d" % (argv, status))
    return usage.ru_maxrss, out


def codec_string(s):
    b = s.encode()
    assert len(b) < 254
    return bytes([7, len(b)]) + b


def codec_map(entries):  # string keys, string or small int values: enough for the call below
    out = bytes([13, len(entries)])
    for key, value in entries:
        out += codec_string(key)
        out += codec_string(value) if isinstance(value, str) else bytes([3]) + struct.pack("<i", value)
    return out


def call_frame(method, args):
    call = codec_string(method) + codec_map(args)
    body = bytes([12, 4, 3]) + struct.pack("<i", 0) + bytes([3]) + struct.pack("<i", 1)
    body += codec_string(CHANNEL) + bytes([8, 254]) + struct.pack("<H", len(call)) + call
    return struct.pack("<I", len(body)) + body


def whole_frame(out):
    return len(out) >= 4 and len(out) >= 4 + struct.unpack("<I", out[:4])[0]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nimbra", default="build/nimbra")
    parser.add_argument("--tree")
    parser.add_argument("--pairs", type=int, default=100000)
    a = parser.parse_args()
    tree = a.tree or os.path.join(os.environ.get("TMPDIR", "/tmp"), "nimbra-bench-pairs-%d" % a.pairs)
    if not os.path.isdir(tree):
        print("answer_memory: making %s (once)" % tree, file=sys.stderr)
        build_tree(tree, a.pairs)

    nimbra = os.path.realpath(a.nimbra)
    args = {"root": tree, "minSize": 1}
    idle, _ = peak_kib([nimbra, "call", "sizeOf", json.dumps({"path": tree + "/d0000/f0000000-a"})])
    call, text = peak_kib([nimbra, "call", "scanDuplicates", json.dumps(args)])
    groups = len(json.loads(text)["groups"])
    frame = call_frame("scanDuplicates", [("root", tree), ("minSize", 1)])
    serve, out = peak_kib([nimbra, "serve"], frame, whole_frame)
    # The answer frame's message is the success envelope: the encoded answer plus one byte.
    encoded = len(out) - 4
    line = (json.dumps({"id": 1, "method": "scanDuplicates", "args": args}) + "\n").encode()
    serve_json, _ = peak_kib([nimbra, "serve", "--json"], line,
                             lambda o: o.endswith(b"\n") and b'{"id":1,' in o)

    e_kib = encoded / 1024
    print("groups %d, encoded answer E = %.1f MiB, idle %.1f MiB" % (groups, e_kib / 1024, idle / 1024))
    print("| front end | peak (MiB) | above idle (MiB) | above idle / E | goal <= 4 |")
    print("|---|---|---|---|---|")
    for name, peak in (("call", call), ("serve", serve), ("serve --json", serve_json)):
        ratio = (peak - idle) / e_kib
        print("| %s | %.1f | %.1f | %.2f | %s |" % (name, peak / 1024, (peak - idle) / 1024, ratio,
                                                  "met" if ratio <= 4 else "NOT met"))


if __name__ == "__main__":
    main()
