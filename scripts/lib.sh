# shellcheck shell=bash
# Shell functions shared by the project's commands (scripts/test.sh, scripts/run.sh,
# bench/run.sh): what each installs, installing what is missing, and running quietly. Private
# X displays and the Wine prefix are the Python harness's (tests/harness). Source it first:
# its preamble below makes every command strict and run from the checkout's root; the caller
# sets `logs` (a folder) for `quietly`.

# The preamble: `root` is the checkout, and the working folder; `tool` names the command in
# its messages, as typed from the root (scripts/run.sh).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tool=$(realpath -s --relative-to="$root" -- "$0")
cd "$root"

# The systems the commands run on: Debian and the systems built on it (Ubuntu, Linux Mint,
# Pop!_OS, Raspberry Pi OS: `ID` or `ID_LIKE` in os-release), where apt offers the versions the
# build needs. CI proves Debian 12 and 13 on amd64, and testing (forky, whose os-release has no
# VERSION_ID) with its newest desktops; any other is accepted untested, and a
# system that apt serves too old a tool is refused before anything is installed.
tested_releases="Debian 12 (bookworm) and Debian 13 (trixie) on amd64, and testing (forky)'s"
tested_releases+=" run command and desktops"
accepted_systems="Debian, Ubuntu and the systems built on them"
# The oldest version of each package the build can use (a C++20 compiler that builds this code:
# GCC 12, Debian 12's). Only packages a command installs are checked.
declare -A oldest_versions=([cmake]=3.25 [g++]=4:12)

# What each command installs, without recommends (Debian 12 and 13 name every one alike; what
# only Debian 13 has is appended after the lists): what it relies on from a recommendation is
# named too (the X server's core fonts, Wine's own fonts and its XRandR display support). One
# list a command; the benchmark builds and runs what the tests do.
# The run command: build the program (it loads libXtst at its first click; libwayland-dev
# brings wayland-scanner too) and the receiver window (it links libXtst and libXi), and show a
# headless burst: Xvfb, openbox, xdotool and the harness in python3 drive it, x11-utils answers
# whether a display is there.
# A name ending in ? is installed only where apt offers it: libei1 (Debian 13 on, not 12), which
# the program binds by name for KWin's and the portal's emulated input, and no KDE package
# pulls in.
run_packages=(
  cmake make g++ libfltk1.3-dev libx11-dev libxtst-dev libxi-dev libwayland-dev libsystemd-dev
  python3 xvfb openbox xdotool x11-utils xfonts-base 'libei1?'
)
# The release command: both platforms' programs, packed by CPack (dpkg-dev and file for its
# dpkg-shlibdeps; fakeroot for a release made without root) from a git export of HEAD; the
# arm64 program with Debian's cross toolchain and the arm64 libraries beside the host's.
arm64_packages=(
  crossbuild-essential-arm64 libfltk1.3-dev:arm64 libx11-dev:arm64 libwayland-dev:arm64
  libsystemd-dev:arm64
)
release_packages=(
  cmake make g++ libfltk1.3-dev libx11-dev libxtst-dev libxi-dev libwayland-dev libsystemd-dev
  g++-mingw-w64-x86-64-posix git dpkg-dev file fakeroot
)
# The test command: the linux preset's build and tests, with the hygiene tools; the Wayland
# tests' compositors, and passwd for the unprivileged user they run sway as (mutter and KWin run
# in a dbus-run-session of their own, and the harness moves mutter's cursor through
# python3-dbus); the window tests take their screenshots with ImageMagick's import. That much
# is what `test.sh --desktops` installs. Then the Windows build's and its tests' under Wine, and
# the release test's, which makes a release (the arm64 one too) and lints it.
linux_test_packages=(
  "${run_packages[@]}" googletest icoutils imagemagick clang-format clang-tidy cppcheck valgrind
  wayland-protocols sway xwayland weston passwd mutter kwin-wayland dbus-daemon python3-dbus
)
# Debian 13 and testing (Debian 12 has no libei): libei, and KWin's EIS in kwin-common, for the
# KDE tests of emulated input; Plasma's remote-desktop portal, with the PipeWire its sessions
# need, Qt's Wayland platform for it, and the bus proxy of a sandbox, for the portal's test.
# Testing's os-release has no VERSION_ID, only its codename: there labwc and GNOME Shell too.
case $(. /etc/os-release 2>/dev/null && echo "${ID:-}/${VERSION_ID:-${VERSION_CODENAME:-}}") in
  debian/13 | debian/forky)
    linux_test_packages+=(libei1 kwin-common xdg-desktop-portal xdg-desktop-portal-kde pipewire
      qt6-wayland xdg-dbus-proxy)
    ;;&
  debian/forky) linux_test_packages+=(labwc gnome-shell) ;;
esac
test_packages=(
  "${linux_test_packages[@]}" g++-mingw-w64-x86-64-posix wine wine64 fonts-wine libxrandr2
  git dpkg-dev file fakeroot lintian appstream
)
# The arm64 packages sit beside the host's (multiarch), so apt must serve arm64 from the host's
# own sources. Debian's archive does for amd64. Ubuntu's main archive does not (its ports
# archive does), 32-bit Raspberry Pi OS has no arm64, and an arm64 host has no
# crossbuild-essential-arm64: an architecture apt cannot load would fail every later
# `apt update` on the user's machine. Elsewhere the arm64 build is left out.
host_architecture() { dpkg --print-architecture 2>/dev/null; }
# Prints why the arm64 build is left out here, or nothing where apt serves it.
# Usage: arm64_left_out /etc/os-release
arm64_left_out() {
  local id name
  # shellcheck disable=SC1090
  read -r id name < <([[ -r $1 ]] && . "$1" && echo "${ID:-}" "${PRETTY_NAME:-${ID:-}}") || true
  [[ $id == debian && $(host_architecture) == amd64 ]] ||
    echo "apt serves arm64 beside the host's packages only on Debian on amd64, and this is" \
      "${name:-an unknown system} on $(host_architecture || echo 'no dpkg')"
}
arm64_absent=$(arm64_left_out /etc/os-release)
if [[ -z $arm64_absent ]]; then
  release_packages+=("${arm64_packages[@]}")
  test_packages+=("${arm64_packages[@]}")
fi
# The clean room, on the host (and so CI, which runs every command in one): mmdebstrap makes
# the root with Debian's keys (on Ubuntu not there by default), git clones the checkout into
# it; unshare, setpriv, mount and chroot are essential.
clean_room_packages=(mmdebstrap debian-archive-keyring git)
# The benchmark: what the tests build and run, and gnuplot for its plot.
bench_packages=("${test_packages[@]}" gnuplot-nox)

say() { printf '%s [%4d s]: %s\n' "$tool" "$SECONDS" "$*"; }

# The version of a package: installed, else apt's candidate; nothing when apt knows none.
package_version() {
  local installed
  installed=$(dpkg-query -W -f='${db:Status-Abbrev} ${Version}' "$1" 2>/dev/null) || true
  if [[ $installed == ii* ]]; then
    echo "${installed##* }"
  else
    apt-cache policy "$1" 2>/dev/null | sed -n 's/^ *Candidate: //p' | grep -vx '(none)'
  fi
}

# Decides, from an os-release file, whether these commands run here: silently on a tested
# release, with one line saying it is untested on another member of Debian's family; on any
# other system it names it and fails. Sets `release_name` for check_packages.
# Usage: check_release /etc/os-release
check_release() {
  local file=$1 release family
  # os-release is shell assignments, made to be sourced; a subshell keeps them out of ours.
  # shellcheck disable=SC1090
  release=$([[ -r $file ]] && . "$file" &&
    printf '%s\t %s %s \t%s' "${ID:-}/${VERSION_ID:-${VERSION_CODENAME:-}}" "${ID:-}" "${ID_LIKE:-}" \
      "${PRETTY_NAME:-${ID:-}}") || true
  IFS=$'\t' read -r release family release_name <<<"$release" || true
  if [[ $family != *" debian "* && $family != *" ubuntu "* ]]; then
    say "this is ${release_name:-a system without $file}, and these commands support only" \
      "$accepted_systems (ID or ID_LIKE in os-release)"
    return 1
  fi
  [[ ($release == debian/1[23] || $release == debian/forky) && $(host_architecture) == amd64 ]] ||
    say "$release_name on $(host_architecture) is untested (CI proves" \
      "$tested_releases): going on"
}

# Before anything is installed: fails with one sentence if apt offers one of the packages in
# too old a version, or names those it does not offer (a system that names them otherwise).
# Usage: check_packages PACKAGE...
check_packages() {
  local package version absent=()
  for package in "$@"; do
    version=$(package_version "$package") || version=
    if [[ -z $version ]]; then
      absent+=("$package")
    elif [[ -n ${oldest_versions[$package]:-} ]] &&
      ! dpkg --compare-versions "$version" ge "${oldest_versions[$package]}"; then
      version=${version#*:}
      say "this is $release_name, whose $package ${version%%[-+~]*} is too old: the build" \
        "needs $package ${oldest_versions[$package]#*:} or later"
      return 1
    fi
  done
  ((${#absent[@]} == 0)) && return 0
  say "apt finds no ${absent[*]} on $release_name: install what this system calls" \
    "$( ((${#absent[@]} == 1)) && echo it || echo them), then run this again"
  return 1
}

# Installs those of the named packages that are missing, as root or through sudo. apt retries
# a download that fails, and waits for a dpkg lock another installer holds.
install_missing_packages() {
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    say "no dpkg-query or apt-get here: these commands support $accepted_systems, where" \
      "they install what they need; install these Debian packages first: $*"
    return 1
  fi
  check_release /etc/os-release || return 1
  local wanted=() optional=() missing=() package
  for package in "$@"; do
    if [[ $package == *\? ]]; then optional+=("${package%\?}"); else wanted+=("$package"); fi
  done
  set -- "${wanted[@]}"
  # Missing: each wanted package not installed, and each optional one apt's lists offer.
  missing_packages() {
    for package in "$@" "${optional[@]}"; do
      [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null) == ii* ]] ||
        [[ " ${optional[*]} " == *" $package "* && -z $(package_version "$package") ]] ||
        echo "$package"
    done | sort -u
  }
  mapfile -t missing < <(missing_packages "$@")
  ((${#missing[@]} > 0)) || { check_packages "$@"; return; }
  local as_root=()
  if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
      say "missing: ${missing[*]}. Installing them needs root, and sudo is not installed:"
      say "run this command as root, or install them as root first"
      return 1
    fi
    as_root=(sudo)
  fi
  # A package of another architecture (libfltk1.3-dev:arm64) needs that architecture added;
  # the lists name one only where apt serves it (arm64_left_out).
  local arch added=()
  for arch in $(printf '%s\n' "${missing[@]}" | sed -n 's/.*:\(.*\)/\1/p' | sort -u); do
    dpkg --print-foreign-architectures | grep -qx "$arch" && continue
    say "adding $arch to dpkg's architectures, which Debian's archive serves beside" \
      "$(host_architecture), for the $arch build"
    "${as_root[@]}" dpkg --add-architecture "$arch"
    added+=("$arch")
  done
  local apt=(apt-get -q -o Acquire::Retries=5 -o DPkg::Lock::Timeout=300)
  say "asking apt for ${missing[*]}"
  if ! "${as_root[@]}" "${apt[@]}" --error-on=any update; then
    if ((${#added[@]} > 0)); then
      # Left added, the architecture would fail every later update of this machine.
      for arch in "${added[@]}"; do "${as_root[@]}" dpkg --remove-architecture "$arch"; done
      say "apt's lists did not load once ${added[*]} was added (errors above): removed it"
      say "again, so that apt is as it was; the sources in /etc/apt may not serve ${added[*]}"
      return 1
    fi
    say "apt cannot reach its archive (5 tries, errors above): check the network and the"
    say "sources in /etc/apt/sources.list and /etc/apt/sources.list.d, then run this again"
    return 1
  fi
  check_packages "$@" || return 1
  mapfile -t missing < <(missing_packages "$@")
  # A release whose packages change daily (testing) may not resolve at all: that is apt's
  # state, not this system's, and says so with status 77 (as a skipped test's).
  if ! "${apt[@]}" -s install --no-install-recommends "${missing[@]}" >/dev/null; then
    say "apt cannot install ${missing[*]} together on $release_name (unmet dependencies above)"
    return 77
  fi
  say "installing ${missing[*]}"
  if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    "${apt[@]}" install -y --no-install-recommends "${missing[@]}"; then
    say "apt-get could not install ${missing[*]} (errors above)"
    return 1
  fi
}

# Runs a command with its output appended to `log`, shown only if the command fails.
quietly() {
  local log=$1
  shift
  "$@" >>"$log" 2>&1 || {
    local status=$?
    tail -n 60 "$log"
    say "failed ($status): $*; the whole output is in $log"
    return "$status"
  }
}
