#!/usr/bin/env bash
# The main job on a bundled sample: build, then show the stream it finds.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
sonadec_need_packages "${SONADEC_BUILD_PACKAGES[@]}"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target sonadec-cli >/dev/null
build/default/bin/sonadec info tests/data/lc_ff_44100_st_is.adts
