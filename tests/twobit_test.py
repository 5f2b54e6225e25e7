#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""2bit output read back by two readers of the format: py2bit (Debian
package python3-py2bit) and Biopython's reader (python3-biopython). Every
input of the table is converted twice, to FASTA with -ol and to 2bit, with
the same options; each reader must find the FASTA's records in the 2bit
file: the same names in the same order, the same lengths, the same N and
lower case, with every letter but A, C, G, T and N as N. Skipped (status 77)
where neither reader is installed.

    twobit_test.py QUENBREL SOURCE_DIR [--big]

--big adds a record of 300 MB (run by CTest; a minute of work).
"""
import os
import random
import subprocess
import sys
import tempfile

QUENBREL, SRC = sys.argv[1], sys.argv[2]
BIG = "--big" in sys.argv[3:]

try:
    import py2bit
except ImportError:
    py2bit = None
try:
    from Bio import SeqIO
except ImportError:
    SeqIO = None


def fasta(*records):
    return b"".join(b">%s\n%s\n" % (h, s) for h, s in records)


def mixed(n, seed):
    # Residues with runs of N and of lower case of every length, so that
    # runs begin and end at each place in a packed byte.
    r = random.Random(seed)
    out = bytearray()
    while len(out) < n:
        run = r.choice(b"ACGTacgtNnnN")
        out += bytes([run]) * r.randint(1, 9)
        out += bytes(r.choice(b"ACGTacgt") for _ in range(r.randint(0, 7)))
    return bytes(out[:n])


# name, input, options
CASES = [
    ("runs at every offset", fasta(*((b"r%d" % i, mixed(50 + i, i)) for i in range(40))), []),
    ("N at the start and the end", fasta((b"a", b"NNNNACGTNN"), (b"b", b"nACGTn"), (b"c", b"N")), []),
    ("all N", fasta((b"a", b"N" * 13), (b"b", b"n" * 4)), []),
    ("lower case across bytes", fasta((b"a", b"ACGtacgtACG"), (b"b", b"acgtacgtac")), []),
    ("empty records", fasta((b"e1", b""), (b"x", b"ACGT"), (b"e2", b"")), []),
    ("other letters", fasta((b"iupac", b"ACRYKMSWbdhvnN-U*"), (b"protein", b"MKVLAT")), []),
    ("names are first words", fasta((b"chr1 some text", b"ACGT"), (b"  chr2\tmore", b"GGCC")), []),
    ("-uc drops the mask", fasta((b"a", b"acgtNNnnACgt"),), ["-uc"]),
    ("-unseq drops N", fasta((b"a", b"ACNNGTnnac"),), ["-unseq"]),
    ("-n and -ol change nothing", fasta((b"a", mixed(500, 7)),), ["-n", "10"]),
    ("interop source", open(os.path.join(SRC, "tests/data/interop/source.fa"), "rb").read(), []),
    ("interop IG", open(os.path.join(SRC, "tests/data/interop/source.seqret.ig"), "rb").read(), []),
    ("bundled example", open(os.path.join(SRC, "examples/sample.ig"), "rb").read(), []),
]


def expected(fa):
    # The records of FASTA output, as 2bit holds them.
    out, name = [], None
    for line in fa.split(b"\n"):
        if line.startswith(b">"):
            name = line[1:].split()[0].decode() if line[1:].split() else ""
            out.append([name, bytearray()])
        elif name is not None:
            out[-1][1] += line
    table = bytes(c if chr(c) in "ACGTNacgtn" else (ord("n") if chr(c).islower() else ord("N"))
                  for c in range(256))
    return [(n, bytes(s).translate(table).decode()) for n, s in out]


def by_py2bit(path):
    tb = py2bit.open(path, True)
    try:
        names = list(tb.chroms().keys())
        return [(n, tb.sequence(n) if tb.chroms(n) > 0 else "") for n in names]
    finally:
        tb.close()


# py2bit shows a masked N as N; Biopython as n.
def py2bit_view(records):
    return [(n, s.replace("n", "N")) for n, s in records]


def by_biopython(path):
    with open(path, "rb") as f:
        return [(r.id, str(r.seq)) for r in SeqIO.parse(f, "twobit")]


def readers():
    found = []
    if py2bit is not None:
        found.append(("py2bit", by_py2bit, py2bit_view))
    if SeqIO is not None:
        found.append(("Biopython", by_biopython, list))
    return found


def run(args):
    return subprocess.run([QUENBREL] + args, capture_output=True)


def check(tmp, label, data, options):
    src = os.path.join(tmp, "in")
    with open(src, "wb") as f:
        f.write(data)
    fa = run(["-ol"] + options + [src])
    out = os.path.join(tmp, "out.2bit")
    got = run(options + [src, out])
    if fa.returncode != 0 or got.returncode != 0:
        return ["%s: status %d (FASTA %d): %r" % (label, got.returncode, fa.returncode, got.stderr)]
    problems = []
    for reader, read, view in readers():
        records, want = read(out), view(expected(fa.stdout))
        if records != want:
            diff = next((i for i, (a, b) in enumerate(zip(records, want)) if a != b), len(want))
            problems.append("%s: %s reads record %d as %r, FASTA has %r" % (
                label, reader, diff, records[diff:diff + 1], want[diff:diff + 1]))
    return problems


def big_record():
    # 300 MB in one record: runs of N and of lower case at the joins of the
    # repeated block, so that offsets past 2^28 bases carry runs too.
    block = mixed(1 << 20, 99)
    return b">big\n" + block * 300 + b"\n"


def main():
    if not readers():
        print("neither py2bit (python3-py2bit) nor Biopython (python3-biopython): skipped")
        return 77
    print("readers:", ", ".join(r[0] for r in readers()))
    problems = []
    with tempfile.TemporaryDirectory(prefix="quenbrel-twobit-") as tmp:
        for label, data, options in CASES:
            problems += check(tmp, label, data, options)
        if BIG:
            problems += check(tmp, "a record of 300 MB", big_record(), [])
    for p in problems:
        print("FAIL:", p)
    if problems:
        return 1
    missing = {"py2bit", "Biopython"} - {r[0] for r in readers()}
    if missing:
        print("only one reader; not installed:", ", ".join(missing))
        return 77
    print("%d inputs read back alike" % (len(CASES) + BIG))
    return 0


if __name__ == "__main__":
    sys.exit(main())
