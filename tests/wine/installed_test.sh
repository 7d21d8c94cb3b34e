#!/bin/sh
# Where spectrometer.exe keeps its calibration under Wine: a copy with the
# installer's marker beside it creates %APPDATA%\Spektrometer\data\conf.dat
# with the calibration dialog's initial lines; a copy without it keeps using
# data\conf.dat beside itself and leaves %APPDATA% alone.
#   installed_test.sh EXE WINE_RUN WINE_DIR XVFB_RUN WORK_DIR
set -eu
EXE=$1
WINE_RUN=$2
WINE_DIR=$3
XVFB_RUN=$4
WORK=$5
fail() { echo "FAIL: $*"; exit 1; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

rm -rf "$WORK"
mkdir -p "$WORK"
printf 'quit\n' >"$WORK/script"

# The prefix's roaming data folder, as Wine reports it to programs.
APPDATA_WIN=$("$WINE_RUN" --dir "$WINE_DIR" cmd /c echo %APPDATA% | tr -d '\r')
APPDATA=$("$WINE_RUN" --dir "$WINE_DIR" winepath -u "$APPDATA_WIN" | tr -d '\r')
APPDATA=$(realpath -m "$APPDATA")
case "$APPDATA" in
  "$(realpath "$WINE_DIR")"/prefix/drive_c/users/*/AppData/Roaming) ;;
  *) fail "APPDATA -> $APPDATA" ;;
esac
USERCAL="$APPDATA/Spektrometer/data/conf.dat"
rm -rf "$APPDATA/Spektrometer"

run() {  # run FOLDER: the copy in FOLDER with the script, on Xvfb
  "$XVFB_RUN" -a "$WINE_RUN" --dir "$WINE_DIR" "$1/spectrometer.exe" --automate "$(winpath "$WORK/script")" \
    >"$WORK/out" 2>&1 </dev/null || { cat "$WORK/out"; fail "$1: exit status"; }
  tr -d '\r' <"$WORK/out" >"$WORK/out.txt"
  ! grep -q '^message ' "$WORK/out.txt" || { cat "$WORK/out.txt"; fail "$1: message box"; }
}

# Unpacked: data\conf.dat beside the exe is read, nothing in %APPDATA%.
mkdir -p "$WORK/unpacked/data"
cp "$EXE" "$WORK/unpacked/"
printf '2\r\n420\r\n' >"$WORK/unpacked/data/conf.dat"
run "$WORK/unpacked"
[ ! -e "$APPDATA/Spektrometer" ] || fail "an unpacked copy created $APPDATA/Spektrometer"
! ls "$WORK/unpacked" | grep -q probe || fail "the folder probe was left behind"
[ "$(od -An -c "$WORK/unpacked/data/conf.dat" | tr -d ' \n')" = '2\r\n420\r\n' ] || fail "unpacked conf.dat changed"

# Installed (marker, no data folder): the file appears in %APPDATA%.
mkdir -p "$WORK/installed"
cp "$EXE" "$WORK/installed/"
: >"$WORK/installed/spektrometer.installed"
run "$WORK/installed"
[ -f "$USERCAL" ] || { find "$APPDATA" -maxdepth 3; fail "no $USERCAL"; }
[ "$(od -An -c "$USERCAL" | tr -d ' \n')" = '2.15789473684211\r\n409\r\n' ] || fail "conf.dat: $(od -c "$USERCAL")"
[ ! -e "$WORK/installed/data" ] || fail "the installed copy created data beside itself"

# A saved calibration is kept on the next start.
printf '2\r\n420\r\n' >"$USERCAL"
run "$WORK/installed"
[ "$(od -An -c "$USERCAL" | tr -d ' \n')" = '2\r\n420\r\n' ] || fail "a saved calibration was overwritten"
rm -rf "$APPDATA/Spektrometer" "$WORK"
echo "installed ok: $APPDATA_WIN\\Spektrometer\\data\\conf.dat"
