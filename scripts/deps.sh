#!/bin/sh
# Installs everything the build, the tests and the cross-build need on a
# fresh Debian 12 machine (run as root).
set -eu
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    build-essential cmake pkg-config libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libdeflate-dev \
    qpdf poppler-utils mupdf-tools groff-base python3 python3-pytest python3-venv python3-setuptools python3-wheel \
    python3-cryptography python3-cairo python3-pikepdf \
    python3-dask python3-distributed \
    g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine64 \
    clang-14 libclang-rt-14-dev \
    fonts-dejavu-core fonts-droid-fallback fonts-urw-base35 >/dev/null
