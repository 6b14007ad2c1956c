"""A Tarvix search split into shards, and the shards' tables merged into one.

The Snakefile beside this directory drives it: `Job` reads the configuration
and the interface lists and cuts the pair matrix into blocks, `run_shard` runs
Tarvix on one block and keeps its table only when it is whole, and `merge`
puts the tables back together into the table a single run would write.

A shard's rows carry interface names, not list positions. The merge walks each
shard's pairs in order and gives every row the first pair at or after the
previous row whose names match it. Pairs that fail have no row and are passed
over; two pairs with the same names compare the same files and so fail or
succeed together, which makes that walk exact (the lists are checked for one
name standing for two different interfaces).
"""

import contextlib
import heapq
import json
import math
import os
import re
import shlex
import subprocess

__all__ = ["Job", "ConfigError", "ShardError", "MergeError", "read_names", "plan", "pair_count",
           "run_shard", "merge", "failures", "score_key"]


class ConfigError(ValueError):
    """The configuration or an interface list is not usable."""


class ShardError(RuntimeError):
    """A shard's run did not produce a whole table."""


class MergeError(RuntimeError):
    """The shards' tables do not fit together."""


TSV_HEADER = ("query\ttarget\tscore\tpvalue\tzscore\taligned\taligned_contacts\trmsd\tidentity\t"
              "length1\tlength2\tnormlen\td0\tround\tinitial\n")

# The last message of a run in which some comparisons failed.
FAILED_LINE = re.compile(r"^(\d+) of (\d+) comparisons failed")


# ---------------------------------------------------------------------------
# Interface lists, named as Tarvix names them in its tables.

def _normal(path):
    """The lexically normal form of a path, as Tarvix writes names."""
    out = os.path.normpath(path)
    if out.startswith("//") and not out.startswith("///"):
        out = out[1:]  # POSIX leaves a leading "//" alone; Tarvix does not
    return out


def _contacts_of(pdb):
    return os.path.splitext(pdb)[0] + ".contacts"


def _looks_like_pdb(path):
    try:
        with open(path, "rb") as f:
            for n, line in enumerate(f):
                if n >= 200:
                    break
                if line.startswith(b"ATOM  ") or line.startswith(b"HETATM"):
                    return True
    except OSError:
        pass
    return False


def read_names(arg, ca=False):
    """The interfaces `arg` names, in Tarvix's order: [(name, contact file)].

    `arg` is a directory (its *.pdb files, by name), one PDB file, or a list
    file (one PDB path per line, optionally followed by its contact file;
    blank lines and lines starting with "#" skipped; relative paths taken
    from the list's directory). With `ca` there are no contact files."""
    def entry(pdb, contacts=None):
        return (pdb, None if ca else (contacts or _contacts_of(pdb)))

    if os.path.isdir(arg):
        files = [_normal(os.path.join(arg, n)) for n in os.listdir(arg)
                 if os.path.splitext(n)[1].lower() == ".pdb" and os.path.isfile(os.path.join(arg, n))]
        if not files:
            raise ConfigError(f"no *.pdb file in the directory {arg}")
        return [entry(f) for f in sorted(files, key=os.fsencode)]
    if os.path.splitext(arg)[1].lower() in (".pdb", ".ent") or _looks_like_pdb(arg):
        return [entry(arg)]
    try:
        with open(arg, "rb") as f:
            data = f.read()
    except OSError as e:
        raise ConfigError(f"cannot open {arg}: {e.strerror}") from None
    base = os.path.dirname(arg)

    def resolve(p):
        p = os.fsdecode(p)
        return _normal(p if os.path.isabs(p) or not base else os.path.join(base, p))

    out = []
    lines = data.split(b"\n")
    if lines and lines[-1] == b"":
        lines.pop()
    for lineno, line in enumerate(lines, 1):
        words = line.split()
        if not words or words[0].startswith(b"#"):
            continue
        if len(words) > 2:
            raise ConfigError(f"line {lineno} of {arg} has more than two paths "
                              "(a PDB file and its contact file)")
        out.append(entry(resolve(words[0]), resolve(words[1]) if len(words) == 2 else None))
    if not out:
        raise ConfigError(f"{arg} lists no interface")
    return out


def _check_names(entries, arg):
    """Refuses a list in which one name stands for two different interfaces
    (the same PDB file with two contact files): their rows could not be told
    apart."""
    seen = {}
    for name, contacts in entries:
        if seen.setdefault(name, contacts) != contacts:
            raise ConfigError(f"{arg} lists {name} twice with different contact files "
                              f"({seen[name]} and {contacts}); the table could not tell their rows apart")


# ---------------------------------------------------------------------------
# Blocks of the pair matrix.

def _first_target(q, t0, triangle):
    return max(t0, q + 1) if triangle else t0


def pair_count(block, triangle):
    q0, q1, t0, t1 = block
    return sum(max(0, t1 - _first_target(q, t0, triangle)) for q in range(q0, q1))


def plan(nq, nt, triangle, size):
    """Blocks (q0, q1, t0, t1) of the pair matrix, by query range then target
    range, of at most `size` pairs each, that together hold every pair once.
    For all-vs-all (`triangle`, nq == nt) the blocks are squares of the upper
    triangle: those on the diagonal hold about half as many pairs, and those
    below it, which hold none, are left out. A block reads only its own
    queries and targets, so nearly square blocks read the fewest interfaces
    per comparison."""
    size = max(1, int(size))
    side = max(1, math.isqrt(size))
    if triangle:
        h = w = side
    elif nq <= side:
        h, w = max(nq, 1), max(1, size // max(nq, 1))
    elif nt <= side:
        h, w = max(1, size // max(nt, 1)), max(nt, 1)
    else:
        h, w = side, size // side
    blocks = []
    for q0 in range(0, nq, h):
        for t0 in range(0, nt, w):
            b = (q0, min(nq, q0 + h), t0, min(nt, t0 + w))
            if pair_count(b, triangle):
                blocks.append(b)
    return blocks


# ---------------------------------------------------------------------------
# The job: configuration, lists and blocks.

def _whole(config, key, least, default=None):
    v = config.get(key, default)
    if v is None:
        return None
    if isinstance(v, bool) or not isinstance(v, int) or v < least:
        raise ConfigError(f"{key} must be a whole number of at least {least}, not {v!r}")
    return v


class Job:
    """What the configuration asks for, checked, with the blocks to run."""

    def __init__(self, config):
        self.tarvix = str(config.get("tarvix") or "Tarvix")
        self.options = shlex.split(str(config.get("options") or ""))
        for o in self.options:
            if o.startswith("--"):
                raise ConfigError(f"options holds {o}; it takes the classic options only "
                                  "(the workflow sets the search options from their own keys)")
        self.ca = "-ca" in self.options
        avs, search, targets = config.get("all_vs_all"), config.get("search"), config.get("targets")
        if bool(avs) == bool(search or targets) or bool(search) != bool(targets):
            raise ConfigError("give either all_vs_all: LIST, or search: QUERY with targets: LIST")
        self.triangle = bool(avs)
        self.lists = [str(avs)] if avs else [str(search), str(targets)]
        self.queries = read_names(self.lists[0], self.ca)
        _check_names(self.queries, self.lists[0])
        self.targets = self.queries if self.triangle else read_names(self.lists[1], self.ca)
        if not self.triangle:
            _check_names(self.targets, self.lists[1])

        self.format = str(config.get("format") or "tsv")
        if self.format not in ("tsv", "json"):
            raise ConfigError(f"format must be tsv or json, not {self.format!r}")
        self.top = _whole(config, "top", 1)
        ms = config.get("min_score")
        if ms is not None and (isinstance(ms, bool) or not isinstance(ms, (int, float)) or not math.isfinite(ms)):
            raise ConfigError(f"min_score must be a number, not {ms!r}")
        self.min_score = None if ms is None else float(ms)
        self.shard_size = _whole(config, "shard_size", 1, 20000)
        self.threads = _whole(config, "threads", 1, 2)
        self.retries = _whole(config, "retries", 0, 2)
        self.out = str(config.get("out") or "results/table." + self.format)
        self.shards_dir = str(config.get("shards") or os.path.join(os.path.dirname(self.out) or ".", "shards"))
        self.messages = self.out + ".messages"
        self.fail_on_failed_pairs = bool(config.get("fail_on_failed_pairs", True))
        self.blocks = plan(len(self.queries), len(self.targets), self.triangle, self.shard_size)

    @property
    def pairs(self):
        return sum(pair_count(b, self.triangle) for b in self.blocks)

    def command(self):
        """Tarvix's command line for a shard, without --block and --threads."""
        where = ["--all-vs-all", self.lists[0]] if self.triangle else \
            ["--search", self.lists[0], "--targets", self.lists[1]]
        return [self.tarvix] + where + ["--format", self.format, "--quiet"] + self.options

    @staticmethod
    def block_name(block):
        return "q{}-{}_t{}-{}".format(*block)

    def shard_table(self, block):
        return os.path.join(self.shards_dir, self.block_name(block) + "." + self.format)

    def shard_messages(self, block):
        return os.path.join(self.shards_dir, self.block_name(block) + ".messages")


# ---------------------------------------------------------------------------
# One shard.

def _count_rows(path, fmt):
    """Rows of a table Tarvix wrote, checking that it is whole."""
    rows = 0
    last = b"\n"
    with open(path, "rb") as f:
        first = f.readline()
        if fmt == "tsv" and first != TSV_HEADER.encode():
            raise ShardError(f"{path} does not start with the table's header")
        if fmt == "json" and first:
            rows, last = 1, first
        for line in f:
            rows += 1
            last = line
    if not last.endswith(b"\n"):
        raise ShardError(f"the last row of {path} is cut short")
    return rows


def run_shard(command, block, pairs, fmt, table, messages):
    """Runs Tarvix on one block (`command` without --block and --out) and, if
    its table is whole, moves it to `table` and its messages to `messages`.

    Exit status 0 must leave a row for each of the block's `pairs`; status 1
    must end with Tarvix's count of failed comparisons (pairs it could not
    compare, whose messages go with the shard) and leave a row for every other
    pair. Anything else (misuse, a table that could not be written, a crash)
    raises ShardError and leaves nothing behind, so the shard is run again."""
    part, mpart = table + ".part", messages + ".part"
    for p in (table, messages):
        os.makedirs(os.path.dirname(p) or ".", exist_ok=True)
    cmd = list(command) + ["--block", "{}:{},{}:{}".format(*block), "--out", part]
    try:
        with open(mpart, "wb") as err:
            status = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=err, stderr=err).returncode
        with open(mpart, "rb") as f:
            text = f.read().decode(errors="replace")
        lines = [l for l in text.splitlines() if l.strip()]
        tail = "\n".join(lines[-5:])
        failed = 0
        if status == 1:
            m = FAILED_LINE.match(lines[-1]) if lines else None
            if not m or int(m.group(2)) != pairs:
                raise ShardError(f"{shlex.join(cmd)} stopped (exit status 1):\n{tail}")
            failed = int(m.group(1))
        elif status != 0:
            raise ShardError(f"{shlex.join(cmd)} failed (exit status {status}):\n{tail}")
        if not os.path.exists(part):
            raise ShardError(f"{shlex.join(cmd)} wrote no table")
        rows = _count_rows(part, fmt)
        if rows != pairs - failed:
            raise ShardError(f"{part} has {rows} rows, but {pairs} pairs with {failed} failed need "
                             f"{pairs - failed}")
        os.replace(mpart, messages)
        os.replace(part, table)
    finally:
        for p in (part, mpart):
            if os.path.exists(p):
                os.remove(p)
    return failed


# ---------------------------------------------------------------------------
# The merge.

def score_key(text, significant=True):
    """The rank of a row by its printed score, as Tarvix ranks it: no
    alignment (NA, or null in JSON) last, a score too large for its column
    (asterisks) first."""
    if text is None:
        return math.inf if significant else -math.inf
    if not isinstance(text, str):
        return float(text)
    if text == "NA":
        return -math.inf
    if "*" in text:
        return math.inf
    v = float(text)
    return -math.inf if math.isnan(v) else v


class _ShardRows:
    """A shard's rows in order, each with its (query, target) positions."""

    def __init__(self, file, path, block, triangle, qnames, tnames, fmt):
        self.file, self.path, self.triangle, self.fmt = file, path, triangle, fmt
        self.q0, self.q1, self.t0, self.t1 = block
        self.qnames, self.tnames = qnames, tnames
        self.q, self.t = self.q0, _first_target(self.q0, self.t0, triangle)
        if fmt == "tsv" and self.file.readline() != TSV_HEADER:
            raise MergeError(f"{path} does not start with the table's header")
        self.lineno = 1 if fmt == "tsv" else 0
        self.row = None
        self._advance()

    def _locate(self, qn, tn):
        while self.q < self.q1:
            if self.qnames[self.q] == qn:
                for t in range(max(self.t, _first_target(self.q, self.t0, self.triangle)), self.t1):
                    if self.tnames[t] == tn:
                        self.t = t + 1
                        return self.q, t
            self.q += 1
            self.t = _first_target(self.q, self.t0, self.triangle)
        raise MergeError(f"line {self.lineno} of {self.path} ({qn} with {tn}) is not a pair of its block "
                         "in order; was the shard made from other lists?")

    def _advance(self):
        line = self.file.readline()
        if not line:
            self.row = None
            return
        self.lineno += 1
        if not line.endswith("\n"):
            raise MergeError(f"the last row of {self.path} is cut short")
        if self.fmt == "tsv":
            cells = line.split("\t", 3)
            if len(cells) < 4:
                raise MergeError(f"line {self.lineno} of {self.path} is not a row of a table")
            qn, tn, key = cells[0], cells[1], score_key(cells[2])
        else:
            try:
                obj = json.loads(line)
                qn, tn = obj["query"], obj["target"]
            except (ValueError, KeyError, TypeError):
                raise MergeError(f"line {self.lineno} of {self.path} is not a row of a table") from None
            key = score_key(obj.get("score"), "rotation" in obj)
        q, t = self._locate(qn, tn)
        self.row = (q, t, key, line)

    def rows_of(self, q):
        """The rows of query q, which come next."""
        while self.row is not None and self.row[0] == q:
            yield self.row
            self._advance()


def _merge_band(job, shards, q0, q1, out):
    """Writes the rows of queries q0..q1-1 from the shards of their band, which
    hold consecutive target ranges, in order."""
    for q in range(q0, q1):
        best = []  # with top: the K best rows so far, worst first
        for shard in shards:
            for _, t, key, line in shard.rows_of(q):
                if job.min_score is not None and not key >= job.min_score:
                    continue
                if job.top is None:
                    out.write(line)
                elif len(best) < job.top:
                    heapq.heappush(best, (key, -t, line))
                else:
                    heapq.heappushpop(best, (key, -t, line))
        for _, _, line in sorted(best, reverse=True):
            out.write(line)


def merge(job, tables, table_out, messages_in, messages_out):
    """Merges the shards' tables (`tables`, one per block of `job.blocks`, in
    that order) into the table one Tarvix run of the whole job writes, with
    --top and --min-score applied, and gathers the shards' messages. Returns
    the number of failed comparisons."""
    if len(tables) != len(job.blocks):
        raise MergeError(f"{len(tables)} shard tables for {len(job.blocks)} blocks")
    qnames = [n for n, _ in job.queries]
    tnames = [n for n, _ in job.targets]
    bands = {}
    for block, path in zip(job.blocks, tables):
        bands.setdefault((block[0], block[1]), []).append((block[2], block, path))
    part = table_out + ".part"
    os.makedirs(os.path.dirname(table_out) or ".", exist_ok=True)
    try:
        with open(part, "w", encoding="utf-8", errors="surrogateescape", newline="\n") as out:
            if job.format == "tsv":
                out.write(TSV_HEADER)
            for (q0, q1), members in sorted(bands.items()):
                with contextlib.ExitStack() as files:
                    shards = [_ShardRows(files.enter_context(open(path, encoding="utf-8", errors="surrogateescape",
                                                                  newline="\n")),
                                         path, block, job.triangle, qnames, tnames, job.format)
                              for _, block, path in sorted(members)]
                    _merge_band(job, shards, q0, q1, out)
        os.replace(part, table_out)
    finally:
        if os.path.exists(part):
            os.remove(part)

    failed, seen, lines = 0, set(), []
    for path in messages_in:
        with open(path, encoding="utf-8", errors="replace") as f:
            for line in f:
                line = line.rstrip("\n")
                m = FAILED_LINE.match(line)
                if m:
                    failed += int(m.group(1))
                elif line.strip() and line not in seen:
                    seen.add(line)
                    lines.append(line)
    if failed:
        lines.append(f"{failed} of {job.pairs} comparisons failed")
    with open(messages_out + ".part", "w", encoding="utf-8") as f:
        f.write("".join(l + "\n" for l in lines))
    os.replace(messages_out + ".part", messages_out)
    return failed


def failures(messages):
    """The number of failed comparisons a merged messages file reports."""
    with open(messages, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = FAILED_LINE.match(line)
            if m:
                return int(m.group(1))
    return 0


def _main(argv=None):
    """The workflow's jobs, from the command line:
    tarvix_shards.py shard --block Q0:Q1,T0:T1 --pairs N --format F
                           --table FILE --messages FILE -- TARVIX ARGS...
    tarvix_shards.py merge CONFIG_JSON
    tarvix_shards.py check CONFIG_JSON"""
    import argparse
    import sys

    p = argparse.ArgumentParser(prog="tarvix_shards.py")
    sub = p.add_subparsers(dest="what", required=True)
    s = sub.add_parser("shard", help="run Tarvix on one block and keep its table if it is whole")
    s.add_argument("--block", required=True)
    s.add_argument("--pairs", type=int, required=True)
    s.add_argument("--format", choices=("tsv", "json"), default="tsv")
    s.add_argument("--table", required=True)
    s.add_argument("--messages", required=True)
    s.add_argument("command", nargs="+")
    for what, text in (("merge", "merge the shards' tables into one"),
                       ("check", "report failed comparisons of the merged table")):
        sub.add_parser(what, help=text).add_argument("config", help="the workflow's configuration, as JSON")
    a = p.parse_args(argv)
    try:
        if a.what == "shard":
            m = re.fullmatch(r"(\d+):(\d+),(\d+):(\d+)", a.block)
            if not m:
                p.error(f"--block must be Q0:Q1,T0:T1, not {a.block}")
            failed = run_shard(a.command, tuple(int(x) for x in m.groups()), a.pairs, a.format, a.table,
                               a.messages)
            if failed:
                print(f"{failed} of {a.pairs} comparisons of block {a.block} failed (see {a.messages})",
                      file=sys.stderr)
            return 0
        job = Job(json.loads(a.config))
        if a.what == "merge":
            merge(job, [job.shard_table(b) for b in job.blocks], job.out,
                  [job.shard_messages(b) for b in job.blocks], job.messages)
            return 0
        failed = failures(job.messages)
        if failed:
            print(f"{'Error' if job.fail_on_failed_pairs else 'Warning'}: {failed} of {job.pairs} comparisons "
                  f"failed (messages: {job.messages}); {job.out} holds the rows of the others", file=sys.stderr)
        return 1 if failed and job.fail_on_failed_pairs else 0
    except (ConfigError, ShardError, MergeError, OSError) as e:
        print(f"Error: {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    raise SystemExit(_main())
