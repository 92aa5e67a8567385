#!/usr/bin/env bash
# What recording a disk usage snapshot costs, on a synthetic tree of $FOLDERS folders (100,000
# by default, nested up to 8 deep, $FILES_PER_FOLDER sparse files a folder on average):
#   - time: "analyzeDisk" depth 3 with "record": true against the same walk without it, warm
#     cache, the folder's history full (30 snapshots), median of $RUNS each (hyperfine; CPU time
#     too, the steadier figure on a busy machine)          goal: at most 1.10x the walk alone
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
for tool in python3 hyperfine perl; do
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
hyperfine -N --style basic --warmup 2 --runs "$RUNS" --export-json "$WORK/walk.json" \
  -n "walk alone" "$NIMBRA call analyzeDisk '$(walk '')'" \
  -n "walk and record" "$NIMBRA call analyzeDisk '$(walk ',"record":true')'" \
  -n "diskChanges" "$NIMBRA call diskChanges '{\"path\":\"$TREE\"}'" >&2
loadAfter=$(load)

perl -MJSON::PP -e '
  local $/; open my $f, "<", $ARGV[0] or die; my $r = decode_json(<$f>)->{results};
  my %m = map { $_->{command} => $_->{median} } @$r;
  my %c = map { $_->{command} => $_->{user} + $_->{system} } @$r;
  print "| run | median wall (s) | vs walk alone | mean CPU (s) | vs walk alone |\n|---|---|---|---|---|\n";
  printf "| %s | %.3f | %.3f | %.3f | %.3f |\n", $_->{command}, $_->{median},
    $_->{median} / $m{"walk alone"}, $c{$_->{command}}, $c{$_->{command}} / $c{"walk alone"} for @$r;
' "$WORK/walk.json"
echo
echo "tree: $TREE, $folders folders, $(find "$TREE" -type f | wc -l) files"
echo "history file: $first bytes after the first snapshot, +$((second - first)) bytes for the second" \
  "($(perl -e 'printf "%.1f", $ARGV[0] / $ARGV[1]' "$((second - first))" "$folders") bytes a folder)"
echo "history file with the folder's 30 snapshots: $full bytes"
echo "load average (1, 5, 15 min) before: $loadBefore, after: $loadAfter; $(nproc) cores"
