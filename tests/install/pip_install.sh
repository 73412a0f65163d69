#!/bin/sh
# Installs the Python package as the README says: a new virtual environment
# that sees Debian's setuptools, wheel and pytest, then
# `pip install --no-build-isolation ./python`, which builds the library with
# CMake. The package's tests then run against the installed copy, which must
# find its library beside the module (DEDEDIRUZURUD_LIBRARY is unset).
# Usage: pip_install.sh PYTHON SOURCE_DIR CLI
set -eu
python=$1
source=$2
cli=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# pip builds inside the source folder: work on a copy of the checkout
# (without the tests, build trees and version control, which a build does not read).
mkdir "$work/checkout"
tar -C "$source" --exclude=./.git --exclude='./build*' --exclude=./tests --exclude=./out \
    --exclude=./python/build --exclude='*.egg-info' --exclude=__pycache__ -cf - . | tar -C "$work/checkout" -xf -

"$python" -m venv --system-site-packages "$work/venv"
if ! "$work/venv/bin/python" -m pip install --no-build-isolation --no-index "$work/checkout/python" \
        >"$work/pip.log" 2>&1; then
    cat "$work/pip.log"; exit 1
fi

cd "$work"
unset DEDEDIRUZURUD_LIBRARY
package=$("$work/venv/bin/python" -c 'import os, dedediruzurud; print(os.path.dirname(dedediruzurud.__file__))')
case $package in
"$work/venv/"*) ;;
*) echo "imported $package, not the installed package"; exit 1 ;;
esac
for file in py.typed libdedediruzurud.so.1; do
    test -f "$package/$file" || { echo "$file is not installed in $package"; exit 1; }
done
DEDEDIRUZURUD_CLI=$cli DEDEDIRUZURUD_CORPUS=$source/tests/corpus PYTHONDONTWRITEBYTECODE=1 \
    "$work/venv/bin/python" -m pytest -q -p no:cacheprovider "$source/python/tests"
