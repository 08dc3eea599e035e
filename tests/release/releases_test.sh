#!/usr/bin/env bash
# Which systems the commands run on, decided by scripts/lib.sh from os-release and from the
# versions apt offers (given here per row), before apt-get installs anything; and without
# dpkg-query or apt-get, the packages to install named.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
set +e  # the refusals are the point: their statuses are checked, not fatal
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
declare -A offered
architecture=amd64
host_architecture() { echo "$architecture"; }
package_version() { [[ -n ${offered[$1]:-} ]] && echo "${offered[$1]}"; }
# expect STATUS WORDS OS-RELEASE (none: no such file) VERSIONS (cmake g++, "-" none apt offers)
expect() {
  rm -f "$work/os-release"
  [[ $3 == none ]] || printf '%b' "$3" >"$work/os-release"
  read -r cmake gxx <<<"$4"
  offered=([cmake]=${cmake#-} [g++]=${gxx#-} [libfltk1.3-dev]=1.3.8-5)
  said=$(check_release "$work/os-release" && check_packages cmake g++ libfltk1.3-dev)
  [[ $? == "$1" && $said == *"$2"* && ( -n $2 || -z $said ) ]] ||
    { echo "FAIL: $3 gave: $said"; failed=1; }
}
bookworm="3.25.1-1 4:12.2.0-3" noble="3.28.3-1build7 4:13.2.0-7ubuntu1"
expect 0 "" 'ID=debian\nVERSION_ID="12"\n' "$bookworm"
expect 0 "" 'ID=debian\nVERSION_ID="13"\n' "3.31.6-2 4:14.2.0-1"
expect 1 "this is Ubuntu 22.04.5 LTS, whose cmake 3.22.1 is too old: the build needs cmake 3.25 \
or later" 'ID=ubuntu\nID_LIKE=debian\nVERSION_ID="22.04"\nPRETTY_NAME="Ubuntu 22.04.5 LTS"\n' \
  "3.22.1-1ubuntu1.22.04.2 4:11.2.0-1ubuntu1"
noble_release='ID=ubuntu\nID_LIKE=debian\nVERSION_ID="24.04"\nPRETTY_NAME="Ubuntu 24.04.1 LTS"\n'
expect 0 "Ubuntu 24.04.1 LTS on amd64 is untested (CI proves Debian 12 (bookworm) and Debian 13 \
(trixie) on amd64, and testing (forky)'s run command and desktops): going on" "$noble_release" "$noble"
expect 0 "" 'ID=debian\nVERSION_CODENAME=forky\nPRETTY_NAME="Debian GNU/Linux forky/sid"\n' \
  "4.3.4-1 4:16.1.0-3"
expect 1 "apt finds no cmake on Ubuntu 24.04.1 LTS: install what this system calls it" \
  "$noble_release" "- 4:13.2.0-7ubuntu1"
expect 0 "Linux Mint 22 on amd64 is untested" \
  'ID=linuxmint\nID_LIKE="ubuntu debian"\nVERSION_ID="22"\nPRETTY_NAME="Linux Mint 22"\n' "$noble"
expect 0 "Raspbian GNU/Linux 12 (bookworm) on amd64 is untested" \
  'ID=raspbian\nID_LIKE=debian\nVERSION_ID="12"\nPRETTY_NAME="Raspbian GNU/Linux 12 (bookworm)"\n' \
  "$bookworm"
expect 1 "this is Fedora Linux 40 (Workstation Edition), and these commands support only Debian, \
Ubuntu and the systems built on them (ID or ID_LIKE in os-release)" \
  'ID=fedora\nVERSION_ID=40\nPRETTY_NAME="Fedora Linux 40 (Workstation Edition)"\n' "$noble"
expect 1 "this is Arch Linux, and" 'ID=arch\nPRETTY_NAME="Arch Linux"\n' "$noble"
expect 1 "this is a system without $work/os-release," none "$noble"
# arm64 WORDS (none where apt serves arm64) OS-RELEASE ARCHITECTURE: the arm64 build's decision.
arm64() {
  printf '%b' "$2" >"$work/os-release"
  architecture=$3
  said=$(arm64_left_out "$work/os-release")
  [[ $said == *"$1"* && ( -n $1 || -z $said ) ]] || { echo "FAIL: arm64 on $3 $2 gave: $said"; failed=1; }
}
arm64 "" 'ID=debian\nVERSION_ID="12"\n' amd64
arm64 "only on Debian on amd64, and this is Ubuntu 24.04.1 LTS on amd64" "$noble_release" amd64
arm64 "this is Raspbian GNU/Linux 12 (bookworm) on armhf" \
  'ID=raspbian\nID_LIKE=debian\nPRETTY_NAME="Raspbian GNU/Linux 12 (bookworm)"\n' armhf
arm64 "this is Debian GNU/Linux 13 (trixie) on arm64" \
  'ID=debian\nVERSION_ID="13"\nPRETTY_NAME="Debian GNU/Linux 13 (trixie)"\n' arm64
ln -s "$BASH" "$work/bash"
said=$(PATH=$work install_missing_packages cmake g++) &&
  { echo "FAIL: no dpkg-query, yet nothing to install"; failed=1; }
[[ $said == *"support Debian, Ubuntu and the systems built on them, where"*"first: cmake g++" ]] ||
  { echo "FAIL: without dpkg-query it said: $said"; failed=1; }
exit "$failed"
