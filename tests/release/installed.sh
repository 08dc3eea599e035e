#!/usr/bin/env bash
# The release installed for real, on a fresh Debian 12 or 13 root: run it through
# scripts/clean-room.sh (it installs and purges packages, so it refuses to run outside a
# chroot). scripts/release.sh makes dist/ (or --deb or --portable names a file made elsewhere,
# e.g. on Debian 12 for a Debian 13 root), and the run command's packages build the harness's
# receiver (preset program); then every package those installed is purged again, so that the
# root holds what it held fresh.
# Then, for a .deb (amd64, or arm64 in a root that adds arm64, its program run through qemu's
# user-mode emulation):
#   - apt-get install ./dist/clickburst_*.deb pulls in only what the binary needs: each
#     package in its Depends holds a library the program loads, or is libxtst6 or
#     libsystemd0, which the program binds by name (at its first click, as its window opens) (a name another package provides, as
#     libfltk1.3t64 provides libfltk1.3 on Debian 13, counts as the providing package);
#   - the installed /usr/bin/clickburst runs a headless burst that a receiver counts;
#   - apt-get purge clickburst leaves no file behind.
# For the portable .tar.gz: its binary needs glibc 2.34 at most, and no library the README does
# not name, FLTK, libstdc++ and libsystemd among them (read with the build's binutils); with only
# run-time libraries and libsystemd.so.0 hidden from it, it runs a headless burst unpacked, and
# its installer installs it (through a link) and uninstalls it.
#
# Usage: bash scripts/clean-room.sh [--debian 13] bash tests/release/installed.sh
#          [--deb FILE | --portable FILE]
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
logs=$root/build/installed-logs

fail() {
  say "FAIL: $*"
  exit 1
}
# With its architecture where another one's may be installed beside it (libc6:arm64).
packages_now() { dpkg-query -W -f='${binary:Package}\n' | sort; }
apt() { DEBIAN_FRONTEND=noninteractive apt-get -q -y -o Acquire::Retries=5 "$@"; }

ischroot || fail "this installs and purges packages: run it through scripts/clean-room.sh"
mkdir -p "$logs"
packages_now >"$logs/fresh.txt"

deb='' portable='' run=() list=(ldd)
case ${1:-} in
  --deb) deb=$(realpath -e -- "${2:-}") || fail "usage: installed.sh [--deb|--portable FILE]" ;;
  --portable) portable=$(realpath -e -- "${2:-}") || fail "usage: installed.sh [--portable FILE]" ;;
  *) bash scripts/release.sh && deb=$(realpath -e dist/clickburst_*_amd64.deb) ;;
esac
install_missing_packages "${run_packages[@]}"
say "building the receiver (preset program)"
quietly "$logs/build.log" cmake --preset program
quietly "$logs/build.log" cmake --build --preset program
harness=$root/build/program/tests/integration
if [[ -n $portable ]]; then
  tar -xzf "$portable" -C "$logs" && program=$(echo "$logs"/clickburst-*/bin/clickburst)
  glibc=$(objdump -T "$program" | grep -o 'GLIBC_[0-9.]*' | sort -uV | tail -n 1)
  [[ $(printf '%s\n' "$glibc" GLIBC_2.34 | sort -V | tail -n 1) == GLIBC_2.34 ]] ||
    fail "the portable program needs $glibc, newer than glibc 2.34"
  # Only what the README names: glibc's, X11's and FLTK's drawing libraries, libgcc_s and
  # libwayland-client. libsystemd is bound by name, for the ways in through the bus only.
  needed=$(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | grep -vxE \
    'lib(c|m|dl|pthread|rt)\.so\.6|ld-linux-x86-64\.so\.2|libX(11|ext)\.so\.6|libXfixes\.so\.3|'\
'libX(render|cursor|inerama)\.so\.1|libXft\.so\.2|libfontconfig\.so\.1|libgcc_s\.so\.1|'\
'libwayland-client\.so\.0') && fail "it needs what the README does not name:" $needed
fi

say "purging what the builds installed"
# Only what the builds added, which holds arm64's copies of essential packages (libc6:arm64).
# shellcheck disable=SC2046  # one word a package
quietly "$logs/apt.log" apt purge --allow-remove-essential \
  $(packages_now | comm -13 "$logs/fresh.txt" -)
dpkg --print-foreign-architectures | xargs -r -n 1 dpkg --remove-architecture
packages_now | cmp -s - "$logs/fresh.txt" || fail "the purge did not restore the fresh root"

# burst PROGRAM...: a headless burst of the program, counted by the receiver.
burst() {
  local report clicks
  report=$(PYTHONPATH=$root/tests python3 tests/integration/window_e2e.py \
    start_with_mouse_clicks_448_times --program "$1" --title clickburst@example.org \
    --receiver "$harness/receiver_x11" --start-button "$harness/start_button" \
    --artifacts "$root/build/installed-e2e") || fail "the burst of $1: $report"
  say "${report#*: }"
  clicks=$(sed -n 's/.* clicks=\([0-9]*\) .*/\1/p' <<<"$report")
  ((${clicks:-0} >= 446 && ${clicks:-0} <= 449)) || fail "${clicks:-no} clicks, not 446 to 449"
}
harness_packages=(python3 xvfb openbox xdotool x11-utils xfonts-base libxi6)

if [[ -n $portable ]]; then
  # What the program and FLTK load, as every desktop has them, and not one -dev package.
  quietly "$logs/apt.log" apt install --no-install-recommends "${harness_packages[@]}" \
    libx11-6 libxext6 libxfixes3 libxrender1 libxcursor1 libxft2 libfontconfig1 libxinerama1 \
    libxtst6 libwayland-client0 libsystemd0
  ! dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' | grep -E '^ii +lib(fltk|.*-dev)' ||
    fail "FLTK or development packages above"
  # As on a system without systemd (Void, Devuan): libsystemd.so.0 unloadable, /dev/null bound
  # over it in a mount namespace of the program's own.
  systemd=$(readlink -f /usr/lib/x86_64-linux-gnu/libsystemd.so.0)
  printf '#!/bin/sh\nexec unshare --mount --propagation unchanged sh -c %s %s "$@"\n' \
    "'mount --bind /dev/null \"\$0\" && exec \"\$@\"'" "$systemd $program" >"$logs/clickburst"
  chmod +x "$logs/clickburst"
  say "without libsystemd.so.0 ($systemd hidden from it)"
  burst "$logs/clickburst"
  say "its installer, into ~/.local through a link"
  ln -s "$HOME" /home-link
  "${program%/bin/*}/install.sh" /home-link/.local
  grep -qx "Exec=$HOME/.local/bin/clickburst" "$HOME/.local/share/applications/clickburst.desktop" ||
    fail "the installed launcher entry does not name $HOME/.local/bin/clickburst"
  "${program%/bin/*}/install.sh" --uninstall /home-link/.local
  left=$(find "$HOME/.local" -name '*clickburst*')
  [[ -z $left ]] || fail "left behind after the uninstall: $left"
  say "passed: the portable program clicks, installs and uninstalls"
  exit 0
fi

arch=$(dpkg-deb -f "$deb" Architecture)
if [[ $arch != "$(dpkg --print-architecture)" ]]; then
  dpkg --add-architecture "$arch"
  quietly "$logs/apt.log" apt update
  quietly "$logs/apt.log" apt install --no-install-recommends qemu-user
  run=(qemu-aarch64 -L /) list=(qemu-aarch64 -L / /lib/ld-linux-aarch64.so.1 --list)
fi
say "apt-get install $deb"
quietly "$logs/apt.log" apt install "$deb"
say "it pulled in: $(packages_now | comm -13 "$logs/fresh.txt" - | grep -vx clickburst | xargs)"
# Each name in Depends, as the installed package that is it or provides it.
depends=$(for name in $(dpkg-query -W -f='${Depends}' clickburst | sed 's/ *([^)]*)//g; s/,/ /g'); do
  dpkg-query -W -f='${db:Status-Abbrev} ${Package} ${Provides}\n' | awk -v name="$name" \
    '$1 == "ii" { for (i = 2; i <= NF; i++) { sub(/,$/, "", $i); if ($i == name) print $2 } }'
done | sort -u)
# The package of each library the program loads (dpkg knows some by their /lib path).
loaded=$( (for library in $("${list[@]}" /usr/bin/clickburst | awk '$3 ~ /^\// {print $3}'); do
  library=$(readlink -f "$library")
  { dpkg-query -S "$library" 2>/dev/null || dpkg-query -S "${library#/usr}"; } | cut -d: -f1
done; printf '%s\n' libxtst6 libsystemd0) | sort -u)
extra=$(comm -23 <(echo "$depends") <(echo "$loaded"))
[[ -z $extra ]] || fail "Depends names packages the program does not load: $extra"

say "a headless burst of the installed program${run:+, through ${run[*]}}"
quietly "$logs/apt.log" apt install --no-install-recommends "${harness_packages[@]}"
printf '#!/bin/sh\nexec %s /usr/bin/clickburst "$@"\n' "${run[*]}" >"$logs/clickburst"
chmod +x "$logs/clickburst"
burst "$logs/clickburst"

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
