#!/usr/bin/env bash
# Instructions executed per second of decoded audio, counted by callgrind
# (repeatable for the same binary and input, whatever else the machine does).
#   bash tools/callgrind_insn.sh [STREAM...]   (default: the three benchmark streams)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default --target sonadec-cli >/dev/null
streams=("$@")
[ ${#streams[@]} -eq 0 ] && streams=(../shared/testdata/bench/lc_stereo_44k_128k.aac ../shared/testdata/bench/lc_mono_44k_64k.aac ../shared/testdata/bench/he_stereo_48k_48k.aac)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for s in "${streams[@]}"; do
    # The whole run is counted: reading the file and writing the WAV add well under 1%.
    valgrind --tool=callgrind --callgrind-out-file="$tmp/cg.out" \
        build/default/bin/sonadec decode "$s" -o "$tmp/out.wav" > "$tmp/log" 2>&1
    insn=$(grep -E '^summary:' "$tmp/cg.out" | awk '{print $2}')
    secs=$(grep -E 'decoded:' "$tmp/log" | sed -E 's/.* ([0-9.]+) s of audio.*/\1/')
    awk -v i="$insn" -v s="$secs" -v n="$(basename "$s")" \
        'BEGIN { printf "%-28s %8.3f s audio  %14d instructions  %8.2f M instructions per second of audio\n", n, s, i, i / s / 1e6 }'
done
