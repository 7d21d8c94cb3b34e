#!/bin/sh
# Builds the Windows zip from this (mingw) build tree and checks it: its
# contents, the calibration file and LIESMICH.txt as Windows text, an exe that
# needs only Windows' own DLLs, and the zipped program's --version under Wine.
#   zip_test.sh BUILD_DIR VERSION OBJDUMP WINE_RUN WINE_DIR
set -eu
BUILD=$1
VERSION=$2
OBJDUMP=$3
WINE_RUN=$4
WINE_DIR=$5
OUT=$(mktemp -d /tmp/spectro-zip-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cpack --config "$BUILD/CPackConfig.cmake" -G ZIP -B "$OUT" >"$OUT/cpack.log" 2>&1 || { cat "$OUT/cpack.log"; fail "cpack"; }
ZIP=$(ls "$OUT"/spectrometer-"$VERSION"-win*.zip) || fail "no spectrometer-${VERSION}-win*.zip"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$ZIP" "$OUT/x"
TOP="$OUT/x/$(basename "$ZIP" .zip)"
for f in spectrometer.exe data/conf.dat LIESMICH.txt; do
  [ -f "$TOP/$f" ] || { find "$OUT/x"; fail "$f missing"; }
done
[ "$(od -An -c "$TOP/data/conf.dat" | tr -d ' \n')" = '2.15789473684211\r\n409\r\n' ] \
  || fail "conf.dat: $(od -c "$TOP/data/conf.dat")"
# UTF-8 with a byte-order mark, CR LF line ends, German.
[ "$(head -c 3 "$TOP/LIESMICH.txt" | od -An -tx1 | tr -d ' \n')" = efbbbf ] || fail "LIESMICH.txt has no BOM"
grep -q "$(printf '\r')$" "$TOP/LIESMICH.txt" || fail "LIESMICH.txt lines do not end in CR LF"
grep -q "conf.dat" "$TOP/LIESMICH.txt" || fail "LIESMICH.txt does not name the calibration file"

# Only DLLs every Windows has.
"$OBJDUMP" -p "$TOP/spectrometer.exe" | sed -n 's/.*DLL Name: //p' | tr 'A-Z' 'a-z' >"$OUT/dlls"
for dll in $(cat "$OUT/dlls"); do
  case " advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll shell32.dll user32.dll winspool.drv ws2_32.dll " in
    *" $dll "*) ;;
    *) fail "spectrometer.exe needs $dll" ;;
  esac
done

[ "$("$WINE_RUN" --dir "$WINE_DIR" "$TOP/spectrometer.exe" --version | tr -d '\r')" = "spectrometer $VERSION" ] \
  || fail "--version under Wine"
echo "zip ok: $(basename "$ZIP")"
