"""Interfaces: the arrays against the files read independently, read-only
views that keep their owner alive."""

import gc
import shutil

import numpy as np
import pytest

import tarvix
from conftest import DATA, NAMES


def parse_pdb(path):
    """CA atoms and chain ends of a PDB file, read here by columns."""
    rows, ends = [], []
    for line in open(path):
        if line.startswith("TER"):
            ends.append(len(rows))
        elif line.startswith("ATOM") and line[12:16].strip() == "CA" and line[16] in " A1":
            rows.append((line[21], line[22:27].strip(), line[17:20],
                         [float(line[c:c + 8]) for c in (30, 38, 46)], round(float(line[54:60]))))
    return rows, ends


@pytest.mark.parametrize("name", NAMES[::5])
def test_arrays_match_the_files(name):
    f = tarvix.Interface(str(DATA / f"{name}.pdb"))
    rows, ends = parse_pdb(DATA / f"{name}.pdb")
    assert f.length == len(f) == len(rows) and f.name.endswith(f"{name}.pdb")
    assert list(f.chains) == [r[0] for r in rows]
    assert f.chain_ids == (rows[0][0], rows[-1][0])
    assert list(f.numbers) == [r[1] for r in rows]
    assert list(f.names) == [r[2] for r in rows]
    assert np.array_equal(f.ca, np.array([r[3] for r in rows]))
    assert list(f.secondary) == [r[4] for r in rows]
    assert list(f.sides) == [1] * ends[0] + [2] * (len(rows) - ends[0])
    assert len(f.sequence) == f.length and set(f.sequence) <= set("ACDEFGHIKLMNPQRSTVWYX")

    listed = []
    for line in open(DATA / f"{name}.contacts"):
        if line.startswith("RES  "):
            i, n, *partners = (int(w) for w in line.replace(",", " ").split()[1:])
            listed += [(i - 1, p - 1) for p in partners[:n]]
    assert sorted(map(tuple, f.contacts.tolist())) == sorted(listed)
    assert f.contact_count == int(np.sum(f.sides[f.contacts[:, 0]] == 1))


def test_contacts_from_coordinates():
    """ca=True: contacts are CA pairs of the two sides closer than 8.5 A, and
    only residues with contacts are kept."""
    f = tarvix.Interface(str(DATA / "1BGX_AB.pdb"), ca=True)
    c = f.contacts
    assert len(c) > 0 and np.all(f.sides[c[:, 0]] != f.sides[c[:, 1]])
    assert np.all(np.linalg.norm(f.ca[c[:, 0]] - f.ca[c[:, 1]], axis=1) < 8.5)
    assert set(range(f.length)) == set(c[:, 0].tolist())
    side = f.sides == 1
    d = np.linalg.norm(f.ca[side][:, None, :] - f.ca[~side][None, :, :], axis=2)
    assert len(c) == 2 * int(np.sum(d < 8.5))


def test_views_are_read_only_and_keep_their_owner():
    f = tarvix.Interface(str(DATA / "1A2K_AB.pdb"))
    for array in (f.ca, f.sides, f.secondary, f.contacts):
        assert not array.flags.writeable
        with pytest.raises(ValueError):
            array[0] = 0
    # Views, not copies: two reads share the interface's memory.
    assert np.shares_memory(f.ca, f.ca) and f.ca.base is not None
    first = f.ca[0].copy()
    ca = tarvix.Interface(str(DATA / "1A2K_AB.pdb")).ca
    r = tarvix.compare(f, f)
    rotation, translation = r.rotation, r.translation
    del f, r
    gc.collect()
    # Other work reuses freed memory; the views must still hold their data.
    junk = [tarvix.Interface(str(DATA / f"{n}.pdb")) for n in NAMES[:8]]
    assert np.array_equal(ca[0], first) and ca.shape == (27, 3)
    assert np.allclose(rotation, np.eye(3)) and np.allclose(translation, 0)
    assert not rotation.flags.writeable
    del junk


def test_paths_and_names(tmp_path):
    """Path objects are taken; the contact file defaults to the PDB's
    .contacts; an Interface is the same wherever it goes."""
    a = tarvix.Interface(DATA / "1AZS_AB.pdb")
    b = tarvix.Interface(DATA / "1AZS_AB.pdb", DATA / "1AZS_AB.contacts")
    assert np.array_equal(a.contacts, b.contacts) and a.name == str(DATA / "1AZS_AB.pdb")
    assert "1AZS_AB.pdb" in repr(a) and "34 residues" in repr(a)
    for name in tarvix.__all__:
        assert getattr(tarvix, name).__doc__, name


def test_interface_from_a_complex_equals_its_interface_files():
    """A complex cut by the library compares as its bundled interface files do."""
    if shutil.which("mkdssp") is None:
        pytest.skip("mkdssp not installed")
    cut = tarvix.Interface.from_complex(DATA / "complexes" / "7CEI.pdb.gz", "A", "B")
    files = tarvix.Interface(DATA / "7CEI_AB.pdb", DATA / "7CEI_AB.contacts")
    assert cut.name.endswith("7CEI.pdb.gz:A:B")
    assert len(cut) == len(files)
    np.testing.assert_array_equal(cut.ca, files.ca)
    other = tarvix.Interface(DATA / "2I25_AB.pdb", DATA / "2I25_AB.contacts")
    a, b = tarvix.compare(cut, other), tarvix.compare(files, other)
    assert (a.score, a.pvalue, a.aligned, a.rmsd) == (b.score, b.pvalue, b.aligned, b.rmsd)
    with pytest.raises(ValueError, match="--ss"):
        tarvix.Interface.from_complex(DATA / "complexes" / "7CEI.pdb.gz", ss="stride")
    with pytest.raises(tarvix.Error, match="Z"):
        tarvix.Interface.from_complex(DATA / "complexes" / "7CEI.pdb.gz", "Z")
