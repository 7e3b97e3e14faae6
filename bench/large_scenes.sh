#!/usr/bin/env bash
# Times loading, building and rendering generated mesh scenes with the shape
# list (reference), the flat SIMD walk and the hierarchy. Not part of the test
# suite.
#
#   bench/large_scenes.sh            all measurements (a few minutes)
#   bench/large_scenes.sh crossover  only the small scenes
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAYTRACER_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target bench_render raytracer >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# run SCENE WIDTH HEIGHT STRUCTURE [THREADS]: one line of timings (seconds is
# building the structure plus rendering; load is reading the scene file).
run() {
  printf '%-28s %4sx%-4s %-9s threads=%s  ' "$(basename "$1")" "$2" "$3" "$4" "${5:-1}"
  ./build/bench/bench/bench_render "$1" "$2" "$3" --structure "$4" --threads "${5:-1}" 2>&1 >/dev/null
}

if [ "${1:-all}" != crossover ]; then
  python3 bench/gen_mesh.py 50000 "$scratch/mesh-50k.txt"
  python3 bench/gen_mesh.py 1000000 "$scratch/mesh-1m.txt"
  ls -l "$scratch"
  run "$scratch/mesh-50k.txt" 640 480 bvh
  run "$scratch/mesh-50k.txt" 640 480 bvh 2
  # The list walk would take many minutes at 640x480: time it at 80x60 and
  # compare time per pixel with the hierarchy at the same size.
  run "$scratch/mesh-50k.txt" 80 60 bvh
  run "$scratch/mesh-50k.txt" 80 60 list
  run "$scratch/mesh-1m.txt" 1280 720 bvh 2
  # The whole program on every core: loading, building, rendering, writing.
  /usr/bin/time -f "raytracer mesh-1m.txt 1280x720: %e s wall, %M KiB peak" \
    ./build/bench/raytracer "$scratch/mesh-1m.txt" "$scratch/out.bmp" 1280 720 >/dev/null
fi

# The gallery's bunny (scripts/bunny.sh makes it).
for structure in list flat bvh; do
  run scenes/bunny.txt 160 120 "$structure"
done
run scenes/bunny.txt 640 480 bvh
run scenes/bunny.txt 640 480 bvh 2

# Where the hierarchy starts to win over the flat walk.
for n in 8 16 32 64 128 512; do
  python3 bench/gen_mesh.py "$n" "$scratch/small.txt" >/dev/null
  for structure in list flat bvh; do
    run "$scratch/small.txt" 320 240 "$structure"
  done
done
