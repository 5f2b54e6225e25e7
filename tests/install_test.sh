#!/bin/sh
# SPDX-License-Identifier: MIT
# Installs the built project into a temporary prefix, checks the install
# tree, then builds the example consumer against the installed package twice
# (find_package, then pkg-config) and runs it.
#
#   install_test.sh CMAKE BUILD_DIR SOURCE_DIR CONFIG CXX
set -eu
CMAKE=$1 BUILD=$2 SRC=$3 CONFIG=$4 CXX=$5

TMP=$(mktemp -d "${TMPDIR:-/tmp}/quenbrel-install-XXXXXX")
trap 'rm -rf "$TMP"' EXIT
PREFIX=$TMP/prefix
CONSUMER=$SRC/examples/consumer

fail() { echo "FAIL: $*" >&2; exit 1; }

"$CMAKE" --install "$BUILD" --config "$CONFIG" --prefix "$PREFIX" >"$TMP/install.log" ||
  { cat "$TMP/install.log" >&2; fail "cmake --install"; }

# The tree: tool, header, library, package files, man page.
[ -x "$PREFIX/bin/quenbrel" ] || fail "bin/quenbrel missing"
[ -f "$PREFIX/include/quenbrel/functions.h" ] || fail "include/quenbrel/functions.h missing"
[ -f "$PREFIX/share/man/man1/quenbrel.1" ] || fail "share/man/man1/quenbrel.1 missing"
config=$(find "$PREFIX" -name quenbrelConfig.cmake)
[ -n "$config" ] || fail "quenbrelConfig.cmake missing"
[ -f "$(dirname "$config")/quenbrelConfigVersion.cmake" ] || fail "version file missing"
pc=$(find "$PREFIX" -name quenbrel.pc)
[ -n "$pc" ] || fail "quenbrel.pc missing"
libdir=$(dirname "$(dirname "$pc")")
ls "$libdir"/libquenbrel.* >/dev/null 2>&1 || fail "library missing from $libdir"

# The installed tool runs on its own.
"$PREFIX/bin/quenbrel" "$SRC/examples/sample.ig" >"$TMP/sample.fa" || fail "installed quenbrel"
grep -q '^>HSP70X FRAGMENT 12 -> 131$' "$TMP/sample.fa" || fail "installed quenbrel output"

# co records of examples/consumer/hits.txt with score 42 (trailing blanks
# are part of the layout).
expected=$(printf '%s\n%s' \
  '42    HSP70X            12 > 131             chr2    1200 > 1420   ' \
  '42    pUC19-ORI          1 > 211             chr7   88000 > 87790  ')

check_output() {  # $1: how the consumer was built, $2: the binary
  out=$("$2" -s 42 "$CONSUMER/hits.txt") || fail "$1 consumer exited with $?"
  [ "$out" = "$expected" ] || fail "$1 consumer printed:
$out"
  echo "$1 consumer:"
  echo "$out"
}

# With CMake: find_package(quenbrel) from the prefix.
"$CMAKE" -S "$CONSUMER" -B "$TMP/cmake-build" -DCMAKE_PREFIX_PATH="$PREFIX" \
  -DCMAKE_BUILD_TYPE="$CONFIG" -DCMAKE_CXX_COMPILER="$CXX" >"$TMP/consumer.log" 2>&1 &&
  "$CMAKE" --build "$TMP/cmake-build" --config "$CONFIG" >>"$TMP/consumer.log" 2>&1 ||
  { cat "$TMP/consumer.log" >&2; fail "consumer build with CMake"; }
bin=$(find "$TMP/cmake-build" -name hits2co -type f | head -n 1)
check_output CMake "$bin"

# With pkg-config, when the machine has it. A shared library is found at run
# time through LD_LIBRARY_PATH, as a user of a private prefix would do.
if command -v pkg-config >/dev/null 2>&1; then
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  flags=$(pkg-config --cflags --libs quenbrel) || fail "pkg-config quenbrel"
  # shellcheck disable=SC2086  # the flags are meant to be split
  "$CXX" -std=c++17 -o "$TMP/hits2co-pc" "$CONSUMER/hits2co.cpp" $flags ||
    fail "consumer build with pkg-config ($flags)"
  export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  check_output pkg-config "$TMP/hits2co-pc"
else
  echo "pkg-config not found: pkg-config build skipped"
fi
