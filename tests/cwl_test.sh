#!/bin/sh
# SPDX-License-Identifier: MIT
# Validates the CWL tool and workflow of examples/cwl/, runs the workflow on
# three inputs with cwltool and with Toil's toil-cwl-runner (one machine),
# and compares every output, with its index files and dictionary, with
# quenbrel run by hand; with cwltool also runs the example job and checks
# that a failure status fails the job. Skipped (status 77) where neither
# runner is installed; with one of them missing the other still runs, and
# the test then ends with status 77 if nothing failed.
#
#   cwl_test.sh QUENBREL SOURCE_DIR
set -eu
QUENBREL=$1 SRC=$2
CWL=$SRC/examples/cwl
DATA=$SRC/tests/data/interop

have_cwltool=yes have_toil=yes
command -v cwltool >/dev/null 2>&1 || have_cwltool=
command -v toil-cwl-runner >/dev/null 2>&1 || have_toil=
if [ -z "$have_cwltool$have_toil" ]; then
  echo "cwltool and toil-cwl-runner not found (Debian packages cwltool, toil): skipped"
  exit 77
fi
TMP=$(mktemp -d "${TMPDIR:-/tmp}/quenbrel-cwl-XXXXXX")
trap 'rm -rf "$TMP"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# The tools find quenbrel on PATH, as a user's would; the runners' scratch
# folders (TMPDIR) stay in TMP, which goes away at the end.
mkdir -p "$TMP/bin" "$TMP/tmp"
ln -s "$QUENBREL" "$TMP/bin/quenbrel"
PATH=$TMP/bin:$PATH TMPDIR=$TMP/tmp
export PATH TMPDIR

if [ -n "$have_cwltool" ]; then
  for file in quenbrel.cwl convert-all.cwl; do
    cwltool --validate "$CWL/$file" >"$TMP/validate.log" 2>&1 ||
      { cat "$TMP/validate.log" >&2; fail "$file is not valid CWL"; }
  done
  echo "cwltool --validate: quenbrel.cwl and convert-all.cwl are valid"
fi

# Three inputs: IG, gzip-compressed FASTA (lower case and N, so that -uc and
# -unseq change it; records longer than 60 residues) and IG of another
# flavour.
mkdir -p "$TMP/in"
cp "$SRC/examples/sample.ig" "$TMP/in/a.ig"
gzip -c "$DATA/source.fa" >"$TMP/in/b.fa.gz"
cp "$DATA/source.readseq.ig" "$TMP/in/c.ig"

# Two jobs over the three inputs, each written as a job file and run by hand
# into hand/JOB: BGZF with both index files and the dictionary, and plain
# text under a .bgz name (so that --compress=none shows) with only a .fai.
job() {  # $1: job name, $2: output extension, then the YAML lines of the options
  name=$1 ext=$2; shift 2
  {
    echo "files:"
    for input in a.ig b.fa.gz c.ig; do
      echo "  - {class: File, path: \"$TMP/in/$input\"}"
    done
    echo "extension: \"$ext\""
    printf '%s\n' "$@"
  } >"$TMP/$name.yml"
}
by_hand() {  # $1: job name, $2: output extension, then quenbrel's options
  name=$1 ext=$2; shift 2
  mkdir -p "$TMP/hand/$name"
  for input in a.ig b.fa.gz c.ig; do
    (cd "$TMP/hand/$name" && "$QUENBREL" "$@" "$TMP/in/$input" "${input%%.*}$ext") ||
      fail "quenbrel $* $input exited with $?"
  done
}
job bgzf .fa.gz "line_length: 60" "upper_case: true" "drop_unsequenced: true" "level: 6" \
  "threads: 1" "index: true" "dict: true"
by_hand bgzf .fa.gz -n 60 -uc -unseq --level=6 --threads=1 --index --dict
job plain .fa.bgz "compress: none" "one_line: true" "index: true"
by_hand plain .fa.bgz --compress=none -ol --index
[ "$(ls "$TMP/hand/bgzf" | wc -l)" -eq 12 ] && [ "$(ls "$TMP/hand/plain" | wc -l)" -eq 6 ] ||
  fail "quenbrel by hand did not write the expected files: $(ls "$TMP/hand" | tr '\n' ' ')"

# The dictionary's UR: names the output where the job wrote it (the runner's
# working folder, then moved): the folder is cut off before comparing, so
# the name must still be the output's own.
dict_without_folder() {
  sed 's|\(UR:file://\)/.*/\([^/]*\)$|\1/FOLDER/\2|' "$1"
}

# Every file of the runner's output folder $2 is quenbrel's by hand for job
# $3, and no file is missing or extra: the index files and the dictionary
# are there only as secondary files of the outputs.
same_as_by_hand() {  # $1: runner, $2: output folder, $3: job name
  runner=$1 got=$2 want=$TMP/hand/$3
  [ "$(ls "$got")" = "$(ls "$want")" ] ||
    fail "$runner, job $3: wrote $(ls "$got" | tr '\n' ' ')instead of $(ls "$want" | tr '\n' ' ')"
  for file in "$want"/*; do
    name=${file##*/}
    case $name in
      *.dict)
        dict_without_folder "$file" >"$TMP/want.dict"
        dict_without_folder "$got/$name" >"$TMP/got.dict"
        cmp -s "$TMP/want.dict" "$TMP/got.dict" ;;
      *) cmp -s "$file" "$got/$name" ;;
    esac || fail "$runner, job $3: $name differs from quenbrel's by hand"
  done
  echo "$runner, job $3: $(ls "$got" | wc -l) files equal quenbrel's by hand"
}

skipped=
if [ -n "$have_cwltool" ]; then
  for name in bgzf plain; do
    cwltool --no-container --disable-pull --outdir "$TMP/cwltool-$name" \
      "$CWL/convert-all.cwl" "$TMP/$name.yml" >"$TMP/cwltool-$name.json" \
      2>"$TMP/cwltool-$name.log" ||
      { cat "$TMP/cwltool-$name.log" >&2; fail "cwltool, job $name exited with $?"; }
    same_as_by_hand cwltool "$TMP/cwltool-$name" "$name"
  done

  # The example job of the README converts the bundled example.
  cwltool --no-container --disable-pull --outdir "$TMP/example" "$CWL/convert-all.cwl" \
    "$CWL/convert-all.yml" >"$TMP/example.json" 2>"$TMP/example.log" ||
    { cat "$TMP/example.log" >&2; fail "cwltool on convert-all.yml exited with $?"; }
  "$QUENBREL" "$SRC/examples/sample.ig" - -uc --compress=gzip >"$TMP/sample.fa.gz"
  cmp -s "$TMP/sample.fa.gz" "$TMP/example/sample.fa.gz" &&
    [ -s "$TMP/example/sample.fa.gz.fai" ] && [ -s "$TMP/example/sample.fa.gz.gzi" ] &&
    [ -s "$TMP/example/sample.dict" ] || fail "convert-all.yml: not quenbrel's output by hand"
  echo "cwltool, convert-all.yml: sample.fa.gz with its index files and dictionary"

  # A documented failure status fails the job: input without content
  # (status 4, which still leaves an empty output behind).
  : >"$TMP/in/empty.ig"
  status=0
  cwltool --no-container --disable-pull --outdir "$TMP/empty" "$CWL/quenbrel.cwl" \
    --input "$TMP/in/empty.ig" --output empty.fa >"$TMP/empty.json" 2>"$TMP/empty.log" ||
    status=$?
  [ "$status" -ne 0 ] && grep -q 'permanentFail' "$TMP/empty.log" ||
    { cat "$TMP/empty.log" >&2; fail "cwltool: status 4 did not fail the job (status $status)"; }
  echo "cwltool: input without content fails the job"
else
  skipped="cwltool not found (Debian package cwltool): validation and cwltool runs skipped"
fi

if [ -n "$have_toil" ]; then
  for name in bgzf plain; do
    mkdir -p "$TMP/toil-$name-work"
    toil-cwl-runner --batchSystem single_machine --jobStore "file:$TMP/toil-$name-store" \
      --workDir "$TMP/toil-$name-work" --clean always --retryCount 0 --no-container \
      --noLinkImports --outdir "$TMP/toil-$name" "$CWL/convert-all.cwl" "$TMP/$name.yml" \
      >"$TMP/toil-$name.json" 2>"$TMP/toil-$name.log" ||
      { cat "$TMP/toil-$name.log" >&2; fail "toil-cwl-runner, job $name exited with $?"; }
    same_as_by_hand toil-cwl-runner "$TMP/toil-$name" "$name"
  done
else
  skipped="toil-cwl-runner not found (Debian package toil): Toil runs skipped"
fi

if [ -n "$skipped" ]; then
  echo "SKIP: $skipped"
  exit 77
fi
