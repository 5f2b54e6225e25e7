#!/bin/sh
# SPDX-License-Identifier: MIT
# The man page names the project's version (the one in CMakeLists.txt, passed
# in) and renders without a single groff warning. The version is checked
# everywhere; the rendering is skipped (status 77) where groff is not
# installed.
#
#   manpage_test.sh MAN_PAGE VERSION
set -eu
PAGE=$1 VERSION=$2

grep -q "^\.TH QUENBREL 1 .* \"quenbrel $VERSION\"" "$PAGE" ||
  { echo "FAIL: the .TH line of $PAGE does not name quenbrel $VERSION" >&2; exit 1; }
if ! command -v groff >/dev/null 2>&1; then
  echo "groff not found: skipped"
  exit 77
fi
warnings=$(groff -man -ww -Tutf8 "$PAGE" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "FAIL: groff warns about $PAGE:" >&2
  echo "$warnings" >&2
  exit 1
fi
echo "man page clean"
