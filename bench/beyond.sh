#!/usr/bin/env bash
# What the additions to the mirror cost, side by side in one run:
# - versions: an update run after 1% of the files were touched, with versions kept against
#   without (the replaced copies are moved aside, never copied);
# - the check: a run with nothing to copy that reads every copy and its source, against the
#   same run without the check and against `cmp -s` of every pair.
# Each run is the engine's whole run (Resguarda) through bench/beyond_run, which takes the
# settings on its command line.
#
#   bench/beyond.sh            (build first: cmake -DRESGUARDA_BENCH=ON, target beyond_run)
# Environment: BENCH_DIR (default /tmp/resguarda-bench), BUILD_DIR (default build),
# SMALL_FILES (default 20000), LARGE_COUNT (2), LARGE_MIB (512), REPEAT (best of, default 2).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
BENCH_DIR=${BENCH_DIR:-/tmp/resguarda-bench}
SMALL_FILES=${SMALL_FILES:-20000}
LARGE_COUNT=${LARGE_COUNT:-2}
LARGE_MIB=${LARGE_MIB:-512}
REPEAT=${REPEAT:-2}
SRC=$BENCH_DIR/src
OUT=$BENCH_DIR/beyond
mkdir -p "$SRC" "$OUT"

# shellcheck source=bench/trees.sh
source "$ROOT/bench/trees.sh"
make_small_tree
make_large_tree

# One run of `tree` into `dest` with the options given (versions, check).
run() {  # tree dest options...
  local tree=$1 dest=$2
  shift 2
  "$BUILD/bench/beyond_run" "$dest/" "$SRC/$tree" "$@" >"$OUT/last.txt" || true
}
compare_all() {  # tree dest
  (cd "$SRC/$1" && find . -name .hidden -prune -o -type f -print0) |
    (cd "$SRC/$1" && xargs -0 -n 64 sh -c 'for f; do cmp -s "$f" "$0/$f"; done' "$2/$1") || true
}
# The check reads the copies from the disk, not from the cache that writing them left: `cmp`
# is given the same start.
drop_copies() {  # dest
  python3 - "$1" <<'EOF'
import os, sys
for folder, _, names in os.walk(sys.argv[1]):
    for name in names:
        fd = os.open(os.path.join(folder, name), os.O_RDONLY)
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)
EOF
}

declare -A BEST BYTES
timed() {  # key command...
  local key=$1 start took
  shift
  sync
  start=$(date +%s.%N)
  "$@"
  took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
  echo "  $key $took s" >&2
  if [[ -z ${BEST[$key]:-} ]] || awk -v a="$took" -v b="${BEST[$key]}" 'BEGIN { exit !(a < b) }'
  then BEST[$key]=$took; fi
}

for tree in small large; do
  for ((round = 1; round <= REPEAT; round++)); do
    echo "$tree (round $round)" >&2
    rm -rf "$OUT/off" "$OUT/on"
    mkdir -p "$OUT/off" "$OUT/on"
    reset_times "$tree"
    run "$tree" "$OUT/off"
    run "$tree" "$OUT/on" versions
    timed "$tree.plain" run "$tree" "$OUT/off"
    timed "$tree.check" run "$tree" "$OUT/off" check
    grep -q "Dañados 0 fallos 0" "$OUT/last.txt" || { cat "$OUT/last.txt"; exit 1; }
    drop_copies "$OUT/off"
    timed "$tree.cmp" compare_all "$tree" "$OUT/off"
    touch_some "$tree"
    # Whichever runs first pays for the writes still in flight: the order alternates.
    if ((round % 2)); then
      timed "$tree.update" run "$tree" "$OUT/off"
      timed "$tree.versions" run "$tree" "$OUT/on" versions
    else
      timed "$tree.versions" run "$tree" "$OUT/on" versions
      timed "$tree.update" run "$tree" "$OUT/off"
    fi
  done
  BYTES[$tree]=$(du -sb "$SRC/$tree" | cut -f1)
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
mbs() { awk -v s="$1" -v n="$2" 'BEGIN { printf "%.0f", (s > 0 ? 2 * n / s / 1048576 : 0) }'; }
echo
echo "Beyond-the-mirror benchmark (warm caches; best of $REPEAT; seconds)"
printf '%-7s %9s %9s %9s %9s %9s %9s %9s %11s %10s\n' tree update versions /update \
  plain check cmp /cmp "check MB/s" "cmp MB/s"
for tree in small large; do
  printf '%-7s %9s %9s %9s %9s %9s %9s %9s %11s %10s\n' "$tree" "${BEST[$tree.update]}" \
    "${BEST[$tree.versions]}" "$(ratio "${BEST[$tree.versions]}" "${BEST[$tree.update]}")" \
    "${BEST[$tree.plain]}" "${BEST[$tree.check]}" "${BEST[$tree.cmp]}" \
    "$(ratio "${BEST[$tree.check]}" "${BEST[$tree.cmp]}")" \
    "$(mbs "${BEST[$tree.check]}" "${BYTES[$tree]}")" "$(mbs "${BEST[$tree.cmp]}" "${BYTES[$tree]}")"
done
