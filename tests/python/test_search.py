"""search(): the program's search tables, the same results on any number of
threads, top and min_score, inputs of every kind, failures, the GIL and
Ctrl-C."""

import math
import os
import shutil
import signal
import subprocess
import sys
import textwrap
import threading
import time

import pytest

import tarvix
from conftest import DATA, NAMES

SOME = [str(DATA / f"{n}.pdb") for n in NAMES[:9]]


def rows(results):
    """What identifies a result and what it found."""
    return [(r.name1, r.name2, r.score, r.pvalue, r.aligned, r.rmsd, r.round, r.initial) for r in results]


def table(text):
    lines = text.splitlines()
    return lines[0].split("\t"), [line.split("\t") for line in lines[1:]]


def same_row(result, row):
    """A result and the program's table row of the same pair."""
    if result.name1 != row[0] or result.name2 != row[1]:
        return False
    return row[2] != "NA" and abs(result.score - float(row[2])) <= 0.51e-5


@pytest.mark.parametrize("extra,kw", [([], {}), (["--top", "2"], {"top": 2}),
                                      (["--min-score", "0.2", "-s"], {"min_score": 0.2, "sequential": False})])
def test_all_vs_all_equals_the_program(program, tmp_path, extra, kw):
    (tmp_path / "list").write_text("".join(p + "\n" for p in SOME))
    status, out = program(["--all-vs-all", str(tmp_path / "list"), "--threads", "2", "--quiet", *extra])
    assert status == 0
    header, want = table(out)
    got = tarvix.search(str(tmp_path / "list"), threads=2, **kw)
    assert len(got) == len(want) > 0
    assert all(same_row(r, row) for r, row in zip(got, want))
    assert list(tarvix.to_records(got[:1])[0]) == header


def test_search_equals_the_program_and_compare(program):
    status, out = program(["--search", SOME[0], "--targets", str(DATA), "--quiet", "--top", "5", "-t"])
    _, want = table(out)
    got = tarvix.search(SOME[0], DATA, top=5, score="tm")
    assert [r.name2 for r in got] == [row[1] for row in want]
    assert all(same_row(r, row) for r, row in zip(got, want))
    # Each result is what compare() gives for its pair.
    for r in got[:2]:
        c = tarvix.compare(r.interface1, r.interface2, score="tm")
        assert r.report(0.0) == c.report(0.0) and r.seconds > 0


def test_threads_do_not_change_the_results():
    one = tarvix.search(SOME, threads=1)
    two = tarvix.search(SOME, threads=2)
    assert len(one) == len(SOME) * (len(SOME) - 1) // 2
    assert rows(one) == rows(two)
    assert [r.report() for r in one] == [r.report() for r in two]
    assert tarvix.to_records(one) == tarvix.to_records(two)
    # Pair order: query by query, the later interface as target.
    order = [(SOME.index(r.name1), SOME.index(r.name2)) for r in one]
    assert order == sorted(order) and all(q < t for q, t in order)


def test_top_and_min_score_keep_what_the_full_search_ranks_first():
    full = tarvix.search(SOME[:3], SOME, detail=0)
    for top in (1, 4):
        for min_score in (None, 0.2):
            got = tarvix.search(SOME[:3], SOME, top=top, min_score=min_score, detail=0, threads=2)
            want = []
            for q in SOME[:3]:
                mine = [r for r in full if r.name1 == q and (min_score is None or r.score >= min_score)]
                mine.sort(key=lambda r: (-r.score, SOME.index(r.name2)))
                want += mine[:top]
            assert rows(got) == rows(want), (top, min_score)


def test_inputs_of_every_kind(tmp_path):
    """Interfaces, paths, list files with relative paths and contact files,
    directories, and mixtures; ca reads from coordinates."""
    a = tarvix.Interface(SOME[0])
    sub = tmp_path / "sub"
    sub.mkdir()
    for p in SOME[1:4]:
        shutil.copy(p, sub)
        shutil.copy(p[:-4] + ".contacts", sub / ("other_" + os.path.basename(p)[:-4] + ".contacts"))
    (tmp_path / "list").write_text("# three interfaces\n\n" + "".join(
        f"sub/{os.path.basename(p)} sub/other_{os.path.basename(p)[:-4]}.contacts\n" for p in SOME[1:4]))
    from_list = tarvix.search(a, str(tmp_path / "list"))
    from_paths = tarvix.search([a], SOME[1:4])
    assert [r.score for r in from_list] == [r.score for r in from_paths]
    assert [r.name2 for r in from_list] == [str(tmp_path / "sub" / os.path.basename(p)) for p in SOME[1:4]]
    mixed = tarvix.search([SOME[0], a], [tarvix.Interface(SOME[1]), SOME[2]])
    assert [r.score for r in mixed[:2]] == [r.score for r in mixed[2:]]
    ca = tarvix.search(SOME[0], SOME[1], ca=True)
    assert ca[0].report(0) == tarvix.compare(tarvix.Interface(SOME[0], ca=True),
                                             tarvix.Interface(SOME[1], ca=True)).report(0)
    assert tarvix.search([], SOME) == [] and tarvix.search(SOME[0]) == []


def test_failures_are_reported_with_what_succeeded(tmp_path):
    for p in SOME[:3]:
        shutil.copy(p, tmp_path)
        shutil.copy(p[:-4] + ".contacts", tmp_path)
    (tmp_path / "0BAD.pdb").write_text("ATOM  xxxxx  CA  ALA A   1       1.000   1.000   1.000  1.00  0.00\n")
    (tmp_path / "0BAD.contacts").write_text("")
    with pytest.raises(tarvix.SearchError) as e:
        tarvix.search(tmp_path, threads=2)
    assert "3 of 6 comparisons failed (1 interface could not be read)" in str(e.value)
    assert [f.query for f in e.value.failures] == [str(tmp_path / "0BAD.pdb")]
    assert "atom serial number" in e.value.failures[0].message
    assert len(e.value.results) == 3 and isinstance(e.value, tarvix.Error)
    kept = tarvix.search(tmp_path, errors="skip")
    assert rows(kept) == rows(e.value.results) and len(kept.failures) == 1

    # A pair that cannot be compared names both interfaces.
    few = tarvix.Interface(SOME[0], str(tmp_path / "0BAD.contacts"))
    kept = tarvix.search(few, SOME[:2], errors="skip")
    assert kept == [] and [(f.query, f.target) for f in kept.failures] == [(SOME[0], SOME[0]), (SOME[0], SOME[1])]
    assert "number of contacts is too small" in kept.failures[0].message
    with pytest.raises(tarvix.Error, match="cannot open .*nothing"):
        tarvix.search(str(tmp_path / "nothing"), SOME)


@pytest.mark.parametrize("kw,error", [({"threads": 0}, ValueError), ({"threads": 1.5}, ValueError),
                                      ({"top": 0}, ValueError), ({"top": True}, ValueError),
                                      ({"min_score": math.nan}, ValueError), ({"errors": "ignore"}, ValueError),
                                      ({"speed": 7}, ValueError), ({"targets": 3}, TypeError),
                                      ({"targets": [None]}, TypeError)])
def test_refused_arguments(kw, error):
    with pytest.raises(error):
        tarvix.search(SOME[0], **{"targets": SOME[1], **kw})


def test_other_threads_run_during_a_search():
    """The GIL is released while comparisons run: a Python thread ticking
    every millisecond keeps ticking."""
    ticks = []
    stop = threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(time.monotonic())
            time.sleep(0.001)

    t = threading.Thread(target=tick)
    t.start()
    try:
        start = time.monotonic()
        tarvix.search(SOME[:7], threads=1, sequential=False)
        end = time.monotonic()
    finally:
        stop.set()
        t.join()
    during = [x for x in ticks if start < x < end]
    assert end - start > 0.2
    # Held for the whole search, the GIL would allow no tick at all; a few
    # per wake-up of the search's signal watch (every 50 ms) are not enough.
    assert len(during) >= (end - start) / 0.01


def test_ctrl_c_stops_a_long_search():
    script = textwrap.dedent(f"""
        import signal, sys, time, tarvix
        signal.signal(signal.SIGINT, signal.default_int_handler)
        print("go", flush=True)
        try:
            tarvix.search([{str(DATA)!r}] * 6, threads=2, sequential=False)
        except KeyboardInterrupt:
            print("interrupted", flush=True)
            sys.exit(3)
        print("finished", flush=True)
    """)
    p = subprocess.Popen([sys.executable, "-c", script], stdout=subprocess.PIPE, text=True)
    try:
        assert p.stdout.readline() == "go\n"
        time.sleep(1.0)
        sent = time.monotonic()
        p.send_signal(signal.SIGINT)
        assert p.wait(timeout=20) == 3
        assert time.monotonic() - sent < 3
        assert p.stdout.read() == "interrupted\n"
    finally:
        p.kill()
        p.wait()
