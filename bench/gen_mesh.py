#!/usr/bin/env python3
"""Writes a scene file with a large triangle mesh: a rolling terrain of about
the requested number of triangles, lit by a direction and a point light.

Cells are 0.5 units wide, so |edge1 x edge2| is about 0.25 and every triangle
stays visible to rays with directions of length about 1.

    python3 bench/gen_mesh.py 1000000 mesh-1m.txt
"""

import math
import sys


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: gen_mesh.py TRIANGLES OUTPUT")
    triangles = int(sys.argv[1])
    n = max(1, int(math.sqrt(triangles / 2)))
    cell = 0.5
    half = n * cell / 2

    def height(i, j):
        x, z = i * cell - half, j * cell - half
        return 2.0 * math.sin(x * 0.31) * math.cos(z * 0.27) + 0.6 * math.sin(x * 1.7 + z * 1.3)

    heights = [[height(i, j) for j in range(n + 1)] for i in range(n + 1)]
    with open(sys.argv[2], "w") as out:
        eye = (0.0, half * 0.55 + 5, half * 1.1 + 5)
        out.write("camera\n%g %g %g\n0 0 0\n0 1 0\n50\n" % eye)
        out.write("ambientLight\n0.1 0.1 0.1\n")
        out.write("directionLight\n0.7 0.7 0.6\n0.4 1 0.3\n")
        out.write("pointLight\n%g %g %g\n0 %g 0\n" % ((half * half / 4 + 10,) * 3 + (half / 2 + 4,)))
        out.write("material\n0.4 0.7 0.3\n20\n0.2\n")
        lines = []
        for i in range(n):
            x0, x1 = i * cell - half, (i + 1) * cell - half
            row0, row1 = heights[i], heights[i + 1]
            for j in range(n):
                z0, z1 = j * cell - half, (j + 1) * cell - half
                a = "%.6g %.6g %.6g" % (x0, row0[j], z0)
                b = "%.6g %.6g %.6g" % (x1, row1[j], z0)
                c = "%.6g %.6g %.6g" % (x1, row1[j + 1], z1)
                d = "%.6g %.6g %.6g" % (x0, row0[j + 1], z1)
                lines.append("triangle\n%s\n%s\n%s\n" % (a, d, c))
                lines.append("triangle\n%s\n%s\n%s\n" % (a, c, b))
            if len(lines) > 100000:
                out.write("".join(lines))
                lines = []
        out.write("".join(lines))


if __name__ == "__main__":
    main()
