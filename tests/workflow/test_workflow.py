"""The workflow run by Snakemake on the bundled interfaces, cut into several
shards, against one Tarvix run over the same inputs: the merged table must be
the same, byte for byte. Also: a second run redoes only missing shards, pairs
that fail are kept as one run keeps them, and a shard that fails is retried
without its partial table reaching the merge.

Run by ctest with TARVIX_BIN set; exits 77 (skipped) without snakemake."""

import os
import shutil
import subprocess
import sys
import unittest

import tempdir  # beside this file

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(os.path.dirname(HERE))
DATA = os.path.join(SOURCE, "tests", "data")
SNAKEFILE = os.path.join(SOURCE, "workflow", "Snakefile")
TARVIX = os.environ.get("TARVIX_BIN", "")


class Workflow(tempdir.TempDir):
    prefix = "tarvix_workflow_"

    def snakemake(self, config, status=0):
        """Runs the workflow in the temporary directory; returns its log."""
        lines = [f"{k}: {v!r}" if isinstance(v, str) else f"{k}: {'null' if v is None else v}"
                 for k, v in config.items()]
        cfg = self.write("config.yaml", "\n".join(lines) + "\n")
        env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
        run = subprocess.run(["snakemake", "-s", SNAKEFILE, "--configfile", cfg, "--directory", self.dir,
                              "--cores", "2", "--nocolor"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, env=env)
        self.assertEqual(run.returncode, status, run.stdout[-3000:])
        return run.stdout

    def single(self, args, status=0):
        """One Tarvix run's table."""
        run = subprocess.run([TARVIX] + args + ["--quiet", "--threads", "2"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(run.returncode, status, run.stderr)
        return run.stdout

    def merged(self, name="table.tsv"):
        with open(self.path("out", name), "rb") as f:
            return f.read()

    def shard_times(self):
        d = self.path("out", "shards")
        return {n: os.stat(os.path.join(d, n)).st_mtime_ns for n in os.listdir(d)}

    def test_all_vs_all(self):
        config = {"tarvix": TARVIX, "all_vs_all": DATA, "options": "-q 2", "shard_size": 150, "threads": 2,
                  "out": "out/table.tsv"}
        self.snakemake(config)
        times = self.shard_times()
        self.assertEqual(len(times), 2 * 6)  # tables and messages of six blocks
        self.assertEqual(self.merged(), self.single(["--all-vs-all", DATA, "-q", "2"]))

        # The filters apply to the merged table; the shards stay as they are.
        config.update(top=3, min_score=0.13)
        self.snakemake(config)
        self.assertEqual(self.shard_times(), times)
        self.assertEqual(self.merged(), self.single(["--all-vs-all", DATA, "-q", "2", "--top", "3",
                                                     "--min-score", "0.13"]))

        # A run interrupted before one shard and the merge were done: only
        # they are done again.
        os.remove(self.path("out", "shards", "q12-24_t24-32.tsv"))
        os.remove(self.path("out", "table.tsv"))
        log = self.snakemake(config)
        self.assertEqual(log.count("rule shard:"), 1, log)
        after = self.shard_times()
        self.assertEqual({n: t for n, t in after.items() if not n.startswith("q12-24_t24-32.")},
                         {n: t for n, t in times.items() if not n.startswith("q12-24_t24-32.")})
        self.assertEqual(self.merged(), self.single(["--all-vs-all", DATA, "-q", "2", "--top", "3",
                                                     "--min-score", "0.13"]))

    def test_search_with_a_list_of_queries(self):
        # Queries from a list with relative paths (named from the list's
        # directory), targets a directory; JSON rows.
        rel = os.path.relpath(DATA, self.dir)
        queries = self.write("queries.list", "".join(f"{rel}/{n}_AB.pdb\n"
                                                     for n in ("7CEI", "1A2K", "2I25", "1HIA", "3MXW")))
        config = {"tarvix": TARVIX, "search": queries, "targets": DATA, "options": "-q 2 -t",
                  "shard_size": 40, "format": "json", "out": "out/table.json"}
        self.snakemake(config)
        self.assertEqual(len(self.shard_times()), 2 * 4)
        args = ["--search", queries, "--targets", DATA, "-q", "2", "-t", "--format", "json"]
        self.assertEqual(self.merged("table.json"), self.single(args))
        config.update(top=4)
        self.snakemake(config)
        self.assertEqual(self.merged("table.json"), self.single(args + ["--top", "4"]))

    def test_failed_pairs_are_kept_and_reported(self):
        # An interface that cannot be read and one too short to compare: their
        # pairs fail, the others' rows stay, and the workflow ends in an error.
        short = self.write("short.pdb", "".join(
            f"ATOM  {i:5d}  CA  ALA {c}{i:4d}    {i:8.3f}{0:8.3f}{0:8.3f}  1.00  0.00\n" + ("TER\n" if i == 2 else "")
            for i, c in ((1, "A"), (2, "A"), (3, "B"))))
        self.write("short.contacts", "RES  1 1 3\n")
        names = ["1A2K", "1AZS", "2I25", "3MXW", "1HIA", "7CEI"]
        listed = self.write("list", "".join(f"{DATA}/{n}_AB.pdb\n" for n in names[:3]) + "missing.pdb\n"
                            + "".join(f"{DATA}/{n}_AB.pdb\n" for n in names[3:]) + "short.pdb\n")
        config = {"tarvix": TARVIX, "all_vs_all": listed, "options": "-q 2", "shard_size": 9,
                  "out": "out/table.tsv"}
        log = self.snakemake(config, status=1)
        self.assertIn("comparisons failed", log)
        self.assertEqual(self.merged(), self.single(["--all-vs-all", listed, "-q", "2"], status=1))
        with open(self.path("out", "table.tsv.messages")) as f:
            messages = f.read()
        self.assertEqual(messages.count("missing.pdb left out"), 1)
        self.assertTrue(messages.endswith("\n13 of 28 comparisons failed\n"), messages)
        config.update(fail_on_failed_pairs=False)
        self.assertIn("Warning: 13 of 28 comparisons failed", self.snakemake(config))

    def test_a_failed_shard_is_retried_and_its_partial_table_not_merged(self):
        # The first run of each shard writes part of its table and dies.
        wrapper = self.write("tarvix.sh", f"""#!/bin/sh
mark="{self.dir}/tried.$(echo "$*" | tr -c 'a-z0-9' _ | cut -c1-200)"
if [ ! -e "$mark" ]; then
  touch "$mark"
  for a in "$@"; do [ "$prev" = --out ] && head -c 300 {self.dir}/partial > "$a"; prev=$a; done
  kill -9 $$
fi
exec {TARVIX} "$@"
""")
        os.chmod(wrapper, 0o755)
        names = ["1A2K", "1AZS", "2I25", "3MXW", "1HIA"]
        listed = self.write("list", "".join(f"{DATA}/{n}_AB.pdb\n" for n in names))
        with open(self.path("partial"), "wb") as f:
            f.write(self.single(["--all-vs-all", listed, "-q", "2"]))
        config = {"tarvix": wrapper, "all_vs_all": listed, "options": "-q 2", "shard_size": 4,
                  "retries": 1, "out": "out/table.tsv"}
        log = self.snakemake(config)
        self.assertGreaterEqual(log.count("exit status -9"), 2, log)
        self.assertEqual(self.merged(), self.single(["--all-vs-all", listed, "-q", "2"]))
        config.update(retries=0, out="again/table.tsv", shards="again/shards")
        os.system(f"rm -f {self.dir}/tried.*")
        self.snakemake(config, status=1)
        self.assertEqual([f for _, _, files in os.walk(self.path("again")) for f in files], [])


if __name__ == "__main__":
    if not TARVIX:
        sys.exit("TARVIX_BIN must name the program")
    if not shutil.which("snakemake"):
        print("snakemake is not installed (apt-get install snakemake): skipped")
        sys.exit(77)
    unittest.main()
