"""The workflow's pieces: blocks of the pair matrix, interface names as Tarvix
writes them, a shard's checks of Tarvix's table, and the merge.

Run by ctest; TARVIX_BIN names the program (the naming tests need it)."""

import itertools
import math
import os
import random
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
DATA = os.path.join(SOURCE, "tests", "data")
sys.path.insert(0, os.path.join(SOURCE, "workflow", "scripts"))
import tarvix_shards as ts  # noqa: E402
import tempdir  # noqa: E402  (beside this file)

TARVIX = os.environ.get("TARVIX_BIN", "")


class TempDir(tempdir.TempDir):
    prefix = "tarvix_shards_"


class Plan(unittest.TestCase):
    def test_blocks_hold_every_pair_once_within_the_size(self):
        cases = [(n, n, True, s) for n in (1, 2, 5, 17, 32) for s in (1, 3, 10, 64, 1000)]
        cases += [(nq, nt, False, s) for nq, nt in ((1, 40), (5, 32), (40, 1), (9, 13), (0, 4))
                  for s in (1, 7, 40, 200)]
        for nq, nt, tri, size in cases:
            with self.subTest(nq=nq, nt=nt, triangle=tri, size=size):
                blocks = ts.plan(nq, nt, tri, size)
                seen = []
                for q0, q1, t0, t1 in blocks:
                    pairs = [(q, t) for q in range(q0, q1) for t in range(t0, t1) if not tri or t > q]
                    self.assertTrue(0 < len(pairs) <= size)
                    self.assertEqual(len(pairs), ts.pair_count((q0, q1, t0, t1), tri))
                    seen += pairs
                want = [(q, t) for q in range(nq) for t in range(nt) if not tri or t > q]
                self.assertEqual(sorted(seen), want)
                self.assertEqual(len(seen), len(set(seen)))

    def test_blocks_are_few(self):
        # A single query's search is cut along the targets only; an
        # all-vs-all into squares, so a block reads few interfaces.
        self.assertEqual(ts.plan(1, 100, False, 30), [(0, 1, 0, 30), (0, 1, 30, 60), (0, 1, 60, 90),
                                                      (0, 1, 90, 100)])
        self.assertEqual(len(ts.plan(10000, 10000, True, 250000)), 20 * 21 // 2)
        self.assertEqual(ts.plan(4, 4, False, 100), [(0, 4, 0, 4)])


@unittest.skipUnless(TARVIX, "TARVIX_BIN not set")
class Names(TempDir):
    def tarvix_names(self, arg, ca):
        out = subprocess.run([TARVIX, "--search", arg, "--targets", os.path.join(DATA, "1A2K_AB.pdb"),
                              "--threads", "1", "--quiet", "-q", "2"] + (["-ca"] if ca else []),
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, check=False).stdout
        return [line.split("\t")[0] for line in out.splitlines()[1:]]

    def test_names_are_those_of_the_table(self):
        os.makedirs(self.path("sub", "deep"))
        for name, where in (("1AZS_AB", "sub"), ("1CGI_AB", "sub/deep"), ("7CEI_AB", "")):
            for ext in (".pdb", ".contacts"):
                shutil.copy(os.path.join(DATA, name + ext), self.path(where, name + ext))
        shutil.copy(os.path.join(DATA, "1BGX_AB.pdb"), self.path("sub", "1BGX.PDB"))
        shutil.copy(os.path.join(DATA, "1BGX_AB.contacts"), self.path("sub", "1BGX.contacts"))
        self.write("sub/notes.txt", "not an interface\n")
        listed = self.write("sub/list", "# a comment\n\n./1AZS_AB.pdb\n"
                            "deep/../deep/1CGI_AB.pdb\t deep/1CGI_AB.contacts\r\n"
                            "../7CEI_AB.pdb\n" + self.path("sub", "1AZS_AB.pdb") + "\n/" + self.path("7CEI_AB.pdb") + "\n")
        cwd = os.getcwd()
        self.addCleanup(os.chdir, cwd)
        os.chdir(self.dir)
        for arg, ca in ((listed, False), ("sub/list", True), ("sub", False), ("sub/", True),
                        ("./sub/deep/1CGI_AB.pdb", False), ("sub/deep/", False)):
            with self.subTest(arg=arg, ca=ca):
                names = [n for n, _ in ts.read_names(arg, ca)]
                self.assertEqual(names, self.tarvix_names(arg, ca))
                self.assertGreater(len(names), 0)

    def test_one_name_for_two_interfaces_is_refused(self):
        twice = self.write("twice", f"{DATA}/1A2K_AB.pdb\n{DATA}/1A2K_AB.pdb {DATA}/1AZS_AB.contacts\n")
        with self.assertRaisesRegex(ts.ConfigError, "twice with different contact files"):
            ts.Job({"all_vs_all": twice})
        # The same interface twice is two rows of the same values: allowed.
        self.write("same", f"{DATA}/1A2K_AB.pdb\n{DATA}/1A2K_AB.pdb {DATA}/1A2K_AB.contacts\n")
        self.assertEqual(len(ts.Job({"all_vs_all": self.path("same")}).queries), 2)
        self.assertEqual(len(ts.Job({"all_vs_all": twice, "options": "-ca"}).queries), 2)


class Configuration(unittest.TestCase):
    def test_misuse_is_refused(self):
        for config, message in (
                ({}, "either all_vs_all"),
                ({"all_vs_all": DATA, "search": DATA, "targets": DATA}, "either all_vs_all"),
                ({"search": DATA}, "either all_vs_all"),
                ({"all_vs_all": DATA, "options": "-q 2 --top 3"}, "classic options only"),
                ({"all_vs_all": DATA, "format": "csv"}, "tsv or json"),
                ({"all_vs_all": DATA, "top": 0}, "top must be"),
                ({"all_vs_all": DATA, "shard_size": "many"}, "shard_size must be"),
                ({"all_vs_all": DATA, "min_score": "high"}, "min_score must be"),
                ({"all_vs_all": os.path.join(DATA, "absent.list")}, "cannot open")):
            with self.subTest(config=config):
                with self.assertRaisesRegex(ts.ConfigError, message):
                    ts.Job(config)


FAKE = """import os, sys
a = sys.argv[1:]
out = a[a.index("--out") + 1]
mode = os.environ["FAKE_MODE"]
header = os.environ["FAKE_HEADER"]
row = "q\\tt\\t0.50000" + "\\t1" * 12 + "\\n"
with open(out, "w") as f:
    f.write(header + row * (4 if mode in ("ok", "short") else 3))
    if mode == "cut":
        f.write("q\\tt\\t0.5")
sys.stderr.write({"failed": "Error: comparing q with t: too short\\n1 of 4 comparisons failed\\n",
                  "fatal": "Error: cannot write the table (disk full?)\\n",
                  "wrongcount": "1 of 5 comparisons failed\\n"}.get(mode, ""))
if mode == "crash":
    os.kill(os.getpid(), 9)
sys.exit({"failed": 1, "fatal": 1, "wrongcount": 1}.get(mode, 0))
"""


class Shard(TempDir):
    def run_fake(self, mode, pairs=4):
        fake = self.write("fake.py", FAKE)
        os.environ.update(FAKE_MODE=mode, FAKE_HEADER=ts.TSV_HEADER)
        table, messages = self.path("out", "s.tsv"), self.path("out", "s.messages")
        try:
            return ts.run_shard([sys.executable, fake], (0, 2, 0, 2), pairs, "tsv", table, messages)
        finally:
            left = sorted(os.listdir(self.path("out")))
            self.assertTrue(left in ([], ["s.messages", "s.tsv"]), left)

    def test_a_table_is_kept_only_when_whole(self):
        self.assertEqual(self.run_fake("ok"), 0)
        with open(self.path("out", "s.tsv")) as f:
            self.assertEqual(len(f.readlines()), 5)
        self.assertEqual(self.run_fake("failed"), 1)  # rows of the others, failures told
        with open(self.path("out", "s.messages")) as f:
            self.assertIn("too short", f.read())
        for mode, message in (("fatal", "stopped"), ("wrongcount", "stopped"), ("crash", "exit status"),
                              ("short", "has 4 rows"), ("cut", "cut short")):
            with self.subTest(mode=mode):
                shutil.rmtree(self.path("out"))
                with self.assertRaisesRegex(ts.ShardError, message):
                    self.run_fake(mode, pairs=5 if mode == "short" else 4)


class Merge(TempDir):
    """Shards of a made-up job merged against the table one run writes, made
    here directly from its definition: rows in query then target order, or a
    query's best K by printed score (ties in target order, NA last), --min-score
    on the printed score."""

    def job(self, qnames, tnames, triangle, size, fmt="tsv", top=None, min_score=None):
        job = ts.Job.__new__(ts.Job)
        job.queries = [(n, None) for n in qnames]
        job.targets = job.queries if triangle else [(n, None) for n in tnames]
        job.triangle, job.format, job.top, job.min_score = triangle, fmt, top, min_score
        job.blocks = ts.plan(len(qnames), len(job.targets), triangle, size)
        return job

    @staticmethod
    def row(q, t, score, fmt):
        if fmt == "json":
            extra = ',"rotation":[]' if score != "NA" else ""
            value = "null" if score in ("NA", "********") else score
            return f'{{"query":"{q}","target":"{t}","score":{value}{extra}}}\n'
        return f"{q}\t{t}\t{score}\t" + "\t".join(["1"] * 12) + "\n"

    def check(self, job, outcome):
        """outcome(qname, tname) is a printed score, "NA", or None (failed)."""
        qn = [n for n, _ in job.queries]
        tn = [n for n, _ in job.targets]
        rows = {}
        for q, t in itertools.product(range(len(qn)), range(len(tn))):
            if (not job.triangle or t > q) and outcome(qn[q], tn[t]) is not None:
                rows[q, t] = outcome(qn[q], tn[t])
        tables, messages = [], []
        for b in job.blocks:
            path = self.path(ts.Job.block_name(b) + "." + job.format)
            with open(path, "w") as f:
                f.write(ts.TSV_HEADER if job.format == "tsv" else "")
                for (q, t), s in sorted(rows.items()):
                    if b[0] <= q < b[1] and b[2] <= t < b[3]:
                        f.write(self.row(qn[q], tn[t], s, job.format))
            tables.append(path)
            messages.append(self.write(ts.Job.block_name(b) + ".messages", ""))
        want = ts.TSV_HEADER if job.format == "tsv" else ""
        for q in range(len(qn)):
            mine = [(t, s) for (qq, t), s in sorted(rows.items()) if qq == q]
            if job.min_score is not None:
                mine = [(t, s) for t, s in mine if ts.score_key(s) >= job.min_score]
            if job.top is not None:
                mine = sorted(mine, key=lambda r: (-ts.score_key(r[1]), r[0]))[:job.top]
            want += "".join(self.row(qn[q], tn[t], s, job.format) for t, s in mine)
        out = self.path("merged")
        ts.merge(job, tables, out, messages, self.path("merged.messages"))
        with open(out) as f:
            self.assertEqual(f.read(), want)

    def test_merged_like_one_run_with_failures_duplicates_and_ties(self):
        # Names repeat (the same interface listed twice); pairs fail and
        # scores tie by name, so equal names behave alike, as in a real run.
        names = ["a", "b", "a", "c", "d", "b", "e", "f", "g", "a", "h"]
        scores = ["0.50000", "0.50000", "0.25000", "NA", "********", "0.12345", "1.00000"]

        def outcome(q, t):
            h = sum(map(ord, q + "|" + t)) * 7 + len(q + t)
            return None if h % 5 == 0 else scores[h % len(scores)]

        random.seed(4)
        for triangle, size, fmt, top, min_score in itertools.product(
                (True, False), (1, 4, 9, 500), ("tsv", "json"), (None, 1, 3), (None, 0.25)):
            with self.subTest(triangle=triangle, size=size, fmt=fmt, top=top, min_score=min_score):
                targets = random.sample(names, 7) + ["a"]
                self.check(self.job(names, targets, triangle, size, fmt, top, min_score), outcome)

    def test_shards_that_do_not_fit_are_refused(self):
        job = self.job(["a", "b", "c"], None, True, 1)  # blocks (0,1,1,2) (0,1,2,3) (1,2,2,3)
        tables = [self.write(f"s{k}", ts.TSV_HEADER + self.row(*r, "0.1", "tsv"))
                  for k, r in enumerate((("a", "b"), ("b", "c"), ("b", "c")))]
        messages = [self.write(f"m{k}", "") for k in range(3)]
        with self.assertRaisesRegex(ts.MergeError, "line 2 of .*s1 .b with c. is not a pair of its block"):
            ts.merge(job, tables, self.path("out"), messages, self.path("out.messages"))
        self.assertFalse(os.path.exists(self.path("out")))

    def test_messages_gathered_and_failures_counted(self):
        job = self.job(["a", "b", "c"], None, True, 1)
        tables = [self.write(f"s{k}", ts.TSV_HEADER) for k in range(3)]
        messages = [self.write("m0", "Error: cannot open x (x left out)\n1 of 1 comparisons failed\n"),
                    self.write("m1", "Error: cannot open x (x left out)\n1 of 1 comparisons failed\n"),
                    self.write("m2", "")]
        self.assertEqual(ts.merge(job, tables, self.path("out"), messages, self.path("out.messages")), 2)
        with open(self.path("out.messages")) as f:
            self.assertEqual(f.read(), "Error: cannot open x (x left out)\n2 of 3 comparisons failed\n")
        self.assertEqual(ts.failures(self.path("out.messages")), 2)


class ScoreKey(unittest.TestCase):
    def test_rank_of_printed_scores(self):
        self.assertEqual(ts.score_key("0.50000"), 0.5)
        self.assertEqual(ts.score_key("NA"), -math.inf)
        self.assertEqual(ts.score_key("********"), math.inf)
        self.assertEqual(ts.score_key(None, significant=False), -math.inf)
        self.assertEqual(ts.score_key(None, significant=True), math.inf)


if __name__ == "__main__":
    unittest.main()
