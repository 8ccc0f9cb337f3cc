#!/usr/bin/env bash
# Every test: installs the package with its test and lint extras into a virtual environment of its own
# (build/venv, made from $PYTHON or python3), checks the layout (tests/lint.sh), runs the C++ tests (plain,
# under AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded ones under ThreadSanitizer), a
# build and smoke test on every supported Python version present, the Python tests, the fuzz targets for
# a short fixed time each, a short run of the data-file mutation harness, and the Python tests again
# against an AddressSanitizer + UndefinedBehaviorSanitizer build of the extension in a virtual
# environment of its own (build/asan-venv); and the other platforms' builds of tests/platforms.sh (Clang,
# the scalar byte-class path, the generated-source data, arm64 under QEMU, Windows under Wine). Every build
# treats compiler warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."

# The environment: nothing from the interpreter's own site-packages or the caller's PATH is used.
VENV=build/venv
[ -x $VENV/bin/python ] || "${PYTHON:-python3}" -m venv $VENV
export PATH="$PWD/$VENV/bin:$PATH" PYTHON="$PWD/$VENV/bin/python" LEXARO_WERROR=ON
PY=$PYTHON
"$PY" -m pip install --quiet cmake ninja
"$PY" -m pip install --quiet '.[test,lint]'

bash tests/lint.sh

cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=Release -DLEXARO_BUILD_TESTS=ON
cmake --build build/tests -j2
ctest --test-dir build/tests --output-on-failure

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEXARO_BUILD_TESTS=ON -DLEXARO_SANITIZE=ON
cmake --build build/sanitize -j2
# Not test_fork: this compiler's AddressSanitizer allocator takes no lock around fork(), so a child forked
# while another thread allocates can wait on it for ever.
# The cases of each program in a shuffled order here (a new order each day), to catch one that depends on another.
CHECK_SHUFFLE="$(date +%j)" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize --output-on-failure -E '^test_fork$'

# The tests that run threads (batches and their fan-out, the caches and their pool, the vocabulary build):
# ThreadSanitizer reports any data race.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEXARO_BUILD_TESTS=ON -DLEXARO_TSAN=ON
cmake --build build/tsan -j2 --target test_batch test_pcache test_flat_ids test_vocab
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -R '^(test_batch|test_pcache|test_flat_ids|test_vocab)$'

bash tests/python_versions.sh

PYTHON="$PY" bash tests/platforms.sh

"$PY" -m pytest -q tests/python

# Fuzzing: each target for FUZZ_SECONDS (40 s by default); skipped with a line saying so where no Clang
# with libFuzzer can be installed.
fuzz=0
bash tests/fuzz/run.sh || fuzz=$?
[ $fuzz -eq 0 ] || [ $fuzz -eq 2 ] || exit 1

"$PY" tests/fuzz/mutate_datadir.py --cases "${MUTATION_CASES:-150}" --seed "$(date +%j)"

# The Python tests against the extension built with AddressSanitizer + UndefinedBehaviorSanitizer. The
# interpreter itself is not instrumented, so the sanitizer runtime is preloaded; the interpreter's own
# allocations at exit are not leaks of ours, so leak detection is off; an allocation that cannot be
# served fails as it would without the sanitizer (MemoryError) instead of ending the process.
ASAN_VENV=build/asan-venv
[ -x $ASAN_VENV/bin/python ] || "$PY" -m venv $ASAN_VENV
$ASAN_VENV/bin/python -m pip install --quiet cmake ninja
$ASAN_VENV/bin/python -m pip install --quiet '.[test]' -C cmake.define.LEXARO_SANITIZE=ON \
    -C cmake.build-type=RelWithDebInfo -C build-dir=build/asan-wheel
LD_PRELOAD="$(gcc -print-file-name=libasan.so)" ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 LEXARO_STRESS_SECONDS=10 \
    $ASAN_VENV/bin/python -m pytest -q -p no:cacheprovider tests/python
