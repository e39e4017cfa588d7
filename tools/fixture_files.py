"""The command line shared by the fixture scripts that write whole files.

Without arguments the fixtures are written into tests/data; with --check they
are made in a scratch folder and compared byte for byte with those in
tests/data, and the exit status says whether they are current.
"""
import os
import sys
import tempfile

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data")


def main(make_all, argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv == ["--check"]:
        with tempfile.TemporaryDirectory() as tmp:
            make_all(tmp)
            stale = [f for f in sorted(os.listdir(tmp))
                     if open(os.path.join(tmp, f), "rb").read() != open(os.path.join(DATA, f), "rb").read()]
        print("stale: " + " ".join(stale) if stale else "fixtures are current")
        sys.exit(1 if stale else 0)
    make_all(DATA)
