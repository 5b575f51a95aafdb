#!/usr/bin/env bash
# One script, two verbs, for a fresh machine:
#   bash sentrel.sh run    set up, build and start Sentrel on the shipped default.mon
#   bash sentrel.sh test   set up, build and run the whole test suite
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD:-build}
JOBS=$(nproc)

build() {
  bash scripts/setup.sh
  cmake -S . -B "$BUILD" -G Ninja
  cmake --build "$BUILD" -j "$JOBS"
}

case "${1:-}" in
  run)
    build
    exec "./$BUILD/sentrel"
    ;;
  test)
    build
    cd "$BUILD"
    exec ctest --output-on-failure -j "$JOBS"
    ;;
  *)
    echo "usage: bash sentrel.sh run|test" >&2
    exit 2
    ;;
esac
