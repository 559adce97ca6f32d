#!/usr/bin/env bash
# Runs clang-tidy, with the checks of .clang-tidy, over every source file of src/ that the build
# compiles, and fails on any finding. The build folder must hold compile_commands.json.
#   tools/tidy-check.sh [build folder]      (default: build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)

# Only the program's own files: moc and rcc output in the build folder is not ours to fix.
files=()
while IFS= read -r file; do
  case "$file" in "$root"/src/*.cpp) files+=("$file") ;; esac
done < <(sed -n 's/^ *"file": "\(.*\)",\{0,1\}$/\1/p' "$build/compile_commands.json" | sort -u)
if [ ${#files[@]} -eq 0 ]; then
  echo "No source of $root/src in $build/compile_commands.json" >&2
  exit 1
fi

# One file per clang-tidy, as many at once as there are cores; xargs fails when any one does.
# -Wno-error: the compiler's own warnings are the compiler's to judge, not clang's.
# clang-tidy counts the warnings it hid in system headers on stderr: that count is dropped.
set +e
printf '%s\0' "${files[@]}" |
  xargs -0 -n 1 -P "$(nproc)" clang-tidy -p "$build" --quiet --extra-arg=-Wno-error 2>&1 |
  grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$'
status=${PIPESTATUS[1]}
set -e
if [ "$status" -ne 0 ]; then
  echo "clang-tidy found faults (checks in .clang-tidy); fix them or say why in a NOLINT comment" >&2
  exit 1
fi
echo "clang-tidy: ${#files[@]} files, no findings"
