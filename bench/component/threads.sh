#!/usr/bin/env bash
# Threads benchmark: zipwriter with 1 and 2 threads (and the processor count, when it is
# larger) side by side with pigz, Info-ZIP zip, 7-Zip and Python's zipfile, as ratios
# to the bare single-thread zlib loop doing the same chunked raw deflate.
#
#   bench/component/threads.sh [BUILD_DIR]      (default: build)
#
# Environment: RUNS (rounds, default 3; medians are shown), RECORDS (record files,
# default 20, about 7.5 MB each), PICTURES (default 200), SMALL (files of 1-8 KB,
# default 20000), TINY (files of 100-300 bytes, default 100000; 0 leaves a work
# out), WORKS (the sets to run, e.g. "small tiny"; default all), KEEP=1 keeps the work folder, TMPDIR (where it goes).
#
# Works: the record files at levels 1 and 6, the pictures, the small and the tiny
# files at level 1 (each picture and small file is smaller than one chunk: with
# threads they are read and deflated ahead on the workers, the calling thread
# writes them in order; the per-file cost shows on the small and tiny files). Every round runs each tool once, in turn, so a busy machine slows them alike.
# Each line: median wall time and its ratio to the bare loop, median CPU time (user +
# system), peak resident memory, bytes written and the output's size. pigz compresses
# the same files into one stream of gzip members (no archive around them).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../measure.sh
source "$here/../measure.sh"
find_tools "${1:-}"
need_commands zip pigz 7zz
cores="$(nproc)"

work="$(mktemp -d "${TMPDIR:-/tmp}/zwthreads.XXXXXX")"
[[ "${KEEP:-0}" == 1 ]] || trap 'rm -rf "$work"' EXIT
out="$work/out"
mkdir -p "$out"
echo "# work folder: $work; $cores processors; $runs rounds"
"$python" "$here/make_data.py" "$work/data" --records "${RECORDS:-20}" \
  --pictures "${PICTURES:-200}" --small "${SMALL:-20000}" --tiny "${TINY:-100000}"
du -sh "$work/data"/* | sed 's/^/# /'

cat >"$work/pycreate.py" <<'EOF'
import os, sys, zipfile
out, folder, level = sys.argv[1], sys.argv[2], int(sys.argv[3])
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=level) as z:
    for name in sorted(os.listdir(folder)):
        z.write(os.path.join(folder, name), name)
EOF

# One work: the tools as "label|command" lines ({OUT} is the output file).
run_work() {
  local title="$1" folder="$2"
  shift 2
  local tools=("$@") n="${#tools[@]}" i r line t m w c label cmd target
  declare -A times=() cpus=() mems=() writes=() sizes=()
  find "$folder" -type f -exec cat {} + >/dev/null  # the page cache warm for every tool alike
  for ((r = 0; r < runs; r++)); do
    for ((i = 0; i < n; i++)); do
      cmd="${tools[i]#*|}"
      target="$out/w$i.out"
      rm -f "$target"
      line="$("$bench" run bash -c "${cmd//\{OUT\}/$target}" 2>&1 >/dev/null | tail -n 1)"
      read -r t m w _ c <<<"$line"
      times[$i]+="$t "; cpus[$i]+="$c "; mems[$i]+="$m "; writes[$i]+="$w "
      sizes[$i]="$(stat -c %s "$target" 2>/dev/null || echo 0)"
    done
  done
  echo
  echo "## $title ($(ls "$folder" | wc -l) files, $(du -sm "$folder" | cut -f1) MB)"
  printf '%-28s %9s %7s %9s %11s %12s %11s\n' tool wall ratio cpu "peak KiB" written output
  local ref=""
  for ((i = 0; i < n; i++)); do
    label="${tools[i]%%|*}"
    t="$(tr ' ' '\n' <<<"${times[$i]}" | grep . | median)"
    c="$(tr ' ' '\n' <<<"${cpus[$i]}" | grep . | median)"
    w="$(tr ' ' '\n' <<<"${writes[$i]}" | grep . | median)"
    m="$(tr ' ' '\n' <<<"${mems[$i]}" | grep . | sort -g | tail -n 1)"
    [[ -n "$ref" ]] || ref="$t"
    printf '%-28s %7.3f s %6.2fx %7.3f s %11d %12d %11d\n' "$label" "$t" \
      "$(awk -v a="$t" -v b="$ref" 'BEGIN { print (b > 0 ? a / b : 0) }')" "$c" "$m" "$w" \
      "${sizes[$i]}"
  done
}

# The tools for FOLDER at LEVEL. Many files: no pigz (it makes no archive, and one
# stream per file says nothing more), and the names are given relative to the
# folder, as a list of full paths would not fit on a command line.
tools_for() {
  local folder="$1" level="$2" many="${3:-0}" threads
  local list=("bare zlib loop, 1 thread|'$bench' deflate --level $level {OUT} '$folder'")
  for threads in 1 2 $((cores > 2 ? cores : 0)); do
    ((threads > 0)) || continue
    list+=("zipwriter --threads $threads|'$zipwriter' add {OUT} '$folder/*' --level $level --threads $threads --no-recurse --store-path none --attr 0x2F --no-flush")
  done
  ((many)) || list+=("pigz -p2 -$level|pigz -p2 -$level -c '$folder'/* > {OUT}")
  list+=("zip -$level|cd '$folder' && zip -$level -j -q {OUT} *")
  list+=("7zz -mx$level -mmt2|cd '$folder' && 7zz a -tzip -mx$level -mmt2 -bd -bso0 -bsp0 {OUT} *")
  list+=("python zipfile (level $level)|'$python' '$work/pycreate.py' {OUT} '$folder' $level")
  printf '%s\n' "${list[@]}"
}

for work_spec in "records 1 0" "records 6 0" "pictures 1 0" "small 1 1" "tiny 1 1"; do
  read -r set level many <<<"$work_spec"
  [[ -d "$work/data/$set" && " ${WORKS:-$set} " == *" $set "* ]] || continue
  mapfile -t tools < <(tools_for "$work/data/$set" "$level" "$many")
  run_work "$set, level $level" "$work/data/$set" "${tools[@]}"
done
