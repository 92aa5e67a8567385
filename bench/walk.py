#!/usr/bin/env python3
"""The walks against their peers and against the floor, in one interleaved run on one tree.

Each round runs every command once, in turn, so that a change in the machine's load falls on
all of them alike; the table gives each command's median wall time and peak memory, its ratio
to the fastest peer doing the same job, and its ratio to the bare two-thread walk
(bench/bare_walk.cpp: getdents64 and fstatat and nothing else, what the kernel allows).

  warm   the tree in the page cache (one untimed round first)
  cold   `sync; echo 3 > /proc/sys/vm/drop_caches` before every command (root only)
  busy   warm, with `yes > /dev/null` pinned to the second core the whole time
  deep   `tree --depth 100` on a tree of about a million files (made on first use, or by
         --make-deep): bytes per file of peak memory above an empty walk's, and the time
         against du

Usage: bench/walk.py [--root DIR] [--mode warm|cold|busy|deep] [--rounds 5]
                     [--nimbra build/nimbra] [--bare build/bare_walk] [--make-deep DIR]
The root is /usr, or /tmp/nimbra-bench-million for deep. The load average at the start and the
end is printed with the table, and under it whether each target of the mode is met.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

LARGE = 100 * 1000 * 1000
DEEP_TREE = "/tmp/nimbra-bench-million"


def commands(nimbra, bare, root):
    def call(method, args, threads=None):
        env = {"NIMBRA_WALK_THREADS": str(threads)} if threads else {}
        return ([nimbra, "call", method, json.dumps(args)], env)

    return [
        # (job, name, argv, extra environment, kind)
        ("size", "nimbra size", *call("sizeOf", {"path": root}), "ours"),
        ("size", "nimbra size, 1 thread", *call("sizeOf", {"path": root}, 1), "ours"),
        ("size", "du -sb", ["du", "-sb", root], {}, "peer"),
        ("size", "gdu -nps", ["gdu", "-n", "-p", "-s", root], {}, "peer"),
        ("tree", "nimbra tree d3", *call("analyzeDisk", {"path": root, "depth": 3}), "ours"),
        ("tree", "nimbra tree d3, 1 thread", *call("analyzeDisk", {"path": root, "depth": 3}, 1),
         "ours"),
        ("tree", "ncdu -o", ["ncdu", "-0", "-x", "-o", "/dev/null", root], {}, "peer"),
        ("tree", "gdu -np", ["gdu", "-n", "-p", root], {}, "peer"),
        ("tree", "du -d3", ["du", "-b", "-d", "3", root], {}, "peer"),
        ("large", "nimbra large", *call("scanLargeFiles", {"root": root, "minSize": LARGE}), "ours"),
        ("large", "nimbra large, 1 thread",
         *call("scanLargeFiles", {"root": root, "minSize": LARGE}, 1), "ours"),
        ("large", "fd -S +100M", ["fdfind", "-HI", "-t", "f", "-S", "+100m", ".", root], {}, "peer"),
        ("large", "find -size", ["find", root, "-type", "f", "-size", "+97657k"], {}, "peer"),
        ("floor", "bare walk, 1 thread", [bare, root, "1"], {}, "floor"),
        ("floor", "bare walk, 2 threads", [bare, root, "2"], {}, "floor"),
    ]


def run(argv, env, cold):
    """Wall seconds and peak resident KiB of one run. The peak is GNU time's: a child forked
    from this Python would count Python's own pages too."""
    if cold:
        subprocess.run(["sh", "-c", "sync; echo 3 > /proc/sys/vm/drop_caches"], check=True)
    with tempfile.NamedTemporaryFile("r") as peak:
        start = time.monotonic()
        done = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", peak.name, *argv],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              env={**os.environ, **env})
        wall = time.monotonic() - start
        if done.returncode != 0:
            sys.exit(f"walk.py: {' '.join(argv)} failed ({done.returncode})")
        return wall, int(peak.read().split()[-1])


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def fastest_peer(rows, medians, job):
    return min((medians[n], n) for j, n, _, _, k in rows if j == job and k == "peer")


def table(rows, medians, peaks):
    floor2 = medians["bare walk, 2 threads"]
    print("| job | command | median wall (s) | vs fastest peer | vs bare 2 threads | peak KiB |")
    print("|---|---|---|---|---|---|")
    for job, name, _, _, kind in rows:
        vs_peer = f"{medians[name] / fastest_peer(rows, medians, job)[0]:.2f}" if kind == "ours" else ""
        print(f"| {job} | {name} | {medians[name]:.3f} | {vs_peer} | {medians[name] / floor2:.2f} |"
              f" {peaks[name]} |")


# What each mode must show: the walk with every core against the fastest peer doing the same
# job (at most this share of its time), and warm against the bare two-thread walk.
PEER_TARGET = {"warm": 0.62, "cold": 0.70, "busy": 0.85}
FLOOR_TARGET = {"warm": 1.15}
EXTRA_MEMORY_KIB = 8 * 1024  # above the one-thread walk's peak, for the same job


def verdict(ok):
    # Judged on the exact ratio, which the lines give to three places: 1.15 rounded may be above.
    return "met" if ok else "NOT met"


def targets(mode, rows, medians, peaks):
    """One line per job and target, saying whether it is met."""
    print()
    for job, name in (("size", "nimbra size"), ("tree", "nimbra tree d3"), ("large", "nimbra large")):
        peer_time, peer = fastest_peer(rows, medians, job)
        ratio = medians[name] / peer_time
        line = f"{job}: {ratio:.3f}x {peer} (target <= {PEER_TARGET[mode]:.2f}): {verdict(ratio <= PEER_TARGET[mode])}"
        floor = medians[name] / medians["bare walk, 2 threads"]
        if mode in FLOOR_TARGET:
            line += (f"; {floor:.3f}x the bare two-thread walk (target <= {FLOOR_TARGET[mode]:.2f}):"
                     f" {verdict(floor <= FLOOR_TARGET[mode])}")
        elif mode == "cold":
            # Cold, the bare walk waits on the disk as ours does: how near it comes to the peer
            # says how much of the target any walk on this many threads can reach in this run.
            bare = medians["bare walk, 2 threads"] / peer_time
            line += f"; {floor:.3f}x the bare two-thread walk, itself {bare:.3f}x {peer}"
        one = f"{name}, 1 thread"
        line += f"; {medians[name] / medians[one]:.2f}x one thread's time"
        if mode != "cold":
            extra = peaks[name] - peaks[one]
            line += (f"; peak memory {extra / 1024:+.1f} MiB on one thread's (target <= +8):"
                     f" {verdict(extra <= EXTRA_MEMORY_KIB)}")
        print(line)


def make_deep(root, files=1_000_000, per_folder=1000):
    partial = root + ".partial"
    for i in range(files):
        folder = os.path.join(partial, f"d{i // per_folder:04d}", f"s{i % 7}")
        if i % per_folder == 0 or not os.path.isdir(folder):
            os.makedirs(folder, exist_ok=True)
        fd = os.open(os.path.join(folder, f"file-{i:07d}.dat"), os.O_CREAT | os.O_WRONLY, 0o644)
        os.write(fd, b"x" * (i % 97))
        os.close(fd)
    os.rename(partial, root)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root")
    parser.add_argument("--mode", choices=["warm", "cold", "busy", "deep"], default="warm")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--nimbra", default="build/nimbra")
    parser.add_argument("--bare", default="build/bare_walk")
    parser.add_argument("--make-deep", metavar="DIR")
    options = parser.parse_args()
    if options.make_deep:
        make_deep(options.make_deep)
        return
    if options.mode == "cold" and os.geteuid() != 0:
        print("cold: skipped, dropping the page cache needs root")
        return
    if not options.root:
        options.root = DEEP_TREE if options.mode == "deep" else "/usr"
    if options.mode == "deep" and not os.path.isdir(options.root):
        print(f"making a tree of a million files in {options.root} (once) ...", flush=True)
        make_deep(options.root)
    print(f"load average at the start: {load()}; mode {options.mode}; root {options.root}")
    if options.mode == "deep":
        rows = [("tree", "nimbra tree d100", [options.nimbra, "call", "analyzeDisk",
                                             json.dumps({"path": options.root, "depth": 100})], {}, "ours"),
                ("tree", "nimbra tree d0", [options.nimbra, "call", "analyzeDisk",
                                           json.dumps({"path": options.root, "depth": 0})], {}, "ours"),
                ("tree", "du -sb", ["du", "-sb", options.root], {}, "peer"),
                ("tree", "gdu -np", ["gdu", "-n", "-p", options.root], {}, "peer"),
                ("floor", "bare walk, 2 threads", [options.bare, options.root, "2"], {}, "floor")]
    else:
        rows = commands(options.nimbra, options.bare, options.root)
    busy = None
    if options.mode == "busy":
        # yes itself, not a shell around it: killing a shell would leave yes running.
        busy = subprocess.Popen(["taskset", "-c", "1", "yes"], stdout=subprocess.DEVNULL)
    try:
        if options.mode != "cold":
            for _, _, argv, env, _ in rows:
                run(argv, env, False)
        results = {name: [] for _, name, *_ in rows}
        for _ in range(options.rounds):
            for _, name, argv, env, _ in rows:
                results[name].append(run(argv, env, options.mode == "cold"))
    finally:
        if busy:
            busy.kill()
            busy.wait()
    medians = {name: statistics.median(t for t, _ in results[name]) for _, name, *_ in rows}
    peaks = {name: max(m for _, m in results[name]) for _, name, *_ in rows}
    table(rows, medians, peaks)
    if options.mode == "deep":
        files = int(subprocess.run(["find", options.root, "-type", "f"], capture_output=True,
                                   text=True).stdout.count("\n"))
        per_file = (peaks["nimbra tree d100"] - peaks["nimbra tree d0"]) * 1024 / files
        vs_du = medians["nimbra tree d100"] / medians["du -sb"]
        print(f"\n{files} files: tree --depth 100 holds {per_file:.0f} bytes a file above an empty"
              f" walk's peak (target <= 150): {verdict(per_file <= 150)}; {vs_du:.3f}x du's time"
              f" (target <= 1.00): {verdict(vs_du <= 1.0)}")
    else:
        targets(options.mode, rows, medians, peaks)
    print(f"\nload average at the end: {load()}")


if __name__ == "__main__":
    main()
