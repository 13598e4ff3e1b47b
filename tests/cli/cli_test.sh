#!/usr/bin/env bash
# Runs the built sonadec tool as a user would and checks what it does: bad
# inputs and outputs, standard output, interrupted runs, MP4 input, info,
# progress, memory use.
#   cli_test.sh SONADEC SONADEC_REGSVR MODULE DATA_DIR CLI_DATA_DIR [sanitized]
set -uo pipefail
cli=$1 regsvr=$2 module=$3 data=$4 cdata=$5 sanitized=${6:-0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SONADEC_REGISTRY=$work/registry.db
"$regsvr" "$module" >/dev/null || { echo "cannot register $module"; exit 1; }

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
# expect_refusal NAME MESSAGE-PATTERN ARGS...: exit 1, the message, and no output file.
expect_refusal() {
    local name=$1 pattern=$2; shift 2
    rm -f "$work/out.wav" "$work"/.out.wav.part*
    "$cli" "$@" >"$work/stdout" 2>"$work/stderr"
    local rc=$?
    if [ $rc -ne 1 ]; then fail "$name: exit status $rc, expected 1"; return; fi
    if ! grep -q -- "$pattern" "$work/stderr"; then fail "$name: message '$(cat "$work/stderr")' lacks '$pattern'"; return; fi
    if ls "$work"/out.wav "$work"/.out.wav.part* >/dev/null 2>&1; then fail "$name: output left behind"; return; fi
    pass "$name"
}
# WAV data bytes from offset 44 on (the tool writes the plain 44-byte header).
data_of() { tail -c +45 "$1"; }
u32() { od -An -tu4 -j "$2" -N4 "$1" | tr -d ' '; }

# --- help, version, usage
"$cli" --help >"$work/help" 2>&1 && grep -q "usage: sonadec decode" "$work/help" && pass "--help" || fail "--help"
"$cli" --version >"$work/version" 2>&1 && grep -Eq '^sonadec [0-9]+\.[0-9]+\.[0-9]+' "$work/version" && pass "--version" || fail "--version"
mp4=no; grep -q "MP4 input: yes" "$work/version" && mp4=yes
"$cli" >/dev/null 2>"$work/stderr"; [ $? -eq 2 ] && grep -q decode "$work/stderr" && pass "no arguments: usage, status 2" || fail "no arguments"
"$cli" decode "$data/lc_ff_8000_mo.adts" >/dev/null 2>&1; [ $? -eq 2 ] && pass "decode without -o: status 2" || fail "decode without -o"
"$cli" decode "$data/lc_ff_8000_mo.adts" -o "$work/x.wav" --frobnicate >/dev/null 2>&1; [ $? -eq 2 ] && [ ! -e "$work/x.wav" ] && pass "unknown option: status 2" || fail "unknown option"

# --- options in any order give the same file
"$cli" decode "$data/lc_ff_22050_mo.adts" -o "$work/a.wav" --api --quiet >"$work/stdout" 2>&1 || fail "decode --api"
[ -s "$work/stdout" ] && fail "--quiet printed: $(cat "$work/stdout")"
"$cli" decode -q --api -o "$work/b.wav" "$data/lc_ff_22050_mo.adts" >/dev/null 2>&1 || fail "decode, options first"
cmp -s "$work/a.wav" "$work/b.wav" && pass "options in any order" || fail "options in any order differ"

# --- no media object registered: the API decodes, and says so
SONADEC_REGISTRY=$work/empty-registry.db "$cli" decode "$data/lc_ff_22050_mo.adts" -o "$work/c.wav" >/dev/null 2>"$work/stderr"
[ $? -eq 0 ] && grep -q "no AAC decoder media object is registered; decoded through the API" "$work/stderr" &&
    cmp -s "$work/a.wav" "$work/c.wav" && pass "no media object registered: API fallback, same PCM" || fail "API fallback"

# --- bad inputs: clear message, status 1, nothing written
expect_refusal "missing input" "cannot open" decode "$work/nothing.adts" -o "$work/out.wav"
: >"$work/empty.aac"
expect_refusal "empty input" "is empty" decode "$work/empty.aac" -o "$work/out.wav"
head -c 20000 /dev/urandom | tr -d '\377' >"$work/noise.aac"
expect_refusal "random bytes" "not an AAC stream" decode "$work/noise.aac" -o "$work/out.wav"
printf 'RIFF this is plainly text, not audio\n%.0s' {1..50} >"$work/text.aac"
expect_refusal "text file" "not an AAC stream" decode "$work/text.aac" -o "$work/out.wav"
expect_refusal "AAC Main profile" "AAC Main is not decoded" decode "$data/main_ff_44100_st.adts" -o "$work/out.wav"
expect_refusal "AAC Main profile, API" "AAC Main is not decoded" decode "$data/main_ff_44100_st.adts" -o "$work/out.wav" --api
expect_refusal "object type 1 in an AudioSpecificConfig" "AAC Main is not decoded" decode "$data/lc_ff_48000_st_ms.aot1.idx" -o "$work/out.wav"
expect_refusal "960-sample frames" "unsupported AudioSpecificConfig" decode "$data/lc_ff_48000_st_ms.fl960.idx" -o "$work/out.wav"
expect_refusal "info of random bytes" "not an AAC stream" info "$work/noise.aac"
# A sound configuration (AAC-LC, 44100 Hz, stereo) whose units are text:
# it configures, then nothing decodes.
for i in $(seq 200); do printf 'plainly not audio, '; done | head -c 3000 >"$work/junk.bin"
printf 'asc 1210\nbin junk.bin\nunits 3\n0\n1500\n1500\n' >"$work/junk.idx"
expect_refusal "no frame decodes" "no frame decoded" decode "$work/junk.idx" -o "$work/out.wav" --api
expect_refusal "no frame decodes, media object" "no frame decoded" decode "$work/junk.idx" -o "$work/out.wav"
expect_refusal "no frame decodes, media object without probe" "no frame decoded" decode "$work/junk.idx" -o "$work/out.wav" --config-only

# --- unwritable outputs, found before decoding
expect_refusal "output in a missing folder" "cannot write" decode "$data/lc_ff_8000_mo.adts" -o "$work/no/such/dir/out.wav"
mkdir -p "$work/out.wav"
"$cli" decode "$data/lc_ff_8000_mo.adts" -o "$work/out.wav" >/dev/null 2>"$work/stderr"
[ $? -eq 1 ] && grep -q "cannot write" "$work/stderr" && [ -d "$work/out.wav" ] && pass "output is a folder" || fail "output is a folder"
rmdir "$work/out.wav"
# The check comes before decoding: a bad output with a bad input names the output.
expect_refusal "bad output reported before the bad input is read" "cannot write" decode "$work/noise.aac" -o "$work/no/such/dir/out.wav"

# --- standard output
"$cli" decode "$data/lc_ff_24000_st_pns.adts" -o "$work/file.wav" -q || fail "decode to a file"
"$cli" decode "$data/lc_ff_24000_st_pns.adts" -o - -q | cat >"$work/pipe.wav"
if [ "$(u32 "$work/pipe.wav" 4)" = 4294967295 ] && [ "$(u32 "$work/pipe.wav" 40)" = 4294967295 ] &&
   cmp -s <(data_of "$work/pipe.wav") <(data_of "$work/file.wav") &&
   cmp -s <(head -c 4 "$work/pipe.wav") <(head -c 4 "$work/file.wav"); then
    pass "-o - on a pipe: same samples, streamed sizes 0xFFFFFFFF"
else
    fail "-o - on a pipe"
fi
"$cli" decode "$data/lc_ff_24000_st_pns.adts" -o - >"$work/redirect.wav" 2>"$work/stderr"
cmp -s "$work/redirect.wav" "$work/file.wav" && pass "-o - into a file: patched sizes, identical file" || fail "-o - into a file"
grep -q "wrote:       standard output" "$work/stderr" && pass "-o -: summary on stderr" || fail "-o -: summary not on stderr"
expected=$(( $(stat -c %s "$work/file.wav") - 44 ))
[ "$(u32 "$work/file.wav" 40)" = "$expected" ] && [ "$(u32 "$work/file.wav" 4)" = $((expected + 36)) ] &&
    pass "file sizes patched" || fail "file sizes: $(u32 "$work/file.wav" 4) / $(u32 "$work/file.wav" 40), data $expected"

# --- a long input: interrupted runs, progress, memory
for i in $(seq 400); do cat "$data/lc_ff_48000_st_ms.adts"; done >"$work/long.adts"
printf 'previous contents' >"$work/keep.wav"
for sig in TERM INT KILL; do
    printf 'previous contents' >"$work/keep.wav"
    "$cli" decode "$work/long.adts" -o "$work/keep.wav" -q &
    pid=$!
    # Wait until the temporary file holds samples, then interrupt.
    for _ in $(seq 400); do
        part=$(ls "$work"/.keep.wav.part* 2>/dev/null | head -n 1)
        [ -n "$part" ] && [ "$(stat -c %s "$part" 2>/dev/null || echo 0)" -gt 100000 ] && break
        sleep 0.05
    done
    kill -s "$sig" "$pid"
    wait "$pid" 2>/dev/null
    left=$(ls "$work"/.keep.wav.part* 2>/dev/null | wc -l)
    if [ "$(cat "$work/keep.wav")" != "previous contents" ]; then
        fail "SIG$sig: the file under the requested name changed"
    elif [ "$sig" != KILL ] && [ "$left" -ne 0 ]; then
        fail "SIG$sig: temporary file left behind"
    else
        pass "SIG$sig mid-run: requested file untouched$([ "$sig" != KILL ] && echo ', temporary file removed')"
    fi
    rm -f "$work"/.keep.wav.part*
done
"$cli" decode "$work/long.adts" -o "$work/keep.wav" -q && [ "$(u32 "$work/keep.wav" 40)" -gt 1000000 ] &&
    pass "an uninterrupted run replaces the file" || fail "uninterrupted run"
rm -f "$work/keep.wav"

# Progress only on a terminal (script gives the run one), never with --quiet.
if command -v script >/dev/null; then
SONADEC_PROGRESS_AFTER_MS=0 script -qec "'$cli' decode '$work/long.adts' -o '$work/p.wav'" /dev/null >"$work/tty" 2>&1
grep -q "decoding .*%" "$work/tty" && pass "progress line on a terminal" || fail "no progress line on a terminal"
SONADEC_PROGRESS_AFTER_MS=0 script -qec "'$cli' decode '$work/long.adts' -o '$work/p.wav' --quiet" /dev/null >"$work/tty" 2>&1
grep -q "decoding" "$work/tty" && fail "--quiet still shows progress" || pass "--quiet on a terminal: no progress"
script -qec "'$cli' decode '$data/lc_ff_8000_mo.adts' -o -; echo status=\$?" /dev/null >"$work/tty" 2>&1
grep -q "standard output is a terminal" "$work/tty" && grep -q "status=1" "$work/tty" &&
    pass "-o - on a terminal refused" || fail "-o - on a terminal: $(tr '\r\n' '  ' <"$work/tty" | head -c 300)"
fi
SONADEC_PROGRESS_AFTER_MS=0 "$cli" decode "$work/long.adts" -o "$work/p.wav" >/dev/null 2>"$work/stderr"
grep -q "decoding" "$work/stderr" && fail "progress written when stderr is no terminal" || pass "no progress off a terminal"
rm -f "$work/p.wav"

# Peak memory does not follow the input's length (the sanitizers' own
# bookkeeping does, so not measured there).
if [ "$sanitized" = 0 ] && command -v python3 >/dev/null; then
    for i in $(seq 10); do cat "$data/lc_ff_48000_st_ms.adts"; done >"$work/short.adts"
    rss() {
        python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
    }
    for path in "" --api; do
        small=$(rss "$cli" decode "$work/short.adts" -o "$work/m.wav" -q $path)
        big=$(rss "$cli" decode "$work/long.adts" -o "$work/m.wav" -q $path)
        # 40 times the input (about 27 MB of PCM more) may cost at most 2 MB more.
        if [ -n "$small" ] && [ -n "$big" ] && [ $((big - small)) -lt 2048 ]; then
            pass "peak memory ${small} kB for 20 s, ${big} kB for 810 s ${path:-(media object)}"
        else
            fail "peak memory grows with the input: ${small} kB -> ${big} kB ${path}"
        fi
    done
    rm -f "$work/m.wav"
fi

# --- MP4 input: the ADTS stream remuxed without re-encoding gives the same PCM
if [ "$mp4" = yes ]; then
    for s in lc_ff_24000_st_pns he_fdk_48000_st he_fdk_24000_mo ltp_ff_44100_mo lc_fdk_44100_st_crc; do
        for path in "" --api --config-only; do
            "$cli" decode "$cdata/$s.m4a" -o "$work/m.wav" -q $path || { fail "MP4 $s $path: status $?"; continue; }
            "$cli" decode "$data/$s.adts" -o "$work/a.wav" -q $path
            cmp -s "$work/m.wav" "$work/a.wav" && pass "MP4 = ADTS: $s ${path:-(media object)}" || fail "MP4 != ADTS: $s $path"
        done
    done
    # Tracks: video, AAC mono 22050 Hz, AAC stereo 44100 Hz: the first AAC track plays.
    "$cli" decode "$cdata/three_tracks.mp4" -o "$work/m.wav" -q
    "$cli" decode "$data/lc_ff_22050_mo.adts" -o "$work/a.wav" -q
    cmp -s "$work/m.wav" "$work/a.wav" && pass "several tracks: the first AAC track decodes" || fail "several tracks"
    expect_refusal "MP4 without an AAC track" "no AAC audio track" decode "$cdata/video_only.mp4" -o "$work/out.wav"
    expect_refusal "MP4 whose only audio is not AAC" "no AAC audio track" decode "$cdata/alac_only.m4a" -o "$work/out.wav"
    expect_refusal "info on MP4 whose only audio is not AAC" "no AAC audio track" info "$cdata/alac_only.m4a"
    head -c 3000 "$cdata/he_fdk_48000_st.m4a" >"$work/cut.m4a"
    "$cli" decode "$work/cut.m4a" -o "$work/out.wav" -q >/dev/null 2>&1
    rc=$?
    [ $rc -eq 0 ] || [ $rc -eq 1 ] && pass "truncated MP4: status $rc, no crash" || fail "truncated MP4: status $rc"
    # The container library comes with the MP4 module only, never with the tool.
    ldd "$cli" | grep -q libavformat && fail "the tool links libavformat" || pass "the tool does not link libavformat"
    # Without its module beside it the tool refuses MP4 and still reads ADTS.
    mkdir -p "$work/alone/bin"
    cp "$cli" "$work/alone/bin/sonadec"
    "$work/alone/bin/sonadec" --version | grep -q "MP4 input: no" && pass "no module: --version says so" || fail "no module: --version"
    cli_saved=$cli; cli=$work/alone/bin/sonadec
    expect_refusal "no module: MP4 refused" "MP4 input is not available in this build" decode "$cdata/he_fdk_48000_st.m4a" -o "$work/out.wav"
    "$cli" decode "$data/lc_ff_22050_mo.adts" -o "$work/m.wav" -q --api && "$cli_saved" decode "$data/lc_ff_22050_mo.adts" -o "$work/a.wav" -q --api &&
        cmp -s "$work/m.wav" "$work/a.wav" && pass "no module: ADTS decodes" || fail "no module: ADTS"
    cli=$cli_saved
else
    expect_refusal "MP4 in a build without it" "MP4 input is not available in this build" decode "$cdata/he_fdk_48000_st.m4a" -o "$work/out.wav"
fi

# --- info: form, profile, rates, channels, SBR signalling, frames, duration
check_info() {
    local file=$1; shift
    "$cli" info "$file" >"$work/info" 2>&1 || { fail "info $file: status $?"; return; }
    for line in "$@"; do
        grep -qF -- "$line" "$work/info" || { fail "info $(basename "$file"): no '$line' in: $(tr '\n' '|' <"$work/info")"; return; }
    done
    pass "info $(basename "$file")"
}
he48=("profile:     AAC-LC + SBR (HE-AAC)" "core rate:   24000 Hz" "output:      48000 Hz, 2 channels" "frames:      62" "duration:    2.645 s")
check_info "$data/he_fdk_48000_st.adts" "form:        ADTS" "sbr:         implicit" "${he48[@]}"
check_info "$data/he_fdk_48000_st.plain.idx" "form:        raw access units" "sbr:         implicit" "${he48[@]}"
check_info "$data/he_fdk_48000_st.explicit_hier.idx" "sbr:         explicit, hierarchical" "${he48[@]}"
check_info "$data/he_fdk_48000_st.explicit_bc.idx" "sbr:         explicit, backward compatible" "${he48[@]}"
check_info "$data/lc_ff_22050_mo.2blk.adts" "form:        ADTS" "profile:     AAC-LC" "sbr:         none" \
    "output:      22050 Hz, 1 channel," "frames:      $("$cli" decode "$data/lc_ff_22050_mo.2blk.adts" -o "$work/i.wav" --api | sed -n 's/decoded: *\([0-9]*\) frames.*/\1/p')"
check_info "$data/lc_ff_44100_st_is.adif" "form:        ADIF" "profile:     AAC-LC" "output:      44100 Hz, 2 channels" "frames:      88"
check_info "$data/ltp_ff_44100_mo.adts" "profile:     AAC-LTP" "output:      44100 Hz, 1 channel,"
if [ "$mp4" = yes ]; then
    check_info "$cdata/he_fdk_48000_st.m4a" "form:        MP4" "sbr:         implicit" "${he48[@]}"
    check_info "$cdata/three_tracks.mp4" "form:        MP4" "output:      22050 Hz, 1 channel,"
fi

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
