#!/usr/bin/env python3
"""End-to-end benchmark: generates scenes, renders each with the reference
(the list walk, one thread), the flat SIMD arrays and the bvh, each on
one thread and on every hardware thread, checks that all images are byte-identical, and prints
a markdown table.

    cmake --preset release && cmake --build build/release --target bench_render
    python3 bench/run_benchmarks.py [--build-dir build/release] [--repeat 3] [--quick]

Times are the fastest of --repeat runs (the reference: of one run unless
--repeat-reference says otherwise), measured inside the driver around
building the shape arrays plus rendering; loading the scene is not timed.
"""

import argparse
import math
import os
import subprocess
import sys
import tempfile


def write_scene(path, camera, ambient, lights, shapes):
    """shapes: list of (material, kind, numbers); materials are emitted only
    when they change."""
    out = []
    eye, look, up, fov = camera
    out.append("camera\n%g %g %g\n%g %g %g\n%g %g %g\n%g" % (*eye, *look, *up, fov))
    out.append("ambientLight\n%g %g %g" % ambient)
    for kind, color, vec in lights:
        out.append("%s\n%g %g %g\n%g %g %g" % (kind, *color, *vec))
    current = None
    for material, kind, numbers in shapes:
        if material != current:
            color, exponent, reflectivity = material
            out.append("material\n%g %g %g\n%g\n%g" % (*color, exponent, reflectivity))
            current = material
        if kind == "sphere":
            out.append("sphere\n%.6g %.6g %.6g\n%.6g" % numbers)
        else:
            out.append("triangle\n%.6g %.6g %.6g\n%.6g %.6g %.6g\n%.6g %.6g %.6g" % numbers)
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")
    return len(shapes)


def cross_length(a, b, c):
    e1 = [b[i] - a[i] for i in range(3)]
    e2 = [c[i] - a[i] for i in range(3)]
    x = e1[1] * e2[2] - e1[2] * e2[1]
    y = e1[2] * e2[0] - e1[0] * e2[2]
    z = e1[0] * e2[1] - e1[1] * e2[0]
    return math.sqrt(x * x + y * y + z * z)


def check_visible(triangles):
    # A triangle whose |edge1 x edge2| is small against 0.01 / |direction|
    # never passes the determinant test; keep a wide margin for rays of
    # about unit length.
    smallest = min(cross_length(*t) for t in triangles)
    assert smallest > 0.1, "mesh triangles too small to be seen: %g" % smallest


def quad_mesh(rows, columns, vertex):
    """Two triangles per grid cell; vertex(i, j) gives a point."""
    triangles = []
    for i in range(rows):
        for j in range(columns):
            a, b = vertex(i, j), vertex(i + 1, j)
            c, d = vertex(i + 1, j + 1), vertex(i, j + 1)
            triangles.append((a, b, c))
            triangles.append((a, c, d))
    check_visible(triangles)
    return triangles


def spheres_scene(path):
    shapes = []
    floor = ((0.6, 0.6, 0.6), 10, 0.3)
    shapes.append((floor, "triangle", (-30, 0, -30, -30, 0, 30, 30, 0, 30)))
    shapes.append((floor, "triangle", (-30, 0, -30, 30, 0, 30, 30, 0, -30)))
    for i in range(20):
        for j in range(20):
            mirror = (i * 20 + j) % 3 == 0
            color = (0.3 + 0.7 * (i % 3) / 2, 0.3 + 0.7 * (j % 4) / 3, 0.5)
            material = (color, 40, 0.7 if mirror else 0.0)
            shapes.append((material, "sphere", (i * 1.2 - 11.4, 0.5, j * 1.2 - 11.4, 0.5)))
    lights = [("directionLight", (0.6, 0.6, 0.6), (-0.4, 1, 0.3)),
              ("pointLight", (60, 60, 50), (5, 8, 5)),
              ("pointLight", (40, 40, 60), (-6, 6, -4))]
    return write_scene(path, ((0, 9, 18), (0, 0, 0), (0, 1, 0), 45), (0.1, 0.1, 0.1),
                       lights, shapes)


def torus_scene(path, major, minor, around, across, distance):
    def vertex(i, j):
        u = 2 * math.pi * i / around
        v = 2 * math.pi * j / across
        r = major + minor * math.cos(v)
        return (r * math.cos(u), minor * math.sin(v), r * math.sin(u))

    material = ((0.9, 0.5, 0.2), 30, 0.2)
    shapes = [(material, "triangle", sum(t, ())) for t in quad_mesh(around, across, vertex)]
    lights = [("directionLight", (0.8, 0.8, 0.8), (0.3, 1, 0.6)),
              ("pointLight", (3 * distance, 3 * distance, 3 * distance), (0, distance, distance))]
    camera = ((0, distance * 0.6, distance), (0, 0, 0), (0, 1, 0), 40)
    return write_scene(path, camera, (0.1, 0.1, 0.1), lights, shapes)


def terrain_scene(path, cells):
    size = 80.0
    step = size / cells

    def vertex(i, j):
        x = -size / 2 + i * step
        z = -size / 2 + j * step
        y = 2.5 * math.sin(x * 0.21) * math.cos(z * 0.17) + 1.2 * math.sin(z * 0.5 + x * 0.1)
        return (x, y, z)

    material = ((0.4, 0.7, 0.3), 8, 0.0)
    shapes = [(material, "triangle", sum(t, ())) for t in quad_mesh(cells, cells, vertex)]
    shapes.append((((0.9, 0.9, 0.9), 60, 0.8), "sphere", (0, 6, 0, 3)))
    lights = [("directionLight", (0.9, 0.85, 0.7), (-0.5, 1, 0.2)),
              ("pointLight", (200, 200, 200), (10, 15, 10))]
    camera = ((0, 28, 45), (0, 0, 0), (0, 1, 0), 50)
    return write_scene(path, camera, (0.15, 0.15, 0.2), lights, shapes)


def hall_scene(path):
    shapes = []
    mirror = ((0.9, 0.9, 0.95), 50, 0.85)
    h = 4.0
    corners = {"l": -h, "r": h}

    def wall(a, b, c, d):
        shapes.append((mirror, "triangle", a + b + c))
        shapes.append((mirror, "triangle", a + c + d))

    l, r = corners["l"], corners["r"]
    wall((l, l, l), (r, l, l), (r, l, r), (l, l, r))  # floor
    wall((l, r, l), (l, r, r), (r, r, r), (r, r, l))  # ceiling
    wall((l, l, l), (l, r, l), (r, r, l), (r, l, l))  # back
    wall((l, l, r), (r, l, r), (r, r, r), (l, r, r))  # front
    wall((l, l, l), (l, l, r), (l, r, r), (l, r, l))  # left
    wall((r, l, l), (r, r, l), (r, r, r), (r, l, r))  # right
    for k in range(6):
        angle = 2 * math.pi * k / 6
        material = ((0.3 + 0.1 * k, 0.8 - 0.1 * k, 0.5), 30, 0.5 if k % 2 else 0.0)
        shapes.append((material, "sphere", (2 * math.cos(angle), -2.5, 2 * math.sin(angle), 0.9)))
    lights = [("pointLight", (20, 20, 20), (0, 3, 0)),
              ("directionLight", (0.3, 0.3, 0.3), (0.2, 1, 0.4))]
    camera = ((0.5, 0.5, 3.5), (0, -1.5, 0), (0.1, 1, 0), 70)
    return write_scene(path, camera, (0.1, 0.1, 0.1), lights, shapes)


def run(driver, scene, width, height, *options):
    result = subprocess.run([driver, scene, str(width), str(height), *options],
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                            check=True)
    fields = dict(item.split("=") for item in result.stderr.split())
    return {k: float(v) for k, v in fields.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--repeat-reference", type=int, default=1)
    parser.add_argument("--quick", action="store_true", help="small sizes, for a smoke test")
    args = parser.parse_args()

    driver = os.path.join(args.build_dir, "bench", "bench_render")
    if not os.path.exists(driver):
        sys.exit("no %s: build the bench_render target first" % driver)
    threads = os.cpu_count() or 1
    scale = 0.25 if args.quick else 1.0

    with tempfile.TemporaryDirectory() as work:
        scenes = [
            ("spheres and mirrors", spheres_scene, 320, 240),
            ("torus mesh", lambda p: torus_scene(p, 6.0, 2.2, 100, 25, 20), 160, 120),
            ("terrain mesh", lambda p: terrain_scene(p, 158), 96, 72),
            ("hall of mirrors", hall_scene, 320, 240),
        ]
        print("| scene | size | shapes | path | threads | seconds | CPU seconds | primary rays/s "
              "| ray-shape tests/s | speed-up |")
        print("|---|---|---:|---|---:|---:|---:|---:|---:|---:|")
        for name, make, width, height in scenes:
            width = max(1, int(width * scale))
            height = max(1, int(height * scale))
            path = os.path.join(work, name.replace(" ", "_") + ".txt")
            shapes = make(path)
            reference_image = os.path.join(work, "reference.bmp")
            runs = [("list", 1, ["--structure", "list", "--threads", "1",
                                      "--repeat", str(args.repeat_reference), "--count",
                                      "--out", reference_image])]
            for level in ("sse2", "avx2"):
                runs.append(("flat " + level, 1, ["--simd", level, "--threads", "1"]))
            runs.append(("flat avx2", threads, ["--simd", "avx2", "--threads", str(threads)]))
            for thread_count in (1, threads):
                runs.append(("bvh", thread_count,
                             ["--structure", "bvh", "--threads", str(thread_count)]))
            reference_seconds = None
            queries = None
            for label, thread_count, options in runs:
                image = os.path.join(work, "image.bmp")
                if "--out" not in options:
                    options = options + ["--repeat", str(args.repeat), "--out", image]
                result = run(driver, path, width, height, *options)
                if reference_seconds is None:
                    reference_seconds = result["seconds"]
                    queries = result["nearest"] + result["shadow"]
                else:
                    with open(image, "rb") as a, open(reference_image, "rb") as b:
                        if a.read() != b.read():
                            sys.exit("%s: %s differs from the reference" % (name, label))
                if result["simd"] >= 0:
                    label = "flat " + ("scalar", "sse2", "avx2")[int(result["simd"])]
                seconds = result["seconds"]
                print("| %s | %dx%d | %d | %s | %d | %.3f | %.3f | %.0f | %.3g | %.2fx |" % (
                    name, width, height, shapes, label, thread_count, seconds, result["cpu"],
                    width * height / seconds, queries * shapes / seconds,
                    reference_seconds / seconds))
                sys.stdout.flush()


if __name__ == "__main__":
    main()
