#!/usr/bin/env bash
# Regenerates the small test meshes in tests/data/meshes with
# scripts/make-test-meshes.cjs (node and npm needed; the packages go under
# build/npm-meshes).
set -euo pipefail
cd "$(dirname "$0")/.."

work=build/npm-meshes
if [ ! -d "$work/node_modules/draco3d" ]; then
  npm install --prefix "$work" --no-save --no-package-lock --no-audit --no-fund \
    @gltf-transform/core@4.5.1 @gltf-transform/extensions@4.5.1 \
    @gltf-transform/functions@4.5.1 draco3d@1.5.9 >/dev/null
fi
mkdir -p tests/data/meshes
NODE_PATH="$PWD/$work/node_modules" node scripts/make-test-meshes.cjs tests/data/meshes
ls -l tests/data/meshes
