#!/bin/sh
# Builds and runs every test: the normal build, the sanitizer build and the
# Windows cross-build.
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DDEDEDIRUZURUD_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs" -LE 'corpus|fuzz'

if command -v x86_64-w64-mingw32-g++ >/dev/null 2>&1; then
    scripts/build-dll.sh
fi
