#!/usr/bin/env bash
# Draws the charts of a peers run: plot.sh <peers.csv> <output folder>
#   latency.png    median latency per query by k for every contender (log scale)
#   automaton.png  automaton build time by pattern length, one line per k
set -euo pipefail
csv=$1
out=$2
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# latency rows: latency,name,k,queries,matches,median,p99,mean. The first tolvex-index row of
# each k covers all queries; the charts use the rows on the queries every contender answered.
awk -F, '$1 == "latency" { seen[$2 "," $3]++; if (seen[$2 "," $3] == 2 || $2 != "tolvex-index") print }' \
  "$csv" >"$tmp/latency.csv"
names=$(cut -d, -f2 "$tmp/latency.csv" | awk '!s[$0]++')
{
  printf 'k'
  for n in $names; do printf ' %s' "$n"; done
  printf '\n'
  for k in 1 2 3; do
    printf '%s' "$k"
    for n in $names; do
      v=$(awk -F, -v n="$n" -v k="$k" '$2 == n && $3 == k { print $6 }' "$tmp/latency.csv" | tail -n1)
      printf ' %s' "${v:-NaN}"
    done
    printf '\n'
  done
} >"$tmp/latency.dat"

awk -F, '$1 == "automaton" { print $2, $3, $5 }' "$csv" >"$tmp/automaton.dat"

columns=$(echo "$names" | wc -w)
gnuplot <<GNUPLOT
set terminal pngcairo size 900,520 font ",11"
set output "$out/latency.png"
set title "Every word within k edits, 663k-word dictionary: median time per query"
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set logscale y
set ylabel "microseconds per query (log scale)"
set xlabel "k (edits)"
set key outside right top
set grid ytics
plot for [c=2:$((columns + 1))] "$tmp/latency.dat" using c:xtic(1) title columnheader(c)

set output "$out/automaton.png"
unset style
unset logscale
set style data linespoints
set title "Automaton construction time by pattern length"
set logscale xy
set xrange [3:200]
set xlabel "pattern length (characters)"
set ylabel "microseconds per automaton (log scale)"
set key left top
plot for [k=1:3] "$tmp/automaton.dat" using 1:(\$2 == k ? \$3 : NaN) with linespoints title sprintf("k = %d", k)
GNUPLOT
echo "charts written to $out"
