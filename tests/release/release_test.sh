#!/usr/bin/env bash
# The release, checked as its users will check it: scripts/release.sh runs twice, in two
# scratch folders a minute or more apart, the second with another umask, time zone and
# locale, and every file of the two dist folders must be byte for byte the same. Then the .debs
# (amd64 and arm64) must pass lintian (no error, no warning), the amd64 one carry what a user
# looks for, its AppStream metainfo must pass appstreamcli, and the .zip must hold exactly
# clickburst.exe, LICENSE.txt and README.txt (text with CRLF line ends). The .exe is left in WORK_DIR/zip for the test
# that runs its burst under Wine.
#
# Usage: release_test.sh WORK_DIR PYTHON3
# Exits 77 (skipped) on a tree with uncommitted changes: a release is built from a commit.
work=$(realpath -m -- "$1") python=$2  # before lib.sh's preamble changes folder
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
fail() { echo "FAIL: $*" >&2; exit 1; }

if [[ -n $(git -C "$root" status --porcelain --untracked-files=no) ]]; then
  echo "skipped: uncommitted changes, and a release is built from the committed HEAD"
  exit 77
fi
rm -rf "$work"
mkdir -p "$work"

bash "$root/scripts/release.sh" --out "$work/first"
(umask 002 && TZ=Pacific/Chatham LC_ALL=C bash "$root/scripts/release.sh" --out "$work/second")
for file in "$work"/first/*; do
  cmp "$file" "$work/second/${file##*/}" || fail "${file##*/} differs between two builds"
done
(cd "$work/first" && sha256sum -c SHA256SUMS)

lintian --fail-on error,warning "$work"/first/*.deb || fail "lintian: errors or warnings above"
deb=$(echo "$work"/first/clickburst_*_amd64.deb)
dpkg-deb -x "$deb" "$work/deb"
for path in usr/bin/clickburst usr/share/applications/clickburst.desktop \
    usr/share/icons/hicolor/16x16/apps/clickburst.png \
    usr/share/icons/hicolor/32x32/apps/clickburst.png usr/share/man/man1/clickburst.1.gz \
    usr/share/metainfo/org.example.clickburst.metainfo.xml \
    usr/share/doc/clickburst/copyright; do
  [[ -f $work/deb/$path ]] || fail "the .deb lacks /$path"
done
grep -qx 'Exec=/usr/bin/clickburst' "$work/deb/usr/share/applications/clickburst.desktop" ||
  fail "the .deb's launcher entry does not name /usr/bin/clickburst, which KWin needs"
appstreamcli validate --no-net "$work"/deb/usr/share/metainfo/*.xml

"$python" - "$work"/first/clickburst-*-win64.zip "$work/zip" <<'PY'
import sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
names = sorted(archive.namelist())
if names != ["LICENSE.txt", "README.txt", "clickburst.exe"]:
    sys.exit(f"FAIL: the .zip holds {names}")
for name in ("LICENSE.txt", "README.txt"):
    text = archive.read(name)
    if text.count(b"\n") == 0 or text.count(b"\n") != text.count(b"\r\n"):
        sys.exit(f"FAIL: {name} does not end every line with CRLF")
archive.extractall(sys.argv[2])
PY
