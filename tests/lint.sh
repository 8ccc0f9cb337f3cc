#!/usr/bin/env bash
# Layout and lint checks: clang-format (.clang-format) over the C++ listed below, ruff (pyproject.toml)
# over the Python. Both come from the "lint" extra at fixed versions, so every machine formats alike.
#   bash tests/lint.sh          check, failing on any difference
#   bash tests/lint.sh --fix    rewrite the files in place
# The C++ list grows as files are brought to the layout; the rest of src/core and its tests follow.
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
BIN=$(dirname "$PY")

cpp_files=(
    src/python/*.cpp src/python/*.h
    src/core/decode_text.* src/core/fan_out.h src/core/flat_ids.* src/core/id_items.* src/core/special_index.*
    src/core/special_policy.* src/core/token_spans.h src/core/expected.h src/core/class_table.* src/core/pretok_chars.h src/core/pretok_driver.h
    tests/cpp/check.h tests/cpp/pretok_harness.h tests/cpp/test_decode_text.cpp tests/cpp/test_flat_ids.cpp tests/cpp/test_id_items.cpp
    tests/cpp/test_special.cpp tests/cpp/test_token_spans.cpp tests/cpp/test_huge.cpp
    src/core/byte_class.h src/core/platform.h src/core/platform/*.cpp
    tests/cpp/test_byte_class.cpp tests/cpp/test_builtin_data.cpp tests/cpp/test_platform.cpp
    tests/fuzz/*.cpp tests/fuzz/*.h bench/*.cpp
)
python_dirs=(python tests bench tools)

if [ "${1:-}" = --fix ]; then
    "$BIN/clang-format" -i "${cpp_files[@]}"
    "$BIN/ruff" check --fix "${python_dirs[@]}"
else
    "$BIN/clang-format" --dry-run --Werror "${cpp_files[@]}"
    "$BIN/ruff" check --no-cache "${python_dirs[@]}"
fi
