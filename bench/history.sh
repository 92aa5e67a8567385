#!/usr/bin/env bash
# What recording a disk usage snapshot costs, on a synthetic tree of $FOLDERS folders (100,000
# by default, nested up to 8 deep, $FILES_PER_FOLDER sparse files a folder on average):
#   - time: "analyzeDisk" depth 3 with "record": true against the same walk without it, warm
#     cache, the folder's history full (30 snapshots), median of $RUNS interleaved rounds (CPU
#     time too, the steadier figure on a busy machine)          goal: at most 1.10x the walk alone
#   - size: what the history file grows by for the first snapshot of the tree and for each one
#     after it (WAL checkpointed)                         goal: at most 15 MB a snapshot
#   - reading: "diskChanges" between the last two snapshots, median of $RUNS
# and the load of the machine while it ran, since the machine is shared.
#
# The tree is made once and reused: $BENCH_DIR/nimbra-bench-folders-N (about N x 5 inodes, no
# data blocks). The history goes to a temporary XDG_STATE_HOME, never the user's.
#
# Usage: bench/history.sh   (NIMBRA=path/to/nimbra, FOLDERS=100000, FILES_PER_FOLDER=4, RUNS=7,
#                            BENCH_DIR=/tmp)
set -euo pipefail
cd "$(dirname "$0")/.."

NIMBRA=$(realpath "${NIMBRA:-build/nimbra}")
FOLDERS=${FOLDERS:-100000}
FILES_PER_FOLDER=${FILES_PER_FOLDER:-4}
RUNS=${RUNS:-7}
BENCH_DIR=${BENCH_DIR:-${TMPDIR:-/tmp}}
[[ -x "$NIMBRA" ]] || { echo "bench/history.sh: $NIMBRA not built (run make build)" >&2; exit 1; }
for tool in python3 perl; do
  command -v "$tool" >/dev/null || { echo "bench/history.sh: $tool is missing (make setup)" >&2; exit 1; }
done

TREE=$BENCH_DIR/nimbra-bench-folders-$FOLDERS
if [[ ! -d "$TREE" ]]; then
  echo "bench/history.sh: building $TREE (once)" >&2
  python3 - "$TREE" "$FOLDERS" "$FILES_PER_FOLDER" <<'EOF'
import os, random, sys
root, count, per_folder = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
partial = root + ".partial"
os.makedirs(partial)
folders = [(partial, 0)]
for i in range(count - 1):  # the root is the first folder
    parent, depth = rng.choice(folders)
    while depth >= 8:
        parent, depth = rng.choice(folders)
    path = os.path.join(parent, "folder-%d" % i)
    os.mkdir(path)
    folders.append((path, depth + 1))
for i in range(count * per_folder):
    folder, _ = rng.choice(folders)
    with open(os.path.join(folder, "file-%d.dat" % i), "wb") as f:
        f.truncate(int(rng.expovariate(1 / 65536.0)))
os.rename(partial, root)
EOF
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-bench-history.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
export XDG_STATE_HOME=$WORK/state
STORE=$XDG_STATE_HOME/nimbra/history.sqlite3
walk() { printf '{"path":"%s","depth":3%s}' "$TREE" "$1"; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# Size first, on a fresh store: what the first snapshot adds, then what each further one adds.
"$NIMBRA" call analyzeDisk "$(walk ',"record":true')" >/dev/null
first=$(stat -c %s "$STORE")
"$NIMBRA" call analyzeDisk "$(walk ',"record":true')" >/dev/null
second=$(stat -c %s "$STORE")
folders=$(find "$TREE" -type d | wc -l)
# Timed with the folder's history full (30 snapshots), as it stays once recorded that often: each
# recording then also drops the oldest, and the file checked at every opening is at its largest.
for _ in $(seq 3 30); do "$NIMBRA" call analyzeDisk "$(walk ',"record":true')" >/dev/null; done
full=$(stat -c %s "$STORE")

loadBefore=$(load)
# Interleaved: each round runs the three once, in turn, so that a change in the machine's load
# falls on all of them alike (two untimed rounds first).
python3 - "$RUNS" "$NIMBRA" "$(walk '')" "$(walk ',"record":true')" "{\"path\":\"$TREE\"}" <<'EOF'
import resource, statistics, subprocess, sys, time
runs, nimbra, alone, record, changes = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
commands = {"walk alone": [nimbra, "call", "analyzeDisk", alone],
            "walk and record": [nimbra, "call", "analyzeDisk", record],
            "diskChanges": [nimbra, "call", "diskChanges", changes]}
wall = {name: [] for name in commands}
cpu = {name: [] for name in commands}
for round in range(runs + 2):
    for name, argv in commands.items():
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
        took = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if round >= 2:
            wall[name].append(took)
            cpu[name].append(after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
median = {name: statistics.median(times) for name, times in wall.items()}
spent = {name: statistics.median(times) for name, times in cpu.items()}
print("| run | median wall (s) | vs walk alone | median CPU (s) | vs walk alone |")
print("|---|---|---|---|---|")
for name in commands:
    print("| %s | %.3f | %.3f | %.3f | %.3f |" % (name, median[name], median[name] / median["walk alone"],
                                                spent[name], spent[name] / spent["walk alone"]))
EOF
loadAfter=$(load)

echo
echo "tree: $TREE, $folders folders, $(find "$TREE" -type f | wc -l) files"
echo "history file: $first bytes after the first snapshot, +$((second - first)) bytes for the second" \
  "($(perl -e 'printf "%.1f", $ARGV[0] / $ARGV[1]' "$((second - first))" "$folders") bytes a folder)"
echo "history file with the folder's 30 snapshots: $full bytes"
echo "load average (1, 5, 15 min) before: $loadBefore, after: $loadAfter; $(nproc) cores"
