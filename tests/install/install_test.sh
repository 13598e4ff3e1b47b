#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a small C consumer
# against it twice, with pkg-config and with find_package, and runs the
# installed tools from there.
#   install_test.sh BUILD_DIR SOURCE_DIR STREAM [EXTRA_C_FLAGS]
set -euo pipefail
build=$1 src=$2 stream=$3 flags=${4:-}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix/usr" >/dev/null
root=$prefix/usr
libdir=$(dirname "$(find "$root" -name sonadec.pc | head -n 1)")/..
for f in include/sonadec/aacdec.h include/sonadec/pixkit.h bin/sonadec bin/sonadec-regsvr bin/vistarend-play; do
    [ -e "$root/$f" ] || { echo "missing after install: $f"; exit 1; }
done
for f in libsonadec.so libvistarend.so libpixkit.so libplatform.so libsonadec_core.a \
         pkgconfig/sonadec.pc pkgconfig/pixkit.pc cmake/Sonadec/SonadecConfig.cmake cmake/Sonadec/SonadecConfigVersion.cmake; do
    [ -e "$libdir/$f" ] || { echo "missing after install: lib/$f"; exit 1; }
done

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046,SC2086
cc $flags -o "$prefix/consumer_pc" "$src/tests/install/consumer/consumer.c" $(pkg-config --cflags --libs sonadec pixkit) \
    -Wl,-rpath,"$libdir"
want=$("$prefix/consumer_pc" "$stream")
echo "pkg-config consumer: $want"

# find_package
cmake -S "$src/tests/install/consumer" -B "$prefix/consumer-build" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$prefix/consumer-build" >/dev/null
got=$("$prefix/consumer-build/consumer" "$stream")
echo "find_package consumer: $got"
[ "$got" = "$want" ] || { echo "the two consumers disagree"; exit 1; }

# The installed tools run from the prefix alone: register the installed
# module and decode through it.
export SONADEC_REGISTRY=$prefix/registry.db
"$root/bin/sonadec-regsvr" "$libdir/libsonadec.so" >/dev/null
"$root/bin/sonadec" decode "$stream" -o "$prefix/out.wav" >"$prefix/log"
grep -q "through:     media object" "$prefix/log" || { cat "$prefix/log"; echo "installed sonadec did not use the installed module"; exit 1; }
echo "installed sonadec: $(grep decoded: "$prefix/log")"

# MP4 input, when the build has it: the installed tool finds the installed
# MP4 module and gives the PCM of the ADTS form.
if [ -e "$build/lib/libsonadec_mp4.so" ]; then
    [ -e "$libdir/libsonadec_mp4.so" ] || { echo "missing after install: lib/libsonadec_mp4.so"; exit 1; }
    "$root/bin/sonadec" decode "$src/tests/cli/data/lc_ff_24000_st_pns.m4a" -o "$prefix/m.wav" -q
    "$root/bin/sonadec" decode "$(dirname "$stream")/lc_ff_24000_st_pns.adts" -o "$prefix/a.wav" -q
    cmp -s "$prefix/m.wav" "$prefix/a.wav" || { echo "installed sonadec: MP4 and ADTS forms differ"; exit 1; }
    echo "installed sonadec: MP4 input through the installed module"
fi
