#!/usr/bin/env bash
# What the additions to the mirror cost, side by side in one run:
# - versions: an update run after 1% of the files were touched, with VERSIONES=1 against
#   without (the replaced copies are moved aside, never copied);
# - the check: a run with nothing to copy that reads every copy and its source (COMPROBAR_DIAS
#   due), against the same run without the check and against `cmp -s` of every pair.
#
#   bench/beyond.sh            (build first: target resguarda)
# Environment: BENCH_DIR (default /tmp/resguarda-bench), BUILD_DIR (default build),
# SMALL_FILES (default 50000), LARGE_COUNT (2), LARGE_MIB (512), REPEAT (best of, default 2).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
BENCH_DIR=${BENCH_DIR:-/tmp/resguarda-bench}
SMALL_FILES=${SMALL_FILES:-50000}
LARGE_COUNT=${LARGE_COUNT:-2}
LARGE_MIB=${LARGE_MIB:-512}
REPEAT=${REPEAT:-2}
SRC=$BENCH_DIR/src
OUT=$BENCH_DIR/beyond
APP=$BENCH_DIR/beyond-app
mkdir -p "$SRC" "$OUT" "$APP"
cp "$BUILD/resguarda" "$APP/resguarda"

# shellcheck source=bench/trees.sh
source "$ROOT/bench/trees.sh"
make_small_tree
make_large_tree

# One unattended run of `tree` into `dest`, with extra [CONFIGURACION] lines; every run has a
# state folder of its own, so a check is always due when asked for.
run() {  # tree dest extra-settings
  printf '[CONFIGURACION]\nDIR_DESTINO=%s/\n%b[TAREAS]\n0=1 %s\n' "$2" "$3" "$SRC/$1" \
    >"$APP/Resguarda.ini"
  rm -rf "$APP/state"
  (cd "$APP" && XDG_STATE_HOME=$APP/state QT_QPA_PLATFORM=offscreen ./resguarda x \
    >"$APP/last.txt" 2>&1) || true
}
compare_all() {  # tree dest
  (cd "$SRC/$1" && find . -type f -print0) |
    (cd "$SRC/$1" && xargs -0 -n 64 sh -c 'for f; do cmp -s "$f" "$0/$f"; done' "$2/$1")
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
    run "$tree" "$OUT/off" ""
    run "$tree" "$OUT/on" "VERSIONES=1\n"
    timed "$tree.plain" run "$tree" "$OUT/off" ""
    timed "$tree.check" run "$tree" "$OUT/off" "COMPROBAR_DIAS=1\n"
    timed "$tree.cmp" compare_all "$tree" "$OUT/off"
    touch_some "$tree"
    timed "$tree.update" run "$tree" "$OUT/off" ""
    timed "$tree.versions" run "$tree" "$OUT/on" "VERSIONES=1\n"
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
