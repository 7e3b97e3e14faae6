#!/usr/bin/env python3
"""Measures the renderer against two peers on the same scenes, alternating
runs, and prints one table of ratios:

- an Embree 3 renderer with the same camera, shading and ray tree in plain
  float (bench/peers/embree_peer.cpp, built here when libembree-dev is
  installed; it is not exact, it only shows what the best CPU ray queries
  reach on this machine);
- POV-Ray 3.7 (Debian `povray`) on equivalent .pov scenes.

    cmake --preset release && cmake --build build/release --target raytracer bench_render
    python3 bench/compare_peers.py [--rounds 3] [--scenes mesh5k,mesh50k] [--work DIR]

Scenes come from bench/peers/gen_bench.py (spheres64, mirrors, mesh5k,
mesh50k at 640x480) and gen_terrain.py (terrain1m, 999,698 triangles, at
1280x720); they are written once into --work and reused. Each round runs, per
scene and one after another: this renderer and the Embree peer on one thread
(rays per processor-second of the render alone, the rays being nearest-hit
plus shadow queries), then this renderer, the Embree peer and POV-Ray as whole
processes on every hardware thread (wall seconds, peak resident memory). The
order of the programs rotates from round to round; the table shows medians over
rounds of each quantity and of each per-round ratio. Peers that are not
installed are left out.

Every image this renderer writes is compared byte for byte with
bench/reference-images.txt: the SHA-256 of the images the plain list walk
renders, at the sizes it can finish (the whole program renders each scene at
those sizes once more to be checked), and of the full-size images of the two
largest scenes.
"""

import argparse
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "peers")
SCENES = [("spheres64", 640, 480), ("mirrors", 640, 480), ("mesh5k", 640, 480),
          ("mesh50k", 640, 480), ("terrain1m", 1280, 720)]


def generate_scenes(work, names):
    os.makedirs(work, exist_ok=True)
    if any(not os.path.exists(os.path.join(work, n + ".txt")) for n in names if n != "terrain1m"):
        subprocess.run([sys.executable, os.path.join(PEERS, "gen_bench.py"), work], check=True,
                       stdout=subprocess.DEVNULL)
    if "terrain1m" in names and not os.path.exists(os.path.join(work, "terrain1m.txt")):
        subprocess.run([sys.executable, os.path.join(PEERS, "gen_terrain.py"), "1000000", work,
                        "terrain1m"], check=True, stdout=subprocess.DEVNULL)


def build_embree_peer(work):
    """The peer binary, built with -march=native (the peer only; never the
    renderer), or None without Embree's headers or a compiler."""
    if not os.path.exists("/usr/include/embree3/rtcore.h") or not shutil.which("g++"):
        return None
    source = os.path.join(PEERS, "embree_peer.cpp")
    binary = os.path.join(work, "embree_peer")
    if not os.path.exists(binary) or os.path.getmtime(binary) < os.path.getmtime(source):
        result = subprocess.run(["g++", "-std=c++17", "-O2", "-march=native", "-o", binary, source,
                                 "-lembree3", "-pthread"], stderr=subprocess.PIPE, text=True)
        if result.returncode != 0:
            print("embree_peer did not build; left out:\n" + result.stderr, file=sys.stderr)
            return None
    return binary


def fields(text):
    """key=value pairs of the last line that has them."""
    for line in reversed(text.strip().splitlines()):
        pairs = dict(item.split("=", 1) for item in line.split() if "=" in item)
        if pairs:
            return pairs
    raise RuntimeError("no statistics in: " + text)


def timed(command, cwd=None):
    """Runs a whole process: (wall seconds, peak MiB from /usr/bin/time, stderr)."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        begin = time.perf_counter()
        result = subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M"] + command,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                cwd=cwd)
        wall = time.perf_counter() - begin
        if result.returncode != 0:
            raise RuntimeError("%s failed: %s" % (" ".join(command), result.stderr[-2000:]))
        peak = report.read().split()[-1]
    return wall, float(peak) / 1024.0, result.stderr


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def load_references():
    references = {}
    with open(os.path.join(HERE, "reference-images.txt")) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                name, size, sha = line.split()[:3]
                references[(name, size)] = sha
    return references


class Runs:
    def __init__(self, args, work, embree, povray):
        self.args = args
        self.work = work
        self.embree = embree
        self.povray = povray
        self.raytracer = os.path.join(args.build_dir, "raytracer")
        self.bench_render = os.path.join(args.build_dir, "bench", "bench_render")
        self.threads = os.cpu_count() or 1
        self.image = os.path.join(work, "out.bmp")

    def ours_one_thread(self, scene, width, height, count):
        command = [self.bench_render, scene, str(width), str(height), "--structure", "auto",
                   "--threads", "1", "--out", self.image] + (["--count"] if count else [])
        result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                text=True, check=True)
        return {k: float(v) for k, v in fields(result.stderr).items()}

    def embree_one_thread(self, scene, width, height):
        result = subprocess.run([self.embree, scene, os.path.join(self.work, "peer.bmp"),
                                 str(width), str(height), "--threads", "1", "--stats"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                check=True)
        return {k: float(v) for k, v in fields(result.stderr).items()}

    def ours_whole(self, scene, width, height):
        return timed([self.raytracer, scene, self.image, str(width), str(height)])[:2]

    def embree_whole(self, scene, width, height):
        wall, peak, err = timed([self.embree, scene, os.path.join(self.work, "peer.bmp"),
                                 str(width), str(height), "--threads", str(self.threads),
                                 "--stats"])
        stats = fields(err)
        return wall, peak, float(stats["load"]) + float(stats["build"])

    def povray_whole(self, scene, width, height):
        pov = os.path.splitext(scene)[0] + ".pov"
        return timed([self.povray, "-D", "-V", "-GA", "-A", "+WT%d" % self.threads,
                      "+W%d" % width, "+H%d" % height, "+FB", "File_Gamma=1.0",
                      "+O" + os.path.join(self.work, "pov.bmp"), os.path.basename(pov)],
                     cwd=os.path.dirname(pov))[:2]

    def check_image(self, name, width, height, references, label):
        key = (name, "%dx%d" % (width, height))
        if key in references and digest(self.image) != references[key]:
            sys.exit("%s at %s: the %s image differs from the reference" % (name, key[1], label))
        return key in references


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def show(value, form):
    return "-" if value is None else form % value


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build-dir", default="build/release")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--scenes", default=",".join(n for n, _, _ in SCENES))
    parser.add_argument("--work", default=os.path.join(tempfile.gettempdir(), "raytracer-peers"))
    args = parser.parse_args()

    names = args.scenes.split(",")
    unknown = set(names) - {n for n, _, _ in SCENES}
    if unknown:
        sys.exit("unknown scenes: " + ", ".join(sorted(unknown)))
    generate_scenes(args.work, names)
    runs = Runs(args, args.work, build_embree_peer(args.work), shutil.which("povray"))
    for tool in (runs.raytracer, runs.bench_render):
        if not os.path.exists(tool):
            sys.exit("no %s: build the raytracer and bench_render targets first" % tool)
    print("peers: Embree %s, POV-Ray %s; %d rounds, %d hardware threads" % (
        "yes" if runs.embree else "not installed", "yes" if runs.povray else "not installed",
        args.rounds, runs.threads))
    references = load_references()

    rows = []
    for name, width, height in SCENES:
        if name not in names:
            continue
        scene = os.path.join(args.work, name + ".txt")
        # The other sizes listed are checked once with the whole program.
        for (ref_name, size), _ in references.items():
            if ref_name == name and size != "%dx%d" % (width, height):
                w, h = (int(x) for x in size.split("x"))
                runs.ours_whole(scene, w, h)
                runs.check_image(name, w, h, references, "whole-process")
        m = {key: [] for key in ("ours_rps", "peer_rps", "rps_ratio", "ours_wall", "peer_wall",
                                 "pov_wall", "wall_vs_peer", "wall_vs_pov", "ours_peak",
                                 "peer_peak", "pov_peak", "ours_build", "peer_build",
                                 "build_ratio")}
        rays = None
        for round_index in range(args.rounds):
            one = [("ours", lambda: runs.ours_one_thread(scene, width, height, rays is None))]
            if runs.embree:
                one.append(("peer", lambda: runs.embree_one_thread(scene, width, height)))
            whole = [("ours", lambda: runs.ours_whole(scene, width, height))]
            if runs.embree:
                whole.append(("peer", lambda: runs.embree_whole(scene, width, height)))
            if runs.povray:
                whole.append(("pov", lambda: runs.povray_whole(scene, width, height)))
            shift = round_index % len(one)
            results = {}
            for label, run in one[shift:] + one[:shift]:
                results[label + "1"] = run()
                if label == "ours":
                    runs.check_image(name, width, height, references, "one-thread")
            shift = round_index % len(whole)
            for label, run in whole[shift:] + whole[:shift]:
                results[label] = run()
                if label == "ours":
                    runs.check_image(name, width, height, references, "whole-process")
            ours = results["ours1"]
            if rays is None:
                rays = ours["nearest"] + ours["shadow"]
            ours_rps = rays / ours["render_cpu"]
            m["ours_rps"].append(ours_rps)
            m["ours_wall"].append(results["ours"][0])
            m["ours_peak"].append(results["ours"][1])
            m["ours_build"].append(ours["load"] + ours["build"])
            if runs.embree:
                peer = results["peer1"]
                m["peer_rps"].append(peer["rays_per_render_cpu_s"])
                m["rps_ratio"].append(ours_rps / peer["rays_per_render_cpu_s"])
                m["peer_wall"].append(results["peer"][0])
                m["peer_peak"].append(results["peer"][1])
                m["peer_build"].append(results["peer"][2])
                m["wall_vs_peer"].append(results["ours"][0] / results["peer"][0])
                m["build_ratio"].append(m["ours_build"][-1] / results["peer"][2])
            if runs.povray:
                m["pov_wall"].append(results["pov"][0])
                m["pov_peak"].append(results["pov"][1])
                m["wall_vs_pov"].append(results["ours"][0] / results["pov"][0])
            sys.stderr.write(".")
            sys.stderr.flush()
        rows.append((name, width, height, rays, {k: median(v) for k, v in m.items()}))
    sys.stderr.write("\n")

    print()
    # Ratios are ours divided by the peer's: above 1 is better for rays per
    # processor-second, below 1 better for seconds.
    print("| scene | size | rays | 1 thread, rays/CPU-s: ours | Embree | ours / Embree "
          "| all threads, wall s: ours | Embree | POV-Ray | ours / Embree | ours / POV-Ray "
          "| peak MiB: ours | Embree | POV-Ray | load + build s: ours | Embree | ours / Embree |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, width, height, rays, v in rows:
        print("| %s | %dx%d | %.3gM | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s "
              "| %s | %s | %s |" % (
                  name, width, height, rays / 1e6, show(v["ours_rps"] and v["ours_rps"] / 1e6,
                                                        "%.3gM"),
                  show(v["peer_rps"] and v["peer_rps"] / 1e6, "%.3gM"),
                  show(v["rps_ratio"], "%.2f"), show(v["ours_wall"], "%.3g"),
                  show(v["peer_wall"], "%.3g"), show(v["pov_wall"], "%.3g"),
                  show(v["wall_vs_peer"], "%.2f"), show(v["wall_vs_pov"], "%.2f"),
                  show(v["ours_peak"], "%.0f"), show(v["peer_peak"], "%.0f"),
                  show(v["pov_peak"], "%.0f"), show(v["ours_build"], "%.3g"),
                  show(v["peer_build"], "%.3g"), show(v["build_ratio"], "%.2f")))


if __name__ == "__main__":
    main()
