#!/usr/bin/env bash
# Installs Sentrel from its MSI under Wine as an administrator would, runs it
# as the Sentrel service, upgrades it and troubleshoots it:
# - an older version with the Service feature alone (the program comes with
#   it; the service's sample configuration, checked clean for a service, and
#   its watched folder in %ProgramData%\Sentrel);
# - this version over it with every feature (the older one replaced and
#   refused afterwards, the administrator's configuration kept, PATH, the
#   service and its event source registered), the installed program's
#   --check and --check --service;
# - the service watching a folder: a new file in the item's list and in the
#   service's log (console lists there too), the log's lines (CR LF, no
#   banner, no key hint, no empty line), the log renamed by a rotation while
#   the service writes it and opened anew at the reload;
# - a newer version installed over the running service: the service
#   registered as it was, running again, a file made after it reported;
# - failed starts (the log's folder missing, the configuration missing):
#   the service stopped at once, each with its reason in the event log,
#   and a warning at a start there too: Wine's event log is its "eventlog"
#   debug channel on the service manager's standard error;
# - the silent removal: nothing installed left (service, event source), the
#   user's own files, the machine's configuration and the state kept.
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
  [[ -f ${EVENTS:-} ]] && { echo "--- event log" >&2; grep -a 'eventlog' "$EVENTS" >&2; }
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
SOURCE_KEY='HKLM\System\CurrentControlSet\Services\EventLog\Application\Sentrel'

DRIVE_C="$WINEPREFIX/drive_c"
INSTALLED="$DRIVE_C/Program Files/Sentrel"
MACHINE="$DRIVE_C/ProgramData/Sentrel"
LOG="$MACHINE/sentrel.log"
WORK=$(mktemp -d "$WINE_SCRATCH/msi.XXXXXX")
mkdir -p "$WORK/watched"
LIST="$WORK/list.txt"
: >"$LIST"

# What Wine's ReportEventW says goes to the eventlog debug channel of the
# process that writes the event; a service's standard error is the service
# manager's. So the server is started anew, and the manager with it, by a
# first program with that channel on and its standard error in a file.
EVENTS="$WORK/events.txt"
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
WINEDEBUG=-all,err+eventlog,warn+eventlog wine cmd /c exit </dev/null >/dev/null 2>"$EVENTS"
# Error events (err:) and warnings (warn:) holding the text $2.
event() { grep -a "^[0-9a-f:]*$1:eventlog:" "$EVENTS" | grep -qF -- "$2"; }

# A user's own configuration: it must outlive the removal.
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

# An older and a newer version: the same files and upgrade code under
# another version, built as the build does.
VERSION=${MSI##*/sentrel-}
VERSION=${VERSION%-x64.msi}
NEW_VERSION="${VERSION%.*}.$((${VERSION##*.} + 1))"
ROOT=$PWD
build_msi() {
  (cd "$BUILD/package" && wixl -a x64 -D Version="$1" -D Files="sentrel-$VERSION-x64" \
    -o "$2" "$ROOT/packaging/sentrel.wxs" >/dev/null 2>&1 &&
    bash "$ROOT/packaging/msi-finish.sh" "$2" >/dev/null 2>&1) ||
    fail "the package of version $1 could not be built"
}
OLD_MSI="$WORK/sentrel-0.9.0-x64.msi"
NEW_MSI="$WORK/sentrel-$NEW_VERSION-x64.msi"
build_msi 0.9.0 "$OLD_MSI"
build_msi "$NEW_VERSION" "$NEW_MSI"
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# The versions of Sentrel that Programs and Features lists, one a line.
listed_versions() {
  wine reg query "$UNINSTALL_KEY" /s </dev/null 2>/dev/null | tr -d '\r' |
    awk '$1 == "DisplayName" { named = ($3 == "Sentrel") } $1 == "DisplayVersion" && named { print $3; named = 0 }'
}
EXE_W='C:\Program Files\Sentrel\sentrel.exe'
CONFIG_W='C:\ProgramData\Sentrel\default.mon'

# The Service feature alone brings the program it needs, and the service's
# sample, which a service can run as it is.
wine msiexec /i "$(windows_path "$OLD_MSI")" ADDLOCAL=Service /qn </dev/null >/dev/null 2>&1 ||
  fail "msiexec /i of the older version with ADDLOCAL=Service ended with $?"
[[ $(listed_versions) == 0.9.0 ]] || fail "the older version is not listed: $(listed_versions)"
[[ -f "$INSTALLED/sentrel.exe" ]] || fail "ADDLOCAL=Service installed no program"
[[ -n $(reg_value "$SERVICE_KEY" ImagePath) ]] || fail "ADDLOCAL=Service registered no service"
[[ -f "$MACHINE/default.mon" && -d "$MACHINE/Watched" ]] ||
  fail "the service's sample or its watched folder is not in %ProgramData%\\Sentrel"
# Without CONFIG, --check --service reads what the registered service reads.
code=0
wine "$EXE_W" --check --service </dev/null >"$WORK/check.txt" 2>&1 || code=$?
((code == 0)) && tr -d '\r' <"$WORK/check.txt" | grep -qxF "$CONFIG_W: 1 item, no problems." ||
  fail "--check --service of the installed sample: $(cat "$WORK/check.txt")"

# The administrator's own configuration replaces the sample. A list named
# CON goes to the service's log.
write_config() {
  printf '%s\r\n' "IsDirectory=1" "FileName=$(windows_path "$WORK/watched")" "Interval=1" \
    "Conditions=1110" "StorePrevInfo=1" "SaveState=1" "RealTime=1" "Action=0" \
    "ListName=$(windows_path "$LIST")" "ListAppend=1" 'ListParams=added: %Name' \
    "Action=0" "ListName=CON" 'ListParams=console: %Name' "$@" "EOF" >"$MACHINE/default.mon"
}
write_config

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
grep -q "ListName=CON" "$MACHINE/default.mon" || fail "the upgrade replaced the machine's configuration"
(($(reg_value "$ENV_KEY" PATH | grep -oiF 'C:\Program Files\Sentrel' | wc -l) == 1)) ||
  fail "the folder is not on PATH once: $(reg_value "$ENV_KEY" PATH)"
IMAGE=$(reg_value "$SERVICE_KEY" ImagePath)
[[ -n $IMAGE ]] || fail "the service is not registered"
reg_value "$SERVICE_KEY" Start | grep -q '0x2' || fail "the service does not start automatically"
[[ -n $(reg_value "$SOURCE_KEY" EventMessageFile) ]] || fail "the event source is not registered"

wine "$EXE_W" --check </dev/null >"$WORK/check.txt" 2>&1 || fail "the installed sentrel.exe --check failed: $(cat "$WORK/check.txt")"
printf '%s\r\n' "IsDirectory=1" "FileName=C:\\" "Action=2" "Message=hello" "Action=0" "ListName=con" "EOF" >"$WORK/popup.mon"
code=0
wine "$EXE_W" --check --service "$(windows_path "$WORK/popup.mon")" </dev/null >"$WORK/check.txt" 2>&1 || code=$?
((code == 1)) && grep -q 'service has no desktop' "$WORK/check.txt" && grep -q 'goes to the log' "$WORK/check.txt" ||
  fail "--check --service did not warn of a popup and a console list: $(cat "$WORK/check.txt")"

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
wait_for logged 'INFO  console: report.txt' || fail "the console list is not in the service's log"

# The service's log is read line by line: CR LF as the lists, no banner, no
# hint of keys, no empty line.
grep -qv $'\r$' "$LOG" && fail "a line of the log does not end in CR LF"
tr -d '\r' <"$LOG" | grep -qE "console version|Press 'X'|^$" && fail "the service's log has console lines"

# A rotation renames the log while the service writes it; the reload that
# follows opens a new one.
wine cmd /c ren "$(windows_path "$LOG")" sentrel.1.log </dev/null >"$WORK/ren.txt" 2>&1 ||
  fail "the running service's log cannot be renamed: $(cat "$WORK/ren.txt")"
[[ -f $MACHINE/sentrel.1.log && ! -f $LOG ]] || fail "the log was not renamed"
write_config "Comment=rotated"
wait_for logged 'Configuration reloaded' || fail "no new log after the reload"

# A newer version over the running service: stopped for the file swap,
# registered as it was, started again.
wine msiexec /i "$(windows_path "$NEW_MSI")" /qn </dev/null >"$WORK/upgrade.txt" 2>&1 ||
  fail "msiexec /i of version $NEW_VERSION over the running service ended with $?"
[[ $(listed_versions) == "$NEW_VERSION" ]] || fail "after the upgrade: $(listed_versions | tr '\n' ' ')"
[[ $(reg_value "$SERVICE_KEY" ImagePath) == "$IMAGE" ]] ||
  fail "the upgrade changed the service: $(reg_value "$SERVICE_KEY" ImagePath)"
logged 'ended with exit code 0' || fail "the service was not stopped in order for the upgrade"
# The log begun at the reload has the upgrade's stop, then the new start.
wait_for logged 'Monitoring started' || fail "the service did not start again after the upgrade"
echo "after" >"$WORK/watched/after.txt"
wait_for listed after.txt || fail "a file made after the upgrade was not listed"

t=$(now_ms)
wine net stop Sentrel </dev/null >/dev/null 2>&1 || fail "net stop Sentrel failed"
wait_for logged 'ended with exit code 0' || fail "the log does not record an orderly end"
stopped=$(($(now_ms) - t))
STATE_DIR="$(wine winepath -u "$(wine cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')" </dev/null 2>/dev/null)/Sentrel/state"
ls "$STATE_DIR"/* >/dev/null 2>&1 || fail "no state saved in $STATE_DIR"

# Starts that fail: the service stops at once, the event log says why.
reinstall() {
  wine "$EXE_W" --remove-service </dev/null >/dev/null 2>&1 || fail "--remove-service failed"
  wine "$EXE_W" --install-service "$@" </dev/null >"$WORK/install.txt" 2>&1 ||
    fail "--install-service $* failed: $(cat "$WORK/install.txt")"
}
stopped_service() {
  wine sc query Sentrel </dev/null >"$WORK/sc.txt" 2>/dev/null
  tr -d '\r' <"$WORK/sc.txt" | grep -q 'STATE *: *1 *STOPPED'
}
# Wine's StartService returns at the service's first word, "start pending",
# so its net may call a start that fails a moment later a success (on
# Windows net waits for the outcome): what counts is that it returns, that
# the service is stopped, and why.
failed_start() {
  wine net start Sentrel </dev/null >"$WORK/net.txt" 2>&1 || true
  wait_for event err "$2" || fail "the event log does not say why the service did not start ($1)"
  wait_for stopped_service || fail "the service runs though it could not start ($1): $(cat "$WORK/sc.txt")"
}
reinstall --log 'C:\nowhere\sentrel.log' "$CONFIG_W"
grep -q "warning: the log's folder" "$WORK/install.txt" || fail "no warning of the log's folder: $(cat "$WORK/install.txt")"
failed_start "the log's folder missing" 'cannot open the log'
reinstall 'C:\ProgramData\Sentrel\missing.mon'
grep -q "warning: the configuration" "$WORK/install.txt" || fail "no warning of the configuration: $(cat "$WORK/install.txt")"
failed_start "the configuration missing" 'missing.mon'
reinstall "$CONFIG_W"
write_config "Bogus=blue"
wine net start Sentrel </dev/null >/dev/null 2>&1 || fail "net start Sentrel failed on a configuration with a warning"
wait_for event warn 'unknown key' || fail "a warning at the start is not in the event log"
wine net stop Sentrel </dev/null >/dev/null 2>&1 || fail "net stop Sentrel failed"

wine msiexec /x "$(windows_path "$NEW_MSI")" /qn </dev/null >/dev/null 2>&1 || fail "msiexec /x ended with $?"
left=$(find "$INSTALLED" -type f 2>/dev/null || true)
[[ -z $left ]] || fail "left after removal: $left"
[[ -z $(reg_value "$SERVICE_KEY" ImagePath) ]] || fail "the service is still registered"
[[ -z $(reg_value "$SOURCE_KEY" EventMessageFile) ]] || fail "the event source is still registered"
[[ -z $(listed_versions) ]] || fail "Programs and Features still lists $(listed_versions)"
reg_value "$ENV_KEY" PATH | grep -qiF 'Program Files\Sentrel' && fail "PATH still names the folder"
for f in "$MACHINE/default.mon" "$LOG" "$USER_CONF"; do
  [[ -f $f ]] || fail "the removal took the user's $f"
done
ls "$STATE_DIR"/* >/dev/null 2>&1 || fail "the removal took the saved state"

echo "MSI under Wine: the Service feature alone with its program and sample (checked clean)," \
  "this version over it (PATH, service, event source; a downgrade refused), --check clean," \
  "the service listed and logged a new file, its log renamed and opened anew at the reload," \
  "version $NEW_VERSION installed over the running service (kept, started again, a new file" \
  "listed), stopped in order in ${stopped} ms, failed starts reported with their reasons in the" \
  "event log, removed with the user's files left"
