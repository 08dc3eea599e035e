#!/usr/bin/env bash
# The test command. On Debian 12 or 13: installs the packages the builds and tests need (only those
# missing; the list is in scripts/lib.sh), builds the linux, windows and asan presets, and runs
# every test of both builds (the unit tests only, for asan: AddressSanitizer and
# UndefinedBehaviorSanitizer) on a private X server (Xvfb) with a window manager (openbox) and
# a private Wine prefix (build/wine), which the test harness starts and takes down again
# (python3 -m harness.xsession). Tests that drive a display start displays of their own.
# Exits non-zero if anything failed. With --desktops, only the linux preset and its tests that
# start a desktop (label wayland): what CI runs on Debian testing's newest desktops.
#
# Usage: bash scripts/test.sh [--desktops]
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
logs=$root/build/test-logs

# build PRESET...: configures and builds each, from fresh logs.
build() {
  rm -rf "$logs"
  mkdir -p "$logs"
  local preset
  for preset in "$@"; do
    say "configuring and building preset $preset"
    quietly "$logs/build-$preset.log" cmake --preset "$preset"
    quietly "$logs/build-$preset.log" cmake --build --preset "$preset"
  done
}

desktops() {
  install_missing_packages "${linux_test_packages[@]}"
  build linux
  say "testing preset linux, label wayland"
  PYTHONPATH=$root/tests python3 -m harness.xsession --logs "$logs" -- \
    ctest --preset linux -L wayland || status=1
}

tests() {
  install_missing_packages "${test_packages[@]}"
  [[ -z $arm64_absent ]] || say "the arm64 release's checks are skipped: $arm64_absent"
  build linux windows asan

  say "testing presets linux, windows and asan"
  PYTHONPATH=$root/tests python3 -m harness.xsession --wine "$root/build/wine" --logs "$logs" \
    -- bash -c 'status=0
      for preset in linux windows asan; do ctest --preset "$preset" || status=1; done
      exit $status' || status=1
}

# Each sets `status` where a test failed; a failed install or build ends the command at once.
main() {
  local began=$SECONDS status=0
  case ${1:-} in
    --desktops) desktops ;;
    "") tests ;;
    *) say "usage: bash scripts/test.sh [--desktops]" && return 2 ;;
  esac
  say "done in $((SECONDS - began)) s: $( ((status == 0)) && echo passed || echo FAILED)"
  return "$status"
}

main "$@"
