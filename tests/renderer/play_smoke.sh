#!/usr/bin/env bash
# Plays a generated pattern, a Y4M file and a raw YV12 file through
# vistarend-play and checks what it reports and writes.
# (Late frames depend on the machine's load and are not checked.)
# Usage: play_smoke.sh PLAYER
set -eu
player=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
export SONADEC_REGISTRY=$dir/registry.db

out=$("$player" --pattern 64x48 --frames 6 --fps 50 --png "$dir/p" --every 5)
echo "$out"
[[ $out == "64x48, 6 frames delivered: 6 shown, "*" late, 0 dropped" ]] || { echo "pattern: unexpected report"; exit 1; }
[ -s "$dir/p-0000.png" ] && [ -s "$dir/p-0005.png" ] || { echo "pattern: PNG frames missing"; exit 1; }

# Two grey 32 x 16 frames.
frame() { head -c $((32 * 16)) /dev/zero | tr '\0' '\200'; head -c $((2 * 16 * 8)) /dev/zero | tr '\0' '\200'; }
{ printf 'YUV4MPEG2 W32 H16 F50:1 C420jpeg\n'; printf 'FRAME\n'; frame; printf 'FRAME\n'; frame; } > "$dir/in.y4m"
out=$("$player" --y4m "$dir/in.y4m" --window 0,0,200,160 --rotation 270)
echo "$out"
[[ $out == "32x16, 2 frames delivered: 2 shown, "*" late, 0 dropped" ]] || { echo "y4m: unexpected report"; exit 1; }

{ frame; frame; frame; } > "$dir/in.yv12"
out=$("$player" --yv12 "$dir/in.yv12" --size 32x16 --fps 50 --screen 320x240 --dest 10,10,32,16)
echo "$out"
[[ $out == "32x16, 3 frames delivered: 3 shown, "*" late, 0 dropped" ]] || { echo "yv12: unexpected report"; exit 1; }

printf 'YUV4MPEG2 W32 H16 C444\n' > "$dir/bad.y4m"
if "$player" --y4m "$dir/bad.y4m" 2>/dev/null; then echo "4:4:4 Y4M was not refused"; exit 1; fi
echo "player smoke test passed"
