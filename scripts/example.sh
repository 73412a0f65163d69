#!/bin/sh
# Builds the library and the command-line tool, then numbers the bundled
# example document into out/example-numbered.pdf.
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" --target dedediruzurud dedediruzurud_cli
mkdir -p out
./build/dedediruzurud --format "Page {n} of {total}" --position bottom-center \
    examples/example.pdf out/example-numbered.pdf
echo "wrote out/example-numbered.pdf"
