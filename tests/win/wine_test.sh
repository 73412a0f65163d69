#!/bin/sh
# Runs the test host against the Windows DLL under Wine and against the Linux
# shared library, and compares the two runs: the transcripts (results and
# messages) and every output file must be identical byte for byte.
#
#   wine_test.sh LINUX_HOST LINUX_LIBRARY WIN_BUILD_DIR CORPUS_DIR
#
# Exits 77 (skipped) when Wine or the cross-built DLL is not there.
set -u
linux_host=$1 linux_lib=$2 win_dir=$3 corpus=$4

wine=${WINE:-}
if [ -z "$wine" ]; then
    for w in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null)" "$(command -v wine 2>/dev/null)"; do
        if [ -n "$w" ] && [ -x "$w" ]; then wine=$w; break; fi
    done
fi
if [ -z "$wine" ] || [ ! -x "$wine" ]; then
    echo "SKIPPED: Wine is not installed (Debian: apt-get install wine64); the DLL was not run"
    exit 77
fi
# Bring an existing cross-build up to date, so that a stale DLL is never
# compared with a fresh Linux library.
if [ -f "$win_dir/CMakeCache.txt" ] && [ -f "$win_dir/host/CMakeCache.txt" ]; then
    "${CMAKE:-cmake}" --build "$win_dir" >/dev/null && "${CMAKE:-cmake}" --build "$win_dir/host" >/dev/null ||
        { echo "the cross-build in $win_dir failed"; exit 1; }
fi
for f in dedediruzurud.dll host/dedediruzurud_host.exe; do
    if [ ! -f "$win_dir/$f" ]; then
        echo "SKIPPED: $win_dir/$f not built yet (scripts/build-dll.sh builds it and runs this test)"
        exit 77
    fi
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/dedediruzurud-wine.XXXXXX") || exit 1
export WINEPREFIX="$tmp/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
    # Let this prefix's wineserver exit before its files go.
    wineserver=$(dirname "$wine")/wineserver
    [ -x "$wineserver" ] || wineserver=$(command -v wineserver 2>/dev/null || true)
    [ -n "$wineserver" ] && "$wineserver" -w 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
mkdir "$tmp/linux" "$tmp/win"
# Both hosts see the corpus under the same relative name, so that messages
# naming input paths read the same.
ln -s "$corpus" "$tmp/linux/corpus"
ln -s "$corpus" "$tmp/win/corpus"
# The TrueType label's font, under the same name on both sides.
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
if [ -f "$font" ]; then ln -s "$font" "$tmp/linux/font.ttf"; ln -s "$font" "$tmp/win/font.ttf"; fi
# The encrypted test files are read as corpus/../data: Wine may drop the
# "corpus/.." before the link is followed.
ln -s "$corpus/../data" "$tmp/linux/data"
ln -s "$corpus/../data" "$tmp/win/data"
cp "$win_dir/dedediruzurud.dll" "$win_dir/host/dedediruzurud_host.exe" "$tmp/win/"

# A fresh prefix, made up front so that its start-up chatter stays out of the log.
"$wine" wineboot -i >/dev/null 2>&1

status=0
(cd "$tmp/linux" && "$linux_host" "$linux_lib" corpus) || { echo "linux host: checks failed"; status=1; }
(cd "$tmp/win" && "$wine" dedediruzurud_host.exe dedediruzurud.dll corpus) || { echo "windows host: checks failed"; status=1; }

if ! cmp -s "$tmp/linux/transcript.txt" "$tmp/win/transcript.txt"; then
    echo "transcripts differ (linux < > windows):"
    diff "$tmp/linux/transcript.txt" "$tmp/win/transcript.txt" | head -40
    status=1
fi

# Both runs leave the same files, and nothing but the numbered copies.
(cd "$tmp/linux/out" && ls -A) > "$tmp/linux.ls"
(cd "$tmp/win/out" && ls -A) > "$tmp/win.ls"
if ! cmp -s "$tmp/linux.ls" "$tmp/win.ls" || grep -v '\.pdf$' "$tmp/win.ls"; then
    echo "the output directories differ or hold more than numbered copies:"
    diff "$tmp/linux.ls" "$tmp/win.ls"
    status=1
fi
# The scratch names are re-encoded by Wine (ANSI code page), so count them.
lin_files=$(find "$tmp/linux/scratch" -type f | wc -l)
win_files=$(find "$tmp/win/scratch" -type f | wc -l)
if [ "$lin_files" -ne "$win_files" ]; then
    echo "scratch holds $lin_files files on Linux, $win_files on Windows"
    status=1
fi

# Every output of either run must exist in both and be identical.
same=0 differ=0
for f in "$tmp/linux/out/"*.pdf "$tmp/win/out/"*.pdf; do
    [ -f "$f" ] || continue
    name=$(basename "$f")
    case $f in
    "$tmp/win/"*) [ -f "$tmp/linux/out/$name" ] || { echo "only on windows: $name"; differ=$((differ + 1)); } ;;
    *) if cmp -s "$f" "$tmp/win/out/$name"; then same=$((same + 1)); else echo "output differs: $name"; differ=$((differ + 1)); fi ;;
    esac
done
# Corpus files numbered on both platforms with identical results.
files=0 files_same=0
for name in $(awk -F'\t' 'NR > 1 && $5 == "ok" {print $1}' "$corpus/MANIFEST.tsv"); do
    files=$((files + 1))
    ok=1
    for f in "$tmp/linux/out/$name."*.pdf; do
        [ -f "$f" ] && cmp -s "$f" "$tmp/win/out/$(basename "$f")" || ok=0
    done
    [ -f "$tmp/linux/out/$name.add.pdf" ] || ok=0
    files_same=$((files_same + ok))
done
echo "wine: $same outputs identical, $differ differ; $files_same of $files corpus files identical on Linux and Windows"
if [ "$same" -eq 0 ] || [ "$differ" -ne 0 ] || [ "$files_same" -ne "$files" ]; then status=1; fi
exit $status
