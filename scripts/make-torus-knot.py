#!/usr/bin/env python3
"""Writes scenes/meshes/torus-knot.obj: a tube along a (2,3) torus knot, made
of quads so that scenetool import has polygons to split into triangles.

Usage: scripts/make-torus-knot.py > scenes/meshes/torus-knot.obj
"""
import math

SEGMENTS = 96  # along the knot
SIDES = 8  # around the tube
TUBE = 0.38


def knot(t):
    r = 2.0 + 0.9 * math.cos(3 * t)
    return (r * math.cos(2 * t), r * math.sin(2 * t), 0.9 * math.sin(3 * t))


def sub(a, b):
    return tuple(x - y for x, y in zip(a, b))


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def normalize(a):
    n = math.sqrt(sum(x * x for x in a))
    return tuple(x / n for x in a)


print("# A tube along a (2,3) torus knot: %d x %d quads, each counter-clockwise" % (SEGMENTS, SIDES))
print("# seen from outside. Made by scripts/make-torus-knot.py.")
print("o torus-knot")
h = 1e-4
for i in range(SEGMENTS):
    t = 2 * math.pi * i / SEGMENTS
    p = knot(t)
    tangent = normalize(sub(knot(t + h), knot(t - h)))
    bend = sub(sub(knot(t + h), p), sub(p, knot(t - h)))
    binormal = normalize(cross(tangent, bend))
    normal = cross(binormal, tangent)
    for j in range(SIDES):
        a = 2 * math.pi * j / SIDES
        c, s = math.cos(a) * TUBE, math.sin(a) * TUBE
        v = tuple(p[k] + c * normal[k] + s * binormal[k] for k in range(3))
        print("v %.5f %.5f %.5f" % v)
print("s off")
for i in range(SEGMENTS):
    for j in range(SIDES):
        def index(ii, jj):
            return (ii % SEGMENTS) * SIDES + (jj % SIDES) + 1
        print("f %d %d %d %d" % (index(i, j), index(i, j + 1), index(i + 1, j + 1), index(i + 1, j)))
