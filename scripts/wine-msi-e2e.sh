#!/usr/bin/env bash
# Installs Sentrel from its MSI under Wine as an administrator would, and
# runs it as the Sentrel service: the silent install (program, sample,
# language file, PATH entry, service) as an upgrade of an older version,
# which it replaces and which may not then come back, the installed
# program's --check, the service started on %ProgramData%\Sentrel\default.mon
# watching a folder, a file made there seen in the item's list and in the
# service's log, the orderly stop (the end in the log, the state saved), the
# silent removal, and then nothing installed left while the user's own files
# stay.
#   bash scripts/wine-msi-e2e.sh [BUILD]     (BUILD: default build-win)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build-win}
[[ $BUILD == /* ]] || BUILD="$PWD/$BUILD"
MSI=$(ls "$BUILD"/sentrel-*-x64.msi 2>/dev/null | head -n1)
[[ -f $MSI ]] || { echo "no MSI in $BUILD: cmake --build $BUILD --target windows_packages" >&2; exit 1; }
[[ -f ${MSI%.msi}.zip ]] || { echo "no ZIP beside $MSI" >&2; exit 1; }
if [[ -z ${WINE_SCRATCH:-} ]]; then source scripts/wine-env.sh; fi

fail() {
  echo "FAIL (MSI and service): $1" >&2
  [[ -f ${LOG:-} ]] && { echo "--- service log" >&2; cat "$LOG" >&2; }
  exit 1
}
now_ms() { date +%s%3N; }
# Waits up to 30 s for the command "$@" to succeed.
wait_for() {
  local deadline=$(($(now_ms) + 30000))
  until "$@"; do
    (($(now_ms) < deadline)) || return 1
    sleep 0.1
  done
}
windows_path() { wine winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r'; }
reg_value() { wine reg query "$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { $1 = ""; $2 = ""; sub(/^  */, ""); print }'; }
ENV_KEY='HKLM\System\CurrentControlSet\Control\Session Manager\Environment'
SERVICE_KEY='HKLM\System\CurrentControlSet\Services\Sentrel'

DRIVE_C="$WINEPREFIX/drive_c"
INSTALLED="$DRIVE_C/Program Files/Sentrel"
MACHINE="$DRIVE_C/ProgramData/Sentrel"
LOG="$MACHINE/sentrel.log"
WORK=$(mktemp -d "$WINE_SCRATCH/msi.XXXXXX")
mkdir -p "$WORK/watched" "$MACHINE"
LIST="$WORK/list.txt"
: >"$LIST"

# The machine's configuration, and a user's own one: both must outlive the
# removal. A popup is there for --check to warn of under a service.
printf '%s\r\n' "IsDirectory=1" "FileName=$(windows_path "$WORK/watched")" "Interval=1" \
  "Conditions=1110" "StorePrevInfo=1" "SaveState=1" "RealTime=1" "Action=0" \
  "ListName=$(windows_path "$LIST")" "ListAppend=1" 'ListParams=added: %Name' "EOF" >"$MACHINE/default.mon"
CONFIG_W='C:\ProgramData\Sentrel\default.mon'
APPDATA_DIR=$(wine cmd /c 'echo %APPDATA%' </dev/null 2>/dev/null | tr -d '\r')
USER_CONF="$(wine winepath -u "$APPDATA_DIR" </dev/null 2>/dev/null)/Sentrel/mine.mon"
mkdir -p "$(dirname "$USER_CONF")"
printf 'IsDirectory=1\r\nEOF\r\n' >"$USER_CONF"

# One service manager answers, or every start waits and fails.
# Those of this prefix only: other Wine prefixes may run beside it.
managers() {
  local n=0 p
  for p in $(pgrep -f 'services.exe' || true); do
    { tr '\0' '\n' <"/proc/$p/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && n=$((n + 1))
  done
  echo "$n"
}
one_manager() { (($(managers) == 1)); }
wait_for one_manager || fail "$(managers) service managers run instead of one"

# An older version is installed first, so that this install is an upgrade:
# the same files and upgrade code under a lower version, built as the
# build does.
VERSION=${MSI##*/sentrel-}
VERSION=${VERSION%-x64.msi}
OLD_MSI="$WORK/sentrel-0.9.0-x64.msi"
ROOT=$PWD
(cd "$BUILD/package" && wixl -a x64 -D Version=0.9.0 -D Files="sentrel-$VERSION-x64" \
  -o "$OLD_MSI" "$ROOT/packaging/sentrel.wxs" >/dev/null 2>&1 &&
  bash "$ROOT/packaging/msi-path.sh" "$OLD_MSI" >/dev/null 2>&1) ||
  fail "the older package could not be built"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The versions of Sentrel that Programs and Features lists, one a line.
listed_versions() {
  wine reg query "$UNINSTALL_KEY" /s </dev/null 2>/dev/null | tr -d '\r' |
    awk '$1 == "DisplayName" { named = ($3 == "Sentrel") } $1 == "DisplayVersion" && named { print $3; named = 0 }'
}
wine msiexec /i "$(windows_path "$OLD_MSI")" /qn </dev/null >/dev/null 2>&1 ||
  fail "msiexec /i of the older version ended with $?"
[[ $(listed_versions) == 0.9.0 ]] || fail "the older version is not listed: $(listed_versions)"

wine msiexec /i "$(windows_path "$MSI")" ADDLOCAL=ALL /qn </dev/null >/dev/null 2>&1 ||
  fail "msiexec /i ended with $?"
[[ $(listed_versions) == "$VERSION" ]] ||
  fail "after the upgrade Programs and Features lists: $(listed_versions | tr '\n' ' ')"
code=0
wine msiexec /i "$(windows_path "$OLD_MSI")" /qn </dev/null >/dev/null 2>&1 || code=$?
((code != 0)) && [[ $(listed_versions) == "$VERSION" ]] ||
  fail "the older version was installed over the newer one"
for f in sentrel.exe default.mon Lang/English.lng README.md LICENSE.txt; do
  [[ -f "$INSTALLED/$f" ]] || fail "not installed: $f"
done
(($(reg_value "$ENV_KEY" PATH | grep -oiF 'C:\Program Files\Sentrel' | wc -l) == 1)) ||
  fail "the folder is not on PATH once: $(reg_value "$ENV_KEY" PATH)"
[[ -n $(reg_value "$SERVICE_KEY" ImagePath) ]] || fail "the service is not registered"
reg_value "$SERVICE_KEY" Start | grep -q '0x2' || fail "the service does not start automatically"

EXE_W='C:\Program Files\Sentrel\sentrel.exe'
wine "$EXE_W" --check </dev/null >"$WORK/check.txt" 2>&1 || fail "the installed sentrel.exe --check failed: $(cat "$WORK/check.txt")"
printf '%s\r\n' "IsDirectory=1" "FileName=C:\\" "Action=2" "Message=hello" "EOF" >"$WORK/popup.mon"
code=0
wine "$EXE_W" --check --service "$(windows_path "$WORK/popup.mon")" </dev/null >"$WORK/check.txt" 2>&1 || code=$?
((code == 1)) && grep -q 'service has no desktop' "$WORK/check.txt" ||
  fail "--check --service did not warn of a popup: $(cat "$WORK/check.txt")"

wine net start Sentrel </dev/null >/dev/null 2>&1 || fail "net start Sentrel failed"
listed() { tr -d '\r' <"$LIST" | grep -qx "added: $1"; }
logged() { [[ -f $LOG ]] && tr -d '\r' <"$LOG" | grep -q "$1"; }
wait_for logged 'Monitoring started' || fail "the service's log has no start"
# Files are made until one is listed: the service's first check takes the
# folder as it is.
n=0
deadline=$(($(now_ms) + 60000))
until [[ -s $LIST ]]; do
  (($(now_ms) < deadline)) || fail "no file made in the watched folder was listed within 60 s"
  n=$((n + 1))
  : >"$WORK/watched/probe$n.txt"
  sleep 1
done
echo "report" >"$WORK/watched/report.txt"
wait_for listed report.txt || fail "report.txt was not listed"

t=$(now_ms)
wine net stop Sentrel </dev/null >/dev/null 2>&1 || fail "net stop Sentrel failed"
wait_for logged 'ended with exit code 0' || fail "the log does not record an orderly end"
stopped=$(($(now_ms) - t))
STATE_DIR="$(wine winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')" </dev/null 2>/dev/null)/Sentrel/state"
ls "$STATE_DIR"/* >/dev/null 2>&1 || fail "no state saved in $STATE_DIR"

wine msiexec /x "$(windows_path "$MSI")" /qn </dev/null >/dev/null 2>&1 || fail "msiexec /x ended with $?"
left=$(find "$INSTALLED" -type f 2>/dev/null || true)
[[ -z $left ]] || fail "left after removal: $left"
[[ -z $(reg_value "$SERVICE_KEY" ImagePath) ]] || fail "the service is still registered"
[[ -z $(listed_versions) ]] || fail "Programs and Features still lists $(listed_versions)"
reg_value "$ENV_KEY" PATH | grep -qiF 'Program Files\Sentrel' && fail "PATH still names the folder"
for f in "$MACHINE/default.mon" "$LOG" "$USER_CONF"; do
  [[ -f $f ]] || fail "the removal took the user's $f"
done
ls "$STATE_DIR"/* >/dev/null 2>&1 || fail "the removal took the saved state"

echo "MSI under Wine: installed over an older version (program, sample, language, PATH," \
  "service; the older one replaced, a downgrade refused), --check clean," \
  "the service listed and logged a new file, stopped in order in ${stopped} ms" \
  "(end logged, state saved), removed with the user's files left"
