#!/usr/bin/env bash
# ARM instructions executed per second of decoded audio, for the AAC-LC
# stereo and mono benchmark streams (and the HE-AAC one when present).
#
# Method: the ARM build of the CLI (preset arm) decodes each stream under
# qemu-arm with a small plugin (tools/qemu_insn_count.c) that counts every
# guest instruction executed, conditional ones included. The same count for
# `sonadec info` on the stream (program start, reading the file, parsing the
# header) is subtracted, and the rest is divided by the seconds of PCM in the
# output WAV. The figure is instructions, not cycles: an ARM9E core takes
# more than one cycle for loads, multiplies and taken branches.
#
# Per function: the plugin also counts per translated block; the blocks are
# mapped onto the CLI's symbols (nm) and the top functions of each stream's
# decode are listed with their share and instructions per audio second.
#
# usage: arm_insn_count.sh [--no-build] [--top N] [STREAM...]   (N = 0: no list; default 12)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=1
top=12
while [ $# -gt 0 ]; do
    case $1 in
    --no-build) build=0; shift ;;
    --top) top=$2; shift 2 ;;
    *) break ;;
    esac
done
bench=$root/../shared/testdata/bench
streams=("$@")
if [ ${#streams[@]} -eq 0 ]; then
    for s in lc_stereo_44k_128k.aac lc_mono_44k_64k.aac he_stereo_48k_48k.aac; do
        [ -f "$bench/$s" ] && streams+=("$bench/$s")
    done
fi
# The benchmark streams live outside the repository: a checkout without them
# has nothing to count, which is not a failure of the code.
[ ${#streams[@]} -gt 0 ] || { echo "arm_insn_count: no benchmark streams in $bench; nothing counted"; exit 0; }

if [ $build -eq 1 ]; then
    . tools/deps.sh
    sonadec_need_packages cmake ninja-build gcc "${SONADEC_ARM_PACKAGES[@]}"
    sonadec_arm_deps || true
    cmake --preset arm >/dev/null
    cmake --build --preset arm -j 2 --target sonadec-cli
fi
cli=build/arm/bin/sonadec
[ -x "$cli" ] || { echo "arm_insn_count: $cli missing: build the arm preset first" >&2; exit 1; }

work=build/arm-insn
mkdir -p "$work"
plugin=$work/libinsncount.so
if [ ! -e "$plugin" ] || [ tools/qemu_insn_count.c -nt "$plugin" ]; then
    cc -shared -fPIC -O2 -Wall -Wextra -o "$plugin" tools/qemu_insn_count.c
fi

# Instructions executed by: qemu-arm CLI ARGS... (printed whatever the exit
# status, which is returned). With PROFILE=1 the per-block counts go to
# $work/blocks and qemu's memory layout log to $work/layout.
count() {
    local rc=0 extra=() opts=
    rm -f "$work/count" "$work/blocks" "$work/layout"
    if [ "${PROFILE:-0}" = 1 ]; then
        # The layout log also takes the system call trace.
        opts=",profile=$PWD/$work/blocks"
        extra=(-d page -D "$PWD/$work/layout" -strace)
    fi
    qemu-arm -L /usr/arm-linux-gnueabi "${extra[@]}" -plugin "$PWD/$plugin,out=$PWD/$work/count$opts" \
        "$cli" "$@" >/dev/null 2>&1 || rc=$?
    [ -s "$work/count" ] || { echo "arm_insn_count: the qemu plugin reported nothing" >&2; return 99; }
    cat "$work/count"
    return $rc
}

# The top $top functions of the last profiled run. Each block start address
# is mapped to the nearest symbol at or below it: the CLI's own (its load
# address from qemu's layout log) and the exported ones of each shared
# library (their load addresses from the run's system call trace).
# Arguments: audio frames, sample rate.
nm_tool=${NM:-arm-linux-gnueabi-nm}
functions() {
    local frames=$1 rate=$2 base end
    base=$(awk '$1 == "start_code" { print $2; exit }' "$work/layout")
    end=$(awk '$1 == "end_code" { print $2; exit }' "$work/layout")
    [ -n "$base" ] && [ -s "$work/blocks" ] || { echo "    (no per-block profile)"; return 0; }
    {
        "$nm_tool" -n -C -t d --defined-only "$cli" |
            awk -v base=$((base)) '$2 ~ /^[tTwW]$/ { a = $1; $1 = ""; $2 = ""; sub(/^  /, ""); print a + base, $0 }'
        echo "$((end)) (beyond the CLI)"
        # openat(...,"path",...) = fd, then the executable mmap2 of that fd at
        # offset 0, whose result follows the layout table the call prints.
        awk '
            /openat\(/ && / = [0-9]+$/ { p = $0; sub(/^[^"]*"/, "", p); sub(/".*/, "", p); fd[$NF] = p }
            /mmap2\(/ && /PROT_EXEC/ {
                split($0, q, /[(),]/)
                if (q[6] in fd && q[7] == "0") { size = q[3]; lib = fd[q[6]]; delete fd[q[6]] }
            }
            /^ = 0x/ && lib != "" { print $2, size, lib; lib = "" }' "$work/layout" |
        while read -r at size lib; do
            file=/usr/arm-linux-gnueabi$lib
            [ -f "$file" ] || file=$lib
            [ -f "$file" ] || continue
            "$nm_tool" -D -n -C -t d --defined-only "$file" 2>/dev/null |
                awk -v base=$((at)) -v lib="${lib##*/}" '$2 ~ /^[tTwWiI]$/ { a = $1; $1 = ""; $2 = ""; sub(/^  /, ""); print a + base, lib ": " $0 }'
            echo "$((at + size)) (beyond ${lib##*/})"
        done
    } | sort -n -k1,1 > "$work/symbols"
    awk '
        BEGIN { n = 0 }
        FNR == NR {
            addr[n] = $1 + 0
            name = $0
            sub(/^[0-9]+ /, "", name)
            gsub(/\(anonymous namespace\)::/, "", name)
            sub(/ \[clone [^]]*\]/, "", name)
            if (name !~ /^\(/) sub(/\(.*/, "", name)   # argument lists
            sym[n] = name
            n++
            next
        }
        {
            if (n == 0 || $1 < addr[0]) { cost["(unknown)"] += $2; next }
            lo = 0; hi = n - 1
            while (lo < hi) { mid = int((lo + hi + 1) / 2); if (addr[mid] <= $1) lo = mid; else hi = mid - 1 }
            cost[sym[lo]] += $2
        }
        END { for (f in cost) printf "%d\t%s\n", cost[f], f }' "$work/symbols" "$work/blocks" |
    # awk rather than head: head would stop reading early and, under
    # pipefail, sort's SIGPIPE would end the script.
    sort -t "$(printf '\t')" -k1,1nr | awk -v n="$top" 'NR <= n' |
    awk -F '\t' -v frames="$frames" -v rate="$rate" -v all="$(awk '{ s += $2 } END { print s }' "$work/blocks")" '
        { printf "    %6.2f%%  %8.3f M/s  %s\n", 100 * $1 / all, $1 * rate / frames / 1e6, $2 }'
}

# Little-endian unsigned integer of $3 bytes at offset $2 of file $1.
le() { od -A n -t u"$3" -j "$2" -N "$3" --endian=little "$1" | tr -d ' '; }

# "rate channels bits databytes" of a RIFF WAVE file.
wavinfo() {
    local f=$1 off=12 size id rate=0 ch=0 bits=0 total
    total=$(stat -c %s "$f")
    while [ $((off + 8)) -le "$total" ]; do
        id=$(dd if="$f" bs=1 skip="$off" count=4 2>/dev/null)
        size=$(le "$f" $((off + 4)) 4)
        if [ "$id" = "fmt " ]; then
            ch=$(le "$f" $((off + 10)) 2); rate=$(le "$f" $((off + 12)) 4); bits=$(le "$f" $((off + 22)) 2)
        elif [ "$id" = data ]; then
            [ $((off + 8 + size)) -gt "$total" ] && size=$((total - off - 8))
            echo "$rate $ch $bits $size"; return 0
        fi
        off=$((off + 8 + size + (size & 1)))
    done
    return 1
}

usage=$(qemu-arm -L /usr/arm-linux-gnueabi "$cli" 2>&1 || true)
if ! grep -qw decode <<<"$usage"; then
    echo "The CLI has no 'decode' command yet: only the fixed cost is measured."
    for s in "${streams[@]}"; do
        rc=0; n=$(count info "$s") || rc=$?
        [ $rc -eq 99 ] && exit 1
        printf '  %-26s sonadec info: %s instructions (start-up, file read, header probe; exit status %d)\n' \
               "$(basename "$s")" "$n" "$rc"
    done
    exit 0
fi

printf '  %-26s %14s %12s %10s %16s\n' stream instructions "fixed cost" "audio s" "M insn / audio s"
status=0
for s in "${streams[@]}"; do
    name=$(basename "$s")
    wav=$work/${name%.*}.wav
    rm -f "$wav"
    profile=0
    [ "$top" -gt 0 ] && profile=1
    if ! total=$(PROFILE=$profile count decode "$s" -o "$PWD/$wav"); then
        echo "  $name: decoding under qemu-arm failed"; status=1; continue
    fi
    if [ $profile = 1 ]; then
        for f in blocks layout; do mv "$work/$f" "$work/$f.decode"; done
    fi
    base=$(count info "$s") || [ $? -ne 99 ] || base=0
    if ! read -r rate ch bits bytes < <(wavinfo "$wav") || [ "$rate" -eq 0 ] || [ "$ch" -eq 0 ]; then
        echo "  $name: no PCM in the output WAV"; status=1; continue
    fi
    frames=$((bytes / (ch * bits / 8)))
    # Integer arithmetic only, in keeping with the code measured.
    net=$((total - base))
    per_cs=$(( (net * rate * 100 / frames + 500000) / 1000000 ))
    per_s="$((per_cs / 100)).$(printf '%02d' $((per_cs % 100)))"
    secs="$((frames / rate)).$(printf '%03d' $(( (frames % rate) * 1000 / rate )))"
    printf '  %-26s %14d %12d %10s %16s   (%d Hz, %d ch)\n' "$name" "$total" "$base" "$secs" "$per_s" "$rate" "$ch"
    if [ $profile = 1 ]; then
        for f in blocks layout; do mv "$work/$f.decode" "$work/$f"; done
        echo "    top functions of the whole decode run (share, M instructions per audio second):"
        functions "$frames" "$rate"
    fi
    rm -f "$wav"
done
echo "  M insn / audio s = (decode - info) instructions / seconds of PCM / 10^6: the sustained clock in MHz"
echo "  an ARM core would need at one instruction per cycle. Published for a fixed-point decoder on"
echo "  ARM9E: 17-21 MHz for 44.1 kHz stereo 128 kbit/s AAC-LC."
exit $status
