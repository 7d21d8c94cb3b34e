#!/bin/sh
# Builds the Debian package from this build tree and checks it: its contents,
# its dependencies, Debian's and freedesktop.org's own checks (lintian,
# appstreamcli, desktop-file-validate), the installed program's first run
# (calibration file in the user's data folder) and that the man page names
# every option of --help.
#   deb_test.sh BUILD_DIR VERSION
set -eu
BUILD=$1
VERSION=$2
OUT=$(mktemp -d /tmp/spectro-deb-XXXXXX)
trap 'rm -rf "$OUT"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
for tool in lintian appstreamcli desktop-file-validate; do
  command -v $tool >/dev/null || fail "$tool not installed (scripts/deps installs it)"
done

cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$OUT" >"$OUT/cpack.log" 2>&1 || { cat "$OUT/cpack.log"; fail "cpack"; }
DEB=$(ls "$OUT"/spectrometer_"$VERSION"_*.deb) || fail "no spectrometer_${VERSION}_*.deb"

dpkg-deb -c "$DEB" | awk '{print $6}' >"$OUT/contents"
# The AppStream id names the metainfo and the menu entry.
ID=$(sed -n 's|^\./usr/share/metainfo/\(.*\)\.metainfo\.xml$|\1|p' "$OUT/contents")
[ -n "$ID" ] || { cat "$OUT/contents"; fail "no metainfo"; }
for f in ./usr/bin/spectrometer ./usr/bin/spectrosim \
         "./usr/share/applications/$ID.desktop" \
         ./usr/share/icons/hicolor/32x32/apps/spectrometer.png \
         ./usr/share/man/man1/spectrometer.1.gz ./usr/share/man/man1/spectrosim.1.gz \
         ./usr/share/doc/spectrometer/copyright ./usr/share/doc/spectrometer/changelog.gz; do
  grep -qx "$f" "$OUT/contents" || { cat "$OUT/contents"; fail "$f missing"; }
done

# Neither errors nor warnings (overrides are in the package, with reasons).
lintian --fail-on error,warning "$DEB" >"$OUT/lintian" 2>&1 || { cat "$OUT/lintian"; fail "lintian"; }

DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for d in libqt6widgets6 libqt6gui6 libqt6core6 libc6 fonts-dejavu-core; do
  echo "$DEPENDS" | grep -q "$d" || fail "Depends lacks $d: $DEPENDS"
done

dpkg-deb -x "$DEB" "$OUT/root"
DESKTOP="$OUT/root/usr/share/applications/$ID.desktop"
for line in "Exec=spectrometer" "Icon=spectrometer" "Name=Spektrometer" "Type=Application"; do
  grep -qx "$line" "$DESKTOP" || fail "desktop entry lacks $line"
done
grep -q "^Comment=..*" "$DESKTOP" || fail "desktop entry has no comment"
[ -z "$(desktop-file-validate "$DESKTOP" 2>&1)" ] || { desktop-file-validate "$DESKTOP"; fail "desktop-file-validate"; }

METAINFO="$OUT/root/usr/share/metainfo/$ID.metainfo.xml"
appstreamcli validate --no-net "$METAINFO" >"$OUT/appstream" 2>&1 || { cat "$OUT/appstream"; fail "appstreamcli validate"; }
grep -q "<launchable type=\"desktop-id\">$ID.desktop</launchable>" "$METAINFO" || fail "metainfo launches no $ID.desktop"
grep -q "<release version=\"$VERSION\"" "$METAINFO" || fail "metainfo has no release $VERSION (CHANGELOG.md)"

PROGRAM="$OUT/root/usr/bin/spectrometer"
[ "$("$PROGRAM" --version)" = "spectrometer $VERSION" ] || fail "--version: $("$PROGRAM" --version)"

# Every option of --help is in the man page.
zcat "$OUT/root/usr/share/man/man1/spectrometer.1.gz" | sed 's/\\-/-/g' >"$OUT/man"
for option in $("$PROGRAM" --help | grep -o -- '--[a-z-]*' | sort -u); do
  grep -q -- "$option" "$OUT/man" || fail "man page lacks $option"
done

# First run of the installed copy: the calibration goes to the user's data folder.
printf 'quit\n' >"$OUT/script"
XDG_DATA_HOME="$OUT/xdg" QT_QPA_PLATFORM=offscreen "$PROGRAM" --automate "$OUT/script" >"$OUT/run.log" 2>&1 \
  || { cat "$OUT/run.log"; fail "installed program did not run"; }
CONF="$OUT/xdg/spectrometer/data/conf.dat"
[ "$(od -An -c "$CONF" | tr -d ' \n')" = '2.15789473684211\r\n409\r\n' ] || fail "first conf.dat: $(od -c "$CONF")"
grep -q "^message" "$OUT/run.log" && { cat "$OUT/run.log"; fail "a message at start"; }
echo "package ok: $(basename "$DEB")"
