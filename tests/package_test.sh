#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the Debian package with CPack, checks its name, contents and
# Depends field, extracts it and converts the example with the tool from it;
# where lintian is installed, the package must draw no error from it.
# Skipped (status 77) without dpkg-deb, dpkg-shlibdeps and file.
#
#   package_test.sh CPACK BUILD_DIR SOURCE_DIR VERSION QUENBREL
set -eu
CPACK=$1 BUILD=$2 SRC=$3 VERSION=$4 QUENBREL=$5

# CPack needs file to find the binaries whose libraries make the Depends field.
for tool in dpkg-deb dpkg-shlibdeps file; do
  if ! command -v $tool >/dev/null 2>&1; then
    echo "$tool not found (Debian packages dpkg, dpkg-dev, file): skipped"
    exit 77
  fi
done
TMP=$(mktemp -d "${TMPDIR:-/tmp}/quenbrel-package-XXXXXX")
trap 'rm -rf "$TMP"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

"$CPACK" -G DEB --config "$BUILD/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1 ||
  { cat "$TMP/cpack.log" >&2; fail "cpack"; }
deb=$TMP/out/quenbrel_${VERSION}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"); made: $(ls "$TMP/out")"

# Contents: everything under /usr, and each part of the install present.
dpkg-deb -c "$deb" | awk '{print $6}' >"$TMP/contents"
echo "contents of $(basename "$deb"):"
cat "$TMP/contents"
stray=$(grep -v '^\./usr/' "$TMP/contents" || true)
[ -z "$stray" ] || fail "files outside /usr: $stray"
for pattern in '/usr/bin/quenbrel$' '/usr/share/man/man1/quenbrel\.1\.gz$' \
    '/usr/include/quenbrel/functions\.h$' '/usr/lib/.*libquenbrel\.\(a\|so\)$' \
    '/usr/lib/.*cmake/quenbrel/quenbrelConfig\.cmake$' \
    '/usr/lib/.*cmake/quenbrel/quenbrelConfigVersion\.cmake$' \
    '/usr/lib/.*pkgconfig/quenbrel\.pc$' \
    '/usr/share/doc/quenbrel/copyright$' '/usr/share/doc/quenbrel/changelog\.gz$'; do
  grep -q "$pattern" "$TMP/contents" || fail "nothing in the package matches $pattern"
done

# The licence: the copyright file states the MIT (Expat) terms of LICENSE.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/quenbrel/copyright >"$TMP/copyright"
grep -q '^License: Expat$' "$TMP/copyright" || fail "copyright names no Expat licence"
tail -n +5 "$SRC/LICENSE" | sed 's/^$/./; s/^/ /' >"$TMP/licence-text"
n=$(wc -l <"$TMP/licence-text")
tail -n "$n" "$TMP/copyright" | cmp -s - "$TMP/licence-text" || fail "copyright lacks the licence text of LICENSE"

# Control fields: the version, and a dependency on the package of every
# library the tool links (but its own, which the package holds).
[ "$(dpkg-deb -f "$deb" Version)" = "$VERSION" ] || fail "Version is not $VERSION"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for soname in $(objdump -p "$QUENBREL" | awk '$1 == "NEEDED" && $2 !~ /^libquenbrel/ {print $2}'); do
  owner=$(dpkg -S "*/$multiarch/$soname" 2>/dev/null | head -n 1 | cut -d: -f1)
  [ -n "$owner" ] || fail "no installed package holds $multiarch/$soname"
  echo "$depends" | grep -q "\(^\|, \)$owner\( \|,\|$\)" ||
    fail "Depends lacks $owner, the package of $soname"
done

# The tool from the package converts the example as the built one does.
dpkg-deb -x "$deb" "$TMP/root"
gzip -t "$TMP/root/usr/share/man/man1/quenbrel.1.gz" || fail "man page is no gzip file"
libdir=$(dirname "$(find "$TMP/root/usr/lib" -name 'libquenbrel.*' | head -n 1)")
LD_LIBRARY_PATH=$libdir "$TMP/root/usr/bin/quenbrel" "$SRC/examples/sample.ig" >"$TMP/packaged.fa" ||
  fail "the packaged quenbrel exited with $?"
"$QUENBREL" "$SRC/examples/sample.ig" >"$TMP/built.fa"
cmp "$TMP/built.fa" "$TMP/packaged.fa" || fail "the packaged quenbrel converts differently"
echo "packaged quenbrel converts the example"

if command -v lintian >/dev/null 2>&1; then
  # Root runs are warned against, not refused; the warning is not about the package.
  lintian --tag-display-limit 0 "$deb" >"$TMP/lintian.log" 2>&1 || true
  echo "lintian:"
  cat "$TMP/lintian.log"
  ! grep -q '^E:' "$TMP/lintian.log" || fail "lintian reports errors"
else
  echo "lintian not found (Debian package lintian): lintian check skipped"
fi
