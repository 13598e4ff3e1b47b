#!/usr/bin/env bash
# Fails unless the library's defined dynamic symbols are exactly the names in
# the list (one a line). Usage: check_exports.sh NM LIBRARY LIST
set -eu
nm_tool=$1 lib=$2 list=$3
got=$("$nm_tool" -D --defined-only "$lib" | awk 'NF >= 3 { print $3 }' | LC_ALL=C sort -u)
want=$(grep -v '^\s*$' "$list" | LC_ALL=C sort -u)
if [ "$got" != "$want" ]; then
    echo "exports of $lib differ from $list (< missing, > unexpected):"
    diff <(echo "$want") <(echo "$got") || true
    exit 1
fi
echo "$(echo "$got" | wc -l) exports, as listed"
