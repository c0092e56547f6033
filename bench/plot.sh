#!/usr/bin/env bash
# Draws the README's plot from a saved run of pipeline_bench: time per erosion pass against kernel
# size, ours and the library's, one colour per shape. Needs gnuplot (Debian: gnuplot-nox).
# Usage: bench/plot.sh bench-output.txt docs/bench.png
set -euo pipefail
input=$1
output=$2
data=$(mktemp)
trap 'rm -f "$data"' EXIT
# Sweep rows look like: "erode    ellipse  21     435.10      27.90    15.60".
for shape in rect cross ellipse; do
  awk -v s="$shape" '$1 == "erode" && $2 == s && NF == 6 { print $3, $4, $5 }' "$input" >> "$data"
  printf '\n\n' >> "$data"
done
gnuplot <<GNUPLOT
set terminal pngcairo size 900,540 font ",11"
set output "$output"
set title "Erosion of a 4000x3000 colour picture, 2 cores"
set xlabel "kernel size k (element (2k+1) x (2k+1))"
set ylabel "ms per pass"
set logscale y
set key top left
set grid
plot for [i=0:2] "$data" index i using 1:2 with linespoints dashtype 2 lc i+1 \
       title sprintf("library %s", word("rect cross ellipse", i+1)), \
     for [i=0:2] "$data" index i using 1:3 with linespoints lw 2 lc i+1 \
       title sprintf("ours %s", word("rect cross ellipse", i+1))
GNUPLOT
