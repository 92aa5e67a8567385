#!/usr/bin/env bash
# Size measurement against its peers on one real tree (default /usr), warm cache, in one run:
# `nimbra call sizeOf` against `du -sb` and against `find -type f -printf '%s\n'` summed,
# median of 5 runs each. Checks first that Nimbra's byte count equals the find sum exactly
# (du counts a hard-linked file once, so its total may be smaller). Goal: nimbra at most
# 0.8x du's wall time, with peak memory flat in the size of the tree (ROOT against SMALL_ROOT).
# CPU time (user + system) is shown too: on a busy machine it is the steadier comparison.
# With strace installed it also counts system calls per entry of the tree.
#
# Usage: bench/size.sh        (NIMBRA=path/to/nimbra, ROOT=/usr, SMALL_ROOT=/usr/share/doc,
#                              RUNS=5, STRACE=0 to leave out the system call count)
set -euo pipefail
cd "$(dirname "$0")/.."

NIMBRA=${NIMBRA:-build/nimbra}
ROOT=${ROOT:-/usr}
SMALL_ROOT=${SMALL_ROOT:-/usr/share/doc}
RUNS=${RUNS:-5}
STRACE=${STRACE:-1}
[[ -x "$NIMBRA" ]] || { echo "bench/size.sh: $NIMBRA not built (run make build)" >&2; exit 1; }
WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-bench-size.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

sizeArgs() { printf '{"path":"%s"}' "$1"; }
# Exact integer sum (awk would print large sums in floating point).
FIND_SUM="find '$ROOT' -type f -printf '%s\n' | perl -ne '\$s += \$_; END { print \"\$s\\n\" }'"

nimbraBytes() { "$NIMBRA" call sizeOf "$(sizeArgs "$1")" | perl -ne 'print "$1\n" if /"size":(-?\d+)/'; }
expected=$(eval "$FIND_SUM")
measured=$(nimbraBytes "$ROOT")
if [[ "$measured" != "$expected" ]]; then
  echo "bench/size.sh: nimbra measured $measured bytes below $ROOT, find sums $expected" >&2
  exit 1
fi

hyperfine --style basic --warmup 2 --runs "$RUNS" --export-json "$WORK/times.json" \
  -n nimbra "$NIMBRA call sizeOf '$(sizeArgs "$ROOT")'" \
  -n "du -sb" "du -sb '$ROOT'" \
  -n "find + sum" "$FIND_SUM" >&2

peakKiB() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }

perl -MJSON::PP -e '
  local $/; open my $f, "<", $ARGV[0] or die; my $r = decode_json(<$f>)->{results};
  my %m = map { $_->{command} => $_->{median} } @$r;
  my %c = map { $_->{command} => $_->{user} + $_->{system} } @$r;
  print "| tool | median wall (s) | vs du -sb | mean CPU (s) | vs du -sb |\n|---|---|---|---|---|\n";
  printf "| %s | %.3f | %.2f | %.3f | %.2f |\n", $_->{command}, $_->{median},
    $_->{median} / $m{"du -sb"}, $c{$_->{command}}, $c{$_->{command}} / $c{"du -sb"} for @$r;
' "$WORK/times.json"
entries=$(find "$ROOT" | wc -l)
smallEntries=$(find "$SMALL_ROOT" | wc -l)
echo
echo "bytes below $ROOT: $measured = find sum; entries: $((entries - 1))"
echo "peak memory, nimbra: $(peakKiB "$NIMBRA" call sizeOf "$(sizeArgs "$ROOT")") KiB on $ROOT," \
  "$(peakKiB "$NIMBRA" call sizeOf "$(sizeArgs "$SMALL_ROOT")") KiB on $SMALL_ROOT ($((smallEntries - 1)) entries)"
echo "peak memory, du -sb: $(peakKiB du -sb "$ROOT") KiB on $ROOT"

if [[ "$STRACE" != 0 ]] && command -v strace >/dev/null; then
  perEntry() {
    strace -f -c -o "$WORK/strace.txt" "$@" >/dev/null 2>&1 || true
    # The summary's last line: "% time, seconds, usecs/call, calls, [errors,] total".
    perl -lane 'printf "%d calls, %.2f per entry", $F[3], $F[3] / '"$((entries - 1))"' if $F[-1] eq "total"' \
      "$WORK/strace.txt"
  }
  echo "system calls, whole process: nimbra $(perEntry "$NIMBRA" call sizeOf "$(sizeArgs "$ROOT")");" \
    "du -sb $(perEntry du -sb "$ROOT"); find $(perEntry find "$ROOT" -type f -printf '%s\n')"
fi
