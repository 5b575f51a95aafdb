#!/usr/bin/env bash
# Checks Sentrel as a packager and a user installing it meet it:
#   1. `cmake --install` into a fresh prefix: every file in place, both
#      service units pass `systemd-analyze verify`, the manual pages render
#      without a warning, the command's page names the default configurations
#      in the order `--help` gives and every environment variable the program
#      reads, the completion offers the options `--help` lists, and the
#      installed program, started from another folder without an argument,
#      checks and loads the installed default.mon;
#   2. the program alone builds without GoogleTest, Google Benchmark and the
#      X11 headers, and needs no libX11;
#   3. the Debian package: made by cpack, checked by lintian (no error, no
#      warning), its size as README gives it, installed with dpkg -i, run (its
#      version, a short monitoring run), and purged again. This step installs
#      into the machine (it is CI's), so it needs root; it replaces an
#      installed sentrel package.
# The version expected is the project's, read from CMakeLists.txt.
# Usage: bash scripts/check_install.sh [BUILD]   (a built folder; default build)
set -euo pipefail
cd "$(dirname "$0")/.."
SRC=$PWD
BUILD=$(realpath "${1:-build}")
JOBS=$(nproc)
VERSION=$(sed -n 's/^project(Sentrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
WORK=$(mktemp -d)
PACKAGE_INSTALLED=0
cleanup() {
  if ((PACKAGE_INSTALLED)); then dpkg --purge sentrel >/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "check_install: $*" >&2
  exit 1
}
mkdir -p "$WORK/home" "$WORK/elsewhere"

# Runs the command in folder $1 with an empty home, no input and no display,
# until it says monitoring started (or ends); then stops it with SIGTERM.
# Its output is in $WORK/out; fails unless it ends with exit code 0.
run_until_started() {
  local dir=$1
  shift
  # Emptied here, not by the background shell's redirection: the loop below
  # must not read the previous run's "Monitoring started" and stop this one
  # before it has started.
  : >"$WORK/out"
  (cd "$dir" && exec env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY HOME="$WORK/home" \
    LC_ALL=C "$@" </dev/null >"$WORK/out" 2>&1) &
  local pid=$! i code=0
  for ((i = 0; i < 900; i++)); do
    grep -q "Monitoring started" "$WORK/out" && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -n ${WHILE_RUNNING:-} ]]; then "$WHILE_RUNNING"; fi
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || code=$?
  ((code == 0)) || fail "$* ended with $code: $(cat "$WORK/out")"
}

# The configuration used without an argument: the machine's if it has one.
shared_default() {
  if [[ -f /etc/sentrel/default.mon ]]; then echo /etc/sentrel/default.mon; else echo "$1"; fi
}

# Runs the program $1 with the rest as its arguments from another folder,
# with an empty home and no input; its stdout and stderr are in $WORK/out,
# and $code is its exit code.
run_to_end() {
  code=0
  (cd "$WORK/elsewhere" && exec env -u XDG_CONFIG_HOME -u DISPLAY -u WAYLAND_DISPLAY \
    HOME="$WORK/home" LC_ALL=C "$@" </dev/null >"$WORK/out" 2>&1) || code=$?
}

# `--version` says exactly the project's version.
check_version() {
  run_to_end "$1" --version
  [[ $code == 0 && $(cat "$WORK/out") == "Sentrel $VERSION" ]] ||
    fail "$1 --version ended with $code and said: $(cat "$WORK/out")"
}

# `--check` without an argument reads the installed sample $2 and finds
# nothing to report in it (a machine with a default of its own is given the
# sample by name).
check_installed_sample() {
  local args=()
  [[ $(shared_default "$2") == "$2" ]] || args=("$2")
  run_to_end "$1" --check "${args[@]}"
  [[ $code == 0 ]] && grep -qxF "$2: 1 item, no problems." "$WORK/out" ||
    fail "$1 --check of $2 ended with $code: $(cat "$WORK/out")"
}

echo "== installed tree"
P=$WORK/prefix
cmake --install "$BUILD" --prefix "$P" >/dev/null
for f in bin/sentrel share/sentrel/default.mon share/sentrel/Lang/English.lng \
  share/man/man1/sentrel.1.gz share/man/man5/sentrel.mon.5.gz share/doc/sentrel/README.md \
  share/doc/sentrel/docs/configuration.md share/doc/sentrel/docs/linux.md \
  share/doc/sentrel/docs/windows.md share/doc/sentrel/copyright share/doc/sentrel/changelog.gz \
  share/bash-completion/completions/sentrel lib/systemd/user/sentrel.service \
  lib/systemd/system/sentrel@.service; do
  [[ -f $P/$f ]] || fail "not installed: $f"
done
grep -qx "ExecStart=$P/bin/sentrel %E/sentrel/default.mon" "$P/lib/systemd/user/sentrel.service" ||
  fail "the user unit does not start the installed program"
grep -qx "ExecStart=$P/bin/sentrel /etc/sentrel/%i.mon" "$P/lib/systemd/system/sentrel@.service" ||
  fail "the system unit does not start the installed program"
zcat "$P/share/doc/sentrel/changelog.gz" | head -1 | grep -qF "sentrel ($VERSION)" ||
  fail "conf/changelog has no entry for $VERSION"
# Both units as systemd reads them: the user's by a user manager (which
# needs a runtime folder), the template through an instance of its own.
command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing (package systemd)"
mkdir -m 700 "$WORK/run"
verified=$( (XDG_RUNTIME_DIR="$WORK/run" systemd-analyze verify --man=no --user \
  "$P/lib/systemd/user/sentrel.service" &&
  systemd-analyze verify --man=no "$P/lib/systemd/system/sentrel@.service") 2>&1) ||
  fail "systemd-analyze verify: $verified"
[[ -z $verified ]] || fail "systemd-analyze verify: $verified"
for page in "$P/share/man/man1/sentrel.1.gz" "$P/share/man/man5/sentrel.mon.5.gz"; do
  warnings=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
  [[ -z $warnings ]] || fail "$page: $warnings"
  MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "Sentrel $VERSION" || fail "$page: no version"
done
mkdir -p "$WORK/complete/sub" && touch "$WORK/complete/a.mon" "$WORK/complete/b.txt"
words=$(cd "$WORK/complete" && bash -c 'source "$1"; COMP_WORDS=(sentrel --ver); COMP_CWORD=1
  _sentrel; echo "${COMPREPLY[*]}"; COMP_WORDS=(sentrel ""); _sentrel; echo "${COMPREPLY[*]}"' \
  _ "$P/share/bash-completion/completions/sentrel")
[[ $words == $'--version\na.mon sub' ]] || fail "completion gave: $words"
check_version "$P/bin/sentrel"
check_installed_sample "$P/bin/sentrel" "$P/share/sentrel/default.mon"

# The usage is the one source of the options and of the default
# configurations' order; the completion and the manual page must agree.
run_to_end "$P/bin/sentrel" --help
[[ $code == 0 ]] || fail "--help ended with $code"
# The options are the words that begin a line of the block (continuation
# lines begin with a word of text, and an option's argument ends the run).
help_options=$(sed -n '/^Options:/,/^$/p' "$WORK/out" |
  awk '{ for (i = 1; i <= NF && $i ~ /^-/; i++) { sub(/,$/, "", $i); print $i } }' | sort)
completed=$(bash -c 'source "$1"; COMP_WORDS=(sentrel -); COMP_CWORD=1; _sentrel
  printf "%s\n" "${COMPREPLY[@]}"' _ "$P/share/bash-completion/completions/sentrel" | sort)
[[ -n $help_options && $completed == "$help_options" ]] ||
  fail "the completion offers $(echo $completed), --help lists $(echo $help_options)"
help_places=$(sed -n '/^Without CONFIG/,/^$/s/^  //p' "$WORK/out" | sed "s|^$WORK/home/|~/|")
man_places=$(MANWIDTH=80 man -l "$P/share/man/man1/sentrel.1.gz" 2>/dev/null |
  sed -n '/^FILES/,/^EXIT STATUS/s/^ *\([^ ]*default\.mon\)$/\1/p')
[[ $(echo $help_places | wc -w) == 4 && $man_places == "$help_places" ]] ||
  fail "the manual names $(echo $man_places), --help $(echo $help_places)"

# Every environment variable the program reads is in the manual.
man_environment=$(MANWIDTH=80 man -l "$P/share/man/man1/sentrel.1.gz" 2>/dev/null |
  sed -n '/^ENVIRONMENT/,/^[A-Z]/p')
read_variables=$(grep -rhoE '(getenv|XdgDir)\("[A-Z_]+"' "$SRC/src" --include='*.cpp' \
  --exclude='*_test.cpp' --exclude='*_win32.cpp' | cut -d'"' -f2 | sort -u)
for variable in $read_variables DISPLAY WAYLAND_DISPLAY TZ; do
  grep -qw "$variable" <<<"$man_environment" || fail "man sentrel: ENVIRONMENT lacks $variable"
done

run_until_started "$WORK/elsewhere" "$P/bin/sentrel"
grep -q "^Sentrel $VERSION " "$WORK/out" || fail "banner: $(cat "$WORK/out")"
expected=$(shared_default "$P/share/sentrel/default.mon")
grep -qF "Configuration file \"$expected\" is loaded." "$WORK/out" ||
  fail "the installed default was not loaded: $(cat "$WORK/out")"

echo "== the program alone, without GoogleTest, Google Benchmark and the X11 headers"
LEAN=$BUILD-lean
cmake -S "$SRC" -B "$LEAN" -G Ninja -DSENTREL_TESTS=OFF \
  -DCMAKE_CXX_COMPILER_LAUNCHER="$(command -v ccache || true)" \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  -DCMAKE_DISABLE_FIND_PACKAGE_X11=ON --no-warn-unused-cli >/dev/null
cmake --build "$LEAN" -j "$JOBS" >/dev/null
if readelf -d "$LEAN/sentrel" "$BUILD/sentrel" | grep NEEDED | grep -qi x11; then
  fail "sentrel is linked with libX11"
fi
run_until_started "$WORK/elsewhere" "$LEAN/sentrel"
grep -qF "Configuration file \"$LEAN/default.mon\" is loaded." "$WORK/out" ||
  fail "the lean build did not load the default beside it: $(cat "$WORK/out")"

echo "== Debian package"
rm -f "$BUILD"/sentrel_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
deb=$(echo "$BUILD"/sentrel_"$VERSION"_*.deb)
[[ -f $deb ]] || fail "no package made"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
# Debian's own checks: an error or a warning fails (notes and hints do not).
command -v lintian >/dev/null || fail "lintian is missing (package lintian)"
lintian --fail-on error,warning "$deb" >"$WORK/lintian" 2>&1 ||
  fail "lintian: $(cat "$WORK/lintian")"
# README gives the size of the package ("about 450 kB"): within a third of it.
said=$(grep -oE 'about [0-9]+ kB' "$SRC/README.md" | head -1 | grep -oE '[0-9]+')
size=$(($(stat -c %s "$deb") / 1000))
[[ -n $said ]] && ((size * 3 >= said * 2 && size * 3 <= said * 4)) ||
  fail "README says the package is about ${said:-?} kB; it is $size kB"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
echo "Recommends: $(dpkg-deb -f "$deb" Recommends)"
if dpkg-deb -f "$deb" Depends | grep -qi x11; then fail "the package depends on libX11"; fi
dpkg -i "$deb" >/dev/null
PACKAGE_INSTALLED=1
[[ $(command -v sentrel) == /usr/bin/sentrel ]] || fail "sentrel is not /usr/bin/sentrel"
grep -qx "ExecStart=/usr/bin/sentrel %E/sentrel/default.mon" /usr/lib/systemd/user/sentrel.service ||
  fail "the packaged user unit does not start /usr/bin/sentrel"
grep -qx "ExecStart=/usr/bin/sentrel /etc/sentrel/%i.mon" /usr/lib/systemd/system/sentrel@.service ||
  fail "the packaged system unit does not start /usr/bin/sentrel"
check_version sentrel
check_installed_sample sentrel /usr/share/sentrel/default.mon
run_until_started "$WORK/elsewhere" sentrel
expected=$(shared_default /usr/share/sentrel/default.mon)
grep -qF "Configuration file \"$expected\" is loaded." "$WORK/out" ||
  fail "the packaged default was not loaded: $(cat "$WORK/out")"

# A short monitoring run: files made in a watched folder are listed.
mkdir -p "$WORK/watched"
cat >"$WORK/watch.mon" <<EOF
IsDirectory=1
FileName=$WORK/watched
Interval=1
Action=0
ListName=$WORK/changes.lst
ListAppend=1
EOF
echo EOF >>"$WORK/watch.mon"
make_files_until_listed() {
  local i
  for ((i = 0; i < 60; i++)); do
    touch "$WORK/watched/new-$i"
    [[ -s $WORK/changes.lst ]] && return
    sleep 0.5
  done
}
WHILE_RUNNING=make_files_until_listed run_until_started "$WORK/elsewhere" sentrel "$WORK/watch.mon"
grep -q "$WORK/watched/new-" "$WORK/changes.lst" || fail "nothing listed: $(cat "$WORK/out")"

dpkg --purge sentrel >/dev/null
PACKAGE_INSTALLED=0
[[ ! -e /usr/bin/sentrel && ! -e /usr/share/sentrel ]] || fail "files left after the purge"
echo "install check passed"
