# SPDX-License-Identifier: MIT
"""IG and FASTA sequence files to FASTA, from Python.

quenbrel's own conversion engine: the command line's exact output bytes,
messages and statuses, any input compression the build reads, BGZF or zstd
output with its index and sequence dictionary.

    convert(src, dst=None, ...)   converts a file, a file object or bytes
    records(src, ...)             iterates the records of an input

Failures raise Error subclasses that carry the command line's message and
exit status: FormatError (3), NoContentError (4), ReadError (10),
WriteError (20), and UsageError (10; also a ValueError) for an argument the
command line would refuse.
"""

import io
import operator
import os

from . import _quenbrel
from ._quenbrel import (
    Error,
    FormatError,
    NameWarning,
    NoContentError,
    ReadError,
    RecordIterator,
    UsageError,
    WriteError,
)

__all__ = [
    "convert",
    "records",
    "Error",
    "FormatError",
    "NoContentError",
    "ReadError",
    "WriteError",
    "UsageError",
    "NameWarning",
    "RecordIterator",
]

__version__ = "1.2.0"


def _path(value):
    """A path as the bytes the system takes, or None for a file object."""
    if isinstance(value, (str, bytes, os.PathLike)):
        path = os.fspath(value)
        if isinstance(path, str):
            path = os.fsencode(path) if os.name != "nt" else path.encode("utf-8")
        if b"\0" in path:
            raise ValueError("embedded null byte in path")
        return path
    return None


def _source(src):
    path = _path(src)
    if path is not None:
        return path
    if isinstance(src, io.TextIOBase):
        raise TypeError("src must be a path or a binary file object, not a text file")
    if not any(hasattr(src, m) for m in ("readinto1", "readinto", "read")):
        raise TypeError(
            "src must be a path (str, bytes, os.PathLike) or a binary file object, not %s"
            % type(src).__name__
        )
    return src


def _destination(dst):
    if dst is None:
        return None
    path = _path(dst)
    if path is not None:
        return path
    if isinstance(dst, io.TextIOBase):
        raise TypeError("dst must be a path or a binary file object, not a text file")
    if not hasattr(dst, "write"):
        raise TypeError(
            "dst must be None, a path (str, bytes, os.PathLike) or a binary file object, not %s"
            % type(dst).__name__
        )
    return dst


def _integer(name, value, optional):
    if value is None and optional:
        return None
    if isinstance(value, bool):
        raise TypeError("%s must be an int, not bool" % name)
    try:
        return str(operator.index(value))
    except TypeError:
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__)) from None


def _flag(name, value):
    if not isinstance(value, bool):
        raise TypeError("%s must be a bool, not %s" % (name, type(value).__name__))
    return value


def convert(
    src,
    dst=None,
    *,
    line_length=70,
    one_line=False,
    upper=False,
    drop_n=False,
    compress=None,
    level=None,
    threads=None,
    index=False,
    dict=False,
):
    """Converts the IG or FASTA records of src into FASTA, as the command line
    `quenbrel SRC DST` does, with the same output bytes, refusals and messages.

    src: a path (str, bytes, os.PathLike) or a binary file object (open(...,
        'rb'), io.BytesIO, sys.stdin.buffer). The input may be compressed in
        any format this build reads (gzip, BGZF, and where built in zstd, xz,
        bzip2); the first bytes tell which.
    dst: a path, a binary file object, or None (the default): the output is
        then returned as bytes. A path names the output as the command line's
        output operand does: its name may choose the format (.gz and .bgz BGZF,
        .zst zstd, .2bit 2bit), the index files and the dictionary are named after it, an
        earlier file of the name is emptied only once the conversion begins
        writing, and a file the run would write that is the input is refused.

    line_length: residues per output line (-n); 4 or less means 70.
    one_line: each sequence on one line (-ol).
    upper: residues in upper case (-uc).
    drop_n: drops the residues n and N (-unseq).
    compress: "gzip" (BGZF), "zstd" or "none" (--compress); None: by the
        output's name, plain for a file object or bytes.
    level: compression level (--level): gzip 0 to 12, default 1; zstd 1 to 19,
        default 3.
    threads: threads compressing the output and reading the input
        (--threads), 1 to 256; None: one per processor this process may run
        on.
    index: also writes DST.fai and, for BGZF output, DST.gzi (--index); needs
        a path as dst.
    dict: also writes the sequence dictionary (--dict); needs a path as dst.

    Returns the output as bytes when dst is None, else None.

    Raises FormatError (status 3) when the input is in neither IG nor FASTA
    format, NoContentError (4) when it has no content, ReadError (10) when it
    cannot be opened or read, WriteError (20) when the output or a file that
    describes it cannot be written or would overwrite the input, UsageError
    (10, also a ValueError) for an argument the command line would refuse,
    TypeError for an argument of the wrong type. Each Error carries the
    command line's `message` and `status`; an exception a file object raised
    is its __cause__. Names that several records have, and an empty name in
    the dictionary, are reported as NameWarning.

    The conversion runs without the GIL. Ctrl-C stops it and raises
    KeyboardInterrupt; the index files and the dictionary of the stopped run
    are not left behind.
    """
    return _quenbrel.convert(
        _source(src),
        _destination(dst),
        _integer("line_length", line_length, False),
        _flag("one_line", one_line),
        _flag("upper", upper),
        _flag("drop_n", drop_n),
        _text("compress", compress),
        _integer("level", level, True),
        _integer("threads", threads, True),
        _flag("index", index),
        _flag("dict", dict),
    )


def _text(name, value):
    if value is None or isinstance(value, str):
        return value
    raise TypeError("%s must be a str or None, not %s" % (name, type(value).__name__))


def records(src, *, upper=False, drop_n=False, binary=False):
    """Iterates the records of the IG or FASTA input src, as (header,
    sequence) pairs: the header as the converter writes it, without its '>'
    and line end, and the residues as it writes them, without line breaks.

    src: a path (str, bytes, os.PathLike) or a binary file object, in any
        compression this build reads.
    upper: residues in upper case (-uc).
    drop_n: drops the residues n and N (-unseq).
    binary: bytes instead of str. As str, a header that is not UTF-8 keeps
        its other bytes as lone surrogates (errors="surrogateescape").

    The input is read in constant memory, by the engine on a thread of its
    own, while the records are handed out. The iteration raises the command
    line's errors where the input fails: ReadError when it cannot be opened
    (at once) or read, FormatError before the first record of an input in
    neither format, NoContentError for an input without content. Ctrl-C
    raises KeyboardInterrupt and stops the reading. The iterator's close(),
    or leaving a `with` block, stops it early.
    """
    return _quenbrel.records(
        _source(src), _flag("upper", upper), _flag("drop_n", drop_n), _flag("binary", binary)
    )
