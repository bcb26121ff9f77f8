#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang, ASan and UBSan) and fuzzes
# each tests/fuzz/<target>_fuzz.cpp for a bounded time, one process at a time,
# starting from its seed corpus tests/fuzz/corpus/<target>/.
#
#   FUZZ_SECONDS    time per target, default 60
#   FUZZ_BUILD_DIR  build folder, default the preset's build/fuzz
#
# Inputs found along the way go to <build>/fuzz-work/<target>/corpus, never into
# the seed corpus. On a crash, leak, UB report or timeout the script names the
# saved input and exits non-zero: copy that file into the seed corpus, where the
# replay test keeps running it.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$(pwd)
seconds=${FUZZ_SECONDS:-60}
build=$(realpath -m "${FUZZ_BUILD_DIR:-build/fuzz}")

# The libraries get coverage instrumentation too, not only the targets that
# link libFuzzer: without it the fuzzer is blind inside the code under test.
cmake --preset fuzz -B "$build"

targets=()
for source in tests/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" --target "${targets[@]}"

work="$build/fuzz-work"
mkdir -p "$work"
# Pieces of the input syntax that random mutation rarely assembles.
cat >"$work/tokens.dict" <<'EOF'
","
"/"
"*"
"("
")"
"'"
"\""
"\x0a"
"\x0d\x0a"
"\x09"
"."
"E"
"D"
"Q"
"e-"
"E+"
"INF"
"Infinity"
"NAN"
"NaN("
".T."
"TRUE"
"2147483648"
"-2147483648"
"16777217"
"3.4028235e38"
"1.17549435e-38"
"1.4e-45"
"7.1e-46"
"e-1000000"
"123456789012345678901234567"
"0.00000000000000000000000000000000000000000000"
EOF

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:check_initialization_order=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

failed=0
total_cpu=0
for target in "${targets[@]}"; do
    corpus="$work/$target/corpus"
    mkdir -p "$corpus"
    rm -f "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* "$work/$target"/oom-*
    log="$work/$target/fuzz.log"
    echo "== fuzzing $target for ${seconds}s"
    status=0
    TIMEFORMAT='%3U %3S'
    # Paths are absolute: a target may change its current directory.
    { time "$build/tests/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
        -dict="$work/tokens.dict" -artifact_prefix="$work/$target/" \
        "$corpus" "$source_dir/tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?; } 2>"$work/$target/cpu"
    read -r user_seconds system_seconds <"$work/$target/cpu"
    cpu=$(awk -v u="$user_seconds" -v s="$system_seconds" 'BEGIN { printf "%.1f", u + s }')
    total_cpu=$(awk -v a="$total_cpu" -v b="$cpu" 'BEGIN { printf "%.1f", a + b }')
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
    echo "$target: CPU ${cpu}s, ${runs:-?} runs, ${rate:-?} exec/s, ${coverage:-cov: ?}, corpus $(ls "$corpus" | wc -l) new inputs"
    if [ "$status" -ne 0 ]; then
        failed=1
        echo "$target: FAILED with status $status; log $log"
        grep -E 'ERROR|SUMMARY|_fuzz:|runtime error' "$log" | head -n 20 || true
        for artifact in "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* \
                        "$work/$target"/oom-*; do
            if [ -e "$artifact" ]; then echo "$target: input saved as $artifact"; fi
        done
    fi
done
echo "fuzzing CPU time in all: ${total_cpu}s"
exit "$failed"
