#!/usr/bin/env bash
# Compares the functions libvexo.so exports with those the public headers declare.
# Usage: check_exports.sh path/to/libvexo.so path/to/include
set -euo pipefail
lib=$1 inc=$2
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT

nm -D --defined-only "$lib" | awk '$2 ~ /^[TtWwDdBbRrVvi]$/ {print $3}' | sed 's/@.*//' | sort -u > "$tmp/exported"
# Declarations look like: VEXO_API <type> Name(  (possibly with the name on the next line)
grep -hv "^[[:space:]]*#" "$inc"/vexo/*.h | tr '\n' ' ' | grep -oE 'VEXO_API[^;(]*\(' \
    | sed -E 's/\($//; s/.*[^A-Za-z0-9_]([A-Za-z_][A-Za-z0-9_]*)[[:space:]]*$/\1/' | sort -u > "$tmp/declared"

status=0
if ! diff -u "$tmp/declared" "$tmp/exported" > "$tmp/diff"; then
    echo "libvexo.so exports differ from the public headers (- declared only, + exported only):"
    grep -E '^[-+][A-Za-z_]' "$tmp/diff"
    status=1
fi
echo "$(wc -l < "$tmp/exported") symbols exported, $(wc -l < "$tmp/declared") declared"
exit $status
