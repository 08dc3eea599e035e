#!/usr/bin/env bash
# The release installed for real, on a fresh Debian 12 or 13 root: run it through
# scripts/clean-room.sh (it installs and purges packages, so it refuses to run outside a
# chroot). scripts/release.sh makes dist/ (or --deb names a package made elsewhere, e.g. on
# Debian 12 for a Debian 13 root), and the run command's packages build the harness's receiver
# (preset program); then every package those installed is purged again, so that the root
# holds what it held fresh.
# Then:
#   - apt-get install ./dist/clickburst_*.deb pulls in only what the binary needs: each
#     package in its Depends holds a library the program loads, or is libxtst6, which the
#     program binds by name at its first click (a name another package provides, as
#     libfltk1.3t64 provides libfltk1.3 on Debian 13, counts as the providing package);
#   - the installed /usr/bin/clickburst runs a headless burst that a receiver counts;
#   - apt-get purge clickburst leaves no file behind.
#
# Usage: bash scripts/clean-room.sh [--debian 13] bash tests/release/installed.sh [--deb FILE]
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
logs=$root/build/installed-logs

fail() {
  say "FAIL: $*"
  exit 1
}
packages_now() { dpkg-query -W -f='${Package}\n' | sort; }
apt() { DEBIAN_FRONTEND=noninteractive apt-get -q -y -o Acquire::Retries=5 "$@"; }

ischroot || fail "this installs and purges packages: run it through scripts/clean-room.sh"
mkdir -p "$logs"
packages_now >"$logs/fresh.txt"

deb=
if [[ ${1:-} == --deb ]]; then
  deb=$(realpath -e -- "${2:-}") || fail "usage: installed.sh [--deb FILE]"
else
  bash scripts/release.sh
  deb=$(realpath -e dist/clickburst_*_amd64.deb)
fi
install_missing_packages "${run_packages[@]}"
say "building the receiver (preset program)"
quietly "$logs/build.log" cmake --preset program
quietly "$logs/build.log" cmake --build --preset program
harness=$root/build/program/tests/integration

say "purging what the builds installed"
# shellcheck disable=SC2046  # one word a package
quietly "$logs/apt.log" apt purge $(packages_now | comm -13 "$logs/fresh.txt" -)
packages_now | cmp -s - "$logs/fresh.txt" || fail "the purge did not restore the fresh root"

say "apt-get install $deb"
quietly "$logs/apt.log" apt install "$deb"
say "it pulled in: $(packages_now | comm -13 "$logs/fresh.txt" - | grep -vx clickburst | xargs)"
# Each name in Depends, as the installed package that is it or provides it.
depends=$(for name in $(dpkg-query -W -f='${Depends}' clickburst | sed 's/ *([^)]*)//g; s/,/ /g'); do
  dpkg-query -W -f='${db:Status-Abbrev} ${Package} ${Provides}\n' | awk -v name="$name" \
    '$1 == "ii" { for (i = 2; i <= NF; i++) { sub(/,$/, "", $i); if ($i == name) print $2 } }'
done | sort -u)
# The package of each library the program loads (dpkg knows some by their /lib path).
loaded=$( (for library in $(ldd /usr/bin/clickburst | awk '$3 ~ /^\// {print $3}'); do
  library=$(readlink -f "$library")
  { dpkg-query -S "$library" 2>/dev/null || dpkg-query -S "${library#/usr}"; } | cut -d: -f1
done; echo libxtst6) | sort -u)
extra=$(comm -23 <(echo "$depends") <(echo "$loaded"))
[[ -z $extra ]] || fail "Depends names packages the program does not load: $extra"

say "a headless burst of the installed program"
quietly "$logs/apt.log" apt install --no-install-recommends python3 xvfb openbox xdotool \
  x11-utils xfonts-base
report=$(PYTHONPATH=$root/tests python3 tests/integration/window_e2e.py \
  start_with_mouse_clicks_448_times --program /usr/bin/clickburst --title clickburst@example.org \
  --receiver "$harness/receiver_x11" --start-button "$harness/start_button" \
  --artifacts "$root/build/installed-e2e") || fail "the installed program's burst: $report"
say "${report#*: }"
clicks=$(sed -n 's/.* clicks=\([0-9]*\) .*/\1/p' <<<"$report")
((${clicks:-0} >= 446 && ${clicks:-0} <= 449)) || fail "${clicks:-no} clicks, not 446 to 449"

say "apt-get purge clickburst"
dpkg-query -L clickburst >"$logs/files.txt"
quietly "$logs/apt.log" apt purge clickburst
# Gone, each file and each folder no other package holds.
left=$(while read -r path; do
  [[ -e $path ]] && ! { [[ -d $path ]] && dpkg-query -S "$path" >/dev/null 2>&1; } &&
    echo "$path"
done <"$logs/files.txt"; find /usr /etc /var -name '*clickburst*')
[[ -z $left ]] || fail "left behind after the purge: $left"
say "passed: nothing of clickburst is left"
