#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the Snakemake workflow of examples/snakemake/ on a folder of mixed
# inputs and compares every output with quenbrel run by hand; then checks
# that a damaged input fails its job, leaves no output behind and shows
# quenbrel's message, while the other jobs still finish. Skipped (status 77)
# where snakemake is not installed.
#
#   workflow_test.sh QUENBREL SOURCE_DIR
set -eu
if [ -n "${QUENBREL_TEST_NO_THREADS:-}" ]; then
  echo "SKIP: $QUENBREL_TEST_NO_THREADS; its rules run quenbrel with --threads=2"
  exit 77
fi
QUENBREL=$1 SRC=$2

if ! command -v snakemake >/dev/null 2>&1; then
  echo "snakemake not found (Debian package snakemake): skipped"
  exit 77
fi
TMP=$(mktemp -d "${TMPDIR:-/tmp}/quenbrel-workflow-XXXXXX")
trap 'rm -rf "$TMP"' EXIT
SNAKEFILE=$SRC/examples/snakemake/Snakefile
DATA=$SRC/tests/data/interop

fail() { echo "FAIL: $*" >&2; exit 1; }

workflow() {  # $1: log file; the rest: snakemake arguments
  log=$1; shift
  snakemake -s "$SNAKEFILE" --directory "$TMP/work" --cores 2 "$@" >"$log" 2>&1
}

same_as_by_hand() {  # $1: output, $2: input, the rest: quenbrel's options
  out=$1 in=$2; shift 2
  "$QUENBREL" "$@" "$in" >"$TMP/expected" || fail "quenbrel $* $in exited with $?"
  cmp -s "$TMP/expected" "$out" || fail "$out differs from quenbrel $* $in"
}

# Every accepted name form, plain and gzip-compressed, plus a file the
# workflow must leave alone.
mkdir -p "$TMP/mixed"
cp "$SRC/examples/sample.ig" "$TMP/mixed/a.ig"
gzip -c "$DATA/source.seqret.ig" >"$TMP/mixed/b.ig.gz"
cp "$DATA/source.fa" "$TMP/mixed/c.fa"
cp "$DATA/source.readseq.ig" "$TMP/mixed/d.ig"
cp "$DATA/source.fa" "$TMP/mixed/e.fasta"
gzip -c "$DATA/source.fa" >"$TMP/mixed/f.fa.gz"
echo "not a sequence file" >"$TMP/mixed/notes.txt"

workflow "$TMP/mixed.log" --config in="$TMP/mixed" out="$TMP/out" quenbrel="$QUENBREL" \
  n=60 uc=1 unseq=1 || { cat "$TMP/mixed.log" >&2; fail "workflow on mixed inputs"; }
for input in "$TMP"/mixed/*; do
  name=${input##*/}
  name=${name%%.*}
  [ "$name" = notes ] && continue
  same_as_by_hand "$TMP/out/$name.fa" "$input" -n 60 -uc -unseq
done
[ "$(ls "$TMP/out")" = "$(printf '%s.fa\n' a b c d e f)" ] ||
  fail "unexpected outputs: $(ls "$TMP/out" | tr '\n' ' ')"
echo "mixed inputs: $(ls "$TMP/out" | wc -l) outputs equal quenbrel's by hand"

# Compressed, indexed output on the rule's threads: BGZF that decompresses to
# quenbrel's output by hand, with both index files and, where quenbrel was
# built with MD5, the dictionary.
dict=dict=1
if "$QUENBREL" - "$TMP/probe.fa" --dict </dev/null 2>&1 | grep -q 'built without'; then dict=; fi
# shellcheck disable=SC2086
workflow "$TMP/gz.log" --config in="$TMP/mixed" out="$TMP/outgz" quenbrel="$QUENBREL" \
  compress=gz index=1 $dict threads=2 || { cat "$TMP/gz.log" >&2; fail "workflow writing .gz"; }
for name in a b c d e f; do
  gzip -dc "$TMP/outgz/$name.fa.gz" >"$TMP/plain.fa" || fail "$name.fa.gz does not decompress"
  same_as_by_hand "$TMP/plain.fa" "$TMP/mixed/$name"*
  [ -s "$TMP/outgz/$name.fa.gz.fai" ] && [ -s "$TMP/outgz/$name.fa.gz.gzi" ] ||
    fail "$name.fa.gz lacks its index files"
  [ -z "$dict" ] || grep -q "^@SQ.SN:.*UR:file://.*/outgz/$name.fa.gz\$" "$TMP/outgz/$name.dict" ||
    fail "$name.dict lacks the records of $name.fa.gz"
done
echo "compressed output: BGZF with its index for every input"

# zstd output cannot be indexed: the pair is refused before any job runs.
status=0
workflow "$TMP/zst.log" --config in="$TMP/mixed" out="$TMP/outzst" quenbrel="$QUENBREL" \
  compress=zst index=1 || status=$?
[ "$status" -ne 0 ] && grep -q 'index=1 with compress=zst' "$TMP/zst.log" &&
  [ ! -e "$TMP/outzst" ] || { cat "$TMP/zst.log" >&2; fail "compress=zst index=1 not refused"; }
echo "compress=zst index=1: refused"

# A gzip stream cut short: quenbrel writes what it converted before the
# damage, then fails. This time the program is found on PATH and no option
# is given.
mkdir -p "$TMP/damaged"
cp "$SRC/examples/sample.ig" "$TMP/damaged/good.ig"
cp "$SRC/examples/sample.ig" "$TMP/big.ig"
for _ in 1 2 3 4 5 6 7 8 9 10 11 12; do
  cat "$TMP/big.ig" "$TMP/big.ig" >"$TMP/twice.ig" && mv "$TMP/twice.ig" "$TMP/big.ig"
done
gzip -c "$TMP/big.ig" >"$TMP/big.ig.gz"
head -c $(($(wc -c <"$TMP/big.ig.gz") / 2)) "$TMP/big.ig.gz" >"$TMP/damaged/cut.ig.gz"
status=0
"$QUENBREL" "$TMP/damaged/cut.ig.gz" "$TMP/partial.fa" 2>/dev/null || status=$?
[ "$status" -eq 10 ] && [ -s "$TMP/partial.fa" ] ||
  fail "the cut input should fail with status 10 after some output (status $status)"

status=0
PATH=$(dirname "$QUENBREL"):$PATH workflow "$TMP/damaged.log" --keep-going \
  --config in="$TMP/damaged" out="$TMP/out2" || status=$?
[ "$status" -ne 0 ] || { cat "$TMP/damaged.log" >&2; fail "workflow succeeded on a damaged input"; }
[ ! -e "$TMP/out2/cut.fa" ] || fail "the failed job left $TMP/out2/cut.fa behind"
grep -q '^Failed to read input\.$' "$TMP/damaged.log" ||
  { cat "$TMP/damaged.log" >&2; fail "quenbrel's message is not in the workflow's output"; }
same_as_by_hand "$TMP/out2/good.fa" "$TMP/damaged/good.ig"
echo "damaged input: its job failed with quenbrel's message and left no output"
