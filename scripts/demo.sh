#!/usr/bin/env bash
# Installs, builds and runs the backup utility on the sample data shipped in
# sample/: a backup into the data folder (mode 3) of the data files and pictures,
# then lists and tests the archive. The sample is copied to build/demo first so
# the repository stays clean.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
ZW_TARGETS="bkup zipwriter" ./scripts/build.sh

demo="$PWD/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cp -r sample/church "$demo/"
data="$demo/church/data/"

echo
echo "== bkup 3 1 $data vess vess"
ZW_UI="${ZW_UI:-console}" ./build/bin/bkup 3 1 "$data" vess vess < /dev/null

archive="$demo/church/data/vess.zip"
if [ -f "$archive" ]; then
  echo
  echo "== $archive"
  if [ -x build/bin/zipwriter ]; then ./build/bin/zipwriter list "$archive"; fi
  unzip -l "$archive"
  unzip -tq "$archive"
fi
