#!/bin/sh
# The installer package's tables, read with msitools (no Windows needed, so
# the 32-bit package is checked too): the files and the program's machine type,
# the install folder, the Start-menu shortcut, a per-machine install of this
# version with the product's fixed upgrade code.
#   msi_tables.sh MSI VERSION x64|x86
set -eu
MSI=$1
VERSION=$2
ARCH=$3
fail() { echo "FAIL: $*"; exit 1; }
table() { msiinfo export "$MSI" "$1" | tail -n +4 | tr -d '\r' | sort; }
case $ARCH in
  x64) FOLDER=ProgramFiles64Folder MACHINE=8664 TEMPLATE=x64 ;;
  x86) FOLDER=ProgramFilesFolder MACHINE=014c TEMPLATE=Intel ;;
  *) fail "architecture $ARCH" ;;
esac
TAB=$(printf '\t')

[ "$(table File | cut -f3 | sort | tr '\n' ' ')" = "LIESMICH.txt spectrometer.exe spektrometer.installed " ] ||
  fail "files: $(table File)"
table Directory | grep -qx "INSTALLDIR${TAB}${FOLDER}${TAB}Spektrometer" || fail "folder: $(table Directory)"
table Component | awk -F "$TAB" '$3 == "INSTALLDIR" { print $6 }' | grep -qx spectrometer.exe ||
  fail "components: $(table Component)"
table Shortcut | awk -F "$TAB" '$2 == "ProgramMenuFolder" && $3 == "Spektrometer" &&
                                 $5 == "[INSTALLDIR]spectrometer.exe" && $9 == "spectrometer.ico"' | grep -q . ||
  fail "shortcut: $(table Shortcut)"
property() { table Property | awk -F "$TAB" -v p="$1" '$1 == p { print $2 }'; }
[ "$(property ProductName)" = Spektrometer ] || fail "product name $(property ProductName)"
[ "$(property ProductVersion)" = "$VERSION" ] || fail "product version $(property ProductVersion)"
[ "$(property ALLUSERS)" = 1 ] || fail "not per-machine"
[ "$(property UpgradeCode)" = "{6B1C2D5E-6C0F-4F5B-9E0B-3A8D2C1F7A10}" ] || fail "upgrade code $(property UpgradeCode)"
table Upgrade | grep -q WIX_UPGRADE_DETECTED || fail "no upgrade of older versions"
msiinfo suminfo "$MSI" | grep -q "^Template: $TEMPLATE;" || fail "platform: $(msiinfo suminfo "$MSI" | grep Template)"

# The packed program is built for this architecture (the PE header's machine).
DIR=$(mktemp -d)
trap 'rm -rf "$DIR"' EXIT
msiextract -C "$DIR" "$MSI" >/dev/null
EXE=$(find "$DIR" -name spectrometer.exe)
[ -n "$EXE" ] || fail "no spectrometer.exe in the cabinet"
PE=$(od -An -tu4 -j60 -N4 "$EXE" | tr -d ' ')
[ "$(od -An -tx2 -j$((PE + 4)) -N2 "$EXE" | tr -d ' ')" = "$MACHINE" ] || fail "spectrometer.exe is not $ARCH"
echo "msi tables ok: $ARCH $VERSION"
