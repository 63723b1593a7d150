#!/usr/bin/env bash
# Installs what the project needs on Debian 12. Idempotent and quick when
# everything is there already: apt-get runs only for missing packages.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev clang-format
  qt6-base-dev xvfb xauth
  unzip zip 7zip pigz perl python3 libarchive-tools dosfstools
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
