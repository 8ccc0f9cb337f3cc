#!/usr/bin/env bash
# Builds the libFuzzer targets (Clang, with AddressSanitizer and UndefinedBehaviorSanitizer) and runs each
# for SECONDS seconds from its committed seeds: FUZZ_SECONDS=40 by default, as the test command runs them.
# A long run: FUZZ_SECONDS=14400 bash tests/fuzz/run.sh [target ...]
# New inputs go to build/fuzz/work/<target>, never into the committed seeds; a failing input is saved as
# build/fuzz/crash-* (or leak-*, timeout-*) and replays with: build/fuzz/<target> <file>.
# Exit status: 0 when every target ran clean, 1 on any crash, leak, timeout or broken invariant,
# 2 when no Clang with libFuzzer can be had (the caller decides whether that skips).
set -uo pipefail
cd "$(dirname "$0")/../.."
SECONDS_EACH=${FUZZ_SECONDS:-40}
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(fuzz_special fuzz_vocab fuzz_uniclass fuzz_construct fuzz_encode)

# Clang and its libFuzzer runtime, from Debian's packages when missing.
can_fuzz() {
    command -v clang++ >/dev/null &&
        echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        clang++ -x c++ -fsanitize=fuzzer - -o /tmp/lexaro_fuzz_probe.$$ 2>/dev/null
}
if ! can_fuzz && command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
    apt-get install -y -qq clang >/dev/null 2>&1 || { apt-get update -qq >/dev/null 2>&1 && apt-get install -y -qq clang >/dev/null 2>&1; }
    major=$(clang --version 2>/dev/null | sed -n 's/.*clang version \([0-9]*\).*/\1/p' | head -1)
    [ -n "$major" ] && apt-get install -y -qq "libclang-rt-$major-dev" >/dev/null 2>&1
fi
if ! can_fuzz; then
    rm -f /tmp/lexaro_fuzz_probe.$$
    echo "SKIP fuzzing: no Clang with libFuzzer here (apt-get install clang libclang-rt-<version>-dev)"
    exit 2
fi
rm -f /tmp/lexaro_fuzz_probe.$$

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DLEXARO_BUILD_TESTS=OFF -DLEXARO_FUZZ=ON >/dev/null || exit 1
cmake --build build/fuzz -j2 >build/fuzz/build.log 2>&1 || { tail -30 build/fuzz/build.log; exit 1; }

status=0
for target in "${TARGETS[@]}"; do
    work=build/fuzz/work/$target
    mkdir -p "$work"
    log=build/fuzz/$target.log
    (cd build/fuzz && ./"$target" -max_total_time="$SECONDS_EACH" -timeout=20 -rss_limit_mb=3072 \
        -print_final_stats=1 "work/$target" "../../tests/fuzz/corpus/$target") >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ $rc -eq 0 ]; then
        echo "fuzz $target: ${runs:-?} executions in ${SECONDS_EACH} s, no failure"
    else
        echo "fuzz $target: FAILED after ${runs:-?} executions (exit $rc), log $log"
        grep -E "ERROR|invariant broken|Test unit written" "$log" | head -5
        status=1
    fi
done
exit $status
