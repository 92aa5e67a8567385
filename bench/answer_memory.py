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
import tempfile

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
    """Runs argv to its end; answers (peak resident KiB, path of a file holding its stdout).
    `until`, when given, is handed each piece of the output and answers true once the answer
    is complete; stdin is then closed (serve ends with its input).

    The output goes to a file, never into this process: a child's peak counts the memory of
    the process it was forked from, so a large answer held here would show up as the next
    child's peak."""
    out = tempfile.NamedTemporaryFile(prefix="answer-memory-", delete=False)
    child = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    child.stdin.write(stdin_bytes)
    child.stdin.flush()
    while True:
        chunk = child.stdout.read1(1 << 20)
        if not chunk:
            break
        out.write(chunk)
        if until is not None and not child.stdin.closed and until(chunk):
            child.stdin.close()
    if not child.stdin.closed:
        child.stdin.close()
    out.close()
    _, status, usage = os.wait4(child.pid, 0)
    if status != 0:
        sys.exit("%s exited with status %d" % (argv, status))
    return usage.ru_maxrss, out.name


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


class WholeFrame:
    """Done once the first frame has arrived whole."""

    def __init__(self):
        self.head, self.length = b"", 0

    def __call__(self, chunk):
        self.head = (self.head + chunk)[:4]
        self.length += len(chunk)
        return len(self.head) == 4 and self.length >= 4 + struct.unpack("<I", self.head)[0]


class AnswerLine:
    """Done once the line answering request 1 has ended (event lines come before it)."""

    def __init__(self):
        self.line_head, self.done = b"", False

    def __call__(self, chunk):
        pieces = chunk.split(b"\n")
        self.line_head = (self.line_head + pieces[0])[:8]
        for piece in pieces[1:]:  # each piece after a newline starts a line
            self.done = self.done or self.line_head == b'{"id":1,'
            self.line_head = piece[:8]
        return self.done


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
    idle, idle_out = peak_kib([nimbra, "call", "sizeOf", json.dumps({"path": tree + "/d0000/f0000000-a"})])
    call, call_out = peak_kib([nimbra, "call", "scanDuplicates", json.dumps(args)])
    frame = call_frame("scanDuplicates", [("root", tree), ("minSize", 1)])
    serve, serve_out = peak_kib([nimbra, "serve"], frame, WholeFrame())
    line = (json.dumps({"id": 1, "method": "scanDuplicates", "args": args}) + "\n").encode()
    serve_json, json_out = peak_kib([nimbra, "serve", "--json"], line, AnswerLine())
    # The answer frame's message is the success envelope: the encoded answer plus one byte.
    encoded = os.path.getsize(serve_out) - 4
    with open(call_out, "rb") as f:
        groups = len(json.load(f)["groups"])
    for name in (idle_out, call_out, serve_out, json_out):
        os.unlink(name)

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
