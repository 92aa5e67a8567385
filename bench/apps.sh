#!/usr/bin/env bash
# The application inventory on generated bundles (bench/make_bundles.py: 200 bundles of a few
# thousand files, each with an icns of five PNG sizes), warm cache: `nimbra call listApps`
# with HOME pointing at them against `du -sb` over the same folder, median of RUNS runs, and
# the icon work alone (read, decode, scale to 64 px, encode, Base64) per bundle from the
# micro-benchmark build/icon_bench, times the bundle count. Goal: listApps within 1.3x of du.
# CPU time (user + system) is shown too: on a busy machine it is the steadier comparison.
#
# Usage: bench/apps.sh   (NIMBRA=path/to/nimbra, BUNDLES=200, FILES=2000, RUNS=5,
#                         WORK=folder to keep the generated bundles in between runs)
set -euo pipefail
cd "$(dirname "$0")/.."

NIMBRA=${NIMBRA:-build/nimbra}
ICON_BENCH=${ICON_BENCH:-$(dirname "$NIMBRA")/icon_bench}
BUNDLES=${BUNDLES:-200}
FILES=${FILES:-2000}
RUNS=${RUNS:-5}
[[ -x "$NIMBRA" && -x "$ICON_BENCH" ]] || { echo "bench/apps.sh: build nimbra and icon_bench first (make build)" >&2; exit 1; }
if [[ -z "${WORK:-}" ]]; then
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-bench-apps.XXXXXX")
  trap 'rm -rf "$WORK"' EXIT
fi
HOME_DIR="$WORK/home-$BUNDLES-$FILES"
[[ -d "$HOME_DIR" ]] || bench/make_bundles.py "$HOME_DIR" --bundles "$BUNDLES" --files "$FILES"
APPS="$HOME_DIR/Applications"

listed=$(HOME="$HOME_DIR" "$NIMBRA" call listApps | perl -ne 'my $n = () = /"path":/g; print $n')
if [[ "$listed" != "$BUNDLES" ]]; then
  echo "bench/apps.sh: listApps listed $listed applications of $BUNDLES" >&2
  exit 1
fi

hyperfine --style basic --warmup 1 --runs "$RUNS" --export-json "$WORK/times.json" \
  -n listApps "HOME='$HOME_DIR' '$NIMBRA' call listApps" \
  -n "du -sb" "du -sb '$APPS'" >&2

# Seconds per icon: wall and CPU, as "wall cpu".
perIcon=$(NIMBRA_BENCH_BUNDLE="$APPS/App001.app" "$ICON_BENCH" --benchmark_format=json 2>/dev/null |
  perl -MJSON::PP -e 'local $/; my $b = decode_json(<STDIN>)->{benchmarks}[0];
    my $unit = {ns => 1e-9, us => 1e-6, ms => 1e-3, s => 1}->{$b->{time_unit}};
    printf "%.6f %.6f", $b->{real_time} * $unit, $b->{cpu_time} * $unit')

perl -MJSON::PP -e '
  local $/; open my $f, "<", $ARGV[0] or die; my $r = decode_json(<$f>)->{results};
  my %m = map { $_->{command} => $_->{median} } @$r;
  my %c = map { $_->{command} => $_->{user} + $_->{system} } @$r;
  print "| run | median wall (s) | vs du -sb | mean CPU (s) | vs du -sb |\n|---|---|---|---|---|\n";
  printf "| %s | %.3f | %.2f | %.3f | %.2f |\n", $_->{command}, $_->{median},
    $_->{median} / $m{"du -sb"}, $c{$_->{command}}, $c{$_->{command}} / $c{"du -sb"} for @$r;
  my ($wall, $cpu) = split " ", $ARGV[1];
  printf "| icons alone (%d x %.2f ms wall, %.2f ms CPU) | %.3f | | %.3f | |\n", $ARGV[2], $wall * 1e3, $cpu * 1e3,
    $wall * $ARGV[2], $cpu * $ARGV[2];
' "$WORK/times.json" "$perIcon" "$BUNDLES"
echo
echo "$BUNDLES bundles, $(find "$APPS" -type f | wc -l) files, $(du -sb "$APPS" | cut -f1) bytes; load $(cut -d' ' -f1-3 /proc/loadavg)"
