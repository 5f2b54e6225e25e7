# SPDX-License-Identifier: MIT
"""quenbrel.convert() against the command line: for every input and every
set of options, the same output bytes, the same message and the same status,
through paths, file objects and bytes."""

import io
import os
import signal
import subprocess
import sys
import textwrap
import time
import warnings

import pytest

import quenbrel
from conftest import COMPRESSIONS, INPUTS, SOURCE, run_tool, tool_message, tool_reads

# (id, keyword arguments, the command line's words for them)
OPTIONS = [
    ("defaults", {}, []),
    ("n5", {"line_length": 5}, ["-n", "5"]),
    ("n4MeansSeventy", {"line_length": 4}, ["-n", "4"]),
    ("nNegative", {"line_length": -3}, ["-n", "-3"]),
    ("oneLine", {"one_line": True}, ["-ol"]),
    ("upper", {"upper": True}, ["-uc"]),
    ("dropN", {"drop_n": True}, ["-unseq"]),
    ("all", {"line_length": 9, "upper": True, "drop_n": True}, ["-n", "9", "-uc", "-unseq"]),
    ("oneThread", {"threads": 1}, ["--threads=1"]),
    ("threeThreads", {"threads": 3, "one_line": True}, ["--threads=3", "-ol"]),
]

# Output formats by name and by request: the tool's own bytes.
FORMATS = [
    ("plainByName", "out.fa", {}, []),
    ("bgzfByName", "out.fa.gz", {}, []),
    ("bgzfAsked", "out.fa", {"compress": "gzip", "level": 6}, ["--compress=gzip", "--level=6"]),
    ("bgzfStored", "out.bgz", {"level": 0, "threads": 2}, ["--level=0", "--threads=2"]),
    ("plainAsked", "out.fa.gz", {"compress": "none"}, ["--compress=none"]),
]


def expect_same(call, out, err, status, got_output=None):
    """Runs `call` and holds what it did to what the tool did."""
    try:
        result = call()
    except quenbrel.Error as e:
        assert (e.status, e.message) == (status, tool_message(err))
        return None
    assert (status, tool_message(err)) == (0, "")
    if got_output is not None:
        assert got_output() == out
    return result


@pytest.mark.parametrize("name", INPUTS)
@pytest.mark.parametrize("option_id,kwargs,words", OPTIONS, ids=[o[0] for o in OPTIONS])
def test_paths_like_the_command_line(folder, name, option_id, kwargs, words):
    src = folder / "in.txt"
    src.write_bytes(INPUTS[name])
    _, err, status = run_tool([str(src), str(folder / "tool.fa"), *words])
    tool_out = (folder / "tool.fa").read_bytes() if (folder / "tool.fa").exists() else None

    def call():
        return quenbrel.convert(src, folder / "module.fa", **kwargs)

    def made():
        return (folder / "module.fa").read_bytes()

    assert expect_same(call, tool_out, err, status, made) is None
    assert (folder / "module.fa").exists() == (tool_out is not None)


@pytest.mark.parametrize("name", INPUTS)
@pytest.mark.parametrize("option_id,kwargs,words", OPTIONS[:8], ids=[o[0] for o in OPTIONS[:8]])
def test_bytes_and_file_objects_like_standard_streams(name, option_id, kwargs, words):
    out, err, status = run_tool(["-", *words], INPUTS[name])
    got = expect_same(lambda: quenbrel.convert(io.BytesIO(INPUTS[name]), **kwargs), out, err, status)
    if status == 0:
        assert got == out
    sink = io.BytesIO()
    expect_same(lambda: quenbrel.convert(io.BytesIO(INPUTS[name]), sink, **kwargs), out, err,
                status, sink.getvalue)


@pytest.mark.parametrize("compression", COMPRESSIONS)
@pytest.mark.parametrize("name", ["Fasta", "Ig", "ManyRecords", "NotFormat", "Empty"])
def test_compressed_input(folder, compression, name):
    if not tool_reads(compression):
        pytest.skip("this build does not read %s" % compression)
    src = folder / "in.z"
    src.write_bytes(COMPRESSIONS[compression](INPUTS[name]))
    out, err, status = run_tool([str(src)])
    got = expect_same(lambda: quenbrel.convert(str(src)), out, err, status)
    if status == 0:
        assert got == out


@pytest.mark.parametrize("format_id,out_name,kwargs,words", FORMATS, ids=[f[0] for f in FORMATS])
@pytest.mark.parametrize("described", [False, True], ids=["alone", "withIndexAndDict"])
def test_output_formats_and_described_files(folder, format_id, out_name, kwargs, words, described):
    src = folder / "in.ig"
    src.write_bytes(INPUTS["Sample"] + INPUTS["ManyRecords"])
    extra = ["--index", "--dict"] if described else []
    kw = dict(kwargs, index=described, dict=described)
    for side in ("tool", "module"):
        (folder / side).mkdir()
    _, err, status = run_tool([str(src), out_name, *words, *extra], cwd=folder / "tool")
    os.chdir(folder / "module")
    expect_same(lambda: quenbrel.convert(src, out_name, **kw), None, err, status)
    made = sorted(os.listdir(folder / "module"))
    assert made == sorted(os.listdir(folder / "tool"))
    for f in made:
        a, b = (folder / side / f for side in ("tool", "module"))
        if f.endswith(".dict"):
            # Each names its own output by its path.
            strip = lambda t: [l.split(b"\tUR:")[0] for l in t.splitlines()]
            assert strip(a.read_bytes()) == strip(b.read_bytes())
        else:
            assert a.read_bytes() == b.read_bytes(), f


# (id, what the call is given, the tool's words, the argument named)
REFUSALS = [
    ("levelOutOfRange", {"compress": "gzip", "level": 13}, ["--compress=gzip", "--level=13"],
     "level"),
    ("levelNegative", {"level": -1}, ["--level=-1"], "level"),
    ("unknownFormat", {"compress": "brotli"}, ["--compress=brotli"], "compress"),
    ("emptyFormat", {"compress": ""}, ["--compress="], "compress"),
    ("noThreads", {"threads": 0}, ["--threads=0"], "threads"),
    ("tooManyThreads", {"threads": 257}, ["--threads=257"], "threads"),
    ("lineLengthAboveInt", {"line_length": 2**31}, ["-n", str(2**31)], "line_length"),
    ("indexWithoutName", {"index": True}, ["--index"], "index"),
    ("dictWithoutName", {"dict": True}, ["--dict"], "dict"),
    ("zstdIndex", {"compress": "zstd", "index": True}, ["--compress=zstd", "--index"], "index"),
]


@pytest.mark.parametrize("refusal_id,kwargs,words,argument", REFUSALS,
                         ids=[r[0] for r in REFUSALS])
def test_arguments_the_command_line_refuses(refusal_id, kwargs, words, argument):
    _, err, status = run_tool(["-", *words], INPUTS["Fasta"])
    with pytest.raises(quenbrel.Error) as caught:
        quenbrel.convert(io.BytesIO(INPUTS["Fasta"]), **kwargs)
    e = caught.value
    # The exception holds the only reference to its message (and the call
    # its argument).
    references = sys.getrefcount(e.message)
    assert references == 2
    assert (e.status, e.message) == (status, tool_message(err))
    if "built without" not in e.message:
        assert isinstance(e, quenbrel.UsageError) and isinstance(e, ValueError)
        assert str(e).startswith(argument + ": ")


def test_files_the_command_line_refuses(folder):
    src = folder / "in.fa"
    src.write_bytes(INPUTS["Fasta"])
    (folder / "link.fa").symlink_to(src)
    rows = [
        ("missing", [str(folder / "no.fa")], lambda: quenbrel.convert(folder / "no.fa")),
        ("outputIsInput", [str(src), str(src)], lambda: quenbrel.convert(src, src)),
        ("outputIsInputThroughALink", [str(src), str(folder / "link.fa")],
         lambda: quenbrel.convert(str(src), str(folder / "link.fa"))),
        ("indexIsInput", [str(folder / "x.fai"), str(folder / "x"), "--index"],
         lambda: quenbrel.convert(folder / "x.fai", folder / "x", index=True)),
        ("unwritable", [str(src), str(folder / "no" / "out.fa")],
         lambda: quenbrel.convert(src, folder / "no" / "out.fa")),
    ]
    (folder / "x.fai").write_bytes(INPUTS["Fasta"])
    for row_id, words, call in rows:
        _, err, status = run_tool(words)
        with pytest.raises(quenbrel.Error) as caught:
            call()
        assert (caught.value.status, caught.value.message) == (status, tool_message(err)), row_id
    assert src.read_bytes() == INPUTS["Fasta"]
    assert (folder / "x.fai").read_bytes() == INPUTS["Fasta"]
    # The file an open file object writes to is known too.
    with open(src, "ab") as same:
        _, err, status = run_tool([str(src)])
        with pytest.raises(quenbrel.WriteError) as caught:
            quenbrel.convert(src, same)
        assert caught.value.message.startswith("Refusing to write the output into the input")
    assert src.read_bytes() == INPUTS["Fasta"]


def test_a_refused_run_leaves_an_earlier_output(folder):
    src = folder / "in.txt"
    out = folder / "out.fa"
    for data in (b"X\n", b">a\nAC\n"):
        src.write_bytes(data)
        out.write_bytes(b"earlier")
        with pytest.raises(quenbrel.Error):
            quenbrel.convert(src, out, level=99)
        assert out.read_bytes() == b"earlier"
    src.write_bytes(b"X\n")
    with pytest.raises(quenbrel.FormatError):
        quenbrel.convert(src, out)
    assert out.read_bytes() == b"earlier"


def test_warnings_are_the_command_lines(folder):
    src = folder / "in.fa"
    src.write_bytes(INPUTS["DuplicateNames"] + INPUTS["EmptyName"])
    _, err, status = run_tool([str(src), str(folder / "t.fa"), "--index", "--dict"])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        quenbrel.convert(src, folder / "m.fa", index=True, dict=True)
    assert status == 0
    assert [str(w.message) + "\n" for w in caught] == err.splitlines(keepends=True)
    assert all(w.category is quenbrel.NameWarning for w in caught)
    assert all(w.filename == __file__ for w in caught)
    # Made errors by the filters, a warning fails the call once the files
    # are written.
    with warnings.catch_warnings():
        warnings.simplefilter("error", quenbrel.NameWarning)
        with pytest.raises(quenbrel.NameWarning):
            quenbrel.convert(src, folder / "e.fa", index=True)
    assert (folder / "e.fa.fai").exists()
    # 2bit output's letters it has no room for are no name's.
    src.write_bytes(b">a\nACRYT\n")
    _, err, status = run_tool([str(src), str(folder / "t.2bit")])
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        quenbrel.convert(src, folder / "m.2bit")
    assert status == 0
    assert [str(w.message) + "\n" for w in caught] == err.splitlines(keepends=True)
    assert [w.category for w in caught] == [UserWarning]
    assert (folder / "m.2bit").read_bytes() == (folder / "t.2bit").read_bytes()


class Failing(io.RawIOBase):
    """A file object that fails after `good` bytes."""

    def __init__(self, data=b"", good=0, writable=False):
        self.data, self.good, self.can_write = data, good, writable

    def readable(self):
        return not self.can_write

    def writable(self):
        return self.can_write

    def readinto(self, b):
        if self.good <= 0:
            raise OSError("the disk is on fire")
        n = min(len(b), len(self.data), self.good)
        b[:n] = self.data[:n]
        self.data, self.good = self.data[n:], self.good - n
        return n

    def write(self, b):
        if self.good <= 0:
            raise OSError("the disk is full")
        n = min(len(b), self.good, 7)  # a raw file takes a part at a time
        self.good -= n
        return n


class Shapes:
    """File objects of every shape the module reads and writes."""

    class ReadOnly:
        def __init__(self, data):
            self.f = io.BytesIO(data)

        def read(self, n):
            return self.f.read(min(n, 5))

    class IntoOnly:
        def __init__(self, data):
            self.f = io.BytesIO(data)

        def readinto(self, b):
            return self.f.readinto(b)

    class WriteOnly:
        def __init__(self):
            self.parts = []

        def write(self, b):
            self.parts.append(bytes(b))
            return len(b)


def test_file_objects_of_every_shape(folder):
    data = INPUTS["ManyRecords"]
    want = quenbrel.convert(data and io.BytesIO(data))
    assert quenbrel.convert(Shapes.ReadOnly(data)) == want
    assert quenbrel.convert(Shapes.IntoOnly(data)) == want
    sink = Shapes.WriteOnly()
    assert quenbrel.convert(io.BytesIO(data), sink) is None
    assert b"".join(sink.parts) == want
    raw = folder / "raw.fa"
    with open(raw, "wb", buffering=0) as f:
        quenbrel.convert(io.BytesIO(data), f)
    assert raw.read_bytes() == want
    with open(folder / "in.fa", "wb") as f:
        f.write(data)
    with open(folder / "in.fa", "rb") as f:
        assert quenbrel.convert(f) == want
    # A partial writer gets every byte in the end.
    taker = Failing(good=10**9, writable=True)
    quenbrel.convert(io.BytesIO(data), taker)
    assert taker.good == 10**9 - len(want)


def test_what_a_file_object_raises_is_the_cause():
    with pytest.raises(quenbrel.ReadError) as caught:
        quenbrel.convert(Failing(INPUTS["ManyRecords"], good=70_000))
    assert caught.value.message == "Failed to read input.\n"
    assert isinstance(caught.value.__cause__, OSError)
    assert "on fire" in str(caught.value.__cause__)
    with pytest.raises(quenbrel.WriteError) as caught:
        quenbrel.convert(io.BytesIO(INPUTS["ManyRecords"]), Failing(good=100, writable=True))
    assert caught.value.message == "Failed to write output.\n"
    assert "is full" in str(caught.value.__cause__)

    class BadCount:
        def readinto(self, b):
            return len(b) + 1

    with pytest.raises(quenbrel.ReadError) as caught:
        quenbrel.convert(BadCount())
    assert isinstance(caught.value.__cause__, ValueError)


# (id, the call, the exception)
TYPE_ERRORS = [
    ("srcNumber", lambda: quenbrel.convert(12), TypeError),
    ("srcTextFile", lambda: quenbrel.convert(io.StringIO(">a\nAC\n")), TypeError),
    ("dstNumber", lambda: quenbrel.convert(io.BytesIO(b">a\nAC\n"), 3), TypeError),
    ("dstTextFile", lambda: quenbrel.convert(io.BytesIO(b">a\nAC\n"), io.StringIO()), TypeError),
    ("lineLengthText", lambda: quenbrel.convert(b"x", line_length="5"), TypeError),
    ("lineLengthBool", lambda: quenbrel.convert(b"x", line_length=True), TypeError),
    ("levelFloat", lambda: quenbrel.convert(b"x", level=1.5), TypeError),
    ("upperNumber", lambda: quenbrel.convert(b"x", upper=1), TypeError),
    ("compressNumber", lambda: quenbrel.convert(b"x", compress=1), TypeError),
    ("nullInPath", lambda: quenbrel.convert("a\0b"), ValueError),
    ("positionalOption", lambda: quenbrel.convert(b"x", None, 5), TypeError),
]


@pytest.mark.parametrize("row_id,call,error", TYPE_ERRORS, ids=[t[0] for t in TYPE_ERRORS])
def test_arguments_of_the_wrong_type(row_id, call, error):
    with pytest.raises(error):
        call()


INTERRUPTED = textwrap.dedent(
    """
    import sys, quenbrel
    try:
        if sys.argv[1] == "convert":
            quenbrel.convert("slow", "out.fa.gz", index=True, dict=True)
        else:
            for number, record in enumerate(quenbrel.records("slow")):
                if number == 0:
                    print("started", flush=True)
        print("finished")
    except KeyboardInterrupt:
        print("interrupted")
    """
)


@pytest.mark.parametrize("call", ["convert", "records"])
def test_ctrl_c_stops_the_run_and_leaves_no_temporary_file(folder, call):
    os.mkfifo(folder / "slow")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, "-c", INTERRUPTED, call], cwd=folder, env=env,
                             stdout=subprocess.PIPE)
    with open(folder / "slow", "wb") as feed:
        feed.write(INPUTS["ManyRecords"] * 20)
        feed.flush()
        # The run is under way, its files open, when the signal comes; the
        # pipe stays open, so a read waits for more.
        deadline = time.monotonic() + 20
        while call == "convert" and not any(".tmp" in f for f in os.listdir(folder)):
            assert time.monotonic() < deadline, os.listdir(folder)
            time.sleep(0.02)
        started = child.stdout.readline() if call == "records" else b"started\n"
        assert started == b"started\n"
        child.send_signal(signal.SIGINT)
        out, _ = child.communicate(timeout=30)
    assert out == b"interrupted\n"
    assert child.returncode == 0
    assert not [f for f in os.listdir(folder) if ".tmp" in f]


def test_threads_give_the_same_bytes(folder):
    src = folder / "in.fa"
    src.write_bytes(INPUTS["ManyRecords"] * 30)
    want = None
    for threads in (1, 2, 4, 16):
        got = quenbrel.convert(src, compress="gzip", threads=threads)
        out, _, _ = run_tool([str(src), "--compress=gzip", "--threads=%d" % threads])
        assert got == out
        want = want or got
        assert got == want


def test_convert_runs_without_the_gil(folder):
    import threading

    src = folder / "in.fa"
    src.write_bytes(INPUTS["LongLine"] * 200)
    ticks = []
    stop = threading.Event()

    def count():
        while not stop.is_set():
            ticks.append(1)
            stop.wait(0.001)

    t = threading.Thread(target=count)
    t.start()
    try:
        for _ in range(5):
            quenbrel.convert(src, folder / "out.fa.gz", threads=1, level=12)
    finally:
        stop.set()
        t.join()
    assert len(ticks) > 100, len(ticks)
