#!/usr/bin/env bash
# Builds the fuzz targets and runs each for a while (default 600 s), or, with
# --regress, once over its corpus only. Findings land in fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=600
REGRESS=0
for arg in "$@"; do
  case "$arg" in
    --regress) REGRESS=1 ;;
    [0-9]*) SECONDS_PER_TARGET=$arg ;;
  esac
done
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DSENTREL_FUZZ=ON -DSENTREL_BENCH=OFF >/dev/null
cmake --build build-fuzz --target $(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//') >/dev/null
mkdir -p fuzz/findings
for src in fuzz/*_fuzz.cpp; do
  name=$(basename "$src" .cpp)
  corpus=fuzz/corpus/${name%_fuzz}
  mkdir -p "$corpus"
  if ((REGRESS)); then
    ./build-fuzz/"$name" -runs=0 "$corpus"
  else
    work=fuzz/corpus-work/${name%_fuzz}
    mkdir -p "$work"
    ./build-fuzz/"$name" -max_total_time="$SECONDS_PER_TARGET" -artifact_prefix=fuzz/findings/"$name"- \
      -print_final_stats=1 "$work" "$corpus" 2>&1 | tail -20
  fi
done
