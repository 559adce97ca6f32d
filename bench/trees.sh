# The benchmarks' source trees, built once under $SRC and kept: many small files in nested
# folders ($SMALL_FILES) and a few large ones ($LARGE_COUNT x $LARGE_MIB MiB), with the list of
# 1% of their files that a "touched" round makes newer. Sourced by the scripts beside it.

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
