#!/usr/bin/env bash
# Times loading, building and rendering generated mesh scenes with the shape
# list (reference) and with the hierarchy. Not part of the test suite.
#
#   bench/large_scenes.sh            all measurements (a few minutes)
#   bench/large_scenes.sh crossover  only the small scenes
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DRAYTRACER_BUILD_TESTS=OFF >/dev/null
cmake --build build/bench -j2 --target bench_render raytracer >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# run SCENE WIDTH HEIGHT SHAPES: one render on one thread; bench_render prints
# its timings on standard error.
run() {
  echo "== $*"
  ./build/bench/bench/bench_render "$1" "$2" "$3" --shapes "$4" --threads 1 >/dev/null
}

if [ "${1:-all}" != crossover ]; then
  python3 bench/gen_mesh.py 50000 "$scratch/mesh-50k.txt"
  python3 bench/gen_mesh.py 1000000 "$scratch/mesh-1m.txt"
  ls -l "$scratch"
  run "$scratch/mesh-50k.txt" 640 480 hierarchy
  # The list walk would take many minutes at 640x480: time it at 80x60 and
  # compare processor time per pixel with the hierarchy at the same size.
  run "$scratch/mesh-50k.txt" 80 60 hierarchy
  run "$scratch/mesh-50k.txt" 80 60 reference
  run "$scratch/mesh-1m.txt" 1280 720 hierarchy
  # The whole program, both cores, loading and writing included.
  /usr/bin/time -f "raytracer, 1280x720, all threads: %e s wall" \
    ./build/bench/raytracer "$scratch/mesh-1m.txt" "$scratch/out.bmp" 1280 720 >/dev/null
fi

# Where the hierarchy starts to win: small meshes at 160x120.
for n in 2 8 32 128 512; do
  python3 bench/gen_mesh.py "$n" "$scratch/small.txt"
  run "$scratch/small.txt" 160 120 reference
  run "$scratch/small.txt" 160 120 flat
  run "$scratch/small.txt" 160 120 hierarchy
done
