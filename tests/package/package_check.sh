#!/usr/bin/env bash
# Builds the Debian package with scripts/package into the given folder and
# checks what it holds: the program, a valid desktop entry, the icon, valid
# AppStream metainfo, the manual page, and dependencies found in the binary.
set -euo pipefail
source_dir=$1
out=$2
rm -rf "$out"
mkdir -p "$out"

deb=$("$source_dir/scripts/package" "$out" 2>"$out/build.log") || { cat "$out/build.log"; exit 1; }
echo "package: $deb ($(stat -c %s "$deb") bytes)"

fail() { echo "FAIL: $*"; exit 1; }

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in ./usr/bin/pellmor \
            ./usr/share/applications/org.example.pellmor.desktop \
            ./usr/share/icons/hicolor/scalable/apps/pellmor.svg \
            ./usr/share/metainfo/org.example.pellmor.metainfo.xml \
            ./usr/share/man/man1/pellmor.1.gz; do
    grep -qxF "$path" <<<"$contents" || fail "$path missing from the package"
done

# Dependencies come from the binary: the libraries it links must be named.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for lib in libqt6core6 libqt6widgets6 libcurl4 libc6 libqt6keychain1; do
    grep -q "\b$lib\b" <<<"$depends" || fail "dependency $lib not found in: $depends"
done
# Loaded only at run time, so named by hand.
dpkg-deb -f "$deb" Recommends | grep -q '\blibsecret-1-0\b' || fail "libsecret-1-0 not recommended"

tree="$out/tree"
dpkg-deb -x "$deb" "$tree"
desktop-file-validate "$tree/usr/share/applications/org.example.pellmor.desktop" ||
    fail "desktop entry does not validate"
appstreamcli validate --no-net --pedantic "$tree/usr/share/metainfo/org.example.pellmor.metainfo.xml" ||
    fail "metainfo does not validate"
grep -q '<image>.*/main-window.png</image>' "$tree/usr/share/metainfo/org.example.pellmor.metainfo.xml" ||
    fail "metainfo does not show the main window"
grep -q '^Icon=pellmor$' "$tree/usr/share/applications/org.example.pellmor.desktop" ||
    fail "desktop entry names another icon"

# The manual page renders without a single warning.
warnings=$(zcat "$tree/usr/share/man/man1/pellmor.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[[ -z "$warnings" ]] || fail "manual page warnings: $warnings"

"$tree/usr/bin/pellmor" --version | grep -qx "pellmor [0-9.]*" || fail "pellmor --version"
echo "package ok"
