#!/bin/sh
# SPDX-License-Identifier: MIT
# The Python package as README installs it: on a copy of the source tree, a
# virtual environment that sees the system's packages, pip without network
# or build isolation, then the README's Python examples, each run as it
# stands there, from the tree's root.
#
#   python_install_test.sh PYTHON SOURCE_DIR
set -eu
python=$1 source=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tree as a clone has it: no build folders, no page's packages.
mkdir "$work/tree"
(cd "$source" && tar cf - --exclude='./build*' --exclude='./web/node_modules' \
  --exclude='./.git' --exclude='./python/build' --exclude='*.egg-info' .) |
  (cd "$work/tree" && tar xf -)
cd "$work/tree"

# README's commands, with the interpreter this build was made for.
"$python" -m venv --system-site-packages .venv
PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 .venv/bin/pip install -q --no-build-isolation ./python

# The examples of README's Python section, in their order.
awk '/^## Python$/ { on = 1; next } /^## / { on = 0 }
     on && /^```python$/ { block = 1; n++; next }
     on && /^```$/ { block = 0; next }
     block { print > ("example" n ".py") }' README.md
[ -f example3.py ] || { echo "FAIL: README's Python section has no three examples"; exit 1; }
for example in example1.py example2.py example3.py; do
  .venv/bin/python "$example" >"$example.out" ||
    { echo "FAIL: README's $example"; cat "$example"; exit 1; }
done
for f in ref.fa.gz ref.fa.gz.fai ref.fa.gz.gzi ref.dict; do
  [ -s "$f" ] || { echo "FAIL: the first example left no $f"; exit 1; }
done
grep -q "^HSP70X FRAGMENT 12 -> 131 " example2.py.out ||
  { echo "FAIL: the second example printed:"; cat example2.py.out; exit 1; }

# The installed package is the module with its stubs, not the tree's.
cd /
"$work/tree/.venv/bin/python" - "$work/tree" <<'PY'
import pathlib, sys
import quenbrel
where = pathlib.Path(quenbrel.__file__).parent
assert ".venv" in str(where), where
assert (where / "__init__.pyi").is_file() and (where / "py.typed").is_file()
assert "Converts the IG or FASTA records" in quenbrel.convert.__doc__
PY
echo "the Python package installs and runs README's examples"
