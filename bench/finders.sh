#!/usr/bin/env bash
# The file finders against the tools people use, in one run, warm cache, median of $RUNS:
#   - "scanLargeFiles" /usr, minSize 10 MiB, against find            goal: <= 0.8x find
#   - "scanDuplicates" /usr, minSize 1 MiB (walk-bound), against jdupes, rmlint, fdupes and
#     rdfind with the same minimum size                               goal: faster than each
#   - "scanDuplicates" on the synthetic tree (hash-bound), the same four    goals: faster than
#     rmlint, rdfind and fdupes; within 1.2x of the floor = walk time + bytes hashed / the
#     SHA-256 speed that `openssl speed -evp sha256` shows now (jdupes, with a
#     non-cryptographic hash, for reference)
#   - "analyzeDisk" /usr, depth 3, against ncdu, gdu and du         goal: <= 0.8x the fastest,
#     peak memory <= 16 MiB
# and checks that the duplicate sets found in the synthetic tree equal those of an
# independent sha256sum check (bench/make_tree.py expect).
#
# The synthetic tree (bench/make_tree.py build; about 200,000 small files and $TREE_GB GB in
# large ones) is made once and reused: $BENCH_DIR/nimbra-bench-tree-${TREE_GB}g.
#
# Usage: bench/finders.sh   (NIMBRA=path/to/nimbra, RUNS=5, TREE_GB=4, BENCH_DIR=/tmp, USR=/usr)
set -euo pipefail
cd "$(dirname "$0")/.."

NIMBRA=$(realpath "${NIMBRA:-build/nimbra}")
RUNS=${RUNS:-5}
TREE_GB=${TREE_GB:-4}
USR=${USR:-/usr}
TREE=${BENCH_DIR:-${TMPDIR:-/tmp}}/nimbra-bench-tree-${TREE_GB}g
MIN_DUP=1048576
MIN_LARGE=10485760
MAKE_TREE=$(realpath bench/make_tree.py)
[[ -x "$NIMBRA" ]] || { echo "bench/finders.sh: $NIMBRA not built (run make build)" >&2; exit 1; }
for tool in python3 hyperfine jq jdupes rmlint fdupes rdfind ncdu gdu openssl sha256sum /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench/finders.sh: $tool is missing (make setup)" >&2; exit 1; }
done

if [[ ! -d "$TREE" ]]; then
  echo "bench/finders.sh: building the synthetic tree $TREE (once)" >&2
  python3 "$MAKE_TREE" build "$TREE" --size-gb "$TREE_GB"
fi
EXPECTED="$TREE.expect-$MIN_DUP.json"
if [[ ! -s "$EXPECTED" ]]; then
  echo "bench/finders.sh: hashing the synthetic tree with sha256sum (once)" >&2
  python3 "$MAKE_TREE" expect "$TREE" --min-size "$MIN_DUP" > "$EXPECTED.partial"
  mv "$EXPECTED.partial" "$EXPECTED"
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-bench-finders.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"  # peers that leave result files leave them here

call() { echo "$NIMBRA call $1 '$2'"; }
dupe_peers() {  # label and command of the four duplicate finders on folder $1, one a line
  printf '%s\n' \
    jdupes "jdupes -r -q -A -X size+=:$MIN_DUP $1" \
    rmlint "rmlint -T df -o fdupes --size $MIN_DUP $1" \
    fdupes "fdupes -r -q -A -G $MIN_DUP $1" \
    rdfind "rdfind -minsize $MIN_DUP -makeresultsfile false $1"
}
# bench NAME (LABEL COMMAND)...: one hyperfine run over the pairs, medians into NAME.json.
bench() {
  local name=$1; shift
  local args=()
  while (($#)); do args+=(-n "$1" "$2"); shift 2; done
  echo "== $name" >&2
  hyperfine -N --style basic --warmup 1 --runs "$RUNS" --export-json "$WORK/$name.json" \
    "${args[@]}" >&2
}
mapfile -t usr_peers < <(dupe_peers "$USR")
mapfile -t tree_peers < <(dupe_peers "$TREE")

# The answers first: what is timed must be right.
"$NIMBRA" call scanDuplicates "{\"root\":\"$TREE\",\"minSize\":$MIN_DUP}" > "$WORK/dupes.json"
jq -c '[.groups[] | [.files[].path] | sort] | sort' "$WORK/dupes.json" > "$WORK/found.json"
jq -c '.groups' "$EXPECTED" > "$WORK/expected.json"
if ! cmp -s "$WORK/found.json" "$WORK/expected.json"; then
  echo "bench/finders.sh: duplicate sets differ from the sha256sum check" >&2
  exit 1
fi
SETS=$(jq length "$WORK/found.json")

bench large \
  nimbra "$(call scanLargeFiles "{\"root\":\"$USR\",\"minSize\":$MIN_LARGE}")" \
  find "find $USR -type f -size +10M"
bench dupes-usr \
  nimbra "$(call scanDuplicates "{\"root\":\"$USR\",\"minSize\":$MIN_DUP}")" "${usr_peers[@]}"
bench dupes-tree \
  nimbra "$(call scanDuplicates "{\"root\":\"$TREE\",\"minSize\":$MIN_DUP}")" \
  "walk only" "$(call scanLargeFiles "{\"root\":\"$TREE\",\"minSize\":4611686018427387904}")" \
  "${tree_peers[@]}"
bench disk \
  nimbra "$(call analyzeDisk "{\"path\":\"$USR\",\"depth\":3}")" \
  ncdu "ncdu -0 -o /dev/null $USR" \
  gdu "gdu -n -p $USR" \
  du "du -b --max-depth=3 $USR"

PEAK_KIB=$(/usr/bin/time -f %M "$NIMBRA" call analyzeDisk "{\"path\":\"$USR\",\"depth\":3}" 2>&1 >/dev/null | tail -1)
# "sha256  1449132.03k" for 1 MiB blocks: thousands of bytes per second.
SHA_BPS=$(openssl speed -evp sha256 -bytes 1048576 -seconds 3 2>/dev/null |
  awk '/^sha256/ {sub(/k$/, "", $2); print $2 * 1000}')

python3 - "$WORK" "$EXPECTED" "$SHA_BPS" "$PEAK_KIB" "$SETS" "$USR" <<'PY'
import json, sys
work, expected, sha_bps, peak_kib, sets, usr = sys.argv[1:]
sha_bps, peak_kib = float(sha_bps), int(peak_kib)
exp = json.load(open(expected))
runs = {n: json.load(open(f"{work}/{n}.json"))["results"]
        for n in ("large", "dupes-usr", "dupes-tree", "disk")}
m = {n: {r["command"]: r["median"] for r in rs} for n, rs in runs.items()}
# CPU seconds (user + system, mean): on a shared machine, less disturbed by other load.
cpu = {n: {r["command"]: r["user"] + r["system"] for r in rs} for n, rs in runs.items()}
rows = [("scanLargeFiles %s, minSize 10 MiB" % usr, "large"),
        ("scanDuplicates %s, minSize 1 MiB" % usr, "dupes-usr"),
        ("scanDuplicates synthetic tree, minSize 1 MiB", "dupes-tree"),
        ("analyzeDisk %s, depth 3" % usr, "disk")]
print("| measurement | command | median (s) | nimbra / it | cpu (s) | nimbra / it, cpu |")
print("|---|---|---|---|---|---|")
for title, key in rows:
    nimbra, nimbra_cpu = m[key]["nimbra"], cpu[key]["nimbra"]
    for i, (cmd, t) in enumerate(m[key].items()):
        c = cpu[key][cmd]
        ratios = ("", "") if cmd == "nimbra" else ("%.2f" % (nimbra / t), "%.2f" % (nimbra_cpu / c))
        print("| %s | %s | %.3f | %s | %.3f | %s |" % (title if i == 0 else "", cmd, t, ratios[0], c, ratios[1]))
def verdict(ok):
    return "met" if ok else "NOT met"
peers = ("jdupes", "rmlint", "fdupes", "rdfind")
large = m["large"]["nimbra"] / m["large"]["find"]
usr_peer = min(m["dupes-usr"][p] for p in peers)
tree = m["dupes-tree"]
walk = tree["walk only"]
floor = walk + exp["distinctBytes"] / sha_bps
floor_naive = walk + exp["pipelineBytes"] / sha_bps
disk_peer = min(v for k, v in m["disk"].items() if k != "nimbra")
print()
print("| goal | measured | |")
print("|---|---|---|")
print("| scanLargeFiles <= 0.8x find | %.2fx | %s |" % (large, verdict(large <= 0.8)))
print("| scanDuplicates %s faster than every peer | %.3f s vs %.3f s (fastest peer) | %s |"
      % (usr, m["dupes-usr"]["nimbra"], usr_peer, verdict(m["dupes-usr"]["nimbra"] < usr_peer)))
slowest_beaten = all(tree["nimbra"] < tree[p] for p in ("rmlint", "rdfind", "fdupes"))
print("| synthetic: faster than rmlint, rdfind, fdupes | %.3f s vs %.3f / %.3f / %.3f s | %s |"
      % (tree["nimbra"], tree["rmlint"], tree["rdfind"], tree["fdupes"], verdict(slowest_beaten)))
print("| synthetic: <= 1.2x floor | %.2fx of %.3f s = walk %.3f s + %.2f GB / %.2f GB/s "
      "(%.2fx of %.3f s if every path were read as written, %.2f GB) | %s |"
      % (tree["nimbra"] / floor, floor, walk, exp["distinctBytes"] / 1e9, sha_bps / 1e9,
         tree["nimbra"] / floor_naive, floor_naive, exp["pipelineBytes"] / 1e9,
         verdict(tree["nimbra"] <= 1.2 * floor)))
print("| synthetic: jdupes (xxHash), for reference | %.3f s | |" % tree["jdupes"])
print("| analyzeDisk <= 0.8x the fastest peer | %.2fx of %.3f s | %s |"
      % (m["disk"]["nimbra"] / disk_peer, disk_peer, verdict(m["disk"]["nimbra"] <= 0.8 * disk_peer)))
print("| analyzeDisk peak memory <= 16 MiB | %.1f MiB | %s |"
      % (peak_kib / 1024, verdict(peak_kib <= 16 * 1024)))
print("| duplicate sets = sha256sum check | %s sets, equal | met |" % sets)
PY
