#!/usr/bin/env bash
# build.sh <build-dir> [extra cmake arguments...]: configures and builds incrementally.
# The cmake arguments are applied on every call, also to a folder configured before (by hand
# or with other options), so a stage always builds with the options it names; re-configuring
# an up-to-date folder takes a second or two.
# With TAGORA_BUILD_TARGETS="a b" only those targets (and what they need) are built.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for t in ${TAGORA_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" "${targets[@]}" -- -j"$(nproc)"
