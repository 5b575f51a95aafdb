#!/usr/bin/env bash
# Builds Sentrel for Windows (mingw-w64) and runs the test suite under Wine.
#   bash scripts/wine-test.sh [CTEST ARGUMENTS...]
# BUILD names the build folder (default build-win). Everything Wine keeps
# (its prefix, its registry, the recycle bin) lives in a temporary folder
# that goes when the script ends.
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
  -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/wine "${LAUNCHER[@]}"
cmake --build "$BUILD" -j "$JOBS"

SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/sentrel-wine.XXXXXX")
export WINEPREFIX="$SCRATCH/prefix" WINEARCH=win64 WINEDEBUG=-all
# Without a UTF-8 locale Wine hands non-ASCII names over mangled.
export LANG=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winealsa.drv,winepulse.drv=d"
# Wine's recycle bin is the XDG trash of this home.
export HOME="$SCRATCH/home" XDG_DATA_HOME="$SCRATCH/data" XDG_CONFIG_HOME="$SCRATCH/config"
# No desktop: a message box returns at once instead of waiting for a user.
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$SCRATCH"
}
trap cleanup EXIT

# The server inherits the standard streams of the first Wine process, and a
# pipe it holds never closes: the prefix is made, then a server is started
# apart with its streams on /dev/null and kept for every test (a test
# process then starts in tens of milliseconds instead of half a second).
wineboot -i </dev/null >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

cd "$BUILD"
ctest --output-on-failure -j "$JOBS" "$@"
