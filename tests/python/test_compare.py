"""compare() against the program: reports byte for byte, every field of a
Result the value the report prints, the same option refusals, errors as
exceptions and nothing printed."""

import math
import pathlib
import shutil

import numpy as np
import pytest

import tarvix
from conftest import DATA, GOLDEN, NAMES, find_program, masked, options_of, printed, read_pair, report_fields

OPTION_SETS = [[], ["-t"], ["-s"], ["-s", "-t", "-v", "0"], ["-ca", "-s"], ["-q", "2", "-v", "2"],
               ["-a", "-d0", "3.5"], ["-L", "40", "-seqd0", "-s"], ["-dmin", "1.0", "-t", "-c"],
               ["-q", "0", "-b"]]
# Every fourth interface against the next one.
PAIRS = [(NAMES[k], NAMES[(k + 1) % len(NAMES)]) for k in range(0, len(NAMES), 4)]


def golden_cases():
    for line in (GOLDEN / "cases.txt").read_text().splitlines():
        if line and not line.startswith("#"):
            name, args = line.split("\t")
            yield pytest.param(name, args.split(), id=name)


def check_fields(r, text):
    """Every value of r against the report text that prints it."""
    f = report_fields(text)
    assert (pathlib.Path(r.name1).name, pathlib.Path(r.name2).name) == (f["name1"], f["name2"])
    assert (r.chains1, r.chains2) == (f["chains1"], f["chains2"])
    assert (r.length1, r.length2) == (int(f["length1"]), int(f["length2"]))
    assert (r.contacts1, r.contacts2) == (int(f["contacts1"]), int(f["contacts2"]))
    assert (r.contacts1, r.contacts2) == (r.interface1.contact_count, r.interface2.contact_count)
    assert r.significant == ("score" in f)
    if not r.significant:
        assert "No significant alignment found!" in text
        assert r.score is r.rmsd is r.rotation is r.pvalue is r.round is None
        assert len(r.pairs) == 0
        return
    assert printed(r.score, f["score"])
    if f["pvalue"] is None:
        assert r.pvalue is None and r.zscore is None
    else:
        assert printed(r.pvalue, f["pvalue"]) and printed(r.zscore, f["zscore"])
    assert r.aligned == int(f["aligned"]) and r.aligned_contacts == int(f["aligned_contacts"])
    assert printed(r.rmsd, f["rmsd"]) and printed(r.identity, f["identity"])
    assert math.floor(r.normlen + 0.5) == int(f["normlen"]) and printed(r.d0, f["d0"])
    assert (r.round, r.initial) == (int(f["round"]), int(f["initial"]))
    assert r.rotation.shape == (3, 3) and r.translation.shape == (3,)
    for i, (t, *row) in enumerate(f["motion"]):
        assert printed(r.translation[i], t)
        assert all(printed(r.rotation[i, j], row[j]) for j in range(3))
    if f["pairs"]:  # the table of -v 2
        got = [(p["chain1"], p["number1"], p["name1"], p["chain2"], p["number2"], p["name2"])
               for p in r.pairs]
        assert got == [row[:6] for row in f["pairs"]]
        assert all(printed(d, row[6]) for d, row in zip(r.pairs["distance"], f["pairs"]))


@pytest.mark.parametrize("name,args", golden_cases())
def test_stored_reports(name, args):
    """The stored reports of the program (tests/golden), byte for byte."""
    files, ca, kw = options_of(args)
    a, b = read_pair(files, ca)
    r = tarvix.compare(a, b, **kw)
    want = (GOLDEN / f"{name}.out").read_text()
    assert masked(r.report(running_time=0.0)) == want
    check_fields(r, want)


@pytest.mark.parametrize("options", OPTION_SETS, ids=lambda o: " ".join(o) or "defaults")
def test_program_reports(program, options):
    """Pairs of the bundled interfaces under each option set: the report of
    the program and of the module, and the fields of the Result."""
    files, ca, kw = options_of(options)
    for n1, n2 in PAIRS:
        args = [*options, f"{n1}.pdb", f"{n2}.pdb"] + ([] if ca else [f"{n1}.contacts", f"{n2}.contacts"])
        status, out = program(args)
        assert status == 0, out
        a, b = read_pair(args[len(options):], ca)
        r = tarvix.compare(a, b, **kw)
        assert masked(r.report(running_time=r.seconds)) == masked(out), (n1, n2)
        check_fields(r, out)


def test_pairs_lie_where_the_motion_puts_them():
    """The aligned pairs' positions, the rotation and the translation fit
    together: moving structure 1 gives the stated distances (the best round
    reorders chains, the positions are those of the files)."""
    for n1, n2 in PAIRS + [("1GPW_AB", "1R6Q_AB")]:
        for kw in ({}, {"sequential": False}):
            a, b = tarvix.Interface(str(DATA / f"{n1}.pdb")), tarvix.Interface(str(DATA / f"{n2}.pdb"))
            r = tarvix.compare(a, b, **kw)
            p = r.pairs
            moved = a.ca[p["index1"]] @ r.rotation.T + r.translation
            assert np.allclose(np.linalg.norm(moved - b.ca[p["index2"]], axis=1), p["distance"], atol=1e-9)
            assert list(p["name1"]) == list(a.names[p["index1"]])
            assert list(p["number2"]) == list(b.numbers[p["index2"]])
            assert list(p["chain1"]) == list(a.chains[p["index1"]])


def test_short_pair_and_no_alignment(program, tmp_path):
    """A pair under 15 residues warns and has no P-value; a pair with no
    alignment has no values, as in the program's report."""
    status, out = program(["1M27_AB.pdb", "1KTZ_AB.pdb", "1M27_AB.contacts", "1KTZ_AB.contacts"])
    r = tarvix.compare(tarvix.Interface(str(DATA / "1M27_AB.pdb")), tarvix.Interface(str(DATA / "1KTZ_AB.pdb")))
    assert r.pvalue is None and r.score is not None
    assert r.warnings == ["Warning: a minimum of 15 residues is required for p-value calculations. "
                          "P-value not caculated!"]
    assert masked(r.report(0.0)) == masked(out)

    # Interface 1A2K spread twenty times wider: nothing lies close after any superposition.
    lines = []
    for line in (DATA / "1A2K_AB.pdb").read_text().splitlines(keepends=True):
        if line.startswith("ATOM"):
            xyz = "".join(f"{float(line[c:c + 8]) * 20:8.3f}" for c in (30, 38, 46))
            line = line[:30] + xyz + line[54:]
        lines.append(line)
    (tmp_path / "wide.pdb").write_text("".join(lines))
    shutil.copy(DATA / "1A2K_AB.contacts", tmp_path / "wide.contacts")
    args = [str(DATA / "1AZS_AB.pdb"), str(tmp_path / "wide.pdb"), str(DATA / "1AZS_AB.contacts"),
            str(tmp_path / "wide.contacts")]
    status, out = program(args)
    r = tarvix.compare(*read_pair(args, False, folder="/"))
    assert not r.significant and r.report(1.0) == out
    check_fields(r, out)
    rec = tarvix.to_records([r])[0]
    assert rec["score"] is None and rec["round"] is None and rec["length2"] == 27


# Keywords the module refuses, the option each names, and the program's
# arguments that it refuses alike (None: no such command line).
REFUSED = [
    ({"length": 0}, "length", "-L", ["-L", "0"]),
    ({"length": -3}, "length", "-L", ["-L", "-3"]),
    ({"d0": 0.0}, "d0", "-d0", ["-d0", "0"]),
    ({"d0": float("nan")}, "d0", "-d0", ["-d0", "nan"]),
    ({"dmin": -1}, "dmin", "-dmin", ["-dmin", "-1"]),
    ({"dmin": float("inf")}, "dmin", "-dmin", ["-dmin", "inf"]),
    ({"detail": 3}, "detail", "-v", ["-v", "3"]),
    ({"speed": -1}, "speed", "-q", ["-q", "-1"]),
    ({"speed": 1, "fast": True}, "fast", "-q", None),
    ({"score": "rmsd"}, "score", "-t", None),
    ({"normalize": "shortest"}, "normalize", "-a", None),
]


@pytest.mark.parametrize("kw,name,option,args", REFUSED, ids=[str(r[0]) for r in REFUSED])
def test_refused_options(kw, name, option, args):
    """What the program refuses, the module refuses, naming the option."""
    a = tarvix.Interface(str(DATA / "1A2K_AB.pdb"))
    with pytest.raises(ValueError) as e:
        tarvix.compare(a, a, **kw)
    assert name in str(e.value) and option in str(e.value)
    with pytest.raises(ValueError):
        tarvix.search(a, a, **kw)
    program = find_program()
    if args and program:
        status, _ = program([*args, "1A2K_AB.pdb", "1AZS_AB.pdb", "1A2K_AB.contacts", "1AZS_AB.contacts"])
        assert status == 2


def test_option_types():
    """Wrong types are refused, not taken as true or false; fast is speed 2."""
    a = tarvix.Interface(str(DATA / "1A2K_AB.pdb"))
    b = tarvix.Interface(str(DATA / "1AZS_AB.pdb"))
    for kw in ({"sequential": "no"}, {"fast": 1}, {"seqd0": "yes"}, {"length": 40.5}, {"colour": 1}):
        with pytest.raises(TypeError):
            tarvix.compare(a, b, **kw)
    with pytest.raises(TypeError):
        tarvix.compare(a, "1AZS_AB.pdb")
    assert tarvix.compare(a, b, fast=True).report(0) == tarvix.compare(a, b, speed=2).report(0)
    assert tarvix.compare(a, b, score="TM").report(0) == tarvix.compare(a, b, score="tm").report(0)


def broken(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    return str(path)


def test_errors_are_exceptions_and_nothing_prints(tmp_path, capfd):
    pdb = str(DATA / "1A2K_AB.pdb")
    with pytest.raises(tarvix.Error, match=r'cannot open the PDB file ".*missing\.pdb"'):
        tarvix.Interface(str(tmp_path / "missing.pdb"))
    with pytest.raises(tarvix.Error, match=r"cannot open the contact file"):
        tarvix.Interface(pdb, str(tmp_path / "missing.contacts"))
    bad = broken(tmp_path, "bad.contacts", "RES  1 2 5 x\n")
    with pytest.raises(tarvix.Error, match=r'cannot read a contact partner "x" in line 1 of .*bad\.contacts'):
        tarvix.Interface(pdb, bad)
    far = broken(tmp_path, "far.contacts", "RES  1 1 5\nRES  900 1 5\n")
    with pytest.raises(tarvix.Error, match=r"residue index 900 is outside 1\.\.27 in line 2"):
        tarvix.Interface(pdb, far)
    with pytest.raises(ValueError, match="ca=True"):
        tarvix.Interface(pdb, str(DATA / "1A2K_AB.contacts"), ca=True)
    assert issubclass(tarvix.Error, RuntimeError)

    # Too few contacts, too short: the pair cannot be compared.
    few = tarvix.Interface(pdb, broken(tmp_path, "few.contacts", "RES  1 1 20\n"))
    with pytest.raises(tarvix.Error, match="the number of contacts is too small"):
        tarvix.compare(few, few)
    atoms = [l for l in open(pdb) if l.startswith("ATOM") and l[12:16] == " CA "][:5]
    short = broken(tmp_path, "short.pdb", "".join(atoms) + "TER\n")
    with pytest.raises(tarvix.Error, match="minimum length of a structure is six residues"):
        r = tarvix.Interface(short, broken(tmp_path, "short.contacts", ""))
        tarvix.compare(r, r)
    assert capfd.readouterr() == ("", "")


def test_report_starts_with_the_readers_warnings(program, tmp_path, capfd):
    """More residues than the readers keep: the warning belongs to the
    interface, is not printed, and starts every report of it as in the
    program's output."""
    def atom(chain, k, x, y):
        return f"ATOM  {k % 100000:5d}  CA  ALA {chain}{k % 10000:4d}    {x:8.3f}{y:8.3f}{1:8.3f}  1.00  0.00\n"
    # Two chains of ten residues that touch, then residues of no chain far away.
    text = "".join(atom("A", k, k * 3.8, 1.5 * (k % 2)) for k in range(10)) + "TER\n" + \
        "".join(atom("B", k, k * 3.8, 6 + 1.5 * (k % 3)) for k in range(10)) + "TER\n" + \
        "".join(atom("C", k, 1000 + k * 3.8, 0) for k in range(4990))
    path = broken(tmp_path, "big.pdb", text)
    big = tarvix.Interface(path, ca=True)
    warning = "Warning: total number of residues beyond        5000"
    assert big.warnings == [warning] and big.length == 20
    r = tarvix.compare(big, big)
    assert r.warnings[:2] == [warning, warning]
    status, out = program(["-ca", path, path])
    assert status == 0 and out.startswith(" " + warning + "\n")
    assert masked(r.report(r.seconds)) == masked(out)
    assert capfd.readouterr() == ("", "")
