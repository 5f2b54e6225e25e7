#!/bin/sh
# SPDX-License-Identifier: MIT
# The Windows build under Wine: its own suites (the library's, the kernels,
# the differential test) as Windows programs; the command-line suites of
# this build with quenbrel.exe as the tool, whose every row must give the
# Linux tool's bytes, messages and statuses; then what only Windows has:
# other spellings of the input's name, standard streams in binary mode,
# UTF-8 names, read-only files, BGZF output with its index and dictionary
# against the Linux tool's, and the release archive.
#
#   windows_test.sh PART WINDOWS_BUILD LINUX_TESTS LINUX_TOOL DEFLATER
#
# PART is suites, cli or rows (CTest runs each as a test of its own, one at
# a time: each has a Wine server of its own on the same prefix). DEFLATER
# is what writes the Linux tool's BGZF (zlib or libdeflate): only zlib's
# bytes are the Windows build's. Skipped (77) without the Windows build or
# Wine.
set -u
part=$1 win=$2 tests=$3 linux=$4 deflater=$5

skip() {
  echo "SKIP: $1"
  exit 77
}
[ -n "$win" ] && [ -f "$win/quenbrel.exe" ] || skip "the Windows build is not there (MinGW-w64)"
command -v wine >/dev/null 2>&1 || skip "Wine is not installed (Debian package wine64)"

export WINEDEBUG=-all WINEPREFIX="$win/wine-prefix"
# Wine reads the host's names and words in the host's character set: UTF-8.
export LC_ALL=C.UTF-8
# One server for the whole run, and the prefix made before anything of ours
# starts: Wine's services then hold none of our pipes open. The server of
# the part before may still be ending: a second persistent server is then
# refused (status 2), and the programs of this part would meet the ending
# one, or a server that ends whenever they all have. So the old one is
# waited for, and this part ends only once its own is gone. A server needs
# the prefix's folder: on a fresh build it is not there before the first
# program makes it, and a server refused for that left the first part with
# none of its own.
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
mkdir -p "$WINEPREFIX"
if ! wineserver -p >/dev/null 2>&1 </dev/null; then
  echo "FAIL: Wine's server for this part did not start"
  exit 1
fi
wine cmd /c exit >/dev/null 2>&1 </dev/null

work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1; wineserver -w >/dev/null 2>&1; rm -rf "$work"' EXIT
exe=$work/quenbrel
printf '#!/bin/sh\nexec wine "%s" "$@"\n' "$win/quenbrel.exe" >"$exe"
chmod +x "$exe"

failures=0
fail() {
  printf "FAIL: %s\n" "$1"
  failures=$((failures + 1))
}

finish() {
  [ "$failures" = 0 ] || exit 1
  echo "Windows build, $part: every check passed"
  exit 0
}

# --- the suites -------------------------------------------------------------
if [ "$part" = suites ]; then
  # Wine's own errors, should a program not start, with the test's output.
  if ! WINEDEBUG=err+all ctest --test-dir "$win" --output-on-failure -j2; then
    fail "the Windows suites"
    # The failed tests once more, one at a time, their output last, where a
    # shortened log keeps it: the failure stands whatever they do now.
    WINEDEBUG=err+all ctest --test-dir "$win" --rerun-failed --output-on-failure
  fi
  finish
fi
if [ "$part" = cli ]; then
  for suite in cli_test gzip_test info_test; do
    QUENBREL_TEST_WINDOWS_TOOL=$exe "$tests/$suite" --gtest_brief=1 ||
      fail "$suite with quenbrel.exe"
  done
  finish
fi

# --- rows of what Windows alone has -----------------------------------------
# Each row: a name, the command's words for both tools (IN stands for the
# input, DIR for the folder), the standard input; the files are compared
# after each run, with the messages and the status.
cd "$work" || exit 1
sample='; c
; FRAGMENT 1 -> 8
SEQ1 x
acgt acgt 8
>f
AC
'
printf '%s' "$sample" >in.ig
windir=$(winepath -w "$work" 2>/dev/null)

# Runs the Windows tool and the Linux one in fresh copies of the folder and
# compares what they leave: standard output, messages, status, the files.
compare() {
  name=$1 input=$2
  shift 2
  for side in linux windows; do
    rm -rf "$work/$side" && mkdir "$work/$side" && cp in.ig "$work/$side/" &&
      cp in.ig "$work/$side/entrée ü.ig"
    (
      cd "$work/$side" || exit 1
      if [ "$side" = linux ]; then tool=$linux; else tool=$exe; fi
      printf '%b' "$input" | "$tool" "$@" >stdout 2>stderr
      echo $? >status
    )
  done
  ls "$work/linux" >"$work/names"
  while IFS= read -r f; do
    case $f in *.gz.gzi | *.gz) [ "$deflater" = zlib ] || continue ;; esac
    case $f in
      *.dict) sed 's/\tUR:[^\t]*//' "$work/linux/$f" >"$work/l" &&
                sed 's/\tUR:[^\t]*//' "$work/windows/$f" >"$work/w" &&
                cmp -s "$work/l" "$work/w" || fail "$name: $f differs" ;;
      *) cmp -s "$work/linux/$f" "$work/windows/$f" || fail "$name: $f differs" ;;
    esac
  done <"$work/names"
  [ "$(ls "$work/linux")" = "$(ls "$work/windows")" ] || fail "$name: other files left"
}

compare "BinaryStandardStreams" '>a\r\nAC\032GT\r\n>b\nNNac\n' -
compare "FileToStandardOutput" '' in.ig -n 3
compare "BgzfWithIndexAndDictionary" '' in.ig out.fa.gz --index --dict
compare "PlainWithIndex" '' in.ig out.fa --index --threads=2
compare "Utf8Names" '' "entrée ü.ig" "résumé ü.fa.gz" --index --dict
compare "MessagesAsBytes" '' missing.ig
compare "HelpAsBytes" '' --help

# The input under other spellings of its name: each run is refused and the
# input stays as it was.
ln in.ig hard.ig
for out in '.\in.ig' "$windir\\in.ig" IN.IG "$(printf '%s' "$windir" | tr 'A-Z' 'a-z')\\in.ig" hard.ig; do
  err=$("$exe" in.ig "$out" 2>&1 >/dev/null)
  status=$?
  [ "$status" = 20 ] || fail "overwriting the input as $out: status $status"
  case $err in "Refusing to overwrite the input file $out"*) ;;
    *) fail "overwriting the input as $out: $err" ;;
  esac
  [ "$(cat in.ig)" = "$(printf '%s' "$sample")" ] || fail "the input was changed through $out"
done
"$exe" - in.ig <in.ig >/dev/null 2>&1
[ $? = 20 ] || fail "standard input from the output file was not refused"

# A read-only index of an earlier run cannot be replaced: the run says so
# and leaves the output as it was.
printf 'earlier' >ro.fa
printf 'x\t1\t3\t1\t2\n' >ro.fa.fai
chmod a-w ro.fa.fai
err=$("$exe" in.ig ro.fa --index 2>&1)
status=$?
[ "$status" = 20 ] && [ "$err" = "Failed to write the index ro.fa.fai" ] ||
  fail "read-only index: $status $err"
[ "$(cat ro.fa)" = earlier ] || fail "read-only index: the output was written"

# The usage text names the program as it was started, without its folder
# and ".exe".
mkdir bin && cp "$win/quenbrel.exe" bin/my.converter.exe
# (Windows keeps the case the name was typed in.)
for name in bin/my.converter.exe 'bin\my.converter.exe' "$windir\bin\My.Converter.EXE"; do
  line=$(wine "$name" -n bad - 2>&1 </dev/null | sed -n 3p)
  base=${name##*[/\\]}
  [ "$line" = "	${base%.*} - converts IG formated sequences into FASTA format" ] ||
    fail "usage text of $name: $line"
done

# The dictionary names the output by a file URI with a drive.
"$exe" in.ig d.fa --dict >/dev/null 2>&1
grep -q "	UR:file:///[A-Z]:/" d.dict || fail "the dictionary's UR: is no file URI: $(cat d.dict)"

# Ctrl-C (Wine turns SIGINT into the console's event) while the index
# files are being written: they are removed, and the status is Windows'
# for an interrupt, 0xC000013A, of which Wine passes on the low byte.
mkfifo slow
awk 'BEGIN { for (i = 0; i < 20000; i++) printf ">r%d\nACGTACGTAC\n", i }' >records.fa
( (cat records.fa; sleep 15) >slow & )
mkdir interrupted && cd interrupted || exit 1
"$exe" - out.fa.gz --index --dict <../slow >/dev/null 2>&1 &
pid=$!
sleep 4
kill -INT $pid
wait $pid
status=$?
cd .. || exit 1
[ "$status" = 58 ] || fail "interrupt: status $status"
[ "$(ls interrupted)" = out.fa.gz ] || fail "interrupt left: $(ls interrupted | tr '\n' ' ')"

# Through a Windows pipe that stays open: a run that has no use for more
# input ends at once, its reading thread's wait cancelled.
pipe_run() {
  wine "$win/tests/windows_pipe.exe" 30 "$win/quenbrel.exe" "$@" 2>&1 >/dev/null
}
awk 'BEGIN { for (i = 0; i < 1048576; i++) print ""; print "xx" }' >blank.txt
for threads in --threads=1 --threads=2; do
  got=$(pipe_run - "$threads" <blank.txt)
  status=$?
  [ "$status" = 3 ] && [ "$got" = "File is not in IG or FASTA format.
ended" ] || fail "a Windows pipe held open, $threads: $status $got"
  printf 'xx\n>a\nAC\n' | gzip >wrong.gz
  got=$(pipe_run - "$threads" <wrong.gz)
  status=$?
  [ "$status" = 3 ] && [ "$got" = "File is not in IG or FASTA format.
ended" ] || fail "gzip through a Windows pipe held open, $threads: $status $got"
done

# --- the release archive ----------------------------------------------------
zip=$(ls "$win"/quenbrel-*-win64.zip 2>/dev/null | head -n 1)
if [ -n "$zip" ] && command -v unzip >/dev/null 2>&1; then
  listing=$(unzip -Z1 "$zip")
  for want in quenbrel.exe README.md LICENSE quenbrel.txt; do
    echo "$listing" | grep -q "/$want\$" || fail "the archive lacks $want"
  done
fi

finish
