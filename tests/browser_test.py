#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The browser page against the command line: headless Chromium opens the
built page from disk, converts a set of files with each group of settings,
downloads every result, and each downloaded byte, status and message must be
what the native tool writes for the same input and settings.

    browser_test.py QUENBREL PAGE_DIR SOURCE_DIR [--big-mb N] [--deflater zlib|libdeflate]

The page deflates the BGZF members that the sequence coder declines (text of
long headers, protein) with zlib's algorithm; a tool built with libdeflate
deflates them with that library's. Against such a tool (--deflater
libdeflate) a BGZF output is compared on what it holds: the same plain
bytes in every member, the end-of-file member, the .gzi at the page's own
member starts; every other file byte for byte.

Exits 77 (skipped) where Chromium, its driver or Selenium is missing.
"""
import argparse
import base64
import functools
import gzip
import http.server
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import zlib

SKIP = 77


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    skip("Selenium for Python is not installed (Debian package python3-selenium)")

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")

# The page's build reads gzip only; the other formats it refuses with the
# command line's message of a build without their library.
BUILT_WITHOUT = {
    "zstd": "Input is zstd-compressed, but quenbrel was built without zstd support (libzstd).\n",
    "xz": "Input is xz-compressed, but quenbrel was built without xz support (liblzma).\n",
    "bzip2": "Input is bzip2-compressed, but quenbrel was built without bzip2 support (libbz2).\n",
}


def gzip_member(data, level=6):
    return gzip.compress(data, compresslevel=level, mtime=0)


def gzip_with_fields(data):
    """A gzip member whose header holds an extra field, a name, a comment
    and its own check (FEXTRA, FNAME, FCOMMENT, FHCRC)."""
    head = b"\x1f\x8b\x08\x1e" + b"\0\0\0\0" + b"\0\x03"
    head += (6).to_bytes(2, "little") + b"QB\x02\0hi"
    head += b"reads.fa\0" + b"made for the page's test\0"
    head += (zlib.crc32(head) & 0xffff).to_bytes(2, "little")
    raw = zlib.compressobj(6, zlib.DEFLATED, -15)
    body = raw.compress(data) + raw.flush()
    return head + body + zlib.crc32(data).to_bytes(4, "little") + \
        (len(data) & 0xffffffff).to_bytes(4, "little")


def other_tools_gzip(work, name, data, command):
    """`data` compressed by another tool: `command` reads the file named
    last and writes to standard output."""
    path = os.path.join(work, name + ".in")
    with open(path, "wb") as f:
        f.write(data)
    return subprocess.run(command + [path], stdout=subprocess.PIPE, check=True).stdout


def residues(n, seed, letters="ACGT"):
    rng = random.Random(seed)
    return "".join(rng.choice(letters) for _ in range(n))


def fasta(records, width=60):
    out = []
    for name, seq in records:
        out.append(">" + name + "\n")
        for i in range(0, len(seq), width):
            out.append(seq[i:i + width] + "\n")
    return "".join(out).encode()


def small_inputs(source_dir, quenbrel, work):
    """The inputs every group of settings converts: name -> bytes, and the
    names the page must refuse as built without a library."""
    dna = fasta([("chr%d description" % i, residues(5000 + 977 * i, i)) for i in range(1, 6)])
    ig = b"".join(b";comment of %d\n;FRAGMENT 1 -> 40\nrec%d some words\n%s1\n" %
                  (i, i, residues(300, 100 + i).encode()) for i in range(4))
    inputs = {
        "sample.ig": open(os.path.join(source_dir, "examples", "sample.ig"), "rb").read(),
        # Rows of the command line's table.
        "empty.txt": b"",
        "blank-lines.txt": b"\n\n\n",
        "residues-first.txt": b"ACGT\n>a\nAC\n",
        "ig-ends-in-comment.ig": b";c1\nname\nACGT\n;only a comment\n",
        "crlf.fa": b">a desc\r\nACGTN\r\nnnAC\r\n>b\r\nGG\r\n",
        "mac.fa": b">a\rACGTNNN\racgt\r>b\rTT\r",
        "bom.fa": b"\xef\xbb\xbf>a\nAC GT 12 *.\n",
        "nul.fa": b">a\x00b\nAC\x00GT\n",
        "header-only-last.fa": b">a\nACGT\n>b\n",
        "duplicates.fa": b">x 1\nACGT\n>x 2\nGGCC\n>y\nTT\n",
        "protein.fa": fasta([("prot%d" % i, residues(3000, 50 + i, "ACDEFGHIKLMNPQRSTVWY"))
                             for i in range(30)]),
        "long-headers.fa": fasta([("h%d " % i + "w" * 20000, residues(100, i)) for i in range(8)]),
        "many-n.fa": fasta([("gap", "N" * 70000 + residues(20000, 7) + "n" * 5000)]),
        "dna.fa": dna,
        "records.ig": ig,
        "not-sequence.bin": bytes(range(256)) * 4,
        # A size shown in MB, not as 1000 KB.
        "size-million.fa": b">m\n" + b"ACGTACGTA\n" * 99999 + b"ACGTAC\n",
        # Compressed: gzip, several members, BGZF, damaged.
        "dna-gz.fa.gz": gzip_member(dna),
        "members.ig.gz": gzip_member(ig[:500]) + gzip_member(ig[500:]) + gzip_member(b""),
        "gzip-not-sequence.gz": gzip_member(b"hello, this is no sequence\n" * 100),
        "cut-short.fa.gz": gzip_member(dna)[:-9],
        "bad-crc.fa.gz": gzip_member(dna)[:-8] + b"\0\0\0\0" + gzip_member(dna)[-4:],
        "trailing-zeros.fa.gz": gzip_member(dna) + b"\0" * 16,
        "trailing-garbage.fa.gz": gzip_member(dna) + b"garbage",
        "not-format-then-damage.gz": gzip_member(b"ACGT\n" * 2000)[:-5],
        "corrupt-data.fa.gz": corrupt(gzip_member(dna, 1)),
    }
    # gzip made by other tools, of members larger than the 32 KiB window:
    # each member's back-references reach across the decoder's steps.
    several_mb = fasta([("seq%d" % i, residues(900000, 200 + i, "ACGTN")) for i in range(4)])
    if shutil.which("bgzip"):
        inputs["bgzip-made.fa.gz"] = other_tools_gzip(work, "bgzip", several_mb, ["bgzip", "-c"])
    half = len(several_mb) // 2
    inputs["cat-members.fa.gz"] = (other_tools_gzip(work, "a", several_mb[:half], ["gzip", "-c"]) +
                                   other_tools_gzip(work, "b", several_mb[half:], ["gzip", "-c"]))
    inputs["header-fields.fa.gz"] = gzip_with_fields(dna) + gzip_with_fields(dna[::-1])
    inputs["stored.fa.gz"] = gzip_member(dna, 0) + gzip_member(dna[:70000], 0)
    inputs["empty-member.fa.gz"] = gzip_member(b"") + gzip_member(dna) + gzip_member(b"")
    # BGZF input, as the native tool writes it.
    bgzf = os.path.join(work, "bgzf-source.fa.gz")
    with open(bgzf + ".in", "wb") as f:
        f.write(dna * 8)
    subprocess.run([quenbrel, bgzf + ".in", bgzf], check=True)
    inputs["bgzf.fa.gz"] = open(bgzf, "rb").read()
    refused = {}
    for name, magic, fmt in [("seq-zst.fa.zst", b"\x28\xb5\x2f\xfd", "zstd"),
                             ("seq-xz.fa.xz", b"\xfd7zXZ\x00", "xz"),
                             ("seq-bz2.fa.bz2", b"BZh9", "bzip2")]:
        inputs[name] = magic + b"\x00" * 64
        refused[name] = fmt
    return inputs, refused


def corrupt(member):
    """A gzip member whose deflate data is damaged in the middle."""
    data = bytearray(member)
    mid = len(data) // 2
    for i in range(mid, mid + 64):
        data[i] ^= 0x5a
    return bytes(data)


def big_input(path, megabytes):
    """A FASTA of about `megabytes` MB: 60-column records of random DNA."""
    rng = random.Random(29)
    block = "".join(rng.choice("ACGTacgtN") for _ in range(1 << 20))
    lines = [block[i:i + 60] for i in range(0, len(block) - 60, 60)]
    text = "\n".join(lines) + "\n"
    with open(path, "w") as f:
        written, rec = 0, 0
        while written < megabytes * 1000000:
            header = ">record%d length about 10 MB\n" % rec
            f.write(header)
            for _ in range(10):
                f.write(text)
            written += len(header) + 10 * len(text)
            rec += 1


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Page:
    def __init__(self, page_dir, downloads):
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                    "--disable-gpu", "--window-size=1000,1200"]:
            options.add_argument(arg)
        options.add_experimental_option("prefs", {
            "download.default_directory": downloads,
            "download.prompt_for_download": False,
            "profile.default_content_setting_values.automatic_downloads": 1,
        })
        self.driver = webdriver.Chrome(service=Service(DRIVER), options=options)
        self.driver.set_script_timeout(600)
        self.url = "file://" + os.path.abspath(os.path.join(page_dir, "index.html"))
        # The folder a page may write into stands in for the one a user would
        # pick: the origin's private folder, which a page opened from disk
        # does not have. So the page is also served from this machine.
        handler = functools.partial(QuietHandler, directory=page_dir)
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.served = "http://127.0.0.1:%d/index.html" % self.server.server_address[1]

    def close(self):
        self.driver.quit()
        self.server.shutdown()

    def pick_private_folder(self, stale):
        """Empties the origin's private folder, puts the files `stale` (name
        -> bytes) in it, and makes the folder picker answer with it."""
        self.driver.execute_async_script("""
            const [stale, done] = arguments;
            (async () => {
              // The page's own sweep of earlier pages' results goes first.
              await resultsSwept;
              const root = await navigator.storage.getDirectory();
              for await (const name of root.keys()) await root.removeEntry(name, {recursive: true});
              for (const [name, text] of Object.entries(stale)) {
                const w = await (await root.getFileHandle(name, {create: true})).createWritable();
                await w.write(text);
                await w.close();
              }
              window.showDirectoryPicker = async () => root;
              done();
            })();""", {k: v.decode() for k, v in stale.items()})

    def folder_files(self, folder):
        """Copies every file of the private folder into `folder`."""
        files = self.driver.execute_async_script("""
            const done = arguments[0];
            (async () => {
              const root = await navigator.storage.getDirectory();
              const out = {};
              for await (const [name, handle] of root.entries()) {
                if (handle.kind !== 'file') continue;  // the pages' own results
                const bytes = new Uint8Array(await (await handle.getFile()).arrayBuffer());
                let text = '';
                for (let i = 0; i < bytes.length; i += 8192) {
                  text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
                }
                out[name] = btoa(text);
              }
              done(out);
            })();""")
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(base64.b64decode(data))

    def download_to(self, folder):
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                    {"behavior": "allow", "downloadPath": folder})

    def convert(self, paths, settings, stale=None, timeout=600, before_convert=None):
        d = self.driver
        d.get(self.served if settings.get("folder") or settings.get("served") else self.url)
        if settings.get("folder"):
            self.pick_private_folder(stale or {})
            d.find_element(By.ID, "to-folder").click()
        d.find_element(By.ID, "line-len").clear()
        d.find_element(By.ID, "line-len").send_keys(str(settings.get("n", 70)))
        for box in ["one-line", "upper-case", "drop-n", "index"]:
            el = d.find_element(By.ID, box)
            if el.is_selected() != bool(settings.get(box, False)):
                el.click()
        d.find_element(By.ID, "bgzf" if settings.get("bgzf") else "plain").click()
        d.find_element(By.ID, "files").send_keys("\n".join(paths))
        if before_convert:
            before_convert()
        d.find_element(By.ID, "convert").click()
        end = time.time() + timeout
        while d.execute_script("return document.body.dataset.run") != "done":
            if time.time() > end:
                raise RuntimeError("the page did not finish in %d s" % timeout)
            time.sleep(0.2)
        return d.execute_script("""
            return Array.from(document.querySelectorAll('#results li')).map((li) => ({
              status: Number(li.dataset.status),
              message: (li.querySelector('pre.message') || {textContent: ''}).textContent,
              downloads: Array.from(li.querySelectorAll('.downloads a')).map((a) => a.download),
              title: li.firstChild.textContent,
              verdict: li.querySelector('.verdict').textContent,
              speed: (li.querySelector('.speed') || {textContent: ''}).textContent,
            }));""")

    def state_line(self):
        return self.driver.find_element(By.ID, "state").text

    def download_all(self, folder, names):
        """Clicks the links of `names` one at a time and waits for each
        file. Chromium drops downloads that a page starts in quick
        succession (after about ten), so the clicks are paced."""
        for name in names:
            time.sleep(0.3)
            self.driver.execute_script(
                "document.querySelector('.downloads a[download=\"' + arguments[0] +"
                " '\"]').click();", name)
            path = os.path.join(folder, name)
            end = time.time() + 120
            while not os.path.exists(path) or os.path.exists(path + ".crdownload") or any(
                    p.endswith(".crdownload") for p in os.listdir(folder)):
                if time.time() > end:
                    raise RuntimeError("the download of %s did not arrive; there are %s" %
                                       (name, sorted(os.listdir(folder))))
                time.sleep(0.05)


def native(quenbrel, path, out, settings):
    args = [quenbrel, path, out]
    if settings.get("n") not in (None, ""):  # the page's empty field: no -n
        args += ["-n", str(settings["n"])]
    for box, flag in [("one-line", "-ol"), ("upper-case", "-uc"), ("drop-n", "-unseq")]:
        if settings.get(box):
            args.append(flag)
    if settings.get("index"):
        args.append("--index")
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.returncode, r.stderr.decode("utf-8", "replace")


def same_file(a, b):
    if os.path.getsize(a) != os.path.getsize(b):
        return False
    return subprocess.run(["cmp", "-s", a, b]).returncode == 0


def bgzf_members(path):
    """The (offset, plain bytes) of each member of a BGZF file, checked as
    gzip readers check them; None when it is no sound BGZF file."""
    data = open(path, "rb").read()
    members, at = [], 0
    while at < len(data):
        if data[at:at + 4] != b"\x1f\x8b\x08\x04" or data[at + 12:at + 14] != b"BC":
            return None
        size = int.from_bytes(data[at + 16:at + 18], "little") + 1
        try:
            plain = zlib.decompress(data[at + 18:at + size - 8], -15)
        except zlib.error:
            return None
        crc = int.from_bytes(data[at + size - 8:at + size - 4], "little")
        if zlib.crc32(plain) != crc or len(plain) != int.from_bytes(
                data[at + size - 4:at + size], "little"):
            return None
        members.append((at, plain))
        at += size
    return members


def gzi_entries(path):
    data = open(path, "rb").read()
    count = int.from_bytes(data[:8], "little")
    return [(int.from_bytes(data[8 + 16 * i:16 + 16 * i], "little"),
             int.from_bytes(data[16 + 16 * i:24 + 16 * i], "little")) for i in range(count)]


def same_bgzf_content(page_file, tool_file):
    """Page and tool wrote the same members' plain bytes, the end-of-file
    member alike, and (for .gzi files) entries at the same plain offsets,
    each at a member start of the page's own output."""
    if page_file.endswith(".gzi"):
        page, tool = gzi_entries(page_file), gzi_entries(tool_file)
        members = bgzf_members(page_file[:-4])
        starts = {at for at, _ in members} if members else set()
        return ([p for _, p in page] == [p for _, p in tool] and
                all(c in starts for c, _ in page))
    page, tool = bgzf_members(page_file), bgzf_members(tool_file)
    return (page is not None and tool is not None and
            [p for _, p in page] == [p for _, p in tool])


def output_name(input_name, bgzf):
    stem = input_name
    for suffix in [".gz", ".bgz", ".zst", ".xz", ".bz2"]:
        if stem.endswith(suffix):
            stem = stem[:-len(suffix)]
            break
    dot = stem.rfind(".")
    if dot > 0:
        stem = stem[:dot]
    return stem + (".fa.gz" if bgzf else ".fa")


def check_group(page, quenbrel, work, label, paths, refused, settings, deflater):
    """Converts `paths` in the page and with the tool; returns failures."""
    failures = []
    group = os.path.join(work, label)
    downloads = os.path.join(group, "downloads")
    expected = os.path.join(group, "native")
    os.makedirs(downloads)
    os.makedirs(expected)
    # Index files of an earlier output of a failing input's name, in the
    # folder written into: the tool removes them when it opens its output.
    # And the input itself, where its output would go: refused as the tool
    # refuses to write over its input.
    stale = {}
    itself = None
    if settings.get("folder"):
        out = output_name("cut-short.fa.gz", settings.get("bgzf"))
        stale = {out + ".fai": b"x\t1\t3\t1\t2\n", out + ".gzi": b"\0" * 8}
        # An earlier output of an input in neither format, which the run
        # never begins: it stays as it was, with its index.
        out = output_name("not-sequence.bin", settings.get("bgzf"))
        stale.update({out: b">earlier\nACGT\n", out + ".fai": b"earlier\t4\t9\t4\t5\n"})
        itself = next(p for p in paths if os.path.basename(p) == output_name(
            os.path.basename(p), settings.get("bgzf")))
        stale[os.path.basename(itself)] = open(itself, "rb").read()
        for name, data in stale.items():
            with open(os.path.join(expected, name), "wb") as f:
                f.write(data)
    page.download_to(downloads)
    rows = page.convert(paths, settings, stale)
    counts = {"converted": 0, "empty": 0, "failed": 0}
    if settings.get("folder"):
        page.folder_files(downloads)
    if len(rows) != len(paths):
        return ["%s: %d rows for %d files" % (label, len(rows), len(paths))]
    wanted = []
    for path, row in zip(paths, rows):
        name = os.path.basename(path)
        out = output_name(name, settings.get("bgzf"))
        if name in refused:
            status, message = 10, BUILT_WITHOUT[refused[name]]
        elif path == itself:
            # The tool's refusal, less its usage text, which the page has not;
            # the page knows the file by its name alone.
            status, message = native(quenbrel, path, path, settings)
            message = message[:message.index("Failed to asign output.\n") + 24].replace(path, out)
            shutil.copy(path, os.path.join(expected, out))
        else:
            status, message = native(quenbrel, path, os.path.join(expected, out), settings)
        if message.startswith("Bad argument"):
            message = message[:message.index("\n") + 1]  # less the usage text
        counts["converted" if status == 0 else "empty" if status == 4 else "failed"] += 1
        if " 0.00 MB" in row["title"] or (name == "size-million.fa" and
                                           "(1.00 MB)" not in row["title"]):
            failures.append("%s %s: size shown as %r" % (label, name, row["title"]))
        # Only a file that could not be read says it changed; a converted
        # one says how long it took.
        if "changed or was removed" in row["verdict"] or (status == 0 and not re.match(
                r"^\d+(\.\d+)? (bytes?|KB|MB) in \d+\.\d s", row["speed"])):
            failures.append("%s %s: verdict %r, %r" % (label, name, row["verdict"],
                                                       row["speed"]))
        if row["status"] != status or row["message"] != message:
            failures.append("%s %s: page status %d message %r, tool status %d message %r" %
                            (label, name, row["status"], row["message"], status, message))
        names = sorted(row["downloads"])
        if settings.get("folder"):
            names = sorted(f for f in os.listdir(downloads) if f.startswith(out))
        tool_names = sorted(f for f in os.listdir(expected) if f.startswith(out))
        if name in refused:
            tool_names = [out]  # the tool built without the library leaves an empty output
            open(os.path.join(expected, out), "wb").close()
        if not settings.get("folder") and status != 0 and out in tool_names and (
                status == 4 or os.path.getsize(os.path.join(expected, out)) == 0):
            # Downloads: nothing converted from an empty input, and nothing
            # offered of a failed run that wrote nothing.
            tool_names.remove(out)
        if names != tool_names:
            failures.append("%s %s: page offers %s, tool wrote %s" % (label, name, names,
                                                                      tool_names))
        wanted += [n for n in names if n in tool_names]
    if not settings.get("folder"):
        page.download_all(downloads, wanted)
    for n in wanted:
        got, want = os.path.join(downloads, n), os.path.join(expected, n)
        if same_file(got, want):
            continue
        if deflater == "libdeflate" and settings.get("bgzf") and n.endswith(
                (".gz", ".gzi")) and same_bgzf_content(got, want):
            continue
        failures.append("%s: %s differs from the tool's" % (label, n))
    state = "Done: %d converted" % counts["converted"] + "".join(
        ", %d %s" % (counts[k], k) for k in ["empty", "failed"] if counts[k] > 0) + "."
    if page.state_line() != state:
        failures.append("%s: the state line says %r, not %r" % (label, page.state_line(), state))
    print("%s: %d files, %d downloads compared, %d failures" %
          (label, len(paths), len(wanted), len(failures)))
    return failures


def check_changed(page, work):
    """Files changed or removed after they were chosen: each fails as a
    file that cannot be read, and says why."""
    folder = os.path.join(work, "changed")
    os.makedirs(folder)
    paths = [os.path.join(folder, n) for n in ["grown.fa", "removed.fa"]]
    for p in paths:
        with open(p, "wb") as f:
            f.write(fasta([("a", residues(5000, 3))]))

    def change():
        time.sleep(1.1)  # past the file time's resolution
        with open(paths[0], "ab") as f:
            f.write(b">b\nACGT\n")
        os.remove(paths[1])

    rows = page.convert(paths, {"served": True}, before_convert=change)
    failures = []
    for path, row in zip(paths, rows):
        if (row["status"] != 10 or row["message"] != "Failed to read input.\n" or
                "changed or was removed" not in row["verdict"] or row["downloads"]):
            failures.append("changed %s: %r" % (os.path.basename(path), row))
    if page.state_line() != "Done: 0 converted, 2 failed.":
        failures.append("changed: the state line says %r" % page.state_line())
    print("changed: %d files, %d failures" % (len(paths), len(failures)))
    return failures


def check_full(page, work, mid):
    """Output that does not fit in the origin's storage, as on a full disk:
    failing in the middle of the run (the 20 MB input) or only as the
    output is closed (the 3 MB one). Each fails as the tool fails on a full
    disk, and offers nothing, not even the index of what it converted."""
    folder = os.path.join(work, "full")
    os.makedirs(folder)
    small = os.path.join(folder, "closed-full.fa")
    with open(small, "wb") as f:
        f.write(fasta([("a", residues(3000000, 5))]))
    origin = page.served.rsplit("/", 1)[0]

    def no_room():
        # 1 MiB beyond what the origin holds already (the folder group's
        # files among it): the page's results can be opened, not written.
        used = page.driver.execute_async_script("""
            const done = arguments[0];
            resultsSwept.then(() => navigator.storage.estimate()).then((e) => done(e.usage));""")
        page.driver.execute_cdp_cmd("Storage.overrideQuotaForOrigin",
                                    {"origin": origin, "quotaSize": used + (1 << 20)})

    try:
        rows = page.convert([mid, small], {"served": True, "index": True},
                            before_convert=no_room)
    finally:
        page.driver.execute_cdp_cmd("Storage.overrideQuotaForOrigin", {"origin": origin})
    failures = []
    for path, row in zip([mid, small], rows):
        if (row["status"] != 20 or row["message"] != "Failed to write output.\n" or
                row["downloads"] or not row["verdict"].startswith("Failed")):
            failures.append("full %s: %r" % (os.path.basename(path), row))
    if page.state_line() != "Done: 0 converted, 2 failed.":
        failures.append("full: the state line says %r" % page.state_line())
    print("full: 2 files, %d failures" % len(failures))
    return failures


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("quenbrel")
    ap.add_argument("page_dir")
    ap.add_argument("source_dir")
    # The mutation tool's runs may leave the big inputs out (the variable at 0).
    ap.add_argument("--big-mb", type=int,
                    default=int(os.environ.get("QUENBREL_BROWSER_BIG_MB", "200")))
    ap.add_argument("--deflater", choices=["zlib", "libdeflate"], default="zlib")
    ap.add_argument("--groups", help="the groups of settings to run, by label, comma-separated")
    a = ap.parse_args()
    if CHROMIUM is None or DRIVER is None:
        skip("Chromium or its driver is not installed (Debian packages chromium, chromium-driver)")
    if not os.path.exists(os.path.join(a.page_dir, "worker-source.js")):
        print("FAIL: the page is not built in " + a.page_dir)
        return 1
    work = tempfile.mkdtemp(prefix="quenbrel-browser-")
    try:
        inputs, refused = small_inputs(a.source_dir, a.quenbrel, work)
        folder = os.path.join(work, "inputs")
        os.makedirs(folder)
        paths = []
        # Distinct output names, so that no download is renamed.
        stems = [output_name(n, False) for n in inputs]
        assert len(set(stems)) == len(stems), "two inputs give one output name"
        for name, data in inputs.items():
            p = os.path.join(folder, name)
            with open(p, "wb") as f:
                f.write(data)
            paths.append(p)
        big = os.path.join(folder, "big.fasta")
        big_gz = os.path.join(folder, "big-gz.fasta.gz")
        if a.big_mb > 0:
            big_input(big, a.big_mb)
            with open(big, "rb") as src, open(big_gz, "wb") as dst:
                dst.write(gzip_member(src.read(), 1))
        bigs = [big, big_gz] if a.big_mb > 0 else []
        # Output of more than one part of the folder writer, read back whole.
        mid = os.path.join(folder, "mid.fasta")
        big_input(mid, 20)
        page = Page(a.page_dir, work)
        failures = []
        try:
            # Served, downloads come from the origin's private folder; opened
            # from disk, from blobs.
            groups = [
                ("plain-index", paths + bigs, {"index": True, "served": True}),
                ("options", paths, {"n": 33, "one-line": False, "upper-case": True,
                                    "drop-n": True}),
                ("one-line", paths, {"n": 4, "one-line": True}),
                ("bgzf-index", paths + bigs[:1], {"bgzf": True, "index": True}),
                ("folder", paths + [mid], {"index": True, "folder": True}),
            ]
            # The field of residues per line, read as the command line reads -n.
            few = [p for p in paths if os.path.basename(p) in ("dna.fa", "sample.ig")]
            for n in ["4294967309", "99999999999", "abc", "", "0", "-5", "13.5", " 12", "+9"]:
                groups.append(("n=%r" % n, few, {"n": n, "served": n == "abc"}))
            if a.groups:
                groups = [g for g in groups if g[0] in a.groups.split(",")]
            for label, group_paths, settings in groups:
                failures += check_group(page, a.quenbrel, work, label, group_paths, refused,
                                        settings, a.deflater)
            if not a.groups or "changed" in a.groups.split(","):
                failures += check_changed(page, work)
                groups.append(("changed",))
            if not a.groups or "full" in a.groups.split(","):
                failures += check_full(page, work, mid)
                groups.append(("full",))
        finally:
            page.close()
        for f in failures:
            print("FAIL: " + f)
        print("%d passed, %d failed" % (len(groups) - len({f.split()[0].rstrip(':')
                                                           for f in failures}),
                                         len({f.split()[0].rstrip(':') for f in failures})))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
