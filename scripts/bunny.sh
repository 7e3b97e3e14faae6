#!/usr/bin/env bash
# The showcase: fetches the Stanford bunny from the npm package `bunny`
# (vertex positions and triangles), writes it as a Wavefront OBJ file,
# imports it with scenetool into scenes/bunny.txt and renders it into
# docs/gallery/bunny.png.
#
# Usage: scripts/bunny.sh [width height]      (default 480 360)
#
# Needs node and npm (for the data) and netpbm (for the PNG).
set -euo pipefail
cd "$(dirname "$0")/.."

width=${1:-480}
height=${2:-360}
work=build/bunny
mkdir -p "$work"

if [ ! -f "$work/node_modules/bunny/package.json" ]; then
  npm install --prefix "$work" --no-save --no-package-lock --no-audit --no-fund bunny@1.0.1 >/dev/null
fi

# The package's faces are zero-based; OBJ counts from 1.
node -e '
  const bunny = require(process.argv[1]);
  const lines = ["# The Stanford bunny, from the npm package bunny"];
  for (const [x, y, z] of bunny.positions) lines.push(`v ${x} ${y} ${z}`);
  for (const [a, b, c] of bunny.cells) lines.push(`f ${a + 1} ${b + 1} ${c + 1}`);
  console.log(lines.join("\n"));
' "$PWD/$work/node_modules/bunny" >"$work/bunny.obj"

cmake --preset release >/dev/null
cmake --build --preset release --target raytracer scenetool >/dev/null

build/release/scenetool import "$work/bunny.obj" scenes/bunny.txt --frame --floor
time build/release/raytracer scenes/bunny.txt "$work/bunny.bmp" "$width" "$height" >/dev/null
mkdir -p docs/gallery
bmptopnm "$work/bunny.bmp" 2>/dev/null | pnmtopng >docs/gallery/bunny.png 2>/dev/null
echo "Wrote docs/gallery/bunny.png ($width x $height)"
