#!/usr/bin/env bash
# Deleting one very deep chain of folders (DEPTH levels, default 30,000, a file at the bottom)
# with `nimbra call deleteItems` and with `rm -rf`, one run each on identical chains: wall time
# and peak memory. Goal: within 2x of rm's time and under 32 MB peak. Paths this deep exceed
# PATH_MAX, so the chain is built level by level relative to the folder above.
#
# Usage: bench/deep_delete.sh   (NIMBRA=path/to/nimbra, DEPTH=levels, BENCH_DIR=folder)
set -euo pipefail
cd "$(dirname "$0")/.."

NIMBRA=${NIMBRA:-build/nimbra}
DEPTH=${DEPTH:-30000}
[[ -x "$NIMBRA" ]] || { echo "bench/deep_delete.sh: $NIMBRA not built (run make build)" >&2; exit 1; }
WORK=$(mktemp -d "${BENCH_DIR:-${TMPDIR:-/tmp}}/nimbra-bench-deep.XXXXXX")
# rm copes with any depth; it is the cleanup too.
trap 'rm -rf "$WORK"' EXIT

make_chain() {
  python3 - "$1" "$DEPTH" <<'PY'
import os, sys
root, depth = sys.argv[1], int(sys.argv[2])
os.mkdir(root)
fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
for _ in range(depth):
    os.mkdir("d", dir_fd=fd)
    child = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
    os.close(fd)
    fd = child
with open(os.open("leaf", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "w") as leaf:
    leaf.write("x" * 100)
os.close(fd)
PY
  sync
}

# Prints "seconds peak-KiB" for the command.
measure() {
  /usr/bin/time -f '%e %M' -o "$WORK/time" "$@" >"$WORK/out" 2>&1 || { cat "$WORK/out" >&2; exit 1; }
  cat "$WORK/time"
}

make_chain "$WORK/nimbra"
read -r nimbra_s nimbra_kb < <(measure "$NIMBRA" call deleteItems "{\"paths\":[\"$WORK/nimbra\"],\"allowAdmin\":false}")
grep -q '"failed":\[\],"freed":100,' "$WORK/out" || { echo "unexpected answer: $(cat "$WORK/out")" >&2; exit 1; }
[[ ! -e "$WORK/nimbra" ]] || { echo "the chain is still there" >&2; exit 1; }
make_chain "$WORK/rm"
read -r rm_s rm_kb < <(measure rm -rf "$WORK/rm")

printf '%-22s %10s %12s\n' "deep chain ($DEPTH)" "wall s" "peak MiB"
printf '%-22s %10s %12.1f\n' "nimbra deleteItems" "$nimbra_s" "$(bc -l <<<"$nimbra_kb/1024")"
printf '%-22s %10s %12.1f\n' "rm -rf" "$rm_s" "$(bc -l <<<"$rm_kb/1024")"
printf 'time ratio nimbra/rm: %.2f\n' "$(bc -l <<<"$nimbra_s/($rm_s+0.001)")"
