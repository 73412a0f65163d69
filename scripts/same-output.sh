#!/bin/sh
# Numbers every PDF of the given folders with two builds of the tool and
# compares what each run leaves: the output bytes, standard error and the
# exit status. For changes that must not change behaviour (a tidy, a faster
# path): run with the tool built before the change and the one after.
#
# usage: scripts/same-output.sh OLD_TOOL NEW_TOOL [DIR...]
#   DIR defaults to tests/corpus. Prints one line per difference and a
#   summary; exit status 0 when every run matched, 1 otherwise.
set -u
[ $# -ge 2 ] || { sed -n '2,9p' "$0"; exit 2; }
abs() { case $1 in /*) printf %s "$1" ;; */*) printf %s "$PWD/$1" ;; *) command -v "$1" ;; esac; }
old=$(abs "$1")
new=$(abs "$2")
shift 2
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$root/tests/corpus"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

runs=0
diffs=0
# Runs both tools with the same arguments (@IN@ and @OUT@ stand for the
# input and the output, @DIR@ for an output folder) and compares.
compare() {
    label=$1
    shift
    for side in old new; do
        tool=$old
        [ "$side" = new ] && tool=$new
        mkdir -p "$work/$side"
        rm -rf "$work/$side"/*
        args=
        for a in "$@"; do
            case $a in
                @OUT@) a=$work/$side/out.pdf ;;
                @DIR@) a=$work/$side/dir ;;
            esac
            args="$args '$(printf '%s' "$a" | sed "s/'/'\\\\''/g")'"
        done
        (cd "$work/$side" && eval "\"$tool\" $args" >stdout 2>stderr; echo $? >status)
        # The summary line's timing differs run to run.
        sed -i 's/ in [0-9.]* s, [0-9]* pages\/s//' "$work/$side/stdout"
        sed -i "s#$work/$side#WORK#g" "$work/$side/stderr" "$work/$side/stdout"
        # Batch workers report failures in the order they finish.
        sort -o "$work/$side/stderr" "$work/$side/stderr"
    done
    runs=$((runs + 1))
    if ! diff -r "$work/old" "$work/new" >/dev/null 2>&1; then
        diffs=$((diffs + 1))
        echo "DIFFERS: $label"
    fi
}

files=
for d in "$@"; do
    d=$(cd "$d" && pwd)
    for f in "$d"/*.pdf; do
        [ -e "$f" ] && files="$files $f"
    done
done
for f in $files; do
    name=$(basename "$f")
    compare "$name (defaults)" "$f" @OUT@
    compare "$name (top-right 9 colour)" --position top-right --size 9 --color 51,102,153 "$f" @OUT@
    compare "$name (pages 2-3 first 5)" --pages 2-3 --first 5 "$f" @OUT@
    compare "$name (skip 1)" --skip 1 "$f" @OUT@
done
# A --continue batch of three files at a time.
set -- $files
while [ $# -ge 3 ]; do
    compare "continue $(basename "$1") $(basename "$2") $(basename "$3")" \
        --continue --format "Page {n} of {total}" "$1" "$2" "$3" -o @DIR@
    shift 3
done
echo "$runs runs, $diffs differ"
[ "$diffs" -eq 0 ]
