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
if [ $build -eq 1 ]; then
    . tools/deps.sh
    sonadec_need_packages cmake ninja-build gcc "${SONADEC_ARM_PACKAGES[@]}"
    sonadec_arm_deps || true
    cmake --preset arm >/dev/null
    cmake --build --preset arm -j 2 --target vistarend-paint-count
fi
tool=build/arm/bin/vistarend-paint-count
[ -x "$tool" ] || { echo "arm_paint_insn_count: $tool missing: build the arm preset first" >&2; exit 1; }

work=build/arm-insn
mkdir -p "$work"
plugin=$work/libinsncount.so
if [ ! -e "$plugin" ] || [ tools/qemu_insn_count.c -nt "$plugin" ]; then
    cc -shared -fPIC -O2 -Wall -Wextra -o "$plugin" tools/qemu_insn_count.c
fi

count() {
    rm -f "$work/paint-count"
    qemu-arm -L /usr/arm-linux-gnueabi -plugin "$PWD/$plugin,out=$PWD/$work/paint-count" "$tool" "$@" >/dev/null 2>&1 ||
        { echo "arm_paint_insn_count: $tool $* failed under qemu-arm" >&2; return 1; }
    [ -s "$work/paint-count" ] || { echo "arm_paint_insn_count: the qemu plugin reported nothing" >&2; return 1; }
    cat "$work/paint-count"
}

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
