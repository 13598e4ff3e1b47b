#!/usr/bin/env bash
# Fails unless the names LIBRARY takes from PROVIDER are exactly the names in
# the list. Usage: check_imports.sh NM LIBRARY PROVIDER LIST
set -eu
nm_tool=$1 lib=$2 provider=$3 list=$4
provided=$("$nm_tool" -D --defined-only "$provider" | awk 'NF >= 3 { print $3 }' | LC_ALL=C sort -u)
wanted=$("$nm_tool" -D --undefined-only "$lib" | awk '{ print $NF }' | sed 's/@.*//' | LC_ALL=C sort -u)
got=$(LC_ALL=C comm -12 <(echo "$provided") <(echo "$wanted"))
want=$(grep -v '^\s*$' "$list" | LC_ALL=C sort -u)
if [ "$got" != "$want" ]; then
    echo "$lib takes from $provider other names than $list lists (< missing, > unexpected):"
    diff <(echo "$want") <(echo "$got") || true
    exit 1
fi
echo "$(echo "$got" | wc -l) names taken from $(basename "$provider"), as listed"
