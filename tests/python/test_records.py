# SPDX-License-Identifier: MIT
"""quenbrel.records() against Biopython's reading of the command line's
one-line output: the same records, in the same order, from every input and
compression; the errors where the command line fails."""

import io
import os
import subprocess
import sys
import textwrap

import pytest

import quenbrel
from conftest import COMPRESSIONS, INPUTS, SOURCE, residues, run_tool, tool_message, tool_reads

SimpleFastaParser = pytest.importorskip("Bio.SeqIO.FastaIO").SimpleFastaParser

OPTIONS = [
    ("defaults", {}, []),
    ("upper", {"upper": True}, ["-uc"]),
    ("dropN", {"drop_n": True}, ["-unseq"]),
    ("both", {"upper": True, "drop_n": True}, ["-uc", "-unseq"]),
]


def tool_records(data, words):
    """The records of the tool's one-line output as Biopython reads them,
    the headers as the tool wrote them, the message and the status."""
    out, err, status = run_tool(["-", "-ol", *words], data)
    text = out.decode("latin-1")
    parsed = list(SimpleFastaParser(io.StringIO(text)))
    headers = [line[1:] for line in text.split("\n") if line.startswith(">")]
    return parsed, headers, err, status


def collect(src, **kwargs):
    """The records, or the error: (records, status, message)."""
    got = []
    try:
        for record in quenbrel.records(src, **kwargs):
            got.append(record)
    except quenbrel.Error as e:
        return got, e.status, e.message
    return got, 0, ""


@pytest.mark.parametrize("name", INPUTS)
@pytest.mark.parametrize("option_id,kwargs,words", OPTIONS, ids=[o[0] for o in OPTIONS])
def test_records_are_the_converters(name, option_id, kwargs, words):
    parsed, headers, err, status = tool_records(INPUTS[name], words)
    got, got_status, message = collect(io.BytesIO(INPUTS[name]), binary=True, **kwargs)
    assert (got_status, message) == (status, tool_message(err))
    # Biopython strips what ends a header line; the module gives it whole.
    assert [(h.decode("latin-1").rstrip(), s.decode()) for h, s in got] == parsed
    assert [h.decode("latin-1") for h, _ in got] == headers


@pytest.mark.parametrize("compression", COMPRESSIONS)
def test_every_compression(folder, compression):
    if not tool_reads(compression):
        pytest.skip("this build does not read %s" % compression)
    data = INPUTS["Ig"] + INPUTS["ManyRecords"]
    path = folder / "in.z"
    path.write_bytes(COMPRESSIONS[compression](data))
    assert list(quenbrel.records(path)) == list(quenbrel.records(io.BytesIO(data)))
    # BGZF, as the tool writes it, read on its workers.
    bgzf = folder / "in.fa.gz"
    run_tool([str(path), str(bgzf)])
    assert list(quenbrel.records(bgzf)) == list(quenbrel.records(io.BytesIO(data)))


def test_text_and_bytes():
    data = INPUTS["NotUtf8Header"] + INPUTS["Utf8Header"] + b">\x80\nAC\n" + INPUTS["Crlf"]
    as_text = list(quenbrel.records(io.BytesIO(data)))
    as_bytes = list(quenbrel.records(io.BytesIO(data), binary=True))
    assert as_text == [
        ("r\udce9sum\udce9 \udcff", "ACGT"),
        ("résumé ü", "ACGT"),
        ("\udc80", "AC"),
        ("a b\r", "ACGTNNac"),
        ("c\r", ""),
    ]
    assert [(os.fsencode(h), s.encode()) for h, s in as_text] == as_bytes
    assert all(type(s) is str for pair in as_text for s in pair)


def test_records_longer_than_a_batch_and_than_a_chunk():
    # Records that straddle the batches and the chunks they are kept in, a
    # header among them.
    big = residues(3 * 1024 * 1024 + 17)
    long_header = b"h" * (1024 * 1024 + 3) + "é".encode()
    data = b"".join(
        [b">small\nAC\n", b">big\n" + big + b"\n", b">" + long_header + b"\nGG\n"]
        + [b">r%d\n%s\n" % (i, residues(i % 1000)) for i in range(5000)]
        + [b">end\n" + big + b"\n"]
    )
    parsed, headers, _, status = tool_records(data, [])
    assert status == 0
    for binary in (False, True):
        got = list(quenbrel.records(io.BytesIO(data), binary=binary))
        if not binary:
            got = [(os.fsencode(h), s.encode()) for h, s in got]
        assert [(h.decode("latin-1"), s.decode()) for h, s in got] == parsed
    assert got[1][1] == big and got[2][0] == long_header


def test_errors_and_where_they_come():
    with pytest.raises(quenbrel.ReadError) as caught:
        quenbrel.records("/no/such/file.fa")
    assert caught.value.message == "Bad file name /no/such/file.fa\nFailed to asign input.\n"
    it = quenbrel.records(io.BytesIO(b"X\n"))
    with pytest.raises(quenbrel.FormatError):
        next(it)
    assert list(it) == []
    with pytest.raises(quenbrel.NoContentError):
        list(quenbrel.records(io.BytesIO(b"")))
    # A damaged stream: the records before the damage, then the error; the
    # record the damage cut short is not handed out.
    import gzip

    whole = gzip.compress(INPUTS["ManyRecords"] * 40, mtime=0)
    damaged = whole[: len(whole) // 2]
    got, status, message = collect(io.BytesIO(damaged))
    _, err, tool_status = run_tool(["-", "-ol"], damaged)
    assert (status, message) == (tool_status, tool_message(err))
    all_records = list(quenbrel.records(io.BytesIO(INPUTS["ManyRecords"] * 40)))
    assert 0 < len(got) < len(all_records)
    assert got == all_records[: len(got)]


def test_what_a_file_object_raises_is_the_cause():
    class Failing:
        def __init__(self):
            self.calls = 0

        def readinto(self, b):
            self.calls += 1
            if self.calls > 2:
                raise OSError("the disk is on fire")
            data = INPUTS["ManyRecords"][: len(b)]
            b[: len(data)] = data
            return len(data)

    with pytest.raises(quenbrel.ReadError) as caught:
        list(quenbrel.records(Failing()))
    assert isinstance(caught.value.__cause__, OSError)


def test_stopping_early_lets_go_of_the_input(folder):
    path = folder / "in.fa"
    path.write_bytes(INPUTS["ManyRecords"] * 50)
    for _ in range(20):
        it = quenbrel.records(path)
        next(it)
        it.close()
        assert list(it) == []
    with quenbrel.records(path) as it:
        first = next(it)
    assert first == ("r0", "") and list(it) == []
    # Dropped unfinished, from a pipe that never ends.
    reader = subprocess.Popen(["yes", ">r\nACGT"], stdout=subprocess.PIPE)
    try:
        it = quenbrel.records(reader.stdout)
        assert next(it) == ("r", "ACGT")
        del it
    finally:
        reader.kill()
        reader.wait()


def test_a_pipe_and_standard_input():
    data = INPUTS["Ig"] + INPUTS["ManyRecords"]
    script = "import sys, quenbrel; print(sum(1 for _ in quenbrel.records(sys.stdin.buffer)))"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    r = subprocess.run([sys.executable, "-c", script], input=data, capture_output=True, env=env)
    assert r.stdout == b"%d\n" % len(list(quenbrel.records(io.BytesIO(data))))


# The peak is the process's own (VmHWM): getrusage() would count what the
# process held before it started the interpreter, the test runner's memory.
MEMORY = textwrap.dedent(
    """
    import sys, quenbrel
    n = 0
    for header, sequence in quenbrel.records(sys.argv[1]):
        n += 1
    with open("/proc/self/status") as status:
        peak = [l.split()[1] for l in status if l.startswith("VmHWM:")][0]
    print(n, peak)
    """
)


def test_memory_does_not_grow_with_the_input(folder):
    # Many short records, 16 MB and 128 MB: both fill the queue and the
    # chunks kept for the run (a smaller input may not), and the larger one
    # may take no more memory than that: what is in flight varies by up to
    # some 12 MiB from run to run.
    peaks = []
    for copies in (4, 32):
        path = folder / ("in%d.fa" % copies)
        with open(path, "wb") as f:
            chunk = b"".join(b">read%d\n%s\n" % (i, residues(50)) for i in range(65536))
            for _ in range(copies):
                f.write(chunk)
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
        r = subprocess.run([sys.executable, "-c", MEMORY, str(path)], capture_output=True,
                           env=env, check=True)
        count, peak_kb = map(int, r.stdout.split())
        assert count == 65536 * copies
        peaks.append(peak_kb)
    assert peaks[1] < peaks[0] + 24 * 1024, peaks


def test_records_come_while_the_input_waits():
    # A source that gives 300 kB of records and then waits: the first
    # records come before it goes on, not with the end of a full batch,
    # though the run wrote them before the reader began to wait.
    import threading
    import time

    release = threading.Event()

    class Waiting:
        def __init__(self):
            self.data = b"".join(b">r%d\n%s\n" % (i, residues(500)) for i in range(600))

        ended = False

        def readinto(self, b):
            if not self.data:
                release.wait(20)
                self.ended = True
                return 0
            n = min(len(b), len(self.data))
            b[:n], self.data = self.data[:n], self.data[n:]
            return n

    source = Waiting()
    it = quenbrel.records(source)
    time.sleep(0.5)
    first = next(it)
    came_early = not source.ended
    release.set()
    assert first == ("r0", residues(500).decode())
    assert came_early
    assert len(list(it)) == 599
