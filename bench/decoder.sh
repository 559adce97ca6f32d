#!/bin/sh
# Times the attachment decoder against coreutils "base64 -d" on the same Base64 body
# (76-character lines ending in CR LF, as in mail), checks that both outputs equal the
# original bytes, and prints seconds, MB/s and the ratio. Best of RUNS runs each.
#
#   bench/decoder.sh [decode_file binary] [size in MB]
#
# The default binary is build-bench/bench/decode_file; build it with
#   cmake -S . -B build-bench -G Ninja -DRESGUARDA_BENCH=ON -DRESGUARDA_TESTS=OFF \
#         -DCMAKE_BUILD_TYPE=Release && cmake --build build-bench --target decode_file
set -eu

DECODER=${1:-build-bench/bench/decode_file}
SIZE_MB=${2:-100}
RUNS=${RUNS:-3}

[ -x "$DECODER" ] || { echo "decoder not found: $DECODER" >&2; exit 2; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/decoder-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT INT TERM

head -c $((SIZE_MB * 1024 * 1024)) /dev/urandom >"$WORK/raw"
base64 -w 76 "$WORK/raw" | sed 's/$/\r/' >"$WORK/body"
BODY_MB=$(awk -v b="$(wc -c <"$WORK/body")" 'BEGIN { printf "%.1f", b / 1048576 }')

now() { date +%s.%N; }

# Best wall time of RUNS runs of the given command; output to $WORK/out.
best_of() {
  best=""
  i=0
  while [ $i -lt "$RUNS" ]; do
    start=$(now)
    "$@"
    end=$(now)
    t=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
    i=$((i + 1))
  done
  echo "$best"
}

coreutils() { base64 -d -i "$WORK/body" >"$WORK/out"; }
# For reference only: the same body without its CRs, which base64 -d takes without -i.
coreutils_lf() { base64 -d "$WORK/body-lf" >"$WORK/out"; }
ours() { "$DECODER" "$WORK/body" "$WORK/out"; }

# Warm the page cache so both read the body from memory.
cat "$WORK/body" >/dev/null

T_CORE=$(best_of coreutils)
cmp -s "$WORK/raw" "$WORK/out" || { echo "base64 -d output differs from the original" >&2; exit 1; }
tr -d '\r' <"$WORK/body" >"$WORK/body-lf"
LF_MB=$(awk -v b="$(wc -c <"$WORK/body-lf")" 'BEGIN { printf "%.1f", b / 1048576 }')
T_CORE_LF=$(best_of coreutils_lf)
cmp -s "$WORK/raw" "$WORK/out" || { echo "base64 -d output differs from the original" >&2; exit 1; }
rm -f "$WORK/body-lf"
T_OURS=$(best_of ours)
cmp -s "$WORK/raw" "$WORK/out" || { echo "decoder output differs from the original" >&2; exit 1; }

report() {
  awk -v name="$1" -v t="$2" -v mb="${3:-$BODY_MB}" \
    'BEGIN { printf "%-22s %8.3f s  %8.1f MB/s\n", name, t, (t > 0 ? mb / t : 0) }'
}
echo "Base64 body: $BODY_MB MB ($SIZE_MB MB decoded), best of $RUNS runs"
report "base64 -d -i" "$T_CORE"
report "TUUProcessor" "$T_OURS"
report "base64 -d (no CRs)" "$T_CORE_LF" "$LF_MB"
awk -v c="$T_CORE" -v o="$T_OURS" \
  'BEGIN { printf "ratio (base64 time / our time): %.2fx\n", (o > 0 ? c / o : 0) }'
