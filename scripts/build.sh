#!/usr/bin/env bash
# build.sh <build-dir> [extra cmake arguments...]: configure once, then build incrementally.
# With TAGORA_BUILD_TARGETS="a b" only those targets (and what they need) are built.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
if [[ ! -f "$dir/build.ninja" ]]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
fi
targets=()
for t in ${TAGORA_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" "${targets[@]}" -- -j"$(nproc)"
