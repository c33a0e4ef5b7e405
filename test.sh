#!/usr/bin/env bash
# Builds and runs Tagora's whole test suite. Exits non-zero on any failure.
#   TAGORA_SKIP_SANITIZERS=1 ./test.sh   runs only the plain build (quick local loop)
#   TAGORA_FUZZ_SECONDS=10 ./test.sh     runs each fuzz target for 10 s instead of 60
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

run_ctest() { (cd "$1" && shift && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@"); }

if [[ -z "${TAGORA_SKIP_SANITIZERS:-}" ]]; then
  echo "== ThreadSanitizer build: threading tests =="
  # Only the threading tests run here, so only their programs are built.
  TAGORA_BUILD_TARGETS=tagwrapper scripts/build.sh build-tsan -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=thread
  TAGORA_BUILD_TARGETS=$(cd build-tsan && ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: //p') \
    scripts/build.sh build-tsan
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build-tsan -L threads
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer build: whole suite =="
  scripts/build.sh build-asan -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=address
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" run_ctest build-asan
  echo "== libFuzzer targets (clang): ${TAGORA_FUZZ_SECONDS:-60} s per extension =="
  tests/fuzz/run-fuzzers.sh build-fuzz
fi

echo "== Plain build: whole suite =="
scripts/build.sh build -DTAGORA_WERROR=ON
run_ctest build
