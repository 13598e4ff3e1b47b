#!/usr/bin/env bash
# ARM instructions the renderer executes per frame: one 176 x 144 YV12 frame
# painted full screen on a 240 x 320 portrait screen (scaled, converted and
# turned by Pixkit, then blitted), at each rotation.
#
# Method: the ARM build of vistarend-paint-count (preset arm) paints the
# frame 1 and 11 times under qemu-arm with the instruction-counting plugin
# (tools/qemu_insn_count.c); the difference divided by 10 is the cost of one
# frame, set-up and exit cancelled out.
#
# usage: arm_paint_insn_count.sh [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=1
[ "${1:-}" = --no-build ] && build=0
. tools/arm_counter.sh arm_paint_insn_count vistarend-paint-count $build
tool=$arm_counter_tool
count() { arm_count "$@"; }

printf '  %-8s %-36s %14s %12s %12s\n' rotation "layout" "insn / frame" "/ src pixel" "/ out pixel"
status=0
for r in 0 90 180 270; do
    layout=$(qemu-arm -L /usr/arm-linux-gnueabi "$tool" "$r" 1 2>/dev/null | sed 's/^rotation [0-9]*: //; s/, 1 frames$//') || layout="?"
    if ! one=$(count "$r" 1) || ! eleven=$(count "$r" 11); then status=1; continue; fi
    per=$(( (eleven - one) / 10 ))
    # Per pixel of the 176 x 144 source frame and of the picture on the screen.
    out=$(sed -n 's/.*output \([0-9]*\)x\([0-9]*\).*/\1 \2/p' <<<"$layout")
    out_px=$(( ${out% *} * ${out#* } ))
    [ "$out_px" -gt 0 ] || out_px=1
    per_src="$(( per / 25344 )).$(printf '%02d' $(( (per % 25344) * 100 / 25344 )))"
    per_out="$(( per / out_px )).$(printf '%02d' $(( (per % out_px) * 100 / out_px )))"
    printf '  %-8s %-36s %14d %12s %12s\n' "$r" "$layout" "$per" "$per_src" "$per_out"
done
echo "  insn / frame: instructions executed by PaintSample for one frame (scaling, conversion with the"
echo "  turn, blit into the window surface); at 15 frames/s, insn / frame x 15 / 10^6 is the MHz an ARM"
echo "  core would spend on it at one instruction per cycle."
exit $status
