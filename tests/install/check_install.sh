#!/bin/sh
# Installs the build tree into a temporary prefix, then builds a small C
# program against the installed copy twice, through CMake's find_package and
# through pkg-config, and runs both. Both number a document exactly as the
# installed tool does.
# Usage: check_install.sh BUILD_DIR CORPUS_DIR   (CMAKE and CC may name the tools)
set -eu
build=$1
input=$2/gropdf-groff-man.pdf
here=$(cd "$(dirname "$0")" && pwd)
cmake=${CMAKE:-cmake}
cc=${CC:-cc}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

# Loads the library from the temporary prefix, not from the build tree.
uses_installed() {
    if ! ldd "$1" | grep libdedediruzurud | grep -q "=> $prefix/"; then
        echo "$1 does not load the installed library:"; ldd "$1"; exit 1
    fi
}

"$cmake" -S "$here" -B "$work/cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$work/cmake" >/dev/null
uses_installed "$work/cmake/consume"
"$work/cmake/consume" "$input" "$work/cmake.pdf"
if "$cmake" -S "$here" -B "$work/v2" -DCMAKE_PREFIX_PATH="$prefix" -DDEDEDIRUZURUD_WANT=2.0 >/dev/null 2>&1; then
    echo "find_package(dedediruzurud 2.0) accepted version 1"
    exit 1
fi

PKG_CONFIG_PATH=$(dirname "$(find "$prefix" -name dedediruzurud.pc)")
export PKG_CONFIG_PATH
# shellcheck disable=SC2046  # the flags are words
"$cc" -std=c99 -Wall -Wextra -pedantic -Werror $(pkg-config --cflags dedediruzurud) "$here/consume.c" \
    -o "$work/consume-pc" $(pkg-config --libs dedediruzurud) -Wl,-rpath,"$(pkg-config --variable=libdir dedediruzurud)"
uses_installed "$work/consume-pc"
"$work/consume-pc" "$input" "$work/pkg-config.pdf"

"$prefix/bin/dedediruzurud" --position bottom-right --format "Page {n} of {total}" --size 10 "$input" "$work/tool.pdf"
cmp "$work/cmake.pdf" "$work/tool.pdf"
cmp "$work/pkg-config.pdf" "$work/tool.pdf"
echo "installed library, header, tool, CMake package and pkg-config file work together"
