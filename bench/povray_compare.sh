#!/bin/sh
# POV-Ray beside the ray tracer's threaded benchmark: the benchmark writes
# the 10^5-triangle sphere grid (one mesh2, the same camera and shadowing
# point light, a diffuse-plus-highlight material) in POV-Ray's scene
# language; POV-Ray renders it at 1024 x 768, one ray per pixel, with 1, 2,
# 4 and 8 threads. Its time is a full-size run less a 1 x 1 run (parsing and
# set-up). POV-Ray is used only where it is installed; elsewhere the
# comparison is skipped with a line saying so.
#
# Usage: bench/povray_compare.sh [path of bench_threaded_raytrace_bench]
set -eu
bench=${1:-build-bench/bench/bench_threaded_raytrace_bench}
if ! command -v povray >/dev/null 2>&1; then
  echo "POV-Ray is not installed: the comparison is skipped"
  exit 0
fi
bench=$(cd "$(dirname "$bench")" && pwd)/$(basename "$bench")
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
VO_POVRAY_SCENE="$dir/grid.pov" "$bench" --benchmark_filter='GridPreview/0/' >/dev/null 2>&1
cd "$dir"
seconds() {
  start=$(date +%s.%N)
  povray +Igrid.pov +W"$1" +H"$2" -A +WT"$3" -D -V -GA +FN +Oout.png >/dev/null 2>&1
  end=$(date +%s.%N)
  echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }'
}
for n in 1 2 4 8; do
  full=$(seconds 1024 768 "$n")
  one=$(seconds 1 1 "$n")
  echo "POV-Ray, $n threads: $(echo "$full $one" | awk '{ printf "%.3f", $1 - $2 }') s traced (full $full s, 1 x 1 $one s)"
done
