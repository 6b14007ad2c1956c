"""Shared pieces of the module's tests: the bundled interfaces, the program
(to compare with), and the parsing of its reports."""

import os
import pathlib
import re
import subprocess

import pytest

HERE = pathlib.Path(__file__).resolve().parent
DATA = pathlib.Path(os.environ.get("TARVIX_TEST_DATA", HERE.parent / "data"))
GOLDEN = HERE.parent / "golden"
NAMES = sorted(p.name[:-len(".pdb")] for p in DATA.glob("*.pdb"))
TIME_LINE = re.compile(r"^Running time: .*$", re.M)


def masked(report):
    """A report with its running time masked."""
    return TIME_LINE.sub("Running time: (masked)", report)


def find_program():
    """A function that runs the program in the data folder and returns (exit
    status, stdout); None when TARVIX_BIN does not name the program (ctest
    sets it)."""
    binary = os.environ.get("TARVIX_BIN")
    if not binary or not os.path.exists(binary):
        return None

    def run(args, cwd=DATA):
        p = subprocess.run([binary, *args], cwd=cwd, capture_output=True, text=True, timeout=300)
        return p.returncode, p.stdout

    return run


@pytest.fixture(scope="session")
def program():
    """find_program(), or the test is skipped."""
    run = find_program()
    if run is None:
        pytest.skip("TARVIX_BIN does not name the program")
    return run


def options_of(args):
    """The program's classic arguments as (files, ca, compare keywords)."""
    kw, files, ca = {}, [], False
    words = iter(args)
    for w in words:
        if w == "-t":
            kw["score"] = "tm"
        elif w == "-s":
            kw["sequential"] = False
        elif w == "-q":
            kw["speed"] = int(next(words))
        elif w == "-v":
            kw["detail"] = int(next(words))
        elif w == "-L":
            kw["length"] = int(next(words))
        elif w in ("-a", "-b", "-c"):
            kw["normalize"] = {"-a": "average", "-b": "minimum", "-c": "maximum"}[w]
        elif w in ("-d0", "-dmin"):
            kw[w[1:]] = float(next(words))
        elif w == "-seqd0":
            kw["seqd0"] = True
        elif w == "-ca":
            ca = True
        else:
            files.append(w)
    return files, ca, kw


def read_pair(files, ca, folder=DATA):
    """The two interfaces of a classic command line."""
    import tarvix
    path = lambda f: str(pathlib.Path(folder) / f)
    if ca:
        return tarvix.Interface(path(files[0]), ca=True), tarvix.Interface(path(files[1]), ca=True)
    return (tarvix.Interface(path(files[0]), path(files[2])),
            tarvix.Interface(path(files[1]), path(files[3])))


def report_fields(text):
    """The values a report prints, as strings, by name."""
    f = {}
    m = re.search(r"^(TX|TM)-score =\s*(\S+?)(?:, P-value =\s*(\S+), Z-score =\s*(\S+))?$", text, re.M)
    if m:
        f["score"], f["pvalue"], f["zscore"] = m.group(2), m.group(3), m.group(4)
    for key, pattern in (("aligned", r"aligned residues  =\s*(\d+)"),
                         ("aligned_contacts", r"aligned contacts  =\s*(\d+)"),
                         ("rmsd", r"RMSD =\s*(\S+),"), ("identity", r"Seq identity  =\s*(\S+)"),
                         ("normlen", r"normalization length =\s*(\d+),"), ("d0", r"d0 =\s*(\S+)$"),
                         ("round", r"round =\s*(\d+),"), ("initial", r"initial =\s*(\d+)$")):
        m = re.search(pattern, text, re.M)
        if m:
            f[key] = m.group(1)
    structures = re.findall(r"^Structure [12]: (\S+)\s+Chains (\S) (\S),\s*(\d+) AAs,\s*(\d+) Contacts$",
                            text, re.M)
    for k, (name, c1, c2, length, contacts) in enumerate(structures, 1):
        f[f"name{k}"], f[f"chains{k}"] = name, c1 + c2
        f[f"length{k}"], f[f"contacts{k}"] = length, contacts
    f["motion"] = [line.split()[1:] for line in re.findall(r"^ [123] .*$", text, re.M)]
    f["pairs"] = re.findall(
        r"^\s*\d+\s+(\S)\s+(\S+)\s+(\S{3})\s+(\S)\s+(\S+)\s+(\S{3})\s+(\d+\.\d+)\s", text, re.M)
    return f


def printed(value, text):
    """Whether a value agrees with its printed form to the printed precision."""
    if "E" in text:  # E12.4E3: four significant digits
        return abs(value - float(text)) <= 0.51e-4 * 10 ** int(text.split("E")[1])
    decimals = len(text.split(".")[1]) if "." in text else 0
    return abs(value - float(text)) <= 0.51 * 10 ** -decimals
