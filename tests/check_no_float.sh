#!/usr/bin/env bash
# Fails when any given object, archive or library holds a floating-point
# instruction (x87, scalar or packed SSE/AVX arithmetic, conversions).
# Integer vector code and plain register moves are allowed.
set -u
status=0
for f in "$@"; do
    hits=$(objdump -d --no-show-raw-insn "$f" 2>/dev/null | grep -E '^\s*[0-9a-f]+:\s+' | \
           awk '{ $1=""; print }' | grep -E -w '^\s*(v?(add|sub|mul|div|sqrt|min|max|round|rcp|rsqrt|hadd|hsub|addsub|dp)(ss|sd|ps|pd)|v?cmp[a-z]*(ss|sd|ps|pd)|v?u?comis[sd]|v?cvt[a-z0-9]*|vfn?m(add|sub)[a-z0-9]*|f(ld|st|add|sub|mul|div|ild|ist|comi|ucomi|sqrt|xch|chs|abs)[a-z]*)' | head -n 5)
    if [ -n "$hits" ]; then
        echo "floating point in $f:"; echo "$hits"; status=1
    fi
done
[ $status -eq 0 ] && echo "no floating-point instructions in $# file(s)"
exit $status
