# Sourced by the scripts that run Windows programs under Wine: gives Wine a
# prefix, a home and a data folder of its own in a temporary folder (removed
# when the calling script ends) and starts one Wine server for the whole run.
# Sets WINE_SCRATCH to that folder.

WINE_SCRATCH=$(mktemp -d "${TMPDIR:-/tmp}/sentrel-wine.XXXXXX")
export WINE_SCRATCH
export WINEPREFIX="$WINE_SCRATCH/prefix" WINEARCH=win64 WINEDEBUG=-all
# Without a UTF-8 locale Wine hands non-ASCII names over mangled.
export LANG=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winealsa.drv,winepulse.drv=d"
# Wine's recycle bin is the XDG trash of this home.
export HOME="$WINE_SCRATCH/home" XDG_DATA_HOME="$WINE_SCRATCH/data"
export XDG_CONFIG_HOME="$WINE_SCRATCH/config"
# No X display: Wine draws nothing. Its null display driver (set below)
# still keeps a desktop whose windows and message boxes exist, are listed
# and take messages, so the tests can see them and press their buttons.
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"

wine_cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$WINE_SCRATCH"
}
trap wine_cleanup EXIT

# The server inherits the standard streams of the first Wine process, and a
# pipe it holds never closes: the prefix is made, then a server is started
# apart with its streams on /dev/null and kept for every program (one then
# starts in tens of milliseconds instead of half a second).
# "wineboot -u" rather than "-i": a prefix made with -i sometimes runs two
# service managers, and then every service start and MSI install waits and
# fails.
wineboot -u </dev/null >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
wineserver -k >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1
