"""The command line shared by the fixture scripts that write whole files.

Without arguments the fixtures are written into tests/data; with --check they
are made in a scratch folder and compared byte for byte with those in
tests/data, and the exit status says whether they are current. The scripts
read their inputs from tests/data too (DATA), so they run from any checkout.
"""
import os
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data")


def _same(made, committed):
    if not os.path.exists(committed):
        return False
    with open(made, "rb") as a, open(committed, "rb") as b:
        return a.read() == b.read()


def main(make_all, argv=None, other_modes=()):
    """Writes or checks the fixtures; other_modes are the usage lines of the
    script's own further arguments, handled before this is called."""
    argv = sys.argv[1:] if argv is None else argv
    if argv not in ([], ["--check"]):
        script = "tools/" + os.path.basename(sys.argv[0])
        modes = ["[--check]"] + list(other_modes)
        sys.exit("usage: " + "\n       ".join("/usr/bin/python3 %s %s" % (script, m) for m in modes))
    if argv == ["--check"]:
        with tempfile.TemporaryDirectory() as tmp:
            make_all(tmp)
            stale = [f for f in sorted(os.listdir(tmp))
                     if not _same(os.path.join(tmp, f), os.path.join(DATA, f))]
        print("stale: " + " ".join(stale) if stale else "fixtures are current")
        sys.exit(1 if stale else 0)
    make_all(DATA)
