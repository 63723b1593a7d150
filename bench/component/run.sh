#!/usr/bin/env bash
# Benchmark of the archive component (zipwriter) against Info-ZIP zip, Python's
# zipfile and a bare zlib loop with the same chunking.
#
#   bench/component/run.sh [BUILD_DIR]      (default: build)
#
# Environment: RUNS (repetitions, default 3; the median is shown), KEEP=1 keeps the
# work folder, SCALE_SMALL / SCALE_LARGE (file counts of the name-lookup scaling
# run, default 10000 / 100000), DATA_ARGS (extra make_data.py arguments, for a quick
# trial run), TMPDIR (where the work folder goes).
#
# Builds a deterministic data set (make_data.py): 40 record files (~300 MB, deflate
# about 4.6:1), 200 incompressible pictures, 20,000 files of 1-8 KB. Then, for each
# tool: create an archive of each folder; append one 1 MB file to the records
# archive; replace one file near its front; then zipwriter alone on 10,000 and
# 100,000 tiny files (name lookup must keep adding n files O(n)); last, one small file
# appended to the 100,000-entry archive by each tool (peak memory and bytes written as
# ratios to zip -g). Each line shows the median wall time and CPU time (user + system;
# steadier on a busy machine), their ratios to the section's first line, peak resident
# memory, and the bytes written (archive and temporary files).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# measure, reference, row, header: see measure.sh.
# shellcheck source=../measure.sh
source "$here/../measure.sh"
find_tools "${1:-}"
need_commands zip

work="$(mktemp -d "${TMPDIR:-/tmp}/zwbench.XXXXXX")"
[[ "${KEEP:-0}" == 1 ]] || trap 'rm -rf "$work"' EXIT
data="$work/data"
out="$work/out"
mkdir -p "$out"

echo "# work folder: $work"
echo "# building the data set ..."
"$python" "$here/make_data.py" "$data" ${DATA_ARGS:-}
"$python" "$here/make_data.py" "$work/scale-s" --records 0 --pictures 0 --small 0 --tiny "${SCALE_SMALL:-10000}"
"$python" "$here/make_data.py" "$work/scale-l" --records 0 --pictures 0 --small 0 --tiny "${SCALE_LARGE:-100000}"
head -c 1048576 "$(ls "$data/records"/* | tail -n 1)" > "$work/append.dat"
cp "$data/records/rec001.dat" "$work/rec001.dat"
printf 'changed' | dd of="$work/rec001.dat" bs=1 seek=1000 conv=notrunc status=none
du -sh "$data"/* | sed 's/^/# /'

py_create() {
  cat >"$work/pycreate.py" <<'EOF'
import os, sys, zipfile
out, folder = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    for name in sorted(os.listdir(folder)):
        z.write(os.path.join(folder, name), name)
EOF
  cat >"$work/pyappend.py" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "a", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
    z.write(sys.argv[2], "append.dat")
EOF
}
py_create

for set in records pictures small; do
  folder="$data/$set"
  cat "$folder"/* >/dev/null  # warm the page cache for every tool alike
  header "create: $set ($(ls "$folder" | wc -l) files, $(du -sm "$folder" | cut -f1) MB)"
  PREPARE="rm -f '$out/bare.bin'" measure "$bench" deflate "$out/bare.bin" "$folder"
  reference; row "bare zlib loop (stream reused)"
  if [[ "$set" == small ]]; then
    PREPARE="rm -f '$out/fresh.bin'" measure "$bench" deflate --fresh "$out/fresh.bin" "$folder"
    row "bare zlib loop (fresh stream)"
  fi
  PREPARE="rm -f '$out/$set-zw.zip'" measure "$zipwriter" add "$out/$set-zw.zip" "$folder/*" \
    --level 1 --no-recurse --store-path none --attr 0x2F --zip64 auto
  row "zipwriter add"
  PREPARE="rm -f '$out/$set-nf.zip'" measure "$zipwriter" add "$out/$set-nf.zip" "$folder/*" \
    --level 1 --no-recurse --store-path none --attr 0x2F --zip64 auto --no-flush
  row "zipwriter add --no-flush"
  PREPARE="rm -f '$out/$set-zip.zip'" measure bash -c "cd '$folder' && zip -1 -j -q '$out/$set-zip.zip' *"
  row "zip -1 -j -q"
  PREPARE="rm -f '$out/$set-py.zip'" measure "$python" "$work/pycreate.py" "$out/$set-py.zip" "$folder"
  row "python zipfile (level 1)"
  printf '# archive sizes: zipwriter %d, zip %d, python %d; bare output %d (ratio %.2f:1)\n' \
    "$(stat -c %s "$out/$set-zw.zip")" "$(stat -c %s "$out/$set-zip.zip")" \
    "$(stat -c %s "$out/$set-py.zip")" "$(stat -c %s "$out/bare.bin")" \
    "$(awk -v a="$(du -sb "$folder" | cut -f1)" -v b="$(stat -c %s "$out/bare.bin")" 'BEGIN { print a / b }')"
done

# Appending one 1 MB file to the large archive, each tool on its own archive.
header "append 1 MB to the records archive ($(stat -c %s "$out/records-zw.zip") bytes)"
PREPARE="cp '$out/records-zw.zip' '$work/a-zw.zip'" \
  measure "$zipwriter" add "$work/a-zw.zip" "$work/append.dat" --level 1 --store-path none
zw_written="$m_written"; reference; row "zipwriter add"
PREPARE="cp '$out/records-zw.zip' '$work/a-nf.zip'" \
  measure "$zipwriter" add "$work/a-nf.zip" "$work/append.dat" --level 1 --store-path none --no-flush
row "zipwriter add --no-flush"
old_dir="$(tail -c 6 "$out/records-zw.zip" | head -c 4 | od -An -tu4 | tr -d ' ')"
if cmp -s -n "$old_dir" "$out/records-zw.zip" "$work/a-zw.zip"; then
  echo "# zipwriter: the $old_dir bytes in front of the old directory are unchanged"
else
  echo "# zipwriter: BYTES IN FRONT OF THE OLD DIRECTORY CHANGED"
fi
echo "# zipwriter: archive grew by $(($(stat -c %s "$work/a-zw.zip") - $(stat -c %s "$out/records-zw.zip"))) bytes; written (archive and temporary files) $zw_written bytes"
PREPARE="cp '$out/records-zip.zip' '$work/a-zip.zip'" \
  measure bash -c "cd '$work' && zip -1 -j -q a-zip.zip append.dat"
row "zip -1 -j -q (add)"
PREPARE="cp '$out/records-py.zip' '$work/a-py.zip'" \
  measure "$python" "$work/pyappend.py" "$work/a-py.zip" "$work/append.dat"
row "python zipfile (mode a)"

# Replacing one file near the front (entry 2 of 40).
header "replace rec001.dat (entry 2 of 40) in the records archive"
PREPARE="cp '$out/records-zw.zip' '$work/r-zw.zip'" \
  measure "$zipwriter" add "$work/r-zw.zip" "$work/rec001.dat" --level 1 --store-path none
reference; row "zipwriter add (replace)"
PREPARE="cp '$out/records-zw.zip' '$work/r-nf.zip'" \
  measure "$zipwriter" add "$work/r-nf.zip" "$work/rec001.dat" --level 1 --store-path none --no-flush
row "zipwriter add --no-flush (replace)"
PREPARE="cp '$out/records-zip.zip' '$work/r-zip.zip'" \
  measure bash -c "cd '$work' && zip -1 -j -q r-zip.zip rec001.dat"
row "zip -1 -j -q (replace)"
echo "# python zipfile cannot replace an entry in place (not measured)"

# Name lookup: adding n files must stay O(n).
header "name lookup scaling (tiny files, one batch each)"
n_s="$(ls "$work/scale-s/tiny" | wc -l)"; n_l="$(ls "$work/scale-l/tiny" | wc -l)"
cat "$work/scale-s/tiny"/* >/dev/null; find "$work/scale-l/tiny" -type f -exec cat {} + >/dev/null
PREPARE="rm -f '$out/s.zip'" measure "$zipwriter" add "$out/s.zip" "$work/scale-s/tiny/*" \
  --level 1 --no-recurse --store-path none --attr 0x2F
reference; row "zipwriter add, $n_s files"
PREPARE="rm -f '$out/l.zip'" measure "$zipwriter" add "$out/l.zip" "$work/scale-l/tiny/*" \
  --level 1 --no-recurse --store-path none --attr 0x2F --zip64 auto
row "zipwriter add, $n_l files"
echo "# ideal ratio for O(n): $(awk -v a="$n_l" -v b="$n_s" 'BEGIN { printf "%.1f", a / b }')"

# Appending one small file to the archive of n tiny files: what the directory costs.
# Every tool appends to a copy of the same archive (zipwriter's), so each writes the
# same directory; zipwriter also writes its journal (the old directory, regrouped and
# deflated).
echo
echo "## append one small file to the $n_l-entry archive (ratios to zip -g)"
printf 'one small file\n' >"$work/small.txt"
printf '%-34s %13s %7s %14s %7s\n' tool "peak memory" ratio written ratio
ratio_row() {
  printf '%-34s %9d KiB %6sx %12d B %6sx\n' "$1" "$m_mem" \
    "$(awk -v a="$m_mem" -v b="$ref_mem" 'BEGIN { printf "%.2f", a / b }')" "$m_written" \
    "$(awk -v a="$m_written" -v b="$ref_written" 'BEGIN { printf "%.2f", a / b }')"
}
PREPARE="cp '$out/l.zip' '$work/g-zip.zip'" measure zip -1 -j -q -g "$work/g-zip.zip" "$work/small.txt"
ref_mem="$m_mem"; ref_written="$m_written"; ratio_row "zip -1 -j -q -g"
PREPARE="cp '$out/l.zip' '$work/g-zw.zip'" \
  measure "$zipwriter" add "$work/g-zw.zip" "$work/small.txt" --level 1 --store-path none
ratio_row "zipwriter add"
PREPARE="cp '$out/l.zip' '$work/g-py.zip'" \
  measure "$python" "$work/pyappend.py" "$work/g-py.zip" "$work/small.txt"
ratio_row "python zipfile (mode a)"

# A split set of the records (volumes of 10 MiB): the bytes each tool writes for it,
# beside the size of the set it leaves (written / set: 1.00 when nothing is written
# twice).
echo
echo "## split set of the records, volumes of 10 MiB: bytes written"
printf '%-34s %14s %14s %7s\n' tool written "set size" ratio
split_row() {  # tool, folder holding only the set
  local size
  size="$(du -cb "$2"/* | tail -n 1 | cut -f1)"
  printf '%-34s %12d B %12d B %6sx\n' "$1" "$m_written" "$size" \
    "$(awk -v a="$m_written" -v b="$size" 'BEGIN { printf "%.2f", a / b }')"
}
mkdir -p "$work/split-zw" "$work/split-zip"
PREPARE="rm -f '$work/split-zw'/*" measure "$zipwriter" add "$work/split-zw/s.zip" \
  "$data/records/*" --level 1 --no-recurse --store-path none --attr 0x2F \
  --spanning split --classic-naming --volume-size 10485760
split_row "zipwriter add --spanning split" "$work/split-zw"
PREPARE="rm -f '$work/split-zip'/*" measure bash -c \
  "cd '$data/records' && zip -1 -j -q -s 10m '$work/split-zip/s.zip' *"
split_row "zip -1 -j -q -s 10m" "$work/split-zip"
