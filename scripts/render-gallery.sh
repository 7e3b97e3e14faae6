#!/usr/bin/env bash
# Regenerates the whole gallery: builds the release programs, imports the
# example mesh with scenetool, renders every scenes/*.txt and stores each
# picture as docs/gallery/<scene>.png (netpbm converts the BMP files).
#
# Usage: scripts/render-gallery.sh [width height]      (default 480 360)
#
# scenes/bunny.txt comes from scripts/bunny.sh and docs/gallery/draco-bunny.png
# from scripts/draco-bunny.sh, which fetch their meshes with npm.
set -euo pipefail
cd "$(dirname "$0")/.."

width=${1:-480}
height=${2:-360}

for tool in bmptopnm pnmtopng; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing: apt-get install -y netpbm" >&2
    exit 1
  fi
done

cmake --preset release >/dev/null
cmake --build --preset release --target raytracer scenetool >/dev/null

build/release/scenetool import scenes/meshes/torus-knot.obj scenes/mesh.txt \
  --frame --floor

mkdir -p docs/gallery
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
TIMEFORMAT='%R s'
for scene in scenes/*.txt; do
  name=$(basename "$scene" .txt)
  printf '%-16s %s x %s  ' "$name" "$width" "$height"
  { time build/release/raytracer "$scene" "$scratch/$name.bmp" "$width" "$height" >/dev/null; } 2>&1
  bmptopnm "$scratch/$name.bmp" 2>/dev/null | pnmtopng >"docs/gallery/$name.png" 2>/dev/null
done
