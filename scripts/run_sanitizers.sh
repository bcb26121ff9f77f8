#!/usr/bin/env bash
# Two sanitizer stages, each built from its preset and run with that preset's
# test filter:
#   sanitize  clang with ASan and UBSan: every test except the exhaustive and
#             soak labels (the fuzz corpora run as replay tests here);
#   tsan      clang with TSan: the console-event and interrupt tests, where a
#             second thread ends the process while the driver runs.
# Every report stops its process, so a finding fails the test that made it.
#
#   SANITIZE_BUILD_DIR, TSAN_BUILD_DIR  build folders, default the presets' build/<preset>
set -euo pipefail
cd "$(dirname "$0")/.."

export ASAN_OPTIONS=${ASAN_OPTIONS:-halt_on_error=1:detect_leaks=1:strict_string_checks=1:check_initialization_order=1:detect_stack_use_after_return=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
# By default TSan sleeps a second in exit processing; an event sent then would
# meet a run that is already over yet still has a thread to report it.
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:atexit_sleep_ms=0}

# The three coordinate tables are never released: they live until the process
# ends, and once the driver has returned nothing points at them any more.
# Every other allocation must be released or still reachable at exit.
suppressions=$(mktemp)
trap 'rm -f "$suppressions"' EXIT
echo "leak:converter::create_coordinate_tables" >"$suppressions"
chmod a+r "$suppressions"  # some tests run the program as another user
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$suppressions:print_suppressions=0}

# The filters are those of the test presets of the same names. They are given
# here because "ctest --preset" reads the preset's own build folder whenever
# that exists, even with --test-dir naming another.
run_stage() {
    local preset=$1 build=$2
    shift 2
    local start=$SECONDS
    echo "== stage $preset: build"
    # Called in a condition, where set -e does not act: each step checks itself.
    cmake --preset "$preset" -B "$build" || return 1
    cmake --build "$build" || return 1
    local built=$SECONDS
    echo "== stage $preset: test"
    local verdict=passed
    ctest --test-dir "$build" --output-on-failure --no-tests=error "$@" || verdict=FAILED
    echo "== stage $preset: $verdict; built in $((built - start))s, tested in $((SECONDS - built))s"
    [ "$verdict" = passed ]
}

# Both stages run even when the first fails, so that one run shows every finding.
failed=0
run_stage sanitize "${SANITIZE_BUILD_DIR:-build/sanitize}" --label-exclude 'exhaustive|soak' --parallel 2 || failed=1
run_stage tsan "${TSAN_BUILD_DIR:-build/tsan}" --tests-regex '^console_events[.]' --label-exclude 'soak|fault' || failed=1
exit "$failed"
