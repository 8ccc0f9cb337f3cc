#!/usr/bin/env bash
# Layout and lint checks: clang-format (.clang-format) over all the C++, ruff (pyproject.toml)
# over the Python. Both come from the "lint" extra at fixed versions, so every machine formats alike.
#   bash tests/lint.sh          check, failing on any difference
#   bash tests/lint.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
BIN=$(dirname "$PY")

cpp_files=(
    src/core/*.cpp src/core/*.h src/core/platform/*.cpp src/python/*.cpp src/python/*.h
    tests/cpp/*.cpp tests/cpp/*.h tests/fuzz/*.cpp tests/fuzz/*.h tests/python/*.cpp bench/*.cpp
)
python_dirs=(python tests bench tools)

if [ "${1:-}" = --fix ]; then
    "$BIN/clang-format" -i "${cpp_files[@]}"
    "$BIN/ruff" check --fix "${python_dirs[@]}"
else
    "$BIN/clang-format" --dry-run --Werror "${cpp_files[@]}"
    "$BIN/ruff" check --no-cache "${python_dirs[@]}"
fi
