#!/usr/bin/env bash
# Builds Sentrel for Windows (mingw-w64) and its MSI and ZIP, runs the test
# suite under Wine, then sentrel.exe itself end to end (scripts/wine-e2e.sh)
# and installed from the MSI as a service (scripts/wine-msi-e2e.sh).
#   bash scripts/wine-test.sh [CTEST ARGUMENTS...]
# BUILD names the build folder (default build-win). Everything Wine keeps
# (its prefix, its registry, the recycle bin) lives in a temporary folder
# that goes when the script ends. Tests that Wine cannot run as Windows
# would are named, each with its reason, in scripts/wine-excluded.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-win}
JOBS=$(nproc)

bash scripts/setup.sh windows
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-run.sh" "${LAUNCHER[@]}"
cmake --build "$BUILD" -j "$JOBS"
cmake --build "$BUILD" --target windows_packages

source scripts/wine-env.sh

# The first word of each line of the list is a test's full name.
mapfile -t EXCLUDED < <(sed 's/#.*//' scripts/wine-excluded.txt | awk 'NF { print $1 }')
FILTER=()
if ((${#EXCLUDED[@]})); then
  pattern=$(printf '%s\n' "${EXCLUDED[@]}" | sed 's/[.]/[.]/g' | paste -sd '|')
  # A parameterized test's name is followed by its parameters.
  FILTER=(-E "^($pattern)( |\$)")
  echo "Left out under Wine (see scripts/wine-excluded.txt): ${EXCLUDED[*]}"
fi
(cd "$BUILD" && ctest --output-on-failure -j "$JOBS" "${FILTER[@]}" "$@")

bash scripts/wine-e2e.sh "$BUILD"
bash scripts/wine-msi-e2e.sh "$BUILD"
