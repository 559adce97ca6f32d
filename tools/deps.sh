#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are missing.
# Sourced by run.sh and test.sh.
set -euo pipefail

# clang-format and clang-tidy are run by the tests (format_check, tidy_check).
# qt6-svg-dev draws the program's SVG pictures, qt6-translations-l10n holds Qt's own Spanish
# texts, fonts-liberation2 stands in for Arial with the same metrics in the About box; dbus
# gives the notification tests a private session bus.
RESGUARDA_PACKAGES=(cmake ninja-build g++ qt6-base-dev libgl-dev libgtest-dev libgmock-dev
  clang-format clang-tidy rsync dbus qt6-svg-dev qt6-translations-l10n fonts-liberation2
  desktop-file-utils)

# The removable-disk tests make exFAT and FAT disk images and mount them through FUSE, for
# kernels without those file systems.
RESGUARDA_PACKAGES+=(exfat-fuse exfatprogs fusefat dosfstools)

install_missing_packages() {
  local missing=()
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" </dev/null
}
