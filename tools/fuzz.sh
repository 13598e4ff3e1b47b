#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for SECONDS (default 30),
# seeded with the heads of the bundled test streams (Pixkit's from nothing).
#   bash tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
sonadec_need_packages "${SONADEC_BUILD_PACKAGES[@]}" "${SONADEC_FUZZ_PACKAGES[@]}"
seconds=${1:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target fuzz_config fuzz_decode fuzz_sbr fuzz_dmo fuzz_pixkit >/dev/null
work=build/fuzz/corpus
mkdir -p "$work/config" "$work/decode" "$work/sbr" "$work/dmo" "$work/pixkit"
for f in tests/data/*.adts tests/data/*.adif; do
    b=$(basename "$f")
    { printf '\001\000'; head -c 2048 "$f"; } > "$work/config/$b"
    # Decode: stereo 44100 LC (selector 015), SBR left to the HE seeds below.
    { printf '\015'; head -c 4096 "$f"; } > "$work/decode/$b"
    # Media object: LC stereo 44100 configuration, honest lengths, then the stream.
    { printf '\002\002\002\000\022\020'; head -c 4096 "$f"; } > "$work/dmo/$b"
done
# HE-AAC streams also under the HE configuration of their core, dual rate
# (selector: rate bits, channel bit 3, SBR bit 5), and their bytes as SBR payloads.
for seed in "he_fdk_48000_st 053" "he_fdk_44100_mo 042" "he_fdk_32000_st 051" "he_fdk_24000_mo 140"; do
    set -- $seed
    { printf "\\$2"; head -c 4096 "tests/data/$1.adts"; } > "$work/decode/$1.he"
    { printf '\027'; head -c 1024 "tests/data/$1.adts"; } > "$work/sbr/$1"
done
for t in config decode sbr dmo pixkit; do
    echo "== fuzz_$t for ${seconds}s"
    rc=0
    build/fuzz/bin/fuzz_$t -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/ "$work/$t" > build/fuzz/fuzz_$t.log 2>&1 || rc=$?
    grep -E 'stat::number_of_executed_units|^Done' build/fuzz/fuzz_$t.log || true
    if [ $rc -ne 0 ]; then
        tail -n 40 build/fuzz/fuzz_$t.log
        echo "fuzz_$t found a failure"
        exit 1
    fi
done

# The MP4 input of the CLI, built when libavformat is installed; seeded with
# the MP4 test files.
if grep -q 'build bin/fuzz_mp4:' build/fuzz/build.ninja; then
    cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)" --target fuzz_mp4 >/dev/null
    mkdir -p "$work/mp4"
    cp tests/cli/data/*.m4a tests/cli/data/*.mp4 "$work/mp4/"
    echo "== fuzz_mp4 for ${seconds}s"
    rc=0
    build/fuzz/bin/fuzz_mp4 -max_total_time="$seconds" -max_len=40000 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix=build/fuzz/ "$work/mp4" > build/fuzz/fuzz_mp4.log 2>&1 || rc=$?
    grep -E 'stat::number_of_executed_units|^Done' build/fuzz/fuzz_mp4.log || true
    if [ $rc -ne 0 ]; then
        tail -n 40 build/fuzz/fuzz_mp4.log
        echo "fuzz_mp4 found a failure"
        exit 1
    fi
else
    echo "== fuzz_mp4 not built (no libavformat)"
fi
