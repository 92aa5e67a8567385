#!/usr/bin/env bash
# Deletion against rm -rf: a generated tree of 100,000 small files in 1,000 folders is deleted
# with `nimbra call deleteItems` and an identical tree with `rm -rf`, median of 5 runs each,
# warm cache (each tree is made, and flushed to disk, just before its run). Deletion measures
# the tree before and after removing it, so it walks more than rm; the goal is at most 1.5x.
#
# Usage: bench/delete.sh            (NIMBRA=path/to/nimbra, BENCH_DIR=folder for the trees)
set -euo pipefail
cd "$(dirname "$0")/.."

NIMBRA=${NIMBRA:-build/nimbra}
RUNS=${RUNS:-5}
[[ -x "$NIMBRA" ]] || { echo "bench/delete.sh: $NIMBRA not built (run make build)" >&2; exit 1; }
WORK=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/nimbra-bench-delete.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

# 1,000 folders of 100 files of 1 to 4096 bytes, the same every time.
cat > "$WORK/make-tree.pl" <<'PERL'
my $root = shift;
mkdir $root or die "$root: $!";
srand(42);
for my $d (0 .. 999) {
  my $dir = sprintf("%s/dir%04d", $root, $d);
  mkdir $dir or die "$dir: $!";
  for my $f (0 .. 99) {
    open(my $fh, '>', "$dir/file$f") or die "$dir/file$f: $!";
    print $fh 'x' x (1 + int(rand(4096)));
    close $fh;
  }
}
PERL
TREE="$WORK/tree"
MAKE_TREE="rm -rf '$TREE'; perl '$WORK/make-tree.pl' '$TREE' && sync"

# Check once that the deletion frees exactly what find counts, and nothing else.
eval "$MAKE_TREE"
touch "$WORK/neighbour"
expected=$(find "$TREE" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
answer=$("$NIMBRA" call deleteItems "{\"paths\":[\"$TREE\"],\"toTrash\":false,\"allowAdmin\":false}")
freed=$(sed -n 's/.*"freed":\([0-9]*\).*/\1/p' <<<"$answer")
if [[ "$freed" != "$expected" || -e "$TREE" || ! -e "$WORK/neighbour" ]]; then
  echo "bench/delete.sh: wrong deletion: freed $freed of $expected bytes: $answer" >&2
  exit 1
fi

# The two tools take turns, so a change in the machine's load falls on both alike.
seconds() { date +%s.%N; }
: > "$WORK/nimbra.times"
: > "$WORK/rm.times"
for ((run = 1; run <= RUNS; run++)); do
  eval "$MAKE_TREE"
  start=$(seconds)
  "$NIMBRA" call deleteItems "{\"paths\":[\"$TREE\"],\"toTrash\":false,\"allowAdmin\":false}" >/dev/null
  awk -v a="$start" -v b="$(seconds)" 'BEGIN {printf "%.3f\n", b - a}' >> "$WORK/nimbra.times"
  eval "$MAKE_TREE"
  start=$(seconds)
  rm -rf "$TREE"
  awk -v a="$start" -v b="$(seconds)" 'BEGIN {printf "%.3f\n", b - a}' >> "$WORK/rm.times"
  echo "run $run: nimbra $(tail -1 "$WORK/nimbra.times") s, rm -rf $(tail -1 "$WORK/rm.times") s" >&2
done

median() { sort -n "$1" | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
nimbra_median=$(median "$WORK/nimbra.times")
rm_median=$(median "$WORK/rm.times")
echo "| tool | median of $RUNS (s) |"
echo "|---|---|"
echo "| nimbra call deleteItems | $nimbra_median |"
echo "| rm -rf | $rm_median |"
awk -v n="$nimbra_median" -v r="$rm_median" 'BEGIN {printf "ratio nimbra / rm -rf: %.2f\n", n / r}'
echo "freed $freed bytes = find sum"
