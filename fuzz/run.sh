#!/bin/sh
# Builds the fuzz targets with clang and runs them.
#
# usage: fuzz/run.sh [-t SECONDS] [-m MAX_LEN] [-b BUILD_DIR] [-w WORK_DIR] [-j JOBS] [TARGET...]
#   -t  seconds per target (default 60)
#   -m  longest input tried (default 65536: real files are cut to it, and
#       short inputs run a hundred times faster than whole files)
#   -b  build directory (default build-fuzz in the repository)
#   -w  work directory for the growing corpora and crash files
#       (default BUILD_DIR/work; kept between runs, so runs add up)
#   -j  parallel fuzzing processes per target (default 1)
#   TARGET is numbering, decode, scan, deflate, font or security (default:
#       all six); TARGET:SECONDS gives that target its own time
#
# Exit status 0 when no target found anything, 1 when one did (the inputs
# are in WORK_DIR/artifacts: copy each into tests/regress/ as
# TARGET-NAME.bin and fix it), 77 when clang++-14 is not installed.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
max_len=65536
build=$root/build-fuzz
work=
jobs=1
while getopts t:m:b:w:j: opt; do
    case $opt in
        t) seconds=$OPTARG ;;
        m) max_len=$OPTARG ;;
        b) build=$OPTARG ;;
        w) work=$OPTARG ;;
        j) jobs=$OPTARG ;;
        *) sed -n '2,18p' "$0"; exit 2 ;;
    esac
done
shift $((OPTIND - 1))
targets=${*:-numbering decode scan deflate font security}
work=${work:-$build/work}
cxx=${CXX_FUZZ:-clang++-14}

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "fuzz: $cxx not found (apt-get install clang-14 libclang-rt-14-dev); skipped"
    exit 77
fi
cmake -S "$root/fuzz" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
cmake --build "$build" -j "${BUILD_JOBS:-2}" >/dev/null

# Seeds: the hand-built files, the small whole copies of the real corpus
# in fuzz/seeds (behind the four parameter bytes of the numbering target;
# fuzz/make_page_seeds.py writes them) and every kept regression input.
seeds=$work/seeds
rm -rf "$seeds"
python3 "$root/fuzz/make_seeds.py" "$seeds"
for f in "$root"/fuzz/seeds/*.pdf; do
    { printf '\000\000\014\000'; cat "$f"; } >"$seeds/numbering/$(basename "$f")"
done
for f in "$root"/tests/regress/*.bin; do
    [ -e "$f" ] || continue
    name=$(basename "$f")
    cp "$f" "$seeds/${name%%-*}/" 2>/dev/null || true
done

status=0
mkdir -p "$work/artifacts"
for entry in $targets; do
    t=${entry%%:*}
    secs=$seconds
    case $entry in *:*) secs=${entry#*:} ;; esac
    corpus=$work/corpus-$t
    mkdir -p "$corpus"
    before=$(ls "$work/artifacts" | wc -l)
    echo "fuzz: $t for ${secs}s"
    # Processes share their finds through the corpus directory, which each
    # reads again every second; a process alone has nothing to gain by that.
    parallel=-reload=0
    [ "$jobs" -gt 1 ] && parallel="-jobs=$jobs -workers=$jobs"
    dict=$root/fuzz/pdf.dict
    [ -e "$root/fuzz/$t.dict" ] && dict=$root/fuzz/$t.dict
    # shellcheck disable=SC2086
    (cd "$work" && "$build/fuzz_$t" "$corpus" "$seeds/$t" $parallel \
        -dict="$dict" -max_len=$max_len -timeout=30 -rss_limit_mb=3072 \
        -max_total_time="$secs" -print_final_stats=1 \
        -artifact_prefix="$work/artifacts/$t-" >"$work/$t.log" 2>&1) || true
    grep -h -E '^stat::number_of_executed_units' "$work/$t.log" | tail -n 1 || true
    after=$(ls "$work/artifacts" | wc -l)
    if [ "$after" -ne "$before" ]; then
        echo "fuzz: $t found $((after - before)) input(s), see $work/artifacts and $work/$t.log"
        status=1
    fi
done
exit $status
