#!/bin/sh
# SPDX-License-Identifier: MIT
# The index files quenbrel writes with --index are the bytes samtools faidx
# writes for the same output: OUT.fai for plain and BGZF output, OUT.gzi for
# BGZF output; the dictionary of --dict is the bytes samtools dict writes
# for it (where quenbrel was built with MD5). Also checks that BGZF output
# is what bgzip reads. Skipped (status 77) where samtools is not installed.
#
#   index_test.sh QUENBREL SOURCE_DIR
set -eu
if [ -n "${QUENBREL_TEST_NO_THREADS:-}" ]; then
  echo "SKIP: $QUENBREL_TEST_NO_THREADS; it runs quenbrel with --threads=3"
  exit 77
fi
QUENBREL=$1 SOURCE=$2
if ! command -v samtools >/dev/null 2>&1; then
  echo "samtools not found: skipped"
  exit 77
fi
WORK=$(mktemp -d "${TMPDIR:-/tmp}/quenbrel-index-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
failures=0

# Residue lines of random letters: `lines` lines of `width` letters.
residues() {
  awk -v n="$1" -v w="$2" -v seed="$3" 'BEGIN {
    srand(seed); split("A C G T a c g t N -", a, " ");
    for (i = 0; i < n; i++) { s = ""; for (j = 0; j < w; j++) s = s a[int(rand() * 10) + 1]; print s }
  }'
}

# Converts the input $1 with the options after it, once to plain and once
# to BGZF output, and compares both indexes and the dictionary with
# samtools' own. With TRIM_LAST set, samtools faidx judges the output without
# its last header, which has no residues (it refuses to index a file ending
# so). DICT_SN, when set, is the name the dictionary's one record has where
# samtools dict leaves it empty: samtools dict takes the name from the byte
# right after ">", the index (and so the dictionary) after the blanks there.
check() {
  name=$1 input=$2
  shift 2
  for out in out.fa out.fa.gz; do
    rm -rf "$WORK/q" "$WORK/s"
    mkdir "$WORK/q" "$WORK/s"
    if ! "$QUENBREL" "$input" "$WORK/q/$out" --index --dict "$@" 2>"$WORK/err"; then
      echo "FAIL $name $out: quenbrel failed: $(cat "$WORK/err")" >&2
      failures=$((failures + 1))
      continue
    fi
    cp "$WORK/q/$out" "$WORK/s/$out"
    if [ -n "${TRIM_LAST:-}" ]; then
      case $out in
        *.gz) bgzip -dc "$WORK/q/$out" | sed '$d' | sed '$d' | bgzip -c >"$WORK/s/$out" ;;
        *) sed '$d' "$WORK/q/$out" | sed '$d' >"$WORK/s/$out" ;;
      esac
    fi
    if ! samtools faidx "$WORK/s/$out" 2>"$WORK/err"; then
      echo "FAIL $name $out: samtools refused the output: $(cat "$WORK/err")" >&2
      failures=$((failures + 1))
      continue
    fi
    for ext in fai gzi; do
      [ "$ext" = gzi ] && [ "$out" = out.fa ] && continue
      if [ -n "${TRIM_LAST:-}" ] && [ "$ext" = gzi ]; then continue; fi
      if ! cmp -s "$WORK/q/$out.$ext" "$WORK/s/$out.$ext"; then
        echo "FAIL $name $out.$ext differs from samtools':" >&2
        od -c "$WORK/q/$out.$ext" | head -20 >&2
        od -c "$WORK/s/$out.$ext" | head -20 >&2
        failures=$((failures + 1))
      fi
    done
    samtools dict "$WORK/q/$out" >"$WORK/s/out.dict"
    if [ -n "${DICT_SN:-}" ]; then
      sed "s/^\(@SQ.SN:\)\(.LN:\)/\1$DICT_SN\2/" "$WORK/s/out.dict" >"$WORK/s/fixed.dict"
      mv "$WORK/s/fixed.dict" "$WORK/s/out.dict"
    fi
    if ! cmp -s "$WORK/q/out.dict" "$WORK/s/out.dict"; then
      echo "FAIL $name $out: the dictionary differs from samtools dict's:" >&2
      diff "$WORK/q/out.dict" "$WORK/s/out.dict" | head -20 >&2
      failures=$((failures + 1))
    fi
    case $out in
      *.gz)
        if command -v bgzip >/dev/null 2>&1 && ! bgzip -t "$WORK/q/$out"; then
          echo "FAIL $name: bgzip -t refuses the output" >&2
          failures=$((failures + 1))
        fi
        ;;
    esac
  done
}

# Real FASTA with odd line lengths, rewrapped several ways; large enough
# for many BGZF members, so that the .gzi has entries.
{
  for r in 1 2 3 4 5 6; do
    echo ">chr$r some description"
    residues $((r * 700)) 61 "$r"
  done
} >"$WORK/odd.fa"
check "61-column FASTA" "$WORK/odd.fa"
check "61-column FASTA -n 7" "$WORK/odd.fa" -n 7 --threads=3
check "61-column FASTA -ol" "$WORK/odd.fa" -ol --level=6
check "61-column FASTA -n 61 -uc -unseq" "$WORK/odd.fa" -n 61 -uc -unseq --threads=1

# IG with FRAGMENT annotations, and the bundled example.
{
  for r in 1 2 3; do
    printf '; comment\n; FRAGMENT %d -> %d\nSEQ%d description\n' "$r" $((r * 100)) "$r"
    residues 40 50 "$r" | sed 's/$/ 50/'
  done
} >"$WORK/frag.ig"
check "IG with FRAGMENT" "$WORK/frag.ig"
check "IG sample" "$SOURCE/examples/sample.ig" -n 10

# Names: empty, after blanks, ended by a CR or a NUL, duplicated; records
# without residues between others.
printf '>\nACGT\n>tab\tended\nAC\n>cr\r\nGGGG\n>nul\000cut x\nAAA\n>\nTT\n' >"$WORK/names.fa"
check "names" "$WORK/names.fa" -n 3
printf '>  \tname after blanks\nAC\n' >"$WORK/blanks.fa"
DICT_SN=name check "name after blanks" "$WORK/blanks.fa" -n 3
printf '>a\nACGTACGT\n>a\nGG\n>b\n>c\nAC\n>b\nTTT\n>d\n>d\n>a\nC\n' >"$WORK/dup.fa"
check "duplicates and empty records" "$WORK/dup.fa" -n 5
printf ';c\nN1\nNNNN\n;c\nN2\nACNN\n' >"$WORK/unseq.ig"
check "records emptied by -unseq" "$WORK/unseq.ig" -unseq
printf ';c\nN2\nACNN\n;c\nN1\nNNNN\n' >"$WORK/lastunseq.ig"
TRIM_LAST=1 check "last record without residues" "$WORK/lastunseq.ig" -unseq
printf '>a\nAC\n>e\n' >"$WORK/lastempty.fa"
TRIM_LAST=1 check "last header alone" "$WORK/lastempty.fa"

# The dictionary's UR: the output's absolute path with links resolved, also
# for a relative name in a folder reached through a link.
mkdir "$WORK/real"
ln -s "$WORK/real" "$WORK/link"
for out in ref.fasta "$WORK/link/abs.fa.gz"; do
  (cd "$WORK/link" && "$QUENBREL" "$WORK/odd.fa" "$out" --dict) || {
    echo "FAIL: quenbrel failed writing $out through a link" >&2
    failures=$((failures + 1))
  }
  (cd "$WORK/link" && samtools dict "$out") >"$WORK/s.dict"
  dict_file=$WORK/real/$(basename "$out" | sed 's/\.fa.*$//').dict
  if ! cmp -s "$dict_file" "$WORK/s.dict"; then
    echo "FAIL: the dictionary of $out, written through a link, differs from samtools dict's:" >&2
    diff "$dict_file" "$WORK/s.dict" | head -4 >&2
    failures=$((failures + 1))
  fi
done

# The dictionary of an output that was deleted since names it by its real
# path: rewriting the output through the link removes it.
"$QUENBREL" "$WORK/odd.fa" "$WORK/link/gone.fa" --dict && rm "$WORK/real/gone.fa" &&
  "$QUENBREL" "$WORK/odd.fa" "$WORK/link/gone.fa" -n 7 || failures=$((failures + 1))
if [ -e "$WORK/real/gone.dict" ]; then
  echo "FAIL: the dictionary of a deleted output stayed beside its rewritten output" >&2
  failures=$((failures + 1))
fi

# A dictionary samtools wrote for another reference of the same dictionary
# name stays: without --dict untouched, with --dict refused (status 20).
mkdir "$WORK/shared"
cp "$WORK/odd.fa" "$WORK/shared/ref.fa"
samtools dict "$WORK/shared/ref.fa" >"$WORK/shared/ref.dict"
cp "$WORK/shared/ref.dict" "$WORK/ref.dict.before"
status=0
"$QUENBREL" "$WORK/shared/ref.fa" "$WORK/shared/ref.fa.gz" -unseq || status=$?
"$QUENBREL" "$WORK/shared/ref.fa" "$WORK/shared/ref.fasta" --dict 2>"$WORK/err" && status=1
if [ "$status" -ne 0 ] || ! cmp -s "$WORK/shared/ref.dict" "$WORK/ref.dict.before" ||
    [ -e "$WORK/shared/ref.fasta" ] ||
    ! grep -q "^Refusing to overwrite the dictionary .*ref.dict, which describes file://" "$WORK/err"; then
  echo "FAIL: the dictionary samtools wrote for ref.fa was removed, replaced or not refused" >&2
  failures=$((failures + 1))
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures comparisons failed" >&2
  exit 1
fi
echo "indexes and dictionaries agree with samtools"
