#!/usr/bin/env bash
# Builds and runs Tagora's whole test suite. Exits non-zero on any failure.
#   TAGORA_SKIP_SANITIZERS=1 ./test.sh   runs only the plain build (quick local loop)
#   TAGORA_FUZZ_SECONDS=300 ./test.sh    fuzzes each file type for 300 s instead of 15
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

run_ctest() { (cd "$1" && shift && ctest --output-on-failure --no-tests=error -j"$(nproc)" "$@"); }

stage_times=()
stage_started=0
stage_name=""
begin_stage() {
  stage_name=$1
  stage_started=$SECONDS
  echo "== $stage_name =="
}
end_stage() {
  local took=$((SECONDS - stage_started))
  stage_times+=("$(printf '%4d:%02d  %s' $((took / 60)) $((took % 60)) "$stage_name")")
  echo "== $stage_name: $((took / 60)) min $((took % 60)) s =="
}
print_stage_times() {
  [[ ${#stage_times[@]} -gt 0 ]] || return 0
  echo "== Stage times (min:s) =="
  printf '%s\n' "${stage_times[@]}"
}
# After a failure the times so far come last; after success ctest's summary line does.
trap '[[ $? -eq 0 ]] || print_stage_times' EXIT

if [[ -z "${TAGORA_SKIP_SANITIZERS:-}" ]]; then
  begin_stage "ThreadSanitizer build: threading tests"
  # Only the threading tests run here, so only their programs are built.
  TAGORA_BUILD_TARGETS=tagwrapper scripts/build.sh build-tsan -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=thread
  TAGORA_BUILD_TARGETS=$(cd build-tsan && ctest -N -L threads | sed -n 's/^ *Test *#[0-9]*: //p') \
    scripts/build.sh build-tsan -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=thread
  TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" run_ctest build-tsan -L threads
  end_stage

  # The kill test (label "long") checks what is left on disk after a killed save, not memory
  # use, and takes minutes under ASan; it runs once, in the plain stage.
  begin_stage "AddressSanitizer + UndefinedBehaviorSanitizer build: whole suite but the kill test"
  scripts/build.sh build-asan -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=address
  ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" run_ctest build-asan -LE long
  end_stage

  # Short by default: every kept regression input is replayed by both test builds anyway.
  export TAGORA_FUZZ_SECONDS=${TAGORA_FUZZ_SECONDS:-15}
  begin_stage "libFuzzer targets (clang): $TAGORA_FUZZ_SECONDS s per file type"
  tests/fuzz/run-fuzzers.sh build-fuzz
  end_stage
fi

begin_stage "Plain build"
scripts/build.sh build -DTAGORA_WERROR=ON -DTAGORA_SANITIZE=
end_stage
print_stage_times
echo "== Plain build: whole suite (ctest gives its time last) =="
run_ctest build
