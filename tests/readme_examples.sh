#!/bin/sh
# Runs the README's shell examples that act on local files, in a scratch copy of
# the checkout's examples/, with the built tool first on PATH. Lines marked
# "# your files", "# your machine" or "# network" stand for the reader's own
# files or need the network, and transcripts ("$ ...") show output: both are
# skipped. Every PDF the examples write must pass qpdf --check.
set -eu
readme=$1
tool_dir=$(dirname "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$(dirname "$readme")/examples" "$work/"
ln -s "$2" "$work/dedediruzurud"

# Indented (4-space) code lines that start with a command we run.
sed -n 's/^    \(\(dedediruzurud\|mkdir\) .*\)$/\1/p' "$readme" |
    grep -v -e '# your files' -e '# your machine' -e '# network' > "$work/examples.sh"
count=$(wc -l < "$work/examples.sh")
[ "$count" -ge 5 ] || { echo "only $count README examples found" >&2; exit 1; }

cd "$work"
n=0
while IFS= read -r line; do
    n=$((n + 1))
    if ! PATH="$work:$tool_dir:$PATH" sh -c "$line" >/dev/null 2>"$work/err"; then
        echo "README example $n failed: $line" >&2
        cat "$work/err" >&2
        exit 1
    fi
done < "$work/examples.sh"

for f in $(find out -name '*.pdf'); do
    qpdf --check "$f" >/dev/null || { echo "qpdf --check fails on $f" >&2; exit 1; }
done
echo "$n README examples ran"
