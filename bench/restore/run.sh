#!/usr/bin/env bash
# Benchmark of `zipwriter test` and `zipwriter extract` against Info-ZIP unzip, 7-Zip,
# Python's zipfile and a bare zlib inflate loop over the same entries.
#
#   bench/restore/run.sh [BUILD_DIR]      (default: build)
#
# Environment: RUNS (repetitions, default 3; the median is shown), KEEP=1 keeps the
# work folder, DATA_ARGS (extra make_data.py arguments, for a quick trial run), TMPDIR.
#
# Data: the component benchmark's deterministic set (bench/component/make_data.py):
# 40 record files (~300 MB) and 20,000 files of 1-8 KB, each folder put into one
# archive by zipwriter (level 1). Each line shows the median wall and CPU time, their
# ratios to the bare loop, peak resident memory and bytes written.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=../measure.sh
source "$here/../measure.sh"
find_tools "${1:-}" bare_inflate
bare="$build/bin/bare_inflate"

work="$(mktemp -d "${TMPDIR:-/tmp}/zwrestore.XXXXXX")"
[[ "${KEEP:-0}" == 1 ]] || trap 'rm -rf "$work"' EXIT
echo "# work folder: $work"
"$python" "$here/../component/make_data.py" "$work/data" --pictures 0 ${DATA_ARGS:-}

PREPARE='rm -rf "$work/out"; mkdir -p "$work/out"'

cat >"$work/pytest.py" <<'PY'
import sys, zipfile
sys.exit(1 if zipfile.ZipFile(sys.argv[1]).testzip() else 0)
PY
cat >"$work/pyextract.py" <<'PY'
import sys, zipfile
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
PY

for set in records small; do
  archive="$work/$set.zip"
  "$zipwriter" add "$archive" "$work/data/$set/*" --level 1 --store-path none --no-flush >/dev/null
  cat "$archive" >/dev/null  # every tool reads from the page cache alike
  info="$(ls "$work/data/$set" | wc -l) files, $(du -sm "$work/data/$set" | cut -f1) MB, archive $(du -sm "$archive" | cut -f1) MB"
  header "test: $set ($info)"
  measure "$bare" "$archive"; reference; row "bare zlib inflate loop"
  measure "$zipwriter" test "$archive"; row "zipwriter test"
  measure unzip -tqq "$archive"; row "unzip -tqq"
  command -v 7zz >/dev/null && { measure 7zz t -bd "$archive"; row "7zz t"; }
  measure "$python" "$work/pytest.py" "$archive"; row "python zipfile testzip"
  header "extract: $set ($info)"
  measure "$bare" "$archive"; reference; row "bare zlib inflate loop (no writes)"
  measure "$zipwriter" extract "$archive" --to "$work/out" --overwrite always; row "zipwriter extract"
  measure unzip -qq -o "$archive" -d "$work/out"; row "unzip -qq -o -d"
  command -v 7zz >/dev/null && { measure 7zz x -y -bd "-o$work/out" "$archive"; row "7zz x"; }
  measure "$python" "$work/pyextract.py" "$archive" "$work/out"; row "python zipfile extractall"
done
