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

# The releases the commands support: they install with apt-get and build with that release's
# compilers and libraries, and refuse any other system in one sentence rather than fail deep
# inside apt or CMake.
supported_releases="Debian 12 (bookworm) and Debian 13 (trixie)"

# What each command installs, without recommends (Debian 12 and 13 name every one alike): what
# it relies on from a recommendation is named too (the X server's core fonts, Wine's own fonts
# and its XRandR display support). One list a command; the benchmark builds and runs what the tests do.
# The run command: build the program (it loads libXtst at its first click; libwayland-dev
# brings wayland-scanner too) and the receiver window (it links libXtst and libXi), and show a
# headless burst: Xvfb, openbox, xdotool and the harness in python3 drive it, x11-utils answers
# whether a display is there.
run_packages=(
  cmake make g++ libfltk1.3-dev libx11-dev libxtst-dev libxi-dev libwayland-dev libsystemd-dev
  python3 xvfb openbox xdotool x11-utils xfonts-base
)
# The release command: both platforms' programs, packed by CPack (dpkg-dev and file for its
# dpkg-shlibdeps; fakeroot for a release made without root) from a git export of HEAD.
release_packages=(
  cmake make g++ libfltk1.3-dev libx11-dev libxtst-dev libxi-dev libwayland-dev libsystemd-dev
  imagemagick g++-mingw-w64-x86-64-posix git dpkg-dev file fakeroot
)
# The test command: both platforms' builds and every test, with the hygiene tools; the Wayland
# tests' compositors, and passwd for the unprivileged user they run sway as (mutter and KWin run
# in a dbus-run-session of their own, and the harness moves mutter's cursor through
# python3-dbus); the release test makes a release and lints it.
test_packages=(
  "${run_packages[@]}" googletest g++-mingw-w64-x86-64-posix wine wine64 fonts-wine libxrandr2
  icoutils imagemagick clang-format clang-tidy cppcheck valgrind
  wayland-protocols sway xwayland weston passwd mutter kwin-wayland dbus-daemon python3-dbus
  git dpkg-dev file fakeroot lintian appstream
)
# The benchmark: what the tests build and run, and gnuplot for its plot.
bench_packages=("${test_packages[@]}" gnuplot-nox)

say() { printf '%s [%4d s]: %s\n' "$tool" "$SECONDS" "$*"; }

# Succeeds on a release the commands support; otherwise names this system and the supported
# releases, in one sentence. Usage: check_release /etc/os-release
check_release() {
  local file=$1 release
  # os-release is shell assignments, made to be sourced; a subshell keeps them out of ours.
  # shellcheck disable=SC1090
  release=$([[ -r $file ]] && . "$file" && echo "${ID:-}/${VERSION_ID:-}/${PRETTY_NAME:-}") || true
  [[ $release == debian/12/* || $release == debian/13/* ]] && return 0
  release=${release#*/*/}
  say "this is ${release:-a system without $file}, and these commands support only" \
    "$supported_releases"
  return 1
}

# Installs those of the named packages that are missing, as root or through sudo. apt retries
# a download that fails, and waits for a dpkg lock another installer holds.
install_missing_packages() {
  if ! command -v dpkg-query >/dev/null || ! command -v apt-get >/dev/null; then
    say "no dpkg-query or apt-get here: these commands support $supported_releases, where" \
      "they install what they need; install these Debian packages first: $*"
    return 1
  fi
  check_release /etc/os-release || return 1
  local missing=() package
  for package in "$@"; do
    if [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null) != ii* ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0
  local as_root=()
  if ((EUID != 0)); then
    if ! command -v sudo >/dev/null; then
      say "missing: ${missing[*]}. Installing them needs root, and sudo is not installed:"
      say "run this command as root, or install them as root first"
      return 1
    fi
    as_root=(sudo)
  fi
  local apt=(apt-get -q -o Acquire::Retries=5 -o DPkg::Lock::Timeout=300)
  say "installing ${missing[*]}"
  if ! "${as_root[@]}" "${apt[@]}" --error-on=any update; then
    say "apt cannot reach its archive (5 tries, errors above): check the network and the"
    say "sources in /etc/apt/sources.list and /etc/apt/sources.list.d, then run this again"
    return 1
  fi
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
