#!/usr/bin/env bash
# Instructions per byte of the core encoder (callgrind, exact and repeatable), first pass and hot, for the
# samples of bench/bench_real.py (write them first: python3 bench/bench_real.py --samples).
#   bash bench/callgrind_ipb.sh [SAMPLE ...]      (default: multilingual english cjk_spaced cjk_nospace code)
# The first pass runs after the warm-up text; hot is the difference between two passes and one.
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BIN:-build/bench/bench_core_encode}
S=bench/.corpus/samples
[ -x "$BIN" ] || { echo "build $BIN first (see bench/README.md)" >&2; exit 1; }
instr() {  # ENCODING SAMPLE RUNS
    local out
    out=$(mktemp)
    valgrind --tool=callgrind --callgrind-out-file="$out" --toggle-collect='measured_pass*' \
        "$BIN" "$1" "$S/$2.txt" "$3" "$S/warmup.txt" >/dev/null 2>&1
    callgrind_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
    rm -f "$out"
}
samples=("$@")
[ ${#samples[@]} -gt 0 ] || samples=(multilingual english cjk_spaced cjk_nospace code)
for enc in cl100k_base o200k_base; do
    for s in "${samples[@]}"; do
        bytes=$(stat -c %s "$S/$s.txt")
        one=$(instr "$enc" "$s" 1)
        two=$(instr "$enc" "$s" 2)
        awk -v e="$enc" -v s="$s" -v b="$bytes" -v one="$one" -v two="$two" \
            'BEGIN { printf "%-12s %-14s first pass %6.1f instr/byte   hot %6.1f instr/byte\n", e, s, one / b, (two - one) / b }'
    done
done
