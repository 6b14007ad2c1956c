"""Tarvix: compare protein-protein interfaces from Python.

Read each interface once, compare two of them, or search many against many
on several threads; results are values with numpy arrays, and
``to_records`` turns them into rows for pandas.

    import tarvix
    a = tarvix.Interface("1A2K_AB.pdb")            # contacts from 1A2K_AB.contacts
    b = tarvix.Interface("1AZS_AB.pdb", "1AZS_AB.contacts")
    r = tarvix.compare(a, b)
    print(r.score, r.pvalue)
    print(r.report())                              # the program's report

    hits = tarvix.search("query.pdb", "interfaces/", top=10)

Errors from reading or comparing raise ``tarvix.Error`` (the message names the
file, the line and the problem); option values the program refuses raise
ValueError naming the option. Nothing is printed.
"""

import math
import numbers
import os
from collections import namedtuple

from ._core import Error, Interface, Result, __version__, compare, default_threads, to_records
from . import _core

for _name in ("Error", "Interface", "Result", "compare", "default_threads", "to_records"):
    globals()[_name].__module__ = __name__
del _name

__all__ = [
    "Error",
    "Failure",
    "Interface",
    "Result",
    "SearchError",
    "SearchResults",
    "compare",
    "default_threads",
    "search",
    "to_records",
]

Failure = namedtuple("Failure", ["query", "target", "message"])
Failure.__doc__ = """What a search could not do: (query, target, message).

An interface that could not be read has None on the other side; a pair
that could not be compared names both."""


class SearchResults(list):
    """The rows of a search (a list of Result), with ``failures``: a list of
    Failure for the interfaces that could not be read and the pairs that could
    not be compared (empty when everything succeeded)."""

    def __init__(self, results=(), failures=()):
        super().__init__(results)
        self.failures = list(failures)


class SearchError(Error):
    """A search in which some interfaces could not be read or some pairs not be
    compared (with errors="raise"). ``results`` holds everything that did
    succeed (a SearchResults, whose ``failures`` say what went wrong)."""

    def __init__(self, message, results):
        super().__init__(message)
        self.results = results

    @property
    def failures(self):
        """The Failure entries of the search."""
        return self.results.failures


def _inputs(value, what):
    """A list of Interfaces and path strings from an Interface, a path, or an
    iterable of them."""
    if isinstance(value, (Interface, str, bytes, os.PathLike)):
        value = [value]
    try:
        items = list(value)
    except TypeError:
        raise TypeError(f"{what} must be an Interface, a path, or a list of them, "
                        f"not {type(value).__name__}") from None
    out = []
    for item in items:
        if isinstance(item, Interface):
            out.append(item)
        elif isinstance(item, (str, bytes, os.PathLike)):
            out.append(os.fsdecode(item))
        else:
            raise TypeError(f"{what} must hold Interfaces or paths, not {type(item).__name__}")
    return out


def _count(value, name):
    """An optional whole number of at least 1."""
    if value is None:
        return None
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise ValueError(f"{name} must be a whole number of at least 1, not {value!r}")
    if value < 1:
        raise ValueError(f"{name} must be a whole number of at least 1, not {value}")
    return int(value)


def search(queries, targets=None, *, threads=None, top=None, min_score=None, ca=False,
           errors="raise", **options):
    """Compares each query with each target on several threads.

    queries, targets: each an Interface, a path, or a list of them. A path is
      what the program's --search and --targets take: a PDB file (its contacts
      in the .contacts file of the same name), a list file (one PDB path per
      line, optionally followed by its contact path; # starts a comment), or
      a directory (every *.pdb in it, by name). Paths are read on the
      search's threads, each interface once.
      Without targets, each pair of queries is compared once, the earlier one
      as structure 1 (the program's --all-vs-all).
    threads: comparisons in parallel (default: one per processor). The
      results do not depend on it.
    top: keep only the best `top` targets of each query, by score (ties in
      target order, pairs without an alignment last).
    min_score: keep only results with an alignment scoring at least this.
    ca: compute the contacts of the interfaces read from paths from their CA
      coordinates (option -ca); Interfaces given as such are used as read.
    errors: "raise" (default) raises SearchError after the search when an
      interface could not be read or a pair not be compared (the error
      carries the results); "skip" returns the results with the failures
      listed in their ``failures``.
    options: those of tarvix.compare (score, sequential, fast, speed,
      normalize, length, d0, dmin, seqd0, detail), for every comparison.

    Returns a SearchResults (a list of Result) in query order, then target
    order (with top: each query's results by score). Every result kept is
    held in memory: for very large searches keep fewer with top or
    min_score, or write a table with the program's --out. The GIL is released
    while the comparisons run; Ctrl-C stops the search (comparisons under way
    finish first) and raises KeyboardInterrupt.
    """
    if errors not in ("raise", "skip"):
        raise ValueError(f'errors must be "raise" or "skip", not {errors!r}')
    threads = _count(threads, "threads")
    top = _count(top, "top")
    if min_score is not None:
        if isinstance(min_score, bool) or not isinstance(min_score, numbers.Real) \
                or not math.isfinite(min_score):
            raise ValueError(f"min_score must be a number, not {min_score!r}")
        min_score = float(min_score)
    qs = _inputs(queries, "queries")
    ts = None if targets is None else _inputs(targets, "targets")
    out = _core._search(qs, ts, ca=bool(ca), threads=threads or 0, top=top,
                        min_score=min_score, **options)
    results = SearchResults(out["results"], (Failure(*f) for f in out["failures"]))
    if results.failures and errors == "raise":
        message = f"{out['failed']} of {out['pairs']} comparisons failed"
        if out["unreadable"]:
            noun = "interface" if out["unreadable"] == 1 else "interfaces"
            message += f" ({out['unreadable']} {noun} could not be read)"
        first = results.failures[0]
        names = " with ".join(n for n in (first.query, first.target) if n is not None)
        message += f"; first: {names}: {first.message}"
        raise SearchError(message, results)
    return results
