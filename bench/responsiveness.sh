#!/usr/bin/env bash
# The window during a run over many small files: the longest stall of its event loop, and the
# run's duration through the window against the same run unattended.
# Three ways to run the same copy, interleaved round by round (the machine's other load only
# ever adds time, so the best of the rounds is kept):
#   window   window_run window: the window shown (offscreen), the run started from its menu
#   hidden   window_run hidden: the same program code as "resguarda -hide", in the same bench
#            process, timed in the same way from the start to the collected end
#   program  the real "resguarda -hide" beside its own Resguarda.ini, timed from outside
#            (start-up and the settings save at the close included)
# Each copies into a new destination of its own, then runs again with nothing changed.
# Destinations are removed only at the end (removing a million files takes minutes, and
# would weigh on the runs after it). CASES=same alone runs into SAME_DEST, a copy left by an
# earlier KEEP=1 run, so that the no-change runs over a large tree need no first copy each.
#
#   bench/responsiveness.sh    (build first: cmake -DRESGUARDA_BENCH=ON, targets resguarda
#                               and window_run)
# Environment: BENCH_DIR (scratch on a real disk, default /var/tmp/resguarda-responsiveness),
# BUILD_DIR (default build), FILES (default 100000; in FILES/100 folders), REPEAT (rounds,
# default 3), MODES (default "window hidden program"), CASES (default "first same"),
# SAME_DEST, CACHE=warm|cold, KEEP=1 keeps the copies.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
BENCH_DIR=${BENCH_DIR:-/var/tmp/resguarda-responsiveness}
FILES=${FILES:-100000}
REPEAT=${REPEAT:-3}
MODES=${MODES:-"window hidden program"}
CASES=${CASES:-"first same"}
CACHE=${CACHE:-warm}

for needed in "$BUILD/resguarda" "$BUILD/bench/window_run"; do
  [[ -x $needed ]] || { echo "missing $needed: build resguarda and window_run first" >&2; exit 2; }
done
mkdir -p "$BENCH_DIR"
SRC=$BENCH_DIR/src
DESTS=$BENCH_DIR/dest
SAME_DEST=${SAME_DEST:-}
APP=$BENCH_DIR/app
LOGS=$BENCH_DIR/logs
mkdir -p "$APP" "$LOGS"
rm -f "$LOGS"/worst.*
cp "$BUILD/resguarda" "$APP/resguarda"

if [[ $CACHE == cold ]] && ! { sync && echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
  CACHE=warm
fi
settle() {
  sync
  if [[ $CACHE == cold ]]; then echo 3 >/proc/sys/vm/drop_caches; fi
}

# ---- the tree --------------------------------------------------------------------------
# FILES files of 100 to 2000 bytes, 100 to a folder, the folders two levels deep; every
# file at one old time, so that a second run finds nothing to copy.
make_tree() {
  local stamp=$BENCH_DIR/src.done
  if [[ -f $stamp && $(cat "$stamp") == "$FILES" ]]; then return; fi
  rm -rf "$SRC" "$stamp"
  echo "building $SRC ($FILES files)" >&2
  python3 - "$SRC" "$FILES" <<'EOF'
import math, os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(1234)
per_folder = 100
folders = max(1, math.ceil(count / per_folder))
groups = max(1, math.isqrt(folders))
block = os.urandom(1 << 16)
old = 1577836800  # 2020-01-01
made = 0
for f in range(folders):
    folder = os.path.join(root, "grupo%03d" % (f % groups), "carpeta%05d" % f)
    os.makedirs(folder, exist_ok=True)
    for i in range(min(per_folder, count - made)):
        size = rng.randint(100, 2000)
        start = rng.randint(0, len(block) - size)
        path = os.path.join(folder, "fichero%03d.txt" % i)
        fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        os.write(fd, block[start:start + size])
        os.utime(fd, (old, old))
        os.close(fd)
        made += 1
print(made, "files in", folders, "folders", file=sys.stderr)
EOF
  echo "$FILES" >"$stamp"
}

# ---- the runs --------------------------------------------------------------------------
settings() {  # file
  printf '[CONFIGURACION]\nDIR_DESTINO=%s/\n[TAREAS]\n0=1 %s\n' "$dest" "$SRC" >"$1"
}

now() { date +%s.%N; }
load() { cut -d' ' -f1 /proc/loadavg; }

declare -A BEST WORST_STALL OVER100 RUNS GUI_CPU
LOADS=()
keep_best() {  # key seconds
  if [[ -z ${BEST[$1]:-} ]] || awk -v a="$2" -v b="${BEST[$1]}" 'BEGIN { exit !(a < b) }'; then
    BEST[$1]=$2
  fi
}

run_mode() {  # mode case round
  local mode=$1 case=$2 round=$3 out=$LOGS/$mode.$case.$round
  local before took stall over
  before=$(load)
  LOADS+=("$before")
  case $mode in
    window | hidden)
      settings "$BENCH_DIR/$mode.ini"
      rm -rf "$BENCH_DIR/state-$mode"
      "$BUILD/bench/window_run" "$mode" "$BENCH_DIR/$mode.ini" "$BENCH_DIR/state-$mode" \
        >"$out.txt" 2>"$out.err" || echo "  $mode ended with a failure: see $out.*" >&2
      took=$(sed -n 's/.*\brun \([0-9.]*\).*/\1/p' "$out.txt")
      stall=$(sed -n 's/.*\bstall_ms \([0-9.]*\).*/\1/p' "$out.txt")
      over=$(sed -n 's/.*\bover100 \([0-9]*\).*/\1/p' "$out.txt")
      GUI_CPU[$case.$mode]="${GUI_CPU[$case.$mode]:-} $(sed -n 's/.*\bgui_cpu \([0-9.]*\).*/\1/p' "$out.txt")"
      ;;
    program)
      settings "$APP/Resguarda.ini"
      rm -rf "$BENCH_DIR/state-program"
      local start end
      start=$(now)
      (cd "$APP" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
        -u DBUS_SESSION_BUS_ADDRESS XDG_STATE_HOME="$BENCH_DIR/state-program" \
        ./resguarda -hide </dev/null >"$out.txt" 2>"$out.err") ||
        echo "  program ended with status $?: see $out.*" >&2
      end=$(now)
      took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
      stall="" over=""
      ;;
  esac
  [[ -n $took ]] || { echo "  $mode printed no time: see $out.*" >&2; return; }
  echo "  $case $mode: $took s${stall:+, stall $stall ms} (load $before)" >&2
  keep_best "$case.$mode" "$took"
  RUNS[$case.$mode]="${RUNS[$case.$mode]:-} $took"
  if [[ -n $stall ]]; then
    if [[ -z ${WORST_STALL[$case.$mode]:-} ]] ||
      awk -v a="$stall" -v b="${WORST_STALL[$case.$mode]}" 'BEGIN { exit !(a > b) }'; then
      WORST_STALL[$case.$mode]=$stall
      cp "$out.err" "$LOGS/worst.$case.$mode.err"
    fi
    OVER100[$case.$mode]=$((${OVER100[$case.$mode]:-0} + over))
  fi
}

make_tree
read -r -a modes <<<"$MODES"
for ((round = 1; round <= REPEAT; round++)); do
  # Each round starts with another mode, so that none always runs just after the deletion.
  order=()
  for ((i = 0; i < ${#modes[@]}; i++)); do
    order+=("${modes[$(((i + round - 1) % ${#modes[@]}))]}")
  done
  echo "round $round: ${order[*]}" >&2
  for mode in "${order[@]}"; do
    if [[ " $CASES " == *" first "* ]]; then
      dest=$DESTS/$mode.$round
      rm -rf "$dest"
    else
      dest=${SAME_DEST:?"CASES without first needs SAME_DEST"}
    fi
    for case in $CASES; do
      settle
      run_mode "$mode" "$case" "$round"
    done
  done
done

# ---- the table -------------------------------------------------------------------------
ratio() {
  [[ -n $1 && -n $2 ]] && awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }' ||
    echo "-"
}
verdict() { [[ $1 == - ]] && echo "" || awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t ? "ok" : "MISSED") }'; }
mean_load=$(printf '%s\n' "${LOADS[@]}" | awk '{ s += $1; if ($1 > m) m = $1 } END { printf "%.1f (max %.1f)", s / NR, m }')

echo
echo "Responsiveness: $FILES files, $CACHE caches, best of $REPEAT, $(nproc) cores," \
  "load average before the runs $mean_load"
printf '%-8s %10s %10s %10s %14s %10s %10s %16s %8s\n' case window hidden program \
  window/hidden window/prog hidden/prog "worst stall ms" ">100ms"
for case in $CASES; do
  w=${BEST[$case.window]:-} h=${BEST[$case.hidden]:-} p=${BEST[$case.program]:-}
  printf '%-8s %10s %10s %10s %14s %10s %10s %16s %8s\n' "$case" "$w" "$h" "$p" \
    "$(ratio "$w" "$h")" "$(ratio "$w" "$p")" "$(ratio "$h" "$p")" \
    "${WORST_STALL[$case.window]:-}" "${OVER100[$case.window]:-}"
done
echo
echo "All times (s):"
for key in "${!RUNS[@]}"; do echo "  $key:${RUNS[$key]}"; done | sort
echo "The GUI thread's processor time during each run (s):"
for key in "${!GUI_CPU[@]}"; do echo "  $key:${GUI_CPU[$key]}"; done | sort
echo
echo "Targets:"
for case in $CASES; do
  s=${WORST_STALL[$case.window]:-}
  [[ -n $s ]] && echo "  $case: longest stall < 100 ms:          $s $(awk -v s="$s" 'BEGIN { print (s < 100 ? "ok" : "MISSED") }')"
  r=$(ratio "${BEST[$case.window]:-}" "${BEST[$case.hidden]:-}")
  echo "  $case: window <= 1.05 x unattended:       $r $(verdict "$r" 1.05)"
done
echo
for case in $CASES; do
  [[ -f $LOGS/worst.$case.window.err ]] || continue
  echo "Slowest events of the window run with the longest stall ($case):"
  grep '^  event' "$LOGS/worst.$case.window.err" || true
done

if [[ ${KEEP:-0} != 1 && " $CASES " == *" first "* ]]; then
  echo "removing the copies in $DESTS" >&2
  rm -rf "$DESTS"
fi
