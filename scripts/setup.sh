#!/usr/bin/env bash
# Installs what building, running and testing Sentrel needs on Debian 12.
# Packages already present are left alone, so a second run is quick and quiet.
#   bash scripts/setup.sh            every capability but the Windows build
#   bash scripts/setup.sh windows    the named capabilities only
set -euo pipefail

# One file per capability under scripts/packages/, one package per line.
DIR="$(dirname "$0")/packages"
if (($#)); then
  LISTS=()
  for name in "$@"; do LISTS+=("$DIR/$name.txt"); done
else
  # The Windows cross build is asked for by name: it is large and only its
  # own build and tests need it.
  mapfile -t LISTS < <(ls "$DIR"/*.txt | grep -v '/windows\.txt$')
fi
mapfile -t PACKAGES < <(cat "${LISTS[@]}" | sed 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
