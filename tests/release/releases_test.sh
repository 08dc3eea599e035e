#!/usr/bin/env bash
# The commands run on Debian 12 and 13 only: on any other system scripts/lib.sh says so in one
# sentence before apt or CMake is reached, and without dpkg-query or apt-get it names the
# packages to install.
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
set +e  # the refusals are the point: their statuses are checked, not fatal
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
expect() {  # expect STATUS WORDS OS-RELEASE-TEXT (none: there is no such file)
  rm -f "$work/os-release"
  [[ $3 == none ]] || printf '%b' "$3" >"$work/os-release"
  said=$(check_release "$work/os-release")
  [[ $? == "$1" && $said == *"$2"* ]] || { echo "FAIL: $3 gave: $said"; failed=1; }
}
expect 0 "" 'ID=debian\nVERSION_ID="12"\n'
expect 0 "" 'ID=debian\nVERSION_ID="13"\n'
bullseye='ID=debian\nVERSION_ID="11"\nPRETTY_NAME="Debian GNU/Linux 11 (bullseye)"\n'
expect 1 "this is Debian GNU/Linux 11 (bullseye), and these commands support only Debian 12 \
(bookworm) and Debian 13 (trixie)" "$bullseye"
expect 1 "this is Debian GNU/Linux sid," 'ID=debian\nPRETTY_NAME="Debian GNU/Linux sid"\n'
expect 1 "this is Ubuntu 24.04," 'ID=ubuntu\nVERSION_ID="24.04"\nPRETTY_NAME="Ubuntu 24.04"\n'
expect 1 "this is a system without $work/os-release," none
ln -s "$BASH" "$work/bash"
said=$(PATH=$work install_missing_packages cmake g++) &&
  { echo "FAIL: no dpkg-query, yet nothing to install"; failed=1; }
[[ $said == *"support Debian 12 (bookworm) and Debian 13 (trixie)"*"first: cmake g++" ]] ||
  { echo "FAIL: without dpkg-query it said: $said"; failed=1; }
exit "$failed"
