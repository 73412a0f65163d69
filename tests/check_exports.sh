#!/bin/sh
# The shared library must export exactly the six entry points and dedediruzurud_number.
set -eu
lib=$1
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /[TtDdBbRrVvWw]/ {print $3}' | sort)
want=$(printf '%s\n' dedediruzurud_add dedediruzurud_cleanup dedediruzurud_init \
    dedediruzurud_last_error dedediruzurud_number dedediruzurud_range dedediruzurud_skip | sort)
if [ "$got" != "$want" ]; then
    echo "exported symbols differ:"; echo "$got"; exit 1
fi
echo "exports: exactly the six entry points and dedediruzurud_number"
