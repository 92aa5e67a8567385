#!/usr/bin/env python3
"""The synthetic tree of the duplicate benchmark, and an independent check of what to expect.

  make_tree.py build ROOT [--size-gb 4] [--small-files 200000] [--seed 5]
      Writes a deterministic tree (the same bytes for the same arguments):
      - small files (0 to 16 KiB) in nested folders up to 8 deep, some of them hidden;
      - 300 sets of 2 to 4 identical large files (1 MiB and up; together about 3/4 of
        --size-gb), copies spread over the folders;
      - decoys of a set's size: some share the set's first 64 KiB and differ later (read in
        full), others differ from the first byte (read 64 KiB only);
      - large files of sizes no other file has (never read);
      - hard links to large files, symbolic links to files and to folders;
      - copies where the duplicate finder must not look: hidden folders, a package, and the
        folders "Library", "node_modules" and ".git".
      ROOT must not exist yet; it is written to ROOT.partial and renamed when complete.

  make_tree.py expect ROOT [--min-size 1048576]
      Walks ROOT by the duplicate finder's rules (hidden entries, package contents, symbolic
      links and the pruned folder names left out), hashes with the sha256sum program, and
      prints JSON: "groups" (sorted lists of paths with equal size and content), "walked"
      (regular files), and the bytes the size -> 64 KiB -> full pipeline reads: "pipelineBytes"
      (every path hashed as written) and "distinctBytes" (each file once, the 64 KiB prefix
      not read again). The least work of a pipeline that compares the rest of each prefix set
      window by window and hashes one member of each class: "hashBytes" (each file's prefix,
      and the rest of one member of each class of identical files) and "compareBytes" (the
      other bytes it must read: every other member of a class to the end, every decoy to the
      end of the window where it leaves); each file (inode) counted once.
"""

import argparse
import collections
import json
import os
import random
import subprocess
import sys

PREFIX = 65536
MIB = 1 << 20
PACKAGE_SUFFIXES = (
    ".app", ".bundle", ".framework", ".plugin", ".kext", ".appex", ".xpc", ".prefpane",
    ".qlgenerator", ".mdimporter", ".saver", ".dsym", ".photoslibrary", ".rtfd", ".xcodeproj",
    ".xcworkspace", ".playground", ".sparsebundle", ".pages", ".numbers", ".key", ".logicx",
    ".band", ".fcpbundle", ".imovielibrary")
PRUNED_NAMES = {".git", "node_modules", ".Trash", "Library", ".cache", ".npm", ".gradle",
                ".pub-cache", ".cocoapods", ".cargo", ".rustup", ".vscode", ".android"}


# --- build ---------------------------------------------------------------------------------

def make_folders(rng, root, count, max_depth):
    """Folders below root, nested up to max_depth; about 2% hidden. Answers (path, hidden)."""
    folders = [(root, 0, False)]
    for i in range(count):
        parent, depth, hidden = rng.choice(folders)
        while depth >= max_depth:
            parent, depth, hidden = rng.choice(folders)
        is_hidden = rng.random() < 0.02
        name = (".h%d" if is_hidden else "d%d") % i
        folders.append((os.path.join(parent, name), depth + 1, hidden or is_hidden))
    for path, _, _ in folders[1:]:
        os.makedirs(path, exist_ok=True)
    return [(path, hidden) for path, _, hidden in folders]


def write(path, data):
    with open(path, "wb") as out:
        out.write(data)


POOL = 64 * MIB


class Content:
    """Deterministic file contents, cut from one random pool (drawing every byte from the
    generator would take minutes): a 16-byte label that makes each content distinct, then
    pool bytes from a random offset."""

    def __init__(self, rng):
        pool = b"".join(rng.randbytes(MIB) for _ in range(POOL // MIB))
        self.pool = pool + pool
        self.rng = rng
        self.labels = 0

    def make(self, size):
        self.labels += 1
        label = b"%016d" % self.labels
        offset = self.rng.randrange(POOL)
        return (label + self.pool[offset:offset + max(0, size - len(label))])[:size]


def large_size(rng, mean):
    """1 MiB and up, mostly near the mean, a few much larger (at most the pool's size)."""
    return min(POOL, max(MIB, int(rng.expovariate(1.0 / mean)))) + rng.randrange(4096)


def build(root, size_gb, small_files, seed):
    rng = random.Random(seed)
    contents = Content(rng)
    partial = root + ".partial"
    if os.path.exists(root):
        sys.exit("make_tree.py: %s exists" % root)
    if os.path.exists(partial):
        subprocess.run(["rm", "-rf", "--one-file-system", partial], check=True)
    os.makedirs(partial)
    folders = make_folders(rng, partial, max(100, small_files // 50), 8)
    visible = [path for path, hidden in folders if not hidden]
    hidden = [path for path, is_hidden in folders if is_hidden]

    # Small files: below any sensible minimum size, so they cost the walk only.
    for i in range(small_files):
        folder, _ = rng.choice(folders)
        name = (".s%d" if rng.random() < 0.03 else "s%d.txt") % i
        write(os.path.join(folder, name), contents.make(int(rng.expovariate(1 / 2048.0)) % 16384))

    budget = int(size_gb * (1 << 30))
    sets = 300
    mean = int(budget * 0.75 / (sets * 3))  # 3 copies a set on average
    used = 0
    large = []  # every large regular file written, for the hard links
    unseen_places = ["Library", "node_modules", ".git", "Tool.app/Contents/Resources"]
    for s in range(sets):
        size = large_size(rng, mean)
        content = contents.make(size)
        for c in range(rng.randint(2, 4)):
            path = os.path.join(rng.choice(visible), "dup%d-%d.bin" % (s, c))
            write(path, content)
            large.append(path)
            used += size
        if s % 3 == 0:  # same first 64 KiB, different later
            late = bytearray(content)
            late[PREFIX + rng.randrange(size - PREFIX)] ^= 0xFF
            path = os.path.join(rng.choice(visible), "late%d.bin" % s)
            write(path, late)
            large.append(path)
            used += size
        elif s % 3 == 1:  # different from the first byte
            path = os.path.join(rng.choice(visible), "early%d.bin" % s)
            write(path, bytes([content[0] ^ 0xFF]) + content[1:])
            large.append(path)
            used += size
        if s % 25 == 0:  # copies the finder must not see
            if hidden:
                write(os.path.join(rng.choice(hidden), "hidden-dup%d.bin" % s), content)
            where = os.path.join(rng.choice(visible), unseen_places[(s // 25) % len(unseen_places)])
            os.makedirs(where, exist_ok=True)
            write(os.path.join(where, "dup%d.bin" % s), content)
            used += 2 * size

    # Large files no other file matches in size: read by nobody.
    sizes = set(os.path.getsize(p) for p in large)
    u = 0
    while used < budget:
        size = large_size(rng, mean)
        if size in sizes:
            continue
        sizes.add(size)
        path = os.path.join(rng.choice(visible), "unique%d.bin" % u)
        write(path, contents.make(size))
        large.append(path)
        used += size
        u += 1

    for i in range(60):
        os.link(rng.choice(large), os.path.join(rng.choice(visible), "hardlink%d.bin" % i))
    for i in range(100):
        target = rng.choice(large) if i % 2 else rng.choice(visible)
        os.symlink(target, os.path.join(rng.choice(visible), "symlink%d" % i))
    os.rename(partial, root)


# --- expect --------------------------------------------------------------------------------

def walk(root):
    """Regular files below root by the duplicate finder's rules, as (path, stat), in the order
    its walk meets them: each folder's entries as the system lists them, a folder's contents
    right after it."""
    def listing(folder):
        try:
            return iter(list(os.scandir(folder)))
        except OSError:
            return iter(())

    stack = [listing(root)]
    while stack:
        entry = next(stack[-1], None)
        if entry is None:
            stack.pop()
            continue
        if entry.name.startswith("."):
            continue
        if entry.is_symlink():
            continue
        if entry.is_dir(follow_symlinks=False):
            if entry.name in PRUNED_NAMES:
                continue
            if entry.name.lower().endswith(PACKAGE_SUFFIXES):
                continue  # the package itself holds no file of its own
            stack.append(listing(entry.path))
        elif entry.is_file(follow_symlinks=False):
            yield entry.path, entry.stat(follow_symlinks=False)


def sha256sum(paths, limit=None):
    """sha256sum of each path (of its first `limit` bytes when given), by path."""
    digests = {}
    if limit is None:
        chunk = 2000
        for i in range(0, len(paths), chunk):
            out = subprocess.run(["sha256sum", "-z", "--"] + paths[i:i + chunk],
                                 check=True, capture_output=True).stdout
            for line in out.split(b"\0"):
                if line:
                    digest, path = line.split(b"  ", 1)
                    digests[os.fsdecode(path)] = digest.decode()
    else:
        for path in paths:
            with open(path, "rb") as f:
                head = f.read(limit)
            digests[path] = subprocess.run(["sha256sum"], input=head, check=True,
                                           capture_output=True).stdout.split()[0].decode()
    return digests


WINDOW = 256 << 10  # the duplicate finder's comparison window


def compare_windows(members, size):
    """Reads the members of a prefix set (path, stat) in lockstep windows from the end of the
    prefix, splitting them into classes of equal windows; a class goes on while it holds two
    or more paths, hard links of one inode being one file read once. Answers the bytes read
    and the number of classes of two or more paths at the end."""
    files = collections.OrderedDict()
    for path, st in members:
        files.setdefault((st.st_dev, st.st_ino), []).append(path)
    classes = [list(files.items())]
    read = 0
    for offset in range(PREFIX, size, WINDOW):
        length = min(WINDOW, size - offset)
        split = []
        for members_of_class in classes:
            by_window = collections.OrderedDict()
            for inode, paths in members_of_class:
                with open(paths[0], "rb") as f:
                    f.seek(offset)
                    window = f.read(length)
                read += len(window)
                by_window.setdefault(window, []).append((inode, paths))
            split += [c for c in by_window.values() if sum(len(p) for _, p in c) >= 2]
        classes = split
    return read, len(classes)


def expect(root, min_size):
    files = list(walk(root))
    # One name a file: the first the walk meets; its other hard links are the same file.
    named = {}
    for path, st in files:
        named.setdefault((st.st_dev, st.st_ino), (path, st))
    by_size = collections.defaultdict(list)
    for path, st in named.values():
        if st.st_size >= min_size:
            by_size[st.st_size].append((path, st))
    buckets = [b for b in by_size.values() if len(b) >= 2]

    pipeline = distinct = hashed = compared = 0
    groups = []
    for bucket in buckets:
        size = bucket[0][1].st_size
        paths = [p for p, _ in bucket]
        inodes = {(st.st_dev, st.st_ino) for _, st in bucket}
        prefix = sha256sum(paths, PREFIX)
        pipeline += len(paths) * min(size, PREFIX)
        distinct += len(inodes) * min(size, PREFIX)
        hashed += len(inodes) * min(size, PREFIX)
        alike = collections.defaultdict(list)
        for path, st in bucket:
            alike[prefix[path]].append((path, st))
        for members in alike.values():
            if len(members) < 2:
                continue
            pipeline += len(members) * size
            if size > PREFIX:
                distinct += len({(st.st_dev, st.st_ino) for _, st in members}) * (size - PREFIX)
                read, classes = compare_windows(members, size)
                hashed += classes * (size - PREFIX)
                compared += read - classes * (size - PREFIX)
            full = sha256sum([p for p, _ in members])
            same = collections.defaultdict(list)
            for path, _ in members:
                same[full[path]].append(path)
            groups += [sorted(g) for g in same.values() if len(g) >= 2]
    json.dump({"groups": sorted(groups), "walked": len(files), "pipelineBytes": pipeline,
               "distinctBytes": distinct, "hashBytes": hashed, "compareBytes": compared},
              sys.stdout)
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    commands = parser.add_subparsers(dest="command", required=True)
    b = commands.add_parser("build")
    b.add_argument("root")
    b.add_argument("--size-gb", type=float, default=4.0)
    b.add_argument("--small-files", type=int, default=200000)
    b.add_argument("--seed", type=int, default=5)
    e = commands.add_parser("expect")
    e.add_argument("root")
    e.add_argument("--min-size", type=int, default=MIB)
    args = parser.parse_args()
    if args.command == "build":
        build(os.path.abspath(args.root), args.size_gb, args.small_files, args.seed)
    else:
        expect(os.path.abspath(args.root), args.min_size)


if __name__ == "__main__":
    main()
