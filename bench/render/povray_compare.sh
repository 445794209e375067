#!/bin/sh
# POV-Ray beside the ray tracer's threaded benchmark: the benchmark writes
# the 10^5-triangle sphere grid (one mesh2, the same camera and shadowing
# point light, a diffuse-plus-highlight material) in POV-Ray's scene
# language (bench/povray_scene.h); POV-Ray renders it at 1024 x 768, one ray
# per pixel, with 1, 2, 4 and 8 threads. Its time is the trace time it
# reports in its statistics, or, where it reports none, a full-size run less
# a 1 x 1 run (parsing and set-up). POV-Ray is used only where it is
# installed; elsewhere the comparison is skipped with a line saying so.
# bench_peer_bench times POV-Ray the same way on its three scenes.
#
# Usage: bench/render/povray_compare.sh [path of bench_threaded_raytrace_bench]
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
# One run: "<wall seconds> <reported trace seconds or -1>".
run() {
  start=$(date +%s.%N)
  povray +Igrid.pov +W"$1" +H"$2" -A +WT"$3" -D -V -GD -GR -GW -GF +GS -F >stats.txt 2>&1 || true
  end=$(date +%s.%N)
  trace=$(sed -n 's/.*Trace Time:.*(\([0-9.]*\) seconds).*/\1/p' stats.txt)
  echo "$start $end ${trace:--1}" | awk '{ printf "%.3f %s", $2 - $1, $3 }'
}
for n in 1 2 4 8; do
  set -- $(run 1024 768 "$n")
  full=$1 trace=$2
  if [ "$trace" = "-1" ]; then
    set -- $(run 1 1 "$n")
    trace=$(echo "$full $1" | awk '{ printf "%.3f", $1 - $2 }')
    echo "POV-Ray, $n threads: $trace s traced (full $full s less a 1 x 1 run)"
  else
    echo "POV-Ray, $n threads: $trace s traced, as it reports (whole run $full s)"
  fi
done
