#!/usr/bin/env bash
# Audits ARM builds of the integer-only components (archives, objects or
# shared libraries) by disassembly:
#  - fails on any floating-point instruction (VFP/NEON, old VFP and FPA
#    mnemonics, coprocessor 1/2/10/11 access) and on any call to, or address
#    of, a floating-point support routine or libm function;
#  - lists every call to an integer-division support routine with the
#    function it sits in, marked reviewed when tools/arm_division_review.txt
#    names that function (with the reason the division is off the per-sample
#    and per-pixel paths), and fails on unreviewed ones with --strict-division;
#  - fails on any instruction the disassembler marks UNPREDICTABLE for the
#    architecture (say a load writing back its address over a register it
#    also uses), whatever qemu makes of it.
# Relocatable code is read through its relocations (objdump -dr): the branch
# targets printed for an unlinked call are meaningless. Linked code is read
# through its branch targets.
#
# usage: arm_audit.sh [--objdump PROG] [--strict-division] FILE...
set -u
here=$(cd "$(dirname "$0")" && pwd)
objdump=arm-linux-gnueabi-objdump
strict=0
while [ $# -gt 0 ]; do
    case "$1" in
        --objdump) objdump=$2; shift 2 ;;
        --strict-division) strict=1; shift ;;
        *) break ;;
    esac
done
[ $# -gt 0 ] || { echo "usage: arm_audit.sh [--objdump PROG] [--strict-division] FILE..." >&2; exit 2; }
command -v "$objdump" >/dev/null || { echo "arm_audit: $objdump not found" >&2; exit 2; }
review="$here/arm_division_review.txt"

status=0
for f in "$@"; do
    if [ ! -e "$f" ]; then
        echo "arm_audit: $f: no such file" >&2; status=2; continue
    fi
    if ! "$objdump" -f "$f" 2>/dev/null | grep -q 'elf32-littlearm'; then
        echo "arm_audit: $f is not a 32-bit ARM ELF file" >&2; status=2; continue
    fi
    "$objdump" -d -r -C --no-show-raw-insn "$f" | \
    awk -v file="$(basename "$f")" -v review="$review" -v strict="$strict" '
    BEGIN {
        # Reviewed divisions: "<function> | <reason>", the function as
        # demangled, without its parameter list.
        while ((getline line < review) > 0) {
            if (line ~ /^[ \t]*(#|$)/) continue
            n = index(line, "|")
            if (n == 0) continue
            name = substr(line, 1, n - 1); why = substr(line, n + 1)
            gsub(/^[ \t]+|[ \t]+$/, "", name); gsub(/^[ \t]+|[ \t]+$/, "", why)
            reason[name] = why
        }
        fp_re  = "^(__aeabi_([fd][a-z0-9]*|u?i2[fd]|u?l2[fd]|h2f|f2h|d2h)" \
                 "|__(add|sub|mul|div|neg|cmp|eq|ne|ge|gt|le|lt|unord|powi)[hsdtx]f[23]" \
                 "|__(extend|trunc)[hsdtx]f[hsdtx]f2|__fix(uns)?[hsdtx]f[sdt]i|__float(un)?[sdt]i[hsdtx]f" \
                 "|(sqrt|cbrt|hypot|exp|exp2|expm1|log|log2|log10|log1p|pow|sin|cos|tan|asin|acos|atan|atan2" \
                 "|sinh|cosh|tanh|floor|ceil|round|lround|llround|rint|lrint|llrint|nearbyint|trunc|fabs" \
                 "|fmod|remainder|frexp|ldexp|scalbn|modf|fmin|fmax|fma|copysign)[fl]?" \
                 "|__.*_finite|strto[fd]|strtold|ato[f])$"
        div_re = "^(__aeabi_u?idiv(mod)?|__aeabi_u?ldivmod|__u?(div|mod)[sdt]i3|__u?divmod[sdt]i4|__udivmoddi4)$"
        fpa_re = "^(adf|suf|rsf|muf|dvf|rdf|pow|rpw|rmf|fml|fdv|frd|pol|mvf|mnf|abs|rnd|sqt|log|lgn|exp|sin|cos|tan" \
                 "|asn|acs|atn|urd|nrm|flt|fix|cmf|cnf|ldf|stf|lfm|sfm|wfs|rfs|wfc|rfc)"
        vfp_re = "^(v[a-z]|f(add|sub|mul|div|neg|abs|sqrt|cpy|cmp|ld|st|mrs|msr|mdrr|mrrd|mrdh|mrdl|mdhr|mdlr" \
                 "|mstat|mxr|mrx|si|ui|to|nm|mac|msc|cvt))"
        func = "?"; member = file; reloc = (file ~ /\.(a|o)$/)
        ninsn = 0; nfp = 0; nunp = 0
    }
    /^In archive / { next }
    /file format/ { member = $1; sub(/:$/, "", member); sub(/.*\//, "", member); reloc = (member ~ /\.(o|obj)$/ || file ~ /\.(a|o)$/); next }
    /^[0-9a-f]+ <.*>:$/ {
        func = $0; sub(/^[0-9a-f]+ </, "", func); sub(/>:$/, "", func); next
    }
    # Relocation line: "   1c: R_ARM_CALL   __aeabi_idiv".
    /^[ \t]+[0-9a-f]+: R_ARM_/ {
        if (!reloc) next
        sym = $3; sub(/@.*/, "", sym); sub(/[-+]0x[0-9a-f]+$/, "", sym)
        note(sym, $2); next
    }
    # Instruction line: "   1c:\tbl\t40 <__aeabi_idiv>".
    /^[ \t]+[0-9a-f]+:\t/ {
        split($0, part, "\t"); mnem = part[2]; ops = part[3]
        if (mnem ~ /^\./ || mnem == "") next
        ninsn++
        if ($0 ~ /<UNPREDICTABLE>/) {
            nunp++
            if (nunp <= 20) printf "  UNPREDICTABLE  %s  %s: %s %s\n", file, func, mnem, ops
        }
        if (mnem ~ vfp_re || mnem ~ fpa_re ||
            (mnem ~ /^(mcr|mrc|mcrr|mrrc|cdp|ldc|stc)/ && ops ~ /(^|[ ,])p(1|2|10|11)[ ,]/)) {
            fpline(func, mnem " " ops)
        } else if (!reloc && mnem ~ /^(bl|blx|b)(eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al)?$/ &&
                   match($0, /<[^>]*>$/)) {
            sym = substr($0, RSTART + 1, RLENGTH - 2)
            sub(/@plt$/, "", sym); sub(/[-+]0x[0-9a-f]+$/, "", sym)
            if (sym != func) note(sym, mnem)
        }
        next
    }
    function fpline(fn, text) {
        nfp++
        if (nfp <= 20) printf "  FLOATING POINT  %s  %s: %s\n", file, fn, text
    }
    function note(sym, how) {
        if (sym ~ fp_re) { fpline(func, "call " sym); return }
        # The support routines call one another; only our code is listed.
        if (sym ~ div_re && func !~ /^__/) {
            key = func SUBSEP sym
            if (!(key in ndiv)) order[++nkeys] = key
            ndiv[key]++; where[key] = member
        }
    }
    END {
        unrev = 0
        for (i = 1; i <= nkeys; i++) {
            split(order[i], kv, SUBSEP); fn = kv[1]; bare = fn; sub(/\(.*$/, "", bare)
            tag = (bare in reason) ? "reviewed: " reason[bare] : "NOT REVIEWED"
            if (!(bare in reason)) unrev++
            printf "  division  %s  %s  %s x%d  [%s]\n", where[order[i]], fn, kv[2], ndiv[order[i]], tag
        }
        if (nfp > 20) printf "  ... %d floating-point findings in all\n", nfp
        printf "%s: %d instructions, %d floating-point findings, %d unpredictable, %d division call sites in %d functions (%d unreviewed)\n", \
               file, ninsn, nfp, nunp, dsum(), nkeys, unrev
        if (ninsn == 0) { print "  no code found: wrong file?"; exit 2 }
        exit (nfp > 0) ? 1 : (nunp > 0) ? 4 : (strict && unrev > 0) ? 3 : 0
    }
    function dsum(  s, k) { s = 0; for (k in ndiv) s += ndiv[k]; return s }
    '
    rc=$?
    [ $rc -ne 0 ] && [ $status -eq 0 ] && status=$rc
done
case $status in
    0) echo "arm_audit: passed: no floating point in $# file(s)" ;;
    1) echo "arm_audit: FAILED: floating point found" ;;
    3) echo "arm_audit: FAILED: unreviewed integer-division calls (see tools/arm_division_review.txt)" ;;
    4) echo "arm_audit: FAILED: instructions unpredictable on the architecture" ;;
    *) echo "arm_audit: FAILED: could not audit every file" ;;
esac
exit $status
