#!/usr/bin/env bash
# Times folder mirroring: the program in unattended mode (and its walk alone, mirror_run)
# against `rsync -r --update`, `cp -r --update`, `cp -r --update` followed by `sync -f` (the
# program's runs end with a syncfs of the destination, so that "Finalizado." means the copies
# are on the disk), and a bare walk that stats both trees. The syncfs part of the walk's time
# is shown on its own.
# Two trees: many small files and a few large ones. Each tool copies into an empty
# destination, runs again with nothing changed, then again after 1% of the files were
# touched to a newer time.
#
#   bench/mirror.sh            (build first: cmake -DRESGUARDA_BENCH=ON, targets resguarda
#                               and mirror_run)
# Environment: BENCH_DIR (scratch, default /tmp/resguarda-bench), BUILD_DIR (default build),
# SMALL_FILES (default 100000), LARGE_COUNT (4), LARGE_MIB (512), CACHE=cold|warm,
# TOOLS (default "resguarda engine rsync cp cpsync"), REPEAT (rounds; the best time of each is
# kept), KEEP=1 keeps the copies.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD_DIR:-$ROOT/build}
BENCH_DIR=${BENCH_DIR:-/tmp/resguarda-bench}
SMALL_FILES=${SMALL_FILES:-100000}
LARGE_COUNT=${LARGE_COUNT:-4}
LARGE_MIB=${LARGE_MIB:-512}
TOOLS=${TOOLS:-"resguarda engine rsync cp cpsync"}
CACHE=${CACHE:-cold}
REPEAT=${REPEAT:-1}

mkdir -p "$BENCH_DIR"
SRC=$BENCH_DIR/src
OUT=$BENCH_DIR/out
mkdir -p "$SRC" "$OUT"

# Cold caches need root and a writable /proc/sys; otherwise every run is warm.
if [[ $CACHE == cold ]] && ! { sync && echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
  CACHE=warm
fi
settle() {
  sync
  if [[ $CACHE == cold ]]; then echo 3 >/proc/sys/vm/drop_caches; fi
}

# ---- the trees -------------------------------------------------------------------------
# shellcheck source=bench/trees.sh
source "$ROOT/bench/trees.sh"

# ---- the tools -------------------------------------------------------------------------
APP=$BENCH_DIR/app
run_tool() {  # tool tree destination
  local tool=$1 tree=$SRC/$2 dest=$3
  case $tool in
    resguarda)
      printf '[CONFIGURACION]\nDIR_DESTINO=%s/\n[TAREAS]\n0=1 %s\n' "$dest" "$tree" \
        >"$APP/Resguarda.ini"
      (cd "$APP" && QT_QPA_PLATFORM=offscreen ./resguarda x >"$APP/last.txt" 2>&1) || true
      ;;
    engine) "$BUILD/bench/mirror_run" "$dest/" "$tree" >"$BENCH_DIR/engine.txt" || true ;;
    rsync) rsync -r --update "$tree" "$dest/" ;;
    cp) cp -r --update "$tree" "$dest/" ;;
    cpsync) cp -r --update "$tree" "$dest/" && sync -f "$dest" ;;
  esac
}

now() { date +%s.%N; }
declare -A SECONDS_OF
timed() {  # key command...
  local key=$1 start end
  shift
  settle
  start=$(now)
  "$@"
  end=$(now)
  local took
  took=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
  echo "  $key $took s" >&2
  keep_best "$key" "$took"
  # The walk's own syncfs, as it printed it.
  if [[ $key == *.engine ]]; then
    local synced
    synced=$(sed -n 's/.* syncfs \([0-9.]*\) s$/\1/p' "$BENCH_DIR/engine.txt")
    [[ -n $synced ]] && keep_best "${key%.engine}.sync" "$synced"
  fi
}
# The best of the repeats: the machine's other load only ever adds time.
keep_best() {  # key seconds
  if [[ -z ${SECONDS_OF[$1]:-} ]] || awk -v a="$2" -v b="${SECONDS_OF[$1]}" \
    'BEGIN { exit !(a < b) }'; then
    SECONDS_OF[$1]=$2
  fi
}

available=()
for tool in $TOOLS; do
  case $tool in
    resguarda)
      if [[ -x $BUILD/resguarda ]]; then
        mkdir -p "$APP"
        cp "$BUILD/resguarda" "$APP/resguarda"
        available+=(resguarda)
      fi
      ;;
    engine) [[ -x $BUILD/bench/mirror_run ]] && available+=(engine) ;;
    cpsync) available+=(cpsync) ;;
    *) command -v "$tool" >/dev/null && available+=("$tool") ;;
  esac
done

make_small_tree
make_large_tree

for tree in small large; do
  for tool in "${available[@]}"; do
    for ((round = 1; round <= REPEAT; round++)); do
      dest=$OUT/$tool
      rm -rf "$dest"
      mkdir -p "$dest"
      reset_times "$tree"
      echo "$tree / $tool (round $round)" >&2
      timed "$tree.first.$tool" run_tool "$tool" "$tree" "$dest"
      if [[ $tool == resguarda ]] && [[ -z $(ls -A "$dest") ]]; then
        echo "  the program copied nothing (not the unattended build yet?): left out" >&2
        SECONDS_OF[$tree.first.$tool]=""
        break
      fi
      timed "$tree.same.$tool" run_tool "$tool" "$tree" "$dest"
      touch_some "$tree"
      timed "$tree.touched.$tool" run_tool "$tool" "$tree" "$dest"
      if [[ $tool != cp* && $tool != rsync ]]; then
        timed "$tree.walk" sh -c "find '$SRC/$tree' '$dest' -printf '%T@\n' >/dev/null"
      fi
      [[ ${KEEP:-0} == 1 ]] || rm -rf "$dest"
    done
  done
done

# ---- the table -------------------------------------------------------------------------
get() { echo "${SECONDS_OF[$1]:-}"; }
ratio() { [[ -n $1 && -n $2 ]] && awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }' || echo "-"; }
verdict() { [[ $1 == - ]] && echo "" || awk -v r="$1" -v t="$2" 'BEGIN { print (r <= t ? "ok" : "MISSED") }'; }

ours=engine
[[ -n $(get small.first.resguarda) ]] && ours=resguarda
echo
echo "Mirror benchmark ($CACHE caches; best of $REPEAT; ratios for '$ours'; seconds)"
printf '%-22s %10s %10s %8s %10s %10s %10s %10s %9s %9s %9s %9s\n' case resguarda engine \
  syncfs rsync cp cp+sync walk "/rsync" "/cp" "/cp+sync" "/walk"
for tree in small large; do
  for run in first same touched; do
    key=$tree.$run
    mine=$(get "$key.$ours")
    walk=""
    [[ $run == same ]] && walk=$(get "$tree.walk")
    printf '%-22s %10s %10s %8s %10s %10s %10s %10s %9s %9s %9s %9s\n' "$tree $run" \
      "$(get "$key.resguarda")" "$(get "$key.engine")" "$(get "$key.sync")" "$(get "$key.rsync")" \
      "$(get "$key.cp")" "$(get "$key.cpsync")" "$walk" "$(ratio "$mine" "$(get "$key.rsync")")" \
      "$(ratio "$mine" "$(get "$key.cp")")" "$(ratio "$mine" "$(get "$key.cpsync")")" \
      "$(ratio "$mine" "$walk")"
  done
done
echo
echo "Targets:"
r=$(ratio "$(get small.same.$ours)" "$(get small.same.rsync)")
echo "  no change <= 0.8 x rsync (small):     $r $(verdict "$r" 0.8)"
r=$(ratio "$(get small.same.$ours)" "$(get small.walk)")
echo "  no change <= 1.3 x bare walk (small): $r $(verdict "$r" 1.3)"
r=$(ratio "$(get small.first.$ours)" "$(get small.first.cp)")
echo "  small first copy <= cp:               $r $(verdict "$r" 1.0)"
r=$(ratio "$(get large.first.$ours)" "$(get large.first.cp)")
echo "  large first copy <= 1.1 x cp:         $r $(verdict "$r" 1.1)"
r=$(ratio "$(get small.first.$ours)" "$(get small.first.cpsync)")
echo "  small first copy vs cp + sync:        $r"
r=$(ratio "$(get large.first.$ours)" "$(get large.first.cpsync)")
echo "  large first copy vs cp + sync:        $r"
