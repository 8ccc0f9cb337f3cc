#!/usr/bin/env bash
# Instructions per call of the binding's short calls (callgrind, exact and repeatable): each call is run
# N and 2N times in a fresh interpreter and the difference divided by N, so start-up and construction cancel.
#   bash bench/callgrind_calls.sh ["CALL" ...]      (names as in bench/bench_binding.py; N=${N:-2000})
set -euo pipefail
cd "$(dirname "$0")/.."
PY=${PYTHON:-python3}
export PYTHONHASHSEED=0  # the same dict layouts in every run
N=${N:-2000}
instr() {  # CALL COUNT
    local out
    out=$(mktemp)
    valgrind --tool=callgrind --callgrind-out-file="$out" \
        "$PY" bench/bench_binding.py --instructions --call "$1" --calls "$2" >/dev/null 2>&1
    callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
    rm -f "$out"
}
calls=("$@")
[ ${#calls[@]} -gt 0 ] || calls=(encode "encode allowed_special='all'" count decode "encode_batch 16 texts" \
    "count_batch 16 texts" encode_single_token n_vocab)
for c in "${calls[@]}"; do
    one=$(instr "$c" "$N")
    two=$(instr "$c" $((2 * N)))
    awk -v c="$c" -v n="$N" -v one="$one" -v two="$two" 'BEGIN { printf "%-32s %10.0f instructions per call\n", c, (two - one) / n }'
done
