#!/usr/bin/env bash
# The gallery's real mesh from a format other than OBJ: the full-resolution
# Stanford bunny (69,451 triangles) that the npm package draco3d ships as raw
# Draco data, wrapped into a Draco-compressed GLB file as meshes are usually
# downloaded (scripts/drc-to-glb.cjs), imported with scenetool's defaults and
# rendered into docs/gallery/draco-bunny.png. The scene stays in build/: at
# 6 MB it is not worth keeping.
#
# Usage: scripts/draco-bunny.sh [width height]      (default 480 360)
#
# Needs node and npm (for the data) and netpbm (for the PNG).
set -euo pipefail
cd "$(dirname "$0")/.."

width=${1:-480}
height=${2:-360}
work=build/draco-bunny
mkdir -p "$work"

if [ ! -d "$work/node_modules/draco3d" ]; then
  npm install --prefix "$work" --no-save --no-package-lock --no-audit --no-fund \
    @gltf-transform/core@4.5.1 @gltf-transform/extensions@4.5.1 \
    @gltf-transform/functions@4.5.1 draco3d@1.5.9 >/dev/null
fi
NODE_PATH="$PWD/$work/node_modules" node scripts/drc-to-glb.cjs \
  "$work/node_modules/draco3d/bunny.drc" "$work/bunny.glb"

cmake --preset release >/dev/null
cmake --build --preset release --target raytracer scenetool >/dev/null

# The two commands from a downloaded mesh to a picture:
(
  cd "$work"
  ../release/scenetool import bunny.glb bunny.txt --frame --floor
  time ../release/raytracer bunny.txt bunny.bmp "$width" "$height" >/dev/null
)
mkdir -p docs/gallery
bmptopnm "$work/bunny.bmp" 2>/dev/null | pnmtopng >docs/gallery/draco-bunny.png 2>/dev/null
echo "Wrote docs/gallery/draco-bunny.png ($width x $height)"
