#!/usr/bin/env bash
# Installs Resguarda for the current user, so that it shows in the application menu:
#   tools/install.sh              build (when needed) and install
#   tools/install.sh --nightly    also run "resguarda -hide" every night (systemd user timer;
#                                 a night missed while the computer was off is caught up)
#   tools/install.sh --uninstall  remove all of it; the settings file is kept
# The program lives in ~/.local/lib/resguarda/, where its settings file beside it can be
# written; ~/.local/bin/resguarda starts it. RESGUARDA_PROGRAM names another program file to
# install instead of build/resguarda (nothing is built then).
set -euo pipefail
cd "$(dirname "$0")/.."

data=${XDG_DATA_HOME:-$HOME/.local/share}
config=${XDG_CONFIG_HOME:-$HOME/.config}
lib=$HOME/.local/lib/resguarda
bin=$HOME/.local/bin
units=$config/systemd/user
desktop=$data/applications/resguarda.desktop
icon=$data/icons/hicolor/scalable/apps/resguarda.svg

have_systemd() { command -v systemctl >/dev/null && systemctl --user show-environment >/dev/null 2>&1; }

uninstall() {
  if have_systemd; then systemctl --user disable --now resguarda.timer >/dev/null 2>&1 || true; fi
  rm -f "$units/resguarda.service" "$units/resguarda.timer" "$bin/resguarda" "$desktop" "$icon"
  rm -f "$lib/resguarda"
  # The settings file stays where it was, for a later install.
  rmdir "$lib" 2>/dev/null || true
  if have_systemd; then systemctl --user daemon-reload || true; fi
  echo "Resguarda desinstalado (se conserva $lib/Resguarda.ini si existía)."
}

case "${1:-}" in
  --uninstall) uninstall; exit 0 ;;
  --nightly | "") ;;
  *) echo "uso: $0 [--nightly | --uninstall]" >&2; exit 2 ;;
esac

# A path with a line break or other control character cannot be written into a menu entry
# or a unit; one that is not UTF-8 makes the menu entry invalid; systemd runs no relative one.
if [[ $lib != /* || $lib == *[[:cntrl:]]* ]] ||
  ! printf %s "$lib" | iconv -f UTF-8 -t UTF-8 >/dev/null 2>&1; then
  echo "No se puede instalar en $lib: la ruta no es absoluta, tiene caracteres de control o" \
    "no es UTF-8." >&2
  exit 1
fi

# Each format quotes in its own way. A path in double quotes for the shell: \ " $ ` escaped.
shell_quoted() {
  local s=${1//\\/\\\\}
  s=${s//\"/\\\"}
  s=${s//\$/\\\$}
  s=${s//\`/\\\`}
  printf '"%s"' "$s"
}
# A desktop entry's Exec=: the shell's quoting, % doubled (field codes), then the backslashes
# doubled again, as the value is itself an escaped string.
desktop_quoted() {
  local s
  s=$(shell_quoted "$1")
  s=${s//%/%%}
  printf %s "${s//\\/\\\\}"
}
# A unit's ExecStart= argument: C escapes in double quotes, % doubled (specifiers), $ doubled
# (variables; never expanded in the program's own path, which has no $$ then).
unit_quoted() {
  local s=${1//\\/\\\\}
  s=${s//\"/\\\"}
  s=${s//%/%%}
  [[ ${2:-} == argument ]] && s=${s//\$/\$\$}
  printf '"%s"' "$s"
}

program=${RESGUARDA_PROGRAM:-build/resguarda}
if [[ -z ${RESGUARDA_PROGRAM:-} && ! -x build/resguarda ]]; then
  source tools/deps.sh
  install_missing_packages "${RESGUARDA_PACKAGES[@]}"
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRESGUARDA_TESTS=OFF
  cmake --build build --target resguarda -j "$(nproc)"
fi

mkdir -p "$lib" "$bin" "$(dirname "$desktop")" "$(dirname "$icon")"
install -m 0755 "$program" "$lib/resguarda.new" && mv -f "$lib/resguarda.new" "$lib/resguarda"
printf '#!/bin/sh\nexec %s "$@"\n' "$(shell_quoted "$lib/resguarda")" >"$bin/resguarda"
chmod 0755 "$bin/resguarda"
# Where the program's own path cannot name what a format runs (a menu launcher looks for a
# program named with % before it turns %% into %; systemd refuses a program path with quotes or
# backslashes), that format runs the wrapper through /bin/sh, where any path is an argument.
if [[ $lib == *%* ]]; then
  desktop_exec="/bin/sh $(desktop_quoted "$bin/resguarda")"
else
  desktop_exec=$(desktop_quoted "$lib/resguarda")
fi
if [[ $lib == *[\"\'\\]* ]]; then
  unit_exec="/bin/sh $(unit_quoted "$bin/resguarda" argument)"
else
  unit_exec=$(unit_quoted "$lib/resguarda")
fi
install -m 0644 src/resources/resguarda.svg "$icon"
cat >"$desktop" <<DESKTOP
[Desktop Entry]
Type=Application
Name=Resguarda
GenericName=Copia de seguridad
Comment=Copia de seguridad de sus carpetas en otro disco
Exec=$desktop_exec
Icon=resguarda
Terminal=false
Categories=Utility;Archiving;
Keywords=copia;seguridad;backup;
DESKTOP

if [[ ${1:-} == --nightly ]]; then
  mkdir -p "$units"
  cat >"$units/resguarda.service" <<UNIT
[Unit]
Description=Copia de seguridad nocturna de Resguarda

[Service]
Type=oneshot
ExecStart=$unit_exec -hide
Nice=10
IOSchedulingClass=idle
UNIT
  cat >"$units/resguarda.timer" <<UNIT
[Unit]
Description=Copia de seguridad nocturna de Resguarda

[Timer]
# Clear of 01:00-03:59, the hours in which the clocks change: there a time of day may come
# twice or not at all.
OnCalendar=*-*-* 04:30:00
RandomizedDelaySec=15min
Persistent=true

[Install]
WantedBy=timers.target
UNIT
  if have_systemd; then
    systemctl --user daemon-reload
    systemctl --user enable --now resguarda.timer
  else
    echo "No hay sesión de systemd de usuario: active luego el temporizador con" \
      "'systemctl --user enable --now resguarda.timer'." >&2
  fi
fi
command -v update-desktop-database >/dev/null && update-desktop-database "$data/applications" 2>/dev/null || true
echo "Resguarda instalado: $bin/resguarda (menú de aplicaciones: Resguarda)."
