#!/usr/bin/python3
"""Writes tests/data/euler_conventions.txt: rotation matrices of Euler angles
in the 24 axis conventions, built independently of the library by turning
vectors with Rodrigues' formula, and the text form of each angle triple.

Run with Debian's /usr/bin/python3 from the repository root:
    /usr/bin/python3 tools/make_euler_fixtures.py

Conventions are numbered N = 2k + frame over the axis triples XYZ, XYX, XZX,
XZY, YZX, YZY, YXY, YXZ, ZXY, ZXZ, ZYZ, ZYX; frame 0 turns about axes carried
along by the earlier turns (rotating), frame 1 about the fixed axes (static).
The matrix is built turn by turn: for a static frame each turn is about a
coordinate axis; for a rotating frame about that axis as moved by the turns
made so far.

Format, two lines per case:
    N alpha beta gamma m00 m01 m02 m10 m11 m12 m20 m21 m22   (radians)
    the text form: "Euler" + axis letters + r/s + " = (a,b,g)" in degrees,
    each angle in C's %6.6g.
"""
import math
import numpy as np

TRIPLES = ["XYZ", "XYX", "XZX", "XZY", "YZX", "YZY",
           "YXY", "YXZ", "ZXY", "ZXZ", "ZYZ", "ZYX"]
rng = np.random.default_rng(20261207)


def rodrigues(axis, angle):
    k = axis / np.linalg.norm(axis)
    kx = np.array([[0, -k[2], k[1]], [k[2], 0, -k[0]], [-k[1], k[0], 0]])
    return np.eye(3) + math.sin(angle) * kx + (1 - math.cos(angle)) * kx @ kx


def matrix(n, angles):
    letters, static = TRIPLES[n // 2], n % 2 == 1
    m = np.eye(3)
    for letter, angle in zip(letters, angles):
        axis = np.eye(3)["XYZ".index(letter)]
        if not static:
            axis = m @ axis  # the axis as carried by the turns so far
        m = rodrigues(axis, angle) @ m
    return m


def text(n, angles):
    deg = [a / (math.pi / 180.0) for a in angles]
    frame = "rs"[n % 2]
    return f"Euler{TRIPLES[n // 2]}{frame} = (" + ",".join(f"{d:6.6g}" for d in deg) + ")"


def cases(n):
    proper = TRIPLES[n // 2][0] == TRIPLES[n // 2][2]
    out = []
    for _ in range(6):
        a, g = rng.uniform(-3.1, 3.1, 2)
        b = rng.uniform(0.05, 3.09) if proper else rng.uniform(-1.52, 1.52)
        out.append((a, b, g))
    # Gimbal lock and its neighbourhood, and a few round numbers.
    if proper:
        out += [(0.0, 0.0, 1.2), (0.0, math.pi, -0.7), (0.4, 1e-3, -2.0),
                (-1.0, math.pi - 1e-3, 2.5)]
    else:
        out += [(0.0, math.pi / 2, 1.2), (0.0, -math.pi / 2, -0.7),
                (0.4, math.pi / 2 - 1e-3, -2.0), (-1.0, -math.pi / 2 + 1e-3, 2.5)]
    out += [(0.3, 0.0, -2.5), (0.0, math.pi / 2, math.pi)]
    return out


def main():
    lines = []
    for n in range(24):
        for angles in cases(n):
            m = matrix(n, angles)
            lines.append(" ".join([str(n)] + [repr(float(a)) for a in angles]
                                  + [repr(float(v)) for v in m.flatten()]))
            lines.append(text(n, angles))
    with open("tests/data/euler_conventions.txt", "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
