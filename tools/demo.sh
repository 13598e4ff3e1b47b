#!/usr/bin/env bash
# The main job on a bundled sample: build, register the Sonadec module in the
# project's own registry, then decode through the registered media object.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
sonadec_need_packages "${SONADEC_BUILD_PACKAGES[@]}"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target sonadec-cli sonadec sonadec-regsvr >/dev/null
export SONADEC_REGISTRY="$PWD/build/default/registry.db"
build/default/bin/sonadec-regsvr "$PWD/build/default/lib/libsonadec.so"
build/default/bin/sonadec decode tests/data/lc_ff_44100_st_is.adts -o build/default/lc_ff_44100_st_is.wav
