#!/bin/sh
# The Windows Installer package in a fresh Wine prefix, as an IT department
# uses it: silent install, the Start-menu shortcut and the "Programs and
# Features" entry, the installed program (its version, a capture from the
# simulated instrument on a COM port, a calibration saved under %APPDATA%),
# the upgrade by a newer package and the silent removal, which keeps the
# user's calibration.
#   msi_test.sh MSI UPGRADE_MSI WINE_RUN XVFB_RUN SPECTROSIM WORK_DIR
set -eu
MSI=$1
UPGRADE=$2
WINE_RUN=$3
XVFB_RUN=$4
SPECTROSIM=$5
WORK=$6
fail() { echo "FAIL: $*"; exit 1; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
wine() { "$WINE_RUN" --dir "$WORK/wine" "$@"; }
unixpath() { realpath -m "$(wine winepath -u "$1" | tr -d '\r')"; }
winvar() { wine cmd /c echo "%$1%" | tr -d '\r'; }
uninstall_entries() {  # "DisplayName DisplayVersion" of this product's entries
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | tr -d '\r' |
    awk '/^HKEY/ { name = ""; version = "" }
         $1 == "DisplayName" { name = $3 }
         $1 == "DisplayVersion" { version = $3 }
         $1 == "UninstallString" && name == "Spektrometer" { print name, version, $3 }'
}
SIM_PID=
cleanup() {
  [ -z "$SIM_PID" ] || kill "$SIM_PID" 2>/dev/null || true
  "$WINE_RUN" --dir "$WORK/wine" --stop || true
}
trap cleanup EXIT

rm -rf "$WORK"
mkdir -p "$WORK"
wine --setup
wine msiexec /i "$(winpath "$MSI")" /qn || fail "install: exit status $?"

PROGRAM=$(unixpath "$(winvar ProgramFiles)\\Spektrometer")
APPDATA=$(unixpath "$(winvar APPDATA)")
for f in spectrometer.exe LIESMICH.txt spektrometer.installed; do
  [ -f "$PROGRAM/$f" ] || { ls -la "$PROGRAM"; fail "no $f in $PROGRAM"; }
done
[ ! -e "$PROGRAM/data" ] || fail "the package put a data folder into $PROGRAM"

# The shortcut: in the common Start menu, where Windows puts a per-machine
# package's; Wine puts it into the user's.
LINK=
for menu in "$(unixpath "$(winvar ProgramData)\\Microsoft\\Windows\\Start Menu\\Programs")" \
            "$APPDATA/Microsoft/Windows/Start Menu/Programs"; do
  [ ! -f "$menu/Spektrometer.lnk" ] || LINK="$menu/Spektrometer.lnk"
done
[ -n "$LINK" ] || fail "no Spektrometer.lnk in a Start menu"
python3 -c 'import sys; d = open(sys.argv[1], "rb").read().lower(); t = b"spektrometer\\spectrometer.exe"
sys.exit(0 if t in d or t.decode().encode("utf-16-le") in d else 1)' "$LINK" ||
  fail "the shortcut does not point to the installed program"

VERSION=$(wine "$PROGRAM/spectrometer.exe" --version | tr -d '\r' | awk '{ print $2 }')
ENTRIES=$(uninstall_entries)
echo "$ENTRIES" | grep -q "^Spektrometer $VERSION MsiExec.exe" || fail "uninstall entry: '$ENTRIES' (version $VERSION)"

# One capture from the simulated instrument on COM54 (a pty), then a
# calibration saved from the calibration window.
mkdir -p "$WORK/portmap"
SPECTRO_PORTMAP_DIR="$WORK/portmap" "$SPECTROSIM" --fast --lamp sodium >"$WORK/sim.out" </dev/null &
SIM_PID=$!
for _ in $(seq 50); do [ -s "$WORK/sim.out" ] && break; sleep 0.1; done
PTY=$(awk '{ print $1; exit }' "$WORK/sim.out")
[ -c "$PTY" ] || fail "simulator: '$(cat "$WORK/sim.out")'"
ln -sf "$PTY" "$WORK/wine/ports/COM54"
cat >"$WORK/script" <<'EOF'
select COM54
wait temperature 20000
set LECapture 1
click bSend
wait points 128 20000
menu Eichung1
set EI1 50
set EW1 500
set EI2 100
set EW2 600
click Button3
quit
EOF
# A wineserver started without a display (by the installation) leaves
# Wine unable to create the program's hidden top-level window: start anew.
"$WINE_RUN" --dir "$WORK/wine" --stop
"$XVFB_RUN" -a "$WINE_RUN" --dir "$WORK/wine" "$PROGRAM/spectrometer.exe" --automate "$(winpath "$WORK/script")" \
  >"$WORK/out" 2>&1 </dev/null || { cat "$WORK/out"; fail "the installed program: exit status"; }
! grep -q '^message ' "$WORK/out" || { cat "$WORK/out"; fail "message box"; }
USERCAL="$APPDATA/Spektrometer/data/conf.dat"
[ "$(od -An -c "$USERCAL" | tr -d ' \n')" = '2\r\n400\r\n' ] || fail "calibration: $(od -c "$USERCAL" 2>&1)"
[ ! -e "$PROGRAM/data" ] || fail "the installed program wrote beside itself"

# A newer package replaces the installed one: one entry, the new version.
wine msiexec /i "$(winpath "$UPGRADE")" /qn || fail "upgrade: exit status $?"
ENTRIES=$(uninstall_entries)
[ "$(echo "$ENTRIES" | wc -l)" -eq 1 ] || fail "after the upgrade: '$ENTRIES'"
NEW=$(echo "$ENTRIES" | awk '{ print $2 }')
[ "$NEW" != "$VERSION" ] || fail "the upgrade left version $VERSION"
[ -f "$PROGRAM/spectrometer.exe" ] && [ -f "$LINK" ] || fail "the upgrade lost the program or its shortcut"
# An older package does not replace a newer one.
! wine msiexec /i "$(winpath "$MSI")" /qn || fail "the older package installed over the newer one"

# Silent removal: program, folder, shortcut and entry go, the calibration stays.
wine msiexec /x "$(winpath "$UPGRADE")" /qn || fail "removal: exit status $?"
[ ! -e "$PROGRAM" ] || { ls -la "$PROGRAM"; fail "$PROGRAM is left"; }
[ ! -e "$LINK" ] || fail "the shortcut is left"
[ -z "$(uninstall_entries)" ] || fail "the uninstall entry is left"
[ "$(od -An -c "$USERCAL" | tr -d ' \n')" = '2\r\n400\r\n' ] || fail "the removal touched the calibration"
echo "msi ok: $VERSION -> $NEW, shortcut $LINK"
