# SPDX-License-Identifier: MIT
"""What the module's tests share: the command-line tool they are compared
with, and the inputs they are compared on."""

import bz2
import gzip
import lzma
import os
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
TOOL = os.environ.get("QUENBREL_TOOL", "")

# The command line's usage text, which follows a refusal on standard error;
# the module's exceptions carry the message before it.
USAGE_START = "NAME\n\t"


def residues(n, alphabet="ACGTNacgtn"):
    return "".join(alphabet[(i * 7 + i // 3) % len(alphabet)] for i in range(n)).encode()


# Inputs of every kind the command line's tables cover: statuses without
# output, IG and FASTA, line ends of every system, names that the index
# and dictionary warn of, long lines.
INPUTS = {
    "Empty": b"",
    "OnlyBlankLines": b"\n\n\n",
    "NotFormat": b"X\n",
    "ResiduesFirst": b"ACGT\n>a\nAC\n",
    "BlankLineHoldingASpace": b" \n;c\nN\nAC\n",
    "Fasta": b">a first\nACGTNNacgtnn\nAC GT*-12\n>b\nttttNNNN\n",
    "Ig": b"; comment\n; FRAGMENT 1 -> 8\nSEQ1 extra words\nacgt acgt 8\n;\nSEQ2\nNNAACC2\n",
    "IgWithoutFragment": b";c\nNAME\nacgtn1\n",
    "Crlf": b">a b\r\nACGT\r\nNNac\r\n>c\r\n\r\n",
    "LoneCr": b">a\rACGT\rNN\r>b\rAC\r",
    "ByteOrderMark": b"\xef\xbb\xbf>a\nACGT\n",
    "EmptySequences": b">a\n>b\n\n>c\nAC\n>d\n",
    "CommentsOnly": b";c\n;d\n",
    "DuplicateNames": b">a x\nAC\n>a y\nGG\n>b\nTT\n>b\nAA\n",
    "EmptyName": b">\nACGT\n>x\nAC\n",
    "NotUtf8Header": b">r\xe9sum\xe9 \xff\nACGT\n",
    "Utf8Header": ">résumé ü\nACGT\n".encode(),
    "ControlBytes": b">a\nAC\x1aGT\x00NN\n",
    "LongLine": b">long\n" + residues(100_000) + b"\n",
    "ManyRecords": b"".join(b">r%d\n%s\n" % (i, residues(i % 97)) for i in range(3000)),
    "Sample": (SOURCE / "examples" / "sample.ig").read_bytes(),
    "InteropFasta": (SOURCE / "tests" / "data" / "interop" / "source.fa").read_bytes(),
    "InteropIg": (SOURCE / "tests" / "data" / "interop" / "source.readseq.ig").read_bytes(),
}

# Every compression the build reads through the standard library; BGZF is
# made by the tool itself.
COMPRESSIONS = {
    "plain": lambda b: b,
    "gzip": lambda b: gzip.compress(b, mtime=0),
    "xz": lzma.compress,
    "bzip2": bz2.compress,
}


def run_tool(args, stdin=b"", cwd=None):
    """The tool's standard output, standard error and status."""
    if not TOOL:
        pytest.skip("QUENBREL_TOOL does not name the command-line tool")
    r = subprocess.run([TOOL, *args], input=stdin, capture_output=True, cwd=cwd)
    return r.stdout, r.stderr.decode("utf-8", "replace"), r.returncode


def tool_message(err):
    """The message of the tool's standard error, without the usage text."""
    at = err.find(USAGE_START)
    return err if at < 0 else err[:at]


def tool_reads(compression):
    """Whether this build's tool reads `compression` (it says when not)."""
    data = COMPRESSIONS[compression](b">a\nAC\n")
    out, err, status = run_tool(["-"], data)
    return status == 0


@pytest.fixture
def folder(tmp_path):
    return tmp_path
