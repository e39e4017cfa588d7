#!/usr/bin/python3
"""Writes tests/data/matrix_fixtures.txt: linear systems with their solutions,
symmetric matrices with their eigen-decompositions, and symmetric
positive-definite 3x3 matrices with their principal square roots, all
computed independently with numpy and scipy.

Run with Debian's /usr/bin/python3 from the repository root:
    /usr/bin/python3 tools/make_matrix_fixtures.py

Format, one record per block, numbers in full double precision:
    solve n      then n rows of A, one line b, one line x   (A x = b)
    eigen n      then n rows of A, one line of ascending eigenvalues,
                 n rows of the eigenvector matrix (column k for value k)
    sqrt         then 3 rows of A, 3 rows of its symmetric square root
"""
import numpy as np
import scipy.linalg

rng = np.random.default_rng(20261206)


def row(values):
    return " ".join(repr(float(v)) for v in values)


def solve_block(n):
    a = rng.uniform(-5.0, 5.0, (n, n))
    b = rng.uniform(-10.0, 10.0, n)
    x = np.linalg.solve(a, b)
    return [f"solve {n}"] + [row(r) for r in a] + [row(b), row(x)]


def eigen_block(n):
    # Well-separated eigenvalues, so eigenvectors are defined up to sign.
    q, _ = np.linalg.qr(rng.normal(size=(n, n)))
    values = np.sort(rng.uniform(-10.0, 10.0, n))
    while n > 1 and np.min(np.diff(values)) < 0.5:
        values = np.sort(rng.uniform(-10.0, 10.0, n))
    a = q @ np.diag(values) @ q.T
    a = 0.5 * (a + a.T)
    w, v = np.linalg.eigh(a)
    return [f"eigen {n}"] + [row(r) for r in a] + [row(w)] + [row(r) for r in v]


def sqrt_block():
    m = rng.uniform(-1.0, 1.0, (3, 3))
    a = m @ m.T + 0.1 * np.eye(3)
    s = np.real(scipy.linalg.sqrtm(a))
    return ["sqrt"] + [row(r) for r in a] + [row(r) for r in s]


def main():
    lines = []
    for n in (1, 2, 3, 4, 6, 10):
        lines += solve_block(n)
    for n in (2, 3, 4, 5, 8):
        lines += eigen_block(n)
    for _ in range(4):
        lines += sqrt_block()
    with open("tests/data/matrix_fixtures.txt", "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
