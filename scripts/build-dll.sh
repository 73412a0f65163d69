#!/bin/sh
# Cross-builds the Windows DLL with MinGW-w64 into build-win/, checks its
# export and import tables, builds the Windows test host and runs the Wine
# comparison test (skipped when Wine is not installed).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
objdump=x86_64-w64-mingw32-objdump

cmake --no-warn-unused-cli -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Release -DDEDEDIRUZURUD_TESTS=OFF >/dev/null
cmake --build build-win -j"$jobs"
dll=build-win/dedediruzurud.dll

# Export table: exactly the seven plain names, nothing decorated, nothing else.
exports=$($objdump -p "$dll" | awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
    on && /^[[:space:]]*\[ *[0-9]+\]/ {print $NF; next} on {exit}' | sort)
want=$(printf '%s\n' dedediruzurud_add dedediruzurud_cleanup dedediruzurud_init \
    dedediruzurud_last_error dedediruzurud_number dedediruzurud_range dedediruzurud_skip | sort)
if [ "$exports" != "$want" ]; then
    echo "$dll: export table differs:"; echo "$exports"; exit 1
fi

# Import table: the C runtime and KERNEL32 only (no libgcc, libstdc++ or
# libwinpthread DLL).
imports=$($objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
for name in $imports; do
    case $(echo "$name" | tr 'A-Z' 'a-z') in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) ;;
    *) echo "$dll imports $name"; exit 1 ;;
    esac
done
echo "$dll: exports the seven entry points; imports" $imports

# The Windows test host, from the same source as the Linux one.
cmake --no-warn-unused-cli -S tests/win -B build-win/host -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-win/host -j"$jobs"

# The Wine test lives in the native tree, next to the Linux library it is
# compared with (DEDEDIRUZURUD_NATIVE_BUILD, default build/, as scripts/test.sh).
native=${DEDEDIRUZURUD_NATIVE_BUILD:-build}
cmake -S . -B "$native" -DDEDEDIRUZURUD_WIN_BUILD_DIR="$PWD/build-win" >/dev/null
cmake --build "$native" -j"$jobs" --target dedediruzurud dedediruzurud_host
ctest --test-dir "$native" --output-on-failure -R '^wine_dll$'
