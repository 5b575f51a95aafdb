#!/usr/bin/env bash
# One script, two verbs, for a fresh machine:
#   bash sentrel.sh run    set up, build and start Sentrel on the shipped default.mon
#   bash sentrel.sh test   set up, build and run the whole test suite
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD:-build}
JOBS=$(nproc)

# `run` needs neither the test suite nor its packages.
build() {
  bash scripts/setup.sh "$1"
  local tests=ON
  [[ $1 == run ]] && tests=OFF
  cmake -S . -B "$BUILD" -G Ninja -DSENTREL_TESTS=$tests
  cmake --build "$BUILD" -j "$JOBS"
}

case "${1:-}" in
  run)
    build run
    exec "./$BUILD/sentrel"
    ;;
  test)
    build test
    cd "$BUILD"
    exec ctest --output-on-failure -j "$JOBS"
    ;;
  *)
    echo "usage: bash sentrel.sh run|test" >&2
    exit 2
    ;;
esac
