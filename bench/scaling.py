#!/usr/bin/env python3
"""Time and memory of one comparison as interfaces grow.

Builds interfaces of N residues from the whole complexes in bench/data (the
residues nearest the other chain, contacts from CA coordinates; see
bench/tools/make_interface.cpp) and compares each with itself, sequentially,
printing CPU time (user + system) and peak memory per size.

Usage: bench/scaling.py TARVIX MAKE_INTERFACE [N ...]
  default sizes: 50 100 200 300 600 1200 2250
"""
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.realpath(__file__))


def spawn(args):
    """Runs args with standard output discarded; returns (CPU seconds, peak
    memory in KiB). A process started from this interpreter inherits its peak
    memory (the kernel keeps the high-water mark across exec), so the program
    runs under /usr/bin/time (Debian package time), a small parent."""
    with tempfile.NamedTemporaryFile("r") as out:
        subprocess.run(["/usr/bin/time", "-o", out.name, "-f", "%U %S %M", *args],
                       stdout=subprocess.DEVNULL, check=True)
        user, system, peak = out.read().split()[-3:]
    return float(user) + float(system), int(peak)


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    tarvix, make = os.path.realpath(sys.argv[1]), os.path.realpath(sys.argv[2])
    sizes = [int(a) for a in sys.argv[3:]] or [50, 100, 200, 300, 600, 1200, 2250]
    print(f"{'residues':>8s} {'CPU time':>10s} {'peak memory':>12s}")
    with tempfile.TemporaryDirectory() as tmp:
        for n in sizes:
            # 1BGX has 1218 residues; larger interfaces come from 4GAM (2251)
            # and, beyond it, from copies of 4GAM side by side.
            complex_ = "1BGX_ca.pdb" if n <= 1218 else "4GAM_ca.pdb"
            stem = os.path.join(tmp, f"i{n}")
            subprocess.run([make, os.path.join(here, "data", complex_), str(n), stem], check=True)
            args = [tarvix, "-v", "0", stem + ".pdb", stem + ".pdb", stem + ".contacts",
                    stem + ".contacts"]
            cpu, peak = spawn(args)
            if cpu < 1.0:  # time's figures are in hundredths: measure small runs directly
                p = subprocess.Popen(args, stdout=subprocess.DEVNULL)
                _, _, ru = os.wait4(p.pid, 0)
                cpu = ru.ru_utime + ru.ru_stime
            print(f"{n:8d} {cpu:9.3f}s {peak / 1024:9.1f} MiB", flush=True)


if __name__ == "__main__":
    main()
