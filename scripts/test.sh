#!/usr/bin/env bash
# The test command. On Debian 12 or 13: installs the packages the builds and tests need (only those
# missing; the list is in scripts/lib.sh), builds the linux, windows and asan presets, and runs
# every test of both builds (the unit tests only, for asan: AddressSanitizer and
# UndefinedBehaviorSanitizer) on a private X server (Xvfb) with a window manager (openbox) and
# a private Wine prefix (build/wine), which the test harness starts and takes down again
# (python3 -m harness.xsession). Tests that drive a display start displays of their own.
# Exits non-zero if anything failed.
#
# Usage: bash scripts/test.sh
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
logs=$root/build/test-logs

main() {
  local began=$SECONDS status=0
  install_missing_packages "${test_packages[@]}"
  [[ -z $arm64_absent ]] || say "the arm64 release's checks are skipped: $arm64_absent"
  rm -rf "$logs"
  mkdir -p "$logs"

  local preset
  for preset in linux windows asan; do
    say "configuring and building preset $preset"
    quietly "$logs/build-$preset.log" cmake --preset "$preset"
    quietly "$logs/build-$preset.log" cmake --build --preset "$preset"
  done

  say "testing presets linux, windows and asan"
  PYTHONPATH=$root/tests python3 -m harness.xsession --wine "$root/build/wine" --logs "$logs" \
    -- bash -c 'status=0
      for preset in linux windows asan; do ctest --preset "$preset" || status=1; done
      exit $status' || status=1
  say "done in $((SECONDS - began)) s: $( ((status == 0)) && echo passed || echo FAILED)"
  return "$status"
}

main "$@"
