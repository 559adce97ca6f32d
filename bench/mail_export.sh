#!/bin/sh
# Mail export benchmark: builds a store of about 2,000 messages in 4 folders (about 300 MB of
# attachments, about 430 MB of DBX files) and exports it with the real program, unattended,
# reporting wall time, peak RSS and DBX megabytes per second.
#
#   bench/mail_export.sh [build folder] [messages] [attachment MB]
#
# The build folder must hold `resguarda` and bench/mail_store_gen (configure it with
# -DRESGUARDA_BENCH=ON). Set INPROCESS=1 to time the export alone, without the program.
# Scratch files go to a temporary folder (SCRATCH to choose it), removed at the end.
set -eu

build=$(cd "${1:-build}" && pwd)
messages=${2:-2000}
attachments=${3:-300}
gen="$build/bench/mail_store_gen"
[ -x "$gen" ] || { echo "missing $gen: configure with -DRESGUARDA_BENCH=ON" >&2; exit 2; }

scratch=$(mktemp -d "${SCRATCH:-${TMPDIR:-/tmp}}/mail-export-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT INT TERM
drive="$scratch/drive_c"
store="$drive/store"
dest="$scratch/destino"
mkdir -p "$drive" "$dest"

echo "writing the store..."
"$gen" "$store" "$messages" 4 "$attachments"
dbx_bytes=$(du -sb "$store" | cut -f1)
echo "store: $(ls "$store" | wc -l) files, $((dbx_bytes / 1048576)) MB"
sync

timefile="$scratch/time.txt"
if [ "${INPROCESS:-0}" = 1 ]; then
  /usr/bin/time -v -o "$timefile" "$gen" --export "$store" "$dest/"
else
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
  status=0
  (cd "$app" && env -u DISPLAY -u WAYLAND_DISPLAY WINEPREFIX="$prefix" \
      QT_QPA_PLATFORM=offscreen /usr/bin/time -v -o "$timefile" ./resguarda x) || status=$?
  echo "exit status: $status"
fi

eml=$(find "$dest" -name '*.eml' | wc -l)
files=$(find "$dest/adjuntos" -type f 2>/dev/null | wc -l)
echo "written: $eml messages, $files attachments, $(du -sm "$dest" | cut -f1) MB"
wall=$(sed -n 's/.*Elapsed (wall clock) time.*: //p' "$timefile")
rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$timefile")
user=$(sed -n 's/.*User time (seconds): //p' "$timefile")
sys=$(sed -n 's/.*System time (seconds): //p' "$timefile")
seconds=$(echo "$wall" | awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
echo "wall $wall (user $user s, system $sys s), peak RSS $((rss / 1024)) MiB"
awk -v b="$dbx_bytes" -v s="$seconds" -v u="$user" -v y="$sys" 'BEGIN {
  printf "DBX throughput: %.0f MB/s wall, %.0f MB/s of CPU time\n", b / 1048576 / s, b / 1048576 / (u + y) }'
