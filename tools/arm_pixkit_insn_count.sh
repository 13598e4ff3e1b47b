#!/usr/bin/env bash
# ARM instructions per destination pixel of the renderer's two Pixkit calls
# (gYUV420toBGR565TopDown_Rotate at each rotation code, 320 x 240; gScaleFrame
# 176 x 144 -> 320 x 240) and of the heaviest other family members.
#
# Method: the ARM build of pixkit-insn-probe (preset arm) runs under qemu-arm
# with the instruction-counting plugin (tools/qemu_insn_count.c), with one and
# two calls, on the frame size and on frames twice as high. The two-call minus
# one-call difference is the cost of one call; the difference of that between
# the two sizes, divided by the destination pixels added, is the cost of one
# pixel with set-up, exit and every per-call fixed cost cancelled out.
#
# usage: arm_pixkit_insn_count.sh [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=1
[ "${1:-}" = --no-build ] && build=0
. tools/arm_counter.sh arm_pixkit_insn_count pixkit-insn-probe $build
tool=$arm_counter_tool
count() { arm_count "$@"; }

# Destination pixels of one call at size 1 (the size-2 run adds as many).
pixels=76800
status=0
printf '  %-58s %12s\n' "Pixkit, ARM instructions per destination pixel" "insn / pixel"
while IFS='|' read -r probe label; do
    per_size=()
    for s in 1 2; do
        if ! one=$(count "$probe" "$s" 1) || ! two=$(count "$probe" "$s" 2); then status=1; continue 2; fi
        per_size+=($((two - one)))
    done
    extra=$(( per_size[1] - per_size[0] ))
    printf '  %-58s %9d.%02d\n' "$label" $(( extra / pixels )) $(( (extra % pixels) * 100 / pixels ))
done <<'LIST'
rotate0|gYUV420toBGR565TopDown_Rotate code 0, 320 x 240
rotate1|gYUV420toBGR565TopDown_Rotate code 1, 320 x 240
rotate2|gYUV420toBGR565TopDown_Rotate code 2, 320 x 240
rotate3|gYUV420toBGR565TopDown_Rotate code 3, 320 x 240
scale|gScaleFrame 176 x 144 -> 320 x 240 (luma pixels)
scale2|gScaleFrame 640 x 480 -> 320 x 240 (luma pixels)
rgb565toyuv|gPvRGB565toYUV420 320 x 240
rotrgb16|gRotateRGB16 quarter turn 320 x 240
LIST
exit $status
