#!/usr/bin/env bash
# Takes a picture of the main window, as a user sees it on a first look, into
# docs/screenshot.png (or the file given); with "versiones" or "excluir" after the file, of
# that dialog as the Acciones menu opens it, and with "acciones", of the screen with that
# menu open. It builds when needed and runs the program on a
# private X server with a temporary home and settings file, so nothing of yours is read or
# changed. QT_FONT_DPI=144 (or QT_SCALE_FACTOR) in the environment shows it at a larger size.
#   tools/screenshot.sh [out.png [versiones|excluir|acciones]]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-$root/docs/screenshot.png}
shows=${2:-}
case "$shows" in "" | versiones | excluir | acciones) ;; *)
  echo "unknown view: $shows" >&2
  exit 2
  ;;
esac
case "$out" in /*) ;; *) out=$root/$out ;; esac

source tools/deps.sh
install_missing_packages "${RESGUARDA_PACKAGES[@]}" xvfb imagemagick x11-utils xdotool

if [[ ! -f build/build.ninja ]]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build --target resguarda >/dev/null

work=$(mktemp -d)
xvfb_pid=""
program_pid=""
cleanup() {
  local status=$?
  # The program first, so that it closes (and saves its temporary settings) on a live display.
  for pid in $program_pid $xvfb_pid; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT

# The settings file lives beside the executable: a copy of it keeps the build's own settings
# out of the picture and out of harm's way.
mkdir -p "$work/app" "$work/home"
cp build/resguarda "$work/app/resguarda"
home=$work/home
mkdir -p "$home/Documentos" "$home/Escritorio" "$home/Imágenes" "$home/Música" \
  "$home/Facturas" "$home/.config" "$home/.local/state"
cat >"$work/app/Resguarda.ini" <<INI
[CONFIGURACION]
DIR_DESTINO=/media/copia/
[TAREAS]
0=1 $home/Documentos
1=1 $home/Escritorio
2=1 $home/Imágenes
3=0 $home/Música
4=1 $home/Facturas
5=0 Extraer Mensajes E-mail con adjuntos
INI
# The dialogs show settings a user might well have chosen.
if [[ -n $shows ]]; then
  sed -i 's|^DIR_DESTINO=.*|&\nVERSIONES=1\nDIAS_VERSIONES=30|' "$work/app/Resguarda.ini"
  printf '[EXCLUIR]\n0=*.tmp\n1=.cache/\n2=node_modules/\n3=fotos/borradores\n' \
    >>"$work/app/Resguarda.ini"
fi

# A display of our own; -displayfd picks a free number and writes it once it is ready.
Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp -br 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
display=""
for _ in $(seq 100); do
  display=$(tr -dc 0-9 <"$work/display")
  [[ -n $display ]] && break
  sleep 0.1
done
[[ -n $display ]] || { echo "Xvfb did not start" >&2; exit 1; }

env -i PATH="$PATH" HOME="$home" DISPLAY=":$display" LANG=es_ES.UTF-8 \
  XDG_CONFIG_HOME="$home/.config" XDG_STATE_HOME="$home/.local/state" \
  ${QT_FONT_DPI:+QT_FONT_DPI=$QT_FONT_DPI} ${QT_SCALE_FACTOR:+QT_SCALE_FACTOR=$QT_SCALE_FACTOR} \
  "$work/app/resguarda" >/dev/null 2>&1 &
program_pid=$!

window=""
for _ in $(seq 100); do
  window=$(DISPLAY=":$display" xwininfo -root -children 2>/dev/null |
    awk '/"Resguarda v3\.0/ && / [0-9]+x[0-9]+\+/ { print $1; exit }')
  [[ -n $window ]] && break
  sleep 0.1
done
[[ -n $window ]] || { echo "the window did not appear" >&2; exit 1; }
# Let it paint its first frame.
sleep 1
mkdir -p "$(dirname "$out")"
if [[ -n $shows ]]; then
  # The menu is opened from the keyboard, as a user without a mouse would: Alt+C, then the
  # item's underlined letter.
  export DISPLAY=":$display"
  xdotool windowfocus --sync "$window"
  xdotool key --clearmodifiers alt+c
  sleep 0.5
  case "$shows" in
    versiones) key=v title="Versiones anteriores" ;;
    excluir) key=x title="Excluir" ;;
    acciones)
      import -window root -crop "$(xwininfo -id "$window" |
        awk '/Width:/ { w = $2 } /Height:/ { h = $2 } /Absolute upper-left X/ { x = $4 }
             /Absolute upper-left Y/ { y = $4 } END { printf "%dx%d+%d+%d", w, h, x, y }')" \
        "$out"
      echo "$out"
      exit 0
      ;;
  esac
  xdotool key "$key"
  dialog=""
  for _ in $(seq 50); do
    dialog=$(xwininfo -root -children | awk -v t="\"$title\"" 'index($0, t) && / [0-9]+x[0-9]+\+/ {
      print $1; exit }')
    [[ -n $dialog ]] && break
    sleep 0.1
  done
  [[ -n $dialog ]] || { echo "the dialog did not appear" >&2; exit 1; }
  sleep 1
  import -window "$dialog" "$out"
else
  DISPLAY=":$display" import -window "$window" "$out"
fi
echo "$out"
