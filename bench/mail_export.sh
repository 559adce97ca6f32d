#!/bin/sh
# Mail export benchmark: builds a store of about 2,000 messages in 4 folders (about 300 MB of
# attachments, about 430 MB of DBX files) and exports it with the real program, unattended,
# against its floor: `cp -r` of the finished output tree (the same files and bytes) into a
# fresh folder. Rounds alternate which of the two goes first, each after a sync and with the
# previous output removed, and the medians are reported with their ratio.
#
#   bench/mail_export.sh [build folder] [messages] [attachment MB]
#
# The build folder must hold `resguarda` and bench/mail_store_gen (configure it with
# -DRESGUARDA_BENCH=ON). Set INPROCESS=1 to time the export alone, without the program, and
# ROUNDS to choose the number of measured rounds (default 5, after one warm-up export).
# Scratch files go to a temporary folder (SCRATCH to choose it), removed at the end.
#
# Before each timed run the previous output is removed, the disk synced and SETTLE seconds
# (default 6) waited: ext4 without a journal passes over inodes freed in the last seconds
# when it makes new files, which would charge the removal of one run's 4,500 files to the
# next run, whichever tool it is.
set -eu

build=$(cd "${1:-build}" && pwd)
messages=${2:-2000}
attachments=${3:-300}
rounds=${ROUNDS:-5}
settle=${SETTLE:-6}
gen="$build/bench/mail_store_gen"
[ -x "$gen" ] || { echo "missing $gen: configure with -DRESGUARDA_BENCH=ON" >&2; exit 2; }

scratch=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/mail-export-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT INT TERM
drive="$scratch/drive_c"
store="$drive/store"
dest="$scratch/destino"
copy="$scratch/copia"
mkdir -p "$drive"

echo "writing the store..."
"$gen" "$store" "$messages" 4 "$attachments"
dbx_bytes=$(du -sb "$store" | cut -f1)
echo "store: $(ls "$store" | wc -l) files, $((dbx_bytes / 1048576)) MB"

if [ "${INPROCESS:-0}" != 1 ]; then
  [ -x "$build/resguarda" ] || { echo "missing $build/resguarda" >&2; exit 2; }
  app="$scratch/app"
  mkdir -p "$app"
  cp "$build/resguarda" "$app/"
  printf '[CONFIGURACION]\nDIR_DESTINO=%s/\n[TAREAS]\n0=1 Extraer Mensajes E-mail con adjuntos\n' \
    "$dest" > "$app/Resguarda.ini"
  # A Wine prefix whose registry names C:\store as the mail store, C: being the scratch drive.
  prefix="$scratch/wine"
  mkdir -p "$prefix/dosdevices"
  ln -s "$drive" "$prefix/dosdevices/c:"
  cat > "$prefix/user.reg" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Microsoft\\Outlook Express] 1700000000
"Store Root"="C:\\store"
REG
fi

# Runs one timed command; appends "wall user system rssKB" to the file named first.
timed() {
  out=$1
  shift
  /usr/bin/time -f '%e %U %S %M' -o "$scratch/t" "$@" > "$scratch/run.log" 2>&1 || {
    echo "failed (status $?):" >&2
    cat "$scratch/run.log" >&2
    exit 1
  }
  cat "$scratch/t" >> "$out"
}

export_once() {
  rm -rf "$dest"
  mkdir -p "$dest"
  sync
  sleep "$settle"
  if [ "${INPROCESS:-0}" = 1 ]; then
    timed "$1" "$gen" --export "$store" "$dest/"
  else
    timed "$1" sh -c "cd '$app' && exec env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX='$prefix' \
      QT_QPA_PLATFORM=offscreen ./resguarda x"
  fi
}

floor_once() {
  rm -rf "$copy"
  sync
  sleep "$settle"
  timed "$1" cp -r "$dest" "$copy"
  rm -rf "$copy"
}

echo "warm-up export..."
export_once "$scratch/warmup.txt"
eml=$(find "$dest" -name '*.eml' | wc -l)
files=$(find "$dest" -type f | wc -l)
echo "written: $eml messages, $((files - eml)) attachments, $files files, $(du -sm "$dest" | cut -f1) MB"

: > "$scratch/export.txt"
: > "$scratch/floor.txt"
i=1
while [ "$i" -le "$rounds" ]; do
  if [ $((i % 2)) = 1 ]; then
    export_once "$scratch/export.txt"
    floor_once "$scratch/floor.txt"
  else
    floor_once "$scratch/floor.txt"
    export_once "$scratch/export.txt"
  fi
  printf 'round %d: export %s s, cp -r %s s\n' "$i" "$(tail -n1 "$scratch/export.txt" | cut -d' ' -f1)" \
    "$(tail -n1 "$scratch/floor.txt" | cut -d' ' -f1)"
  i=$((i + 1))
done

# Median of column $2 of file $1.
median() {
  cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

wall=$(median "$scratch/export.txt" 1)
user=$(median "$scratch/export.txt" 2)
sys=$(median "$scratch/export.txt" 3)
rss=$(median "$scratch/export.txt" 4)
floor=$(median "$scratch/floor.txt" 1)
floor_sys=$(median "$scratch/floor.txt" 3)
paired=$(paste -d' ' "$scratch/export.txt" "$scratch/floor.txt" |
  awk '{ print $1 / $5 }' | sort -n | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }')
echo "export (median of $rounds): wall $wall s (user $user s, system $sys s), peak RSS $((rss / 1024)) MiB"
echo "floor, cp -r of the output (median of $rounds): wall $floor s (system $floor_sys s)"
awk -v w="$wall" -v f="$floor" -v p="$paired" -v b="$dbx_bytes" 'BEGIN {
  printf "ratio to the floor: %.2f (median of the rounds'"'"' own ratios: %.2f)\n", w / f, p
  printf "DBX throughput: %.0f MB/s wall\n", b / 1048576 / w }'
