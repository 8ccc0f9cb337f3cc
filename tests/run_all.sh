#!/usr/bin/env bash
# Every test: installs the package with its test extras, runs the C++ tests (plain and under
# AddressSanitizer + UndefinedBehaviorSanitizer), a build and smoke test on every supported Python version
# present, then the Python tests.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}

"$PY" -m pip install --quiet cmake ninja
"$PY" -m pip install --quiet '.[test]'

cmake -S . -B build/tests -G Ninja -DCMAKE_BUILD_TYPE=Release -DLEXARO_BUILD_TESTS=ON
cmake --build build/tests -j2
ctest --test-dir build/tests --output-on-failure

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLEXARO_BUILD_TESTS=ON -DLEXARO_SANITIZE=ON
cmake --build build/sanitize -j2
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/sanitize --output-on-failure

bash tests/python_versions.sh

"$PY" -m pytest -q tests/python
