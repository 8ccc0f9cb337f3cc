#!/usr/bin/env bash
# Two builds of the core harness side by side, in alternation (A, B, A, B, ...), so that both meet the same
# load on a shared machine: the median of ROUNDS runs of each, first pass in a warm process and hot, MB/s
# of thread CPU time, per encoding and sample. The load average is printed before and after.
#   bash bench/ab_core.sh ROUNDS BIN_A BIN_B [SAMPLE ...]   (default: english code multilingual cjk_spaced cjk_nospace)
# A SAMPLE is a name in bench/.corpus/samples or a path to a file. With COLD=1 nothing is encoded before the
# first pass (a fresh process that has encoded one word, as in a cold start).
# Keep a copy of the harness before a change (cp build/bench/bench_core_encode /tmp/before), rebuild, and
# compare: bash bench/ab_core.sh 5 /tmp/before build/bench/bench_core_encode
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 3 ] || { sed -n 2,7p "$0" >&2; exit 2; }
ROUNDS=$1 A=$2 B=$3
shift 3
S=bench/.corpus/samples
samples=("$@")
[ ${#samples[@]} -gt 0 ] || samples=(english code multilingual cjk_spaced cjk_nospace)
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
cpu_rate() {  # BIN ENCODING SAMPLE -> "first hot" (CPU-time MB/s)
    local f=$3 w=$S/warmup.txt
    [ -f "$f" ] || f=$S/$3.txt
    [ -z "${COLD:-}" ] || w=
    "$1" "$2" "$f" 3 $w |
        sed -E 's/.*first pass [0-9.]+ MB\/s \(CPU time ([0-9.]+).*hot median [0-9.]+ MB\/s \(CPU time ([0-9.]+).*/\1 \2/'
}
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
for enc in ${ENCS:-cl100k_base o200k_base}; do
    for s in "${samples[@]}"; do
        fa=() ha=() fb=() hb=()
        for _ in $(seq "$ROUNDS"); do
            read -r f h <<<"$(cpu_rate "$A" "$enc" "$s")"
            fa+=("$f") ha+=("$h")
            read -r f h <<<"$(cpu_rate "$B" "$enc" "$s")"
            fb+=("$f") hb+=("$h")
        done
        printf '%-12s %-14s first pass %6.1f -> %6.1f   hot %6.1f -> %6.1f\n' "$enc" "$s" \
            "$(median "${fa[@]}")" "$(median "${fb[@]}")" "$(median "${ha[@]}")" "$(median "${hb[@]}")"
    done
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
