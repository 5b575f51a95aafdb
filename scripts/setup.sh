#!/usr/bin/env bash
# Installs what Sentrel needs on Debian 12:
#   bash scripts/setup.sh run    building and running the program
#   bash scripts/setup.sh test   everything: tests, benchmarks, fuzzing, packaging (the default)
#   bash scripts/setup.sh windows the Windows cross build and Wine (asked for by name:
#                                 it is large and only its own build and tests need it)
# Packages already present are left alone, so a second run is quick and quiet.
set -euo pipefail
DIR="$(dirname "$0")/packages"

# One file per need under scripts/packages/, one package per line.
case "${1:-test}" in
  run) LISTS=("$DIR/build.txt" "$DIR/runtime.txt") ;;
  test) mapfile -t LISTS < <(ls "$DIR"/*.txt | grep -v '/windows\.txt$') ;;
  windows) LISTS=("$DIR/windows.txt") ;;
  *) echo "usage: bash scripts/setup.sh [run|test|windows]" >&2; exit 2 ;;
esac
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
