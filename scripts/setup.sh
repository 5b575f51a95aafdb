#!/usr/bin/env bash
# Installs what Sentrel needs on Debian 12:
#   bash scripts/setup.sh run    building and running the program
#   bash scripts/setup.sh test   everything: tests, benchmarks, fuzzing, packaging (the default)
# Packages already present are left alone, so a second run is quick and quiet.
set -euo pipefail
DIR="$(dirname "$0")/packages"

# One file per need under scripts/packages/, one package per line.
case "${1:-test}" in
  run) LISTS=("$DIR/build.txt" "$DIR/runtime.txt") ;;
  test) LISTS=("$DIR"/*.txt) ;;
  *) echo "usage: bash scripts/setup.sh [run|test]" >&2; exit 2 ;;
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
