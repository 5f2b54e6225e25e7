#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The progress line of a long run, seen through pseudo-terminals.

    progress_test.py QUENBREL

Each case makes the run long by feeding its input slowly through a pipe,
by draining its output slowly or by leaving it blocked on a full pipe, so
that it lasts well past the first second; no case depends on how fast
anything else goes. On a terminal the
line must appear, only ever as "\\r", the text and a clear to the end of
the line, and be erased before every message and at the end: the
terminal, played back, holds the run's messages alone, exactly as a run
without a terminal writes them. Without a terminal, standard error is byte
for byte what --no-progress gives, and --progress gives plain lines.

The cases run side by side, each on its own terminal. Exits 77 (skipped)
where no pseudo-terminal can be opened, and where QUENBREL_TEST_NO_THREADS
says the tool cannot start a thread (the line is drawn on one).
"""
import concurrent.futures
import fcntl
import gzip
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)  # Linux's, named from Python 3.10
QUENBREL = sys.argv[1]

# How long a slow input takes to come: the line is due after one second.
FEED_SECONDS = 2.5
NOT_FORMAT = b"File is not in IG or FASTA format.\n"
# Blank lines, skipped, then a first line of content that fails.
BAD = b"ACGT\n"
FAILING = [b"\n" * 50] * 25 + [BAD]

AMOUNT = r"\d+(\.\d)? [kMGTPE]?B"
LINE = re.compile(
    r"quenbrel: %s (read|of %s \(\d+%%\)), %s/s(, (\d+ h )?(\d+ min )?\d+ (s|min) left)?"
    % (AMOUNT, AMOUNT, AMOUNT)
)
DRAW = re.compile(rb"\rquenbrel: [^\r\n\x1b]*\x1b\[K")
ERASE = b"\r\x1b[K"


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def records(count, residues, name=b"r"):
    """`count` records of `residues` each, named `name` and a number."""
    line = b"ACGT" * (residues // 4)
    return [b">%s%d\n%s\n" % (name, i, line) for i in range(count)]


class Terminal:
    """A pseudo-terminal whose output is gathered as it comes."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        self.chunks = []
        self.reader = threading.Thread(target=self._read)
        self.reader.start()

    def _read(self):
        # The master reads EIO once no process holds the slave any more.
        while True:
            try:
                data = os.read(self.master, 65536)
            except OSError:
                break
            if not data:
                break
            self.chunks.append(data)

    def close_slave(self):
        os.close(self.slave)

    def output(self):
        self.reader.join()
        os.close(self.master)
        return b"".join(self.chunks)


def feed(stdin, chunks, seconds=FEED_SECONDS):
    """Writes `chunks` spread over `seconds`."""
    pause = seconds / max(len(chunks), 1)
    try:
        for chunk in chunks:
            stdin.write(chunk)
            stdin.flush()
            time.sleep(pause)
    except BrokenPipeError:
        pass


def close(stdin):
    try:
        stdin.close()
    except BrokenPipeError:
        pass


def run(args, chunks, stderr, stdout=subprocess.DEVNULL, seconds=FEED_SECONDS):
    """Runs the tool on `chunks` fed over `seconds`; its status. A run that fails
    on what it was fed must end with its input still open: a read that
    waits on the pipe is stopped through the counting source."""
    p = subprocess.Popen([QUENBREL, *args], stdin=subprocess.PIPE, stdout=stdout, stderr=stderr)
    feed(p.stdin, chunks, seconds)
    if chunks and chunks[-1] == BAD:
        try:
            p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            close(p.stdin)
            p.wait()
            raise AssertionError("the run waited for input after its failure")
    close(p.stdin)
    return p.wait()


def on_terminal(args, chunks, stdout=subprocess.DEVNULL, seconds=FEED_SECONDS):
    term = Terminal()
    try:
        status = run(args, chunks, term.slave, stdout, seconds)
    finally:
        term.close_slave()
    return status, term.output()


def to_file(args, chunks, folder, name):
    path = os.path.join(folder, name)
    with open(path, "wb") as err:
        status = run(args, chunks, err)
    with open(path, "rb") as err:
        return status, err.read()


def messages(raw):
    """What the run wrote to its terminal besides the line: every draw and
    erase taken out, the terminal's line ends back to the program's."""
    return DRAW.sub(b"", raw).replace(ERASE, b"").replace(b"\r\n", b"\n")


def screen(raw):
    """The lines a terminal shows after `raw`: "\\r" goes to the start of
    the line, "\\n" down a line, ESC [ K clears from the cursor on."""
    rows, row, col = [[]], 0, 0
    i = 0
    while i < len(raw):
        if raw.startswith(b"\x1b[K", i):
            del rows[row][col:]
            i += 3
            continue
        c = raw[i : i + 1]
        assert c != b"\x1b", "an escape the line has no use for: %r" % raw[i : i + 8]
        if c == b"\r":
            col = 0
        elif c == b"\n":
            row += 1
            if row == len(rows):
                rows.append([])
        else:
            line = rows[row]
            line.extend([b" "] * (col - len(line)))
            line[col : col + 1] = [c]
            col += 1
        i += 1
    return [b"".join(r) for r in rows]


def expect_lines_drawn(raw):
    draws = DRAW.findall(raw)
    assert draws, "no progress line was drawn: %r" % raw[:300]
    for d in draws:
        text = d[1:-3].decode()
        assert LINE.fullmatch(text), "a line not in the form: %r" % text
    return [d[1:-3].decode() for d in draws]


def expect_terminal_holds(raw, expected):
    """The messages stand exactly as written, and the terminal ends with
    them alone: no line of progress is left, none mixed into them."""
    assert messages(raw) == expected, "messages %r, expected %r" % (messages(raw), expected)
    shown = screen(raw)
    assert shown == expected.split(b"\n"), "the terminal ends showing %r" % shown


def expect(cond, what):
    assert cond, what


# --- the cases ----------------------------------------------------------------


def case_line_on_a_slow_pipe(folder):
    chunks = records(25, 8000)
    out = os.path.join(folder, "out.fa")
    with open(out, "wb") as o:
        status, raw = on_terminal(["-"], chunks, o)
    expect(status == 0, "status %d" % status)
    draws = expect_lines_drawn(raw)
    expect(all(" read, " in d for d in draws), "a pipe has no size: %r" % draws)
    expect_terminal_holds(raw, b"")
    with open(out, "rb") as o:
        converted = o.read()
    plain = subprocess.run([QUENBREL, "-"], input=b"".join(chunks), capture_output=True)
    expect(converted == plain.stdout, "the output differs from a run without a terminal")
    return raw


def case_erased_before_the_failure(folder):
    chunks = FAILING
    status, raw = on_terminal(["-"], chunks)
    expect(status == 3, "status %d" % status)
    expect_lines_drawn(raw)
    expect_terminal_holds(raw, NOT_FORMAT)


def case_erased_before_a_write_failure(folder):
    # The reader thread waits in the input pipe, which stays open, while
    # the engine waits to write into a full pipe. That pipe's reader goes:
    # the write fails, and the run must stop the waiting read through the
    # counting source to end at all. SIGPIPE is left ignored, as Python
    # has it, so that the write fails rather than ends the process.
    r, w = os.pipe()
    # Two blocks of input, in the pipe before the run begins, so that the
    # run reads them whole. Where the pipe cannot hold them, they are
    # written as the run reads, in pieces that may fill every slot of the
    # reader instead: the case then proves less, never fails wrongly.
    data = b"".join(records(2, 128 * 1024 - 16))
    try:
        fcntl.fcntl(w, F_SETPIPE_SZ, 1 << 20)
        os.write(w, data)
        data = b""
    except OSError:
        pass
    term = Terminal()
    try:
        p = subprocess.Popen([QUENBREL, "-"], stdin=r, stdout=subprocess.PIPE, stderr=term.slave,
                             restore_signals=False)
        os.close(r)
        if data:
            threading.Thread(target=os.write, args=(w, data)).start()
        time.sleep(FEED_SECONDS)
        p.stdout.close()
        try:
            status = p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            os.close(w)
            p.wait()
            raise AssertionError("the run waited for input after its failure")
        os.close(w)
    finally:
        term.close_slave()
    raw = term.output()
    expect(status == 20, "status %d" % status)
    expect_lines_drawn(raw)
    expect_terminal_holds(raw, b"Failed to write output.\n")


def duplicate_names():
    # Each name twice: a warning for each.
    return records(12, 4000, b"same") * 2


def case_erased_before_the_warnings(folder):
    chunks = duplicate_names()
    status, raw = on_terminal(["--index", "-", os.path.join(folder, "out.fa")], chunks)
    expect(status == 0, "status %d" % status)
    expect_lines_drawn(raw)
    # The oracle: the same input, read at once, without a terminal.
    plain = subprocess.run(
        [QUENBREL, "--index", "-", os.path.join(folder, "plain.fa")],
        input=b"".join(chunks),
        capture_output=True,
    )
    expect(plain.stderr.count(b"Duplicate sequence name") == 12, "%r" % plain.stderr)
    expect_terminal_holds(raw, plain.stderr)


def case_none_without_a_terminal(folder):
    runs = [
        (["-"], FAILING, NOT_FORMAT, 3),
        (["--index", "-", os.path.join(folder, "w.fa")], duplicate_names(), None, 0),
    ]
    for i, (args, chunks, expected, want) in enumerate(runs):
        status, err = to_file(args, chunks, folder, "err%d" % i)
        quiet_status, quiet = to_file(["--no-progress", *args], chunks, folder, "quiet%d" % i)
        expect(status == want and quiet_status == want, "statuses %d, %d" % (status, quiet_status))
        expect(err == quiet, "standard error %r, with --no-progress %r" % (err, quiet))
        expect(expected is None or err == expected, "standard error %r" % err)
        expect(b"quenbrel:" not in err, "a line without a terminal: %r" % err)


def case_plain_lines_when_asked(folder):
    # The last of the two words decides.
    args = ["--no-progress", "--progress", "-"]
    status, err = to_file(args, FAILING, folder, "err")
    expect(status == 3, "status %d" % status)
    expect(b"\r" not in err and b"\x1b" not in err, "control characters: %r" % err)
    lines = err.split(b"\n")
    shown = [l for l in lines if l.startswith(b"quenbrel: ")]
    expect(shown, "no line: %r" % err)
    for l in shown:
        expect(LINE.fullmatch(l.decode()), "a line not in the form: %r" % l)
    rest = b"\n".join(l for l in lines if not l.startswith(b"quenbrel: "))
    expect(rest == NOT_FORMAT, "the message %r" % rest)


def case_never_with_no_progress(folder):
    status, raw = on_terminal(["-", "--no-progress"], FAILING)
    expect(status == 3, "status %d" % status)
    expect(raw == NOT_FORMAT.replace(b"\n", b"\r\n"), "%r" % raw)


def case_not_into_terminal_output(folder):
    # The output shown on the terminal: no line drawn into it, unless asked.
    for args, shown in ((["-"], False), (["--progress", "-"], True)):
        term = Terminal()
        try:
            status = run(args, records(25, 400), term.slave, term.slave)
        finally:
            term.close_slave()
        raw = term.output()
        expect(status == 0, "status %d" % status)
        expect(bool(DRAW.search(raw)) == shown, "%s: %r" % (args, raw[-300:]))


def case_not_while_the_input_is_typed(folder):
    keys = Terminal()
    term = Terminal()
    try:
        p = subprocess.Popen([QUENBREL, "-"], stdin=keys.slave, stdout=subprocess.DEVNULL,
                             stderr=term.slave)
        for line in [b">a\n"] + [b"ACGT\n"] * 24:
            os.write(keys.master, line)
            time.sleep(FEED_SECONDS / 25)
        # The end of what is typed: Ctrl-D at the start of a line.
        os.write(keys.master, b"\x04")
        status = p.wait()
    finally:
        term.close_slave()
        keys.close_slave()
    raw = term.output()
    keys.output()
    expect(status == 0, "status %d" % status)
    expect(raw == b"", "%r" % raw)


def case_size_of_a_compressed_file(folder):
    # A regular file has a size: the compressed bytes read of the file's
    # own size. Its output, drained slowly, makes the run long.
    table = bytes(b"ACGT"[i & 3] for i in range(256))
    body = os.urandom(6_000_000).translate(table)
    text = b">r\n" + b"\n".join(body[i : i + 60] for i in range(0, len(body), 60)) + b"\n"
    path = os.path.join(folder, "in.fa.gz")
    with open(path, "wb") as f:
        f.write(gzip.compress(text, 1))
    size = os.path.getsize(path)
    term = Terminal()
    try:
        p = subprocess.Popen([QUENBREL, path], stdout=subprocess.PIPE, stderr=term.slave)
        got = 0
        pace = len(text) / FEED_SECONDS
        start = time.monotonic()
        while True:
            data = p.stdout.read1(65536)
            if not data:
                break
            got += len(data)
            ahead = got / pace - (time.monotonic() - start)
            if ahead > 0:
                time.sleep(ahead)
        status = p.wait()
    finally:
        term.close_slave()
    raw = term.output()
    expect(status == 0, "status %d" % status)
    draws = expect_lines_drawn(raw)
    units = {"B": 1, "kB": 1e3, "MB": 1e6, "GB": 1e9}
    for d in draws:
        m = re.search(r" of (\S+) (\S+) \((\d+)%\)", d)
        expect(m, "no size: %r" % d)
        total = float(m.group(1)) * units[m.group(2)]
        # Shown with two or three figures.
        expect(abs(total - size) <= size * 0.05, "%r for a file of %d bytes" % (d, size))
    expect_terminal_holds(raw, b"")


def case_none_for_a_short_run(folder):
    # A megabyte at once: a few milliseconds of work.
    start = time.monotonic()
    status, raw = on_terminal(["-"], [b"".join(records(10, 100000))], seconds=0)
    took = time.monotonic() - start
    expect(status == 0, "status %d" % status)
    # A run that took most of a second may rightly show the line.
    if took < 0.8:
        expect(raw == b"", "%r" % raw)


CASES = [v for k, v in sorted(globals().items()) if k.startswith("case_")]


def main():
    if os.environ.get("QUENBREL_TEST_NO_THREADS"):
        skip(os.environ["QUENBREL_TEST_NO_THREADS"])
    try:
        for fd in os.openpty():
            os.close(fd)
    except OSError as e:
        skip("no pseudo-terminal: %s" % e)
    failed = 0
    with tempfile.TemporaryDirectory() as top:
        with concurrent.futures.ThreadPoolExecutor(len(CASES)) as pool:
            futures = {}
            for case in CASES:
                folder = os.path.join(top, case.__name__)
                os.mkdir(folder)
                futures[case] = pool.submit(case, folder)
            for case in CASES:
                try:
                    result = futures[case].result()
                    print("ok   %s" % case.__name__)
                    if case is case_line_on_a_slow_pipe and os.environ.get("PROGRESS_SHOW"):
                        print(repr(result))
                except AssertionError as e:
                    failed += 1
                    print("FAIL %s: %s" % (case.__name__, e))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
