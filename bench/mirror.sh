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
make_small_tree() {
  local tree=$SRC/small stamp=$SRC/small.done
  if [[ -f $stamp && $(cat "$stamp") == "$SMALL_FILES" ]]; then return; fi
  rm -rf "$tree" "$stamp"
  echo "building $tree (~$SMALL_FILES files)" >&2
  python3 - "$tree" "$SMALL_FILES" "$SRC/small.touch" <<'EOF'
import os, random, sys
root, target, touch_list = sys.argv[1], int(sys.argv[2]), sys.argv[3]
rng = random.Random(1234)
branching, depth = 5, 5
folders = sum(branching ** d for d in range(1, depth + 1))
mean = max(2, target // folders)
low, high = max(1, mean * 2 // 5), mean * 8 // 5  # 10-40 for 25
block = os.urandom(1 << 16)
files = []
def fill(folder, n):
    os.makedirs(folder, exist_ok=True)
    for i in range(n):
        name = (".dot%d" % i) if rng.random() < 0.05 else ("file%04d.dat" % i)
        size = rng.randint(100, 20 * 1024)
        start = rng.randint(0, len(block) - size)
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(block[start:start + size])
        files.append(path)
def walk(folder, level):
    fill(folder, rng.randint(low, high))
    if rng.random() < 0.02:
        fill(os.path.join(folder, ".hidden"), 5)  # never entered by the program
    if level == depth:
        return
    for b in range(branching):
        walk(os.path.join(folder, "dir%d" % b), level + 1)
for b in range(branching):
    walk(os.path.join(root, "top%d" % b), 1)
with open(touch_list, "wb") as f:
    f.write(b"\0".join(p.encode() for p in files[::100]))
print(len(files), "files in", folders, "folders", file=sys.stderr)
EOF
  echo "$SMALL_FILES" >"$stamp"
}

make_large_tree() {
  local tree=$SRC/large stamp=$SRC/large.done
  if [[ -f $stamp && $(cat "$stamp") == "$LARGE_COUNT x $LARGE_MIB" ]]; then return; fi
  rm -rf "$tree" "$stamp"
  mkdir -p "$tree"
  echo "building $tree ($LARGE_COUNT x $LARGE_MIB MiB)" >&2
  for ((i = 0; i < LARGE_COUNT; i++)); do
    head -c "${LARGE_MIB}M" /dev/urandom >"$tree/large$i.bin"
  done
  printf '%s\0' "$tree/large0.bin" >"$SRC/large.touch"
  echo "$LARGE_COUNT x $LARGE_MIB" >"$stamp"
}

# Every source file back to one old time, so each tool starts from the same state.
reset_times() { find "$SRC/$1" -type f -print0 | xargs -0 touch -d 2020-01-01; }
# 1% of the files newer than any copy made so far.
touch_some() { xargs -0 touch -d "@$(($(date +%s) + 10))" <"$SRC/$1.touch"; }

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
