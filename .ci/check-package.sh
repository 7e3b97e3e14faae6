#!/usr/bin/env bash
# Builds the Debian package from the release build (cpack -G DEB) and checks
# what a user gets: both programs and their manual pages, dependencies
# computed from the programs' libraries (Assimp for scenetool, none but the
# C++ runtime for raytracer), and programs that run from the unpacked tree.
# With --install (CI, as root) it also installs the package with apt-get and
# runs the installed programs from the PATH.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
if ! (cd "$build" && cpack -G DEB >"$scratch/cpack.log" 2>&1); then
  cat "$scratch/cpack.log" >&2
  exit 1
fi
package=$(ls "$build"/raytracer_*_*.deb)
contents=$(dpkg-deb -c "$package")
for file in ./usr/bin/raytracer ./usr/bin/scenetool ./usr/share/man/man1/raytracer.1 \
  ./usr/share/man/man1/scenetool.1; do
  if ! grep -q " $file\$" <<<"$contents"; then
    echo "$package lacks $file" >&2
    exit 1
  fi
done
depends=$(dpkg-deb -f "$package" Depends)
if ! grep -q 'libassimp5' <<<"$depends"; then
  echo "$package does not depend on Assimp: Depends: $depends" >&2
  exit 1
fi

dpkg-deb -x "$package" "$scratch/root"
bin="$scratch/root/usr/bin"
if [ "${1:-}" = --install ]; then
  apt-get install -y -q "./$package" >/dev/null
  bin=/usr/bin
fi
"$bin/scenetool" --version
"$bin/scenetool" import tests/data/meshes/tetra-draco.glb "$scratch/tetra.txt" --frame --floor
"$bin/raytracer" "$scratch/tetra.txt" "$scratch/tetra.bmp" 64 48 >/dev/null
# The manual pages render without warnings, name only files the package
# holds, and describe every command scenetool's help lists.
for page in "$scratch"/root/usr/share/man/man1/*.1; do
  warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "$page: $warnings" >&2
    exit 1
  fi
  for file in $(sed -n 's/^\.I \(\/usr\/.*\)/\1/p' "$page"); do
    if ! grep -q " \.${file%/}/\?\$" <<<"$contents"; then
      echo "$page names $file, which $package lacks" >&2
      exit 1
    fi
  done
done
for command in $("$bin/scenetool" --help | sed -n 's/^  scenetool \([a-z]*\) .*/\1/p' | grep -v '^help$'); do
  if ! grep -q "^\.SS $command\$" "$scratch/root/usr/share/man/man1/scenetool.1"; then
    echo "scenetool.1 does not describe scenetool $command" >&2
    exit 1
  fi
done
echo "$package: $(wc -l <<<"$contents") entries, Depends: $depends"
