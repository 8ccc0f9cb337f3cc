#!/usr/bin/env bash
# Cache misses per byte of the core encoder under cachegrind with a 1 MiB last level (this machine's L2),
# exact and repeatable: the first pass (warm process, or cold with --cold) and the hot pass, each the
# difference between runs of the harness with 0, 1 and 2 measured passes.
#   bash bench/cachegrind_mpb.sh [--cold] [SAMPLE ...]   (default: multilingual english cjk_spaced cjk_nospace code)
set -euo pipefail
cd "$(dirname "$0")/.."
BIN=${BIN:-build/bench/bench_core_encode}
S=bench/.corpus/samples
WARM=$S/warmup.txt
if [ "${1:-}" = --cold ]; then WARM=; shift; fi
[ -x "$BIN" ] || { echo "build $BIN first (see bench/README.md)" >&2; exit 1; }
counts() {  # ENCODING SAMPLE RUNS -> "instructions D1-misses LL-misses"
    local out
    out=$(mktemp)
    valgrind --tool=cachegrind --cache-sim=yes --LL=1048576,16,64 --cachegrind-out-file="$out" \
        "$BIN" "$1" "$S/$2.txt" "$3" $WARM >/dev/null 2>&1
    cg_annotate "$out" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", ""); print $1, $9 + $15, $11 + $17; exit}'
    rm -f "$out"
}
samples=("$@")
[ ${#samples[@]} -gt 0 ] || samples=(multilingual english cjk_spaced cjk_nospace code)
for enc in ${ENCS:-cl100k_base o200k_base}; do
    for s in "${samples[@]}"; do
        bytes=$(stat -c %s "$S/$s.txt")
        read -r i0 d0 l0 <<<"$(counts "$enc" "$s" 0)"
        read -r i1 d1 l1 <<<"$(counts "$enc" "$s" 1)"
        read -r i2 d2 l2 <<<"$(counts "$enc" "$s" 2)"
        awk -v e="$enc" -v s="$s" -v b="$bytes" -v i0="$i0" -v d0="$d0" -v l0="$l0" -v i1="$i1" -v d1="$d1" \
            -v l1="$l1" -v i2="$i2" -v d2="$d2" -v l2="$l2" 'BEGIN {
            printf "%-12s %-14s first: %6.1f instr %6.3f D1 %6.3f LL per byte   hot: %6.1f instr %6.3f D1 %6.3f LL per byte\n",
                e, s, (i1 - i0) / b, (d1 - d0) / b, (l1 - l0) / b, (i2 - i1) / b, (d2 - d1) / b, (l2 - l1) / b }'
    done
done
