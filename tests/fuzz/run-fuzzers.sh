#!/usr/bin/env bash
# run-fuzzers.sh [build-dir]: builds the libFuzzer targets with clang and runs each one for
# TAGORA_FUZZ_SECONDS seconds (default 60; ./test.sh asks for 15), seeded with the fixtures, the
# files of tests/fuzz/seeds/ (tagged by mutagen, pictures included),
# the kept regression inputs and, when present, the shared audio corpus (TAGORA_CORPUS_DIR).
# The types only tagora-cli lists run TAGORA_FUZZ_CLI_SECONDS each (default 5: their parsers
# are the six's or small ones), seeded with a tiny file tests/preservation/othertypes.py makes.
# Any crash, sanitizer report, leak, hang (over 10 s for one input) or memory blow-up (over
# 2 GB) fails the run; the input is left as <build-dir>/artifacts/<extension>-crash-* (keep it
# under tests/fuzz/regressions/ as <name>.<extension> once the wrapper copes with it).
#   TAGORA_FUZZ_SECONDS=10 tests/fuzz/run-fuzzers.sh        a short run
#   TAGORA_FUZZ_SECONDS=1800 tests/fuzz/run-fuzzers.sh      a long run before a release
#   TAGORA_FUZZ_TYPES="m4a flac" tests/fuzz/run-fuzzers.sh  some extensions only
set -euo pipefail
cd "$(dirname "$0")/../.."
dir=${1:-build-fuzz}
seconds=${TAGORA_FUZZ_SECONDS:-60}
corpus=${TAGORA_CORPUS_DIR:-$PWD/../shared/corpus}

cmake -S tests/fuzz -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$dir" -- -j"$(nproc)"
window_types=$(tr ';' ' ' <"$dir/audio-types.txt")
cli_types=$(tr ';' ' ' <"$dir/cli-audio-types.txt")
types=${TAGORA_FUZZ_TYPES:-$window_types $cli_types}
cli_seconds=${TAGORA_FUZZ_CLI_SECONDS:-5}

failed=()
for ext in $types; do
  seeds="$dir/seeds/$ext"
  rm -rf "$seeds"
  mkdir -p "$seeds" "$dir/corpus/$ext" "$dir/artifacts"
  run_seconds=$seconds
  if [[ " $cli_types " == *" $ext "* ]]; then
    /usr/bin/python3 tests/preservation/othertypes.py make tests/fixtures/sample.m4a \
      "$seeds/made.$ext"
    run_seconds=$cli_seconds
  else
    cp tests/fixtures/*."$ext" "$seeds"/
    cp tests/fuzz/seeds/*."$ext" "$seeds"/ # tagged by mutagen: pictures and many other items
  fi
  cp tests/fuzz/regressions/*."$ext" "$seeds"/ 2>/dev/null || true
  if [[ -d "$corpus" ]]; then
    cp "$corpus"/*."$ext" "$seeds"/ 2>/dev/null || true
  else
    echo "fuzz: no corpus at $corpus, seeding with the fixtures only"
  fi
  echo "== fuzz_$ext for ${run_seconds}s =="
  if ! "$dir/fuzz_$ext" -max_total_time="$run_seconds" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$dir/artifacts/$ext-" -print_final_stats=1 \
      "$dir/corpus/$ext" "$seeds" >"$dir/fuzz_$ext.log" 2>&1; then
    failed+=("$ext")
    tail -n 60 "$dir/fuzz_$ext.log"
  else
    grep -E '^stat::number_of_executed_units|^Done' "$dir/fuzz_$ext.log" || true
  fi
done
if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: failures for: ${failed[*]} (inputs in $dir/artifacts)" >&2
  exit 1
fi
