#!/usr/bin/env python3
"""Counts the instructions the renderer executes per ray on the benchmark
scenes of compare_peers.py, with valgrind's callgrind: a measure that, unlike
time, does not move when the machine is busy.

    cmake --preset release && cmake --build build/release --target bench_render
    python3 bench/instruction_counts.py [--scenes mesh5k,mesh50k] [--size 320x240]

For each scene it prints the instructions of the render on one thread (the
whole run less the same run at one pixel), the same per ray (nearest-hit plus shadow
queries, counted natively), and the instructions of building the shape
structure per shape.
"""

import argparse
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compare_peers  # noqa: E402


def callgrind(command, toggle=None):
    with tempfile.NamedTemporaryFile(suffix=".callgrind") as out:
        options = ["--collect-atstart=no", "--toggle-collect=" + toggle] if toggle else []
        subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out.name] +
                       options + command,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        for line in out.read().decode().splitlines():
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1])
    raise RuntimeError("no totals from callgrind")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--scenes", default="spheres64,mirrors,mesh5k,mesh50k")
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "raytracer-peers"))
    args = parser.parse_args()
    names = args.scenes.split(",")
    width, height = (int(x) for x in args.size.split("x"))
    compare_peers.generate_scenes(args.work, names)
    driver = os.path.join(args.build_dir, "bench", "bench_render")
    print("| scene | size | rays | render instructions | per ray | build instructions per shape |")
    print("|---|---|---:|---:|---:|---:|")
    for name in names:
        scene = os.path.join(args.work, name + ".txt")
        # Both runs plan the structure for the full image (the one-pixel run
        # too builds the light buffers).
        options = ["--structure", "auto", "--threads", "1", "--plan-pixels", str(width * height)]
        command = [driver, scene, str(width), str(height)] + options
        counted = subprocess.run(command + ["--count"], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, text=True, check=True)
        stats = compare_peers.fields(counted.stderr)
        rays = float(stats["nearest"]) + float(stats["shadow"])
        # The render's share: the whole run less the same run at one pixel.
        render = callgrind(command) - callgrind([driver, scene, "1", "1"] + options)
        build = callgrind(command, "*Intersector::*Intersector(*")
        print("| %s | %dx%d | %d | %d | %.0f | %.0f |" % (
            name, width, height, rays, render, render / rays, build / float(stats["shapes"])))
        sys.stdout.flush()


if __name__ == "__main__":
    main()
