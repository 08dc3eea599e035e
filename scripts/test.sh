#!/usr/bin/env bash
# The test command. On Debian 12: installs the packages the builds and tests need (only those
# missing; the list is in scripts/lib.sh), builds the linux, windows and asan presets, starts
# a private X server (Xvfb) with a window manager (openbox) and a private Wine prefix
# (build/wine), runs every test of both builds (the unit tests only, for asan:
# AddressSanitizer and UndefinedBehaviorSanitizer), and takes all of that down again on exit.
# Exits non-zero if anything failed.
#
# Usage: bash scripts/test.sh
# Environment: CLICKBURST_FIRST_DISPLAY, the first X display number to try (default 60).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
logs=$root/build/test-logs

tool=test.sh
# shellcheck source=scripts/lib.sh
source "$root/scripts/lib.sh"

# A prefix of our own, created once and reused, and a wineserver that stays up for the whole
# run. Wine's own services (services.exe, explorer.exe, ...) live as long as the server and
# keep the standard error of the process that started them: started here, on /dev/null,
# rather than by a test, whose output pipe ctest would then wait on until the end.
start_wine() {
  export WINEPREFIX=$root/build/wine WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine_started=true
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    say "creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >"$logs/wineboot.log" 2>&1
    wineserver -w
  fi
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
}

main() {
  local began=$SECONDS status=0
  install_missing_packages "${test_packages[@]}"
  rm -rf "$logs"
  mkdir -p "$logs"

  local preset
  for preset in linux windows asan; do
    say "configuring and building preset $preset"
    quietly "$logs/build-$preset.log" cmake --preset "$preset"
    quietly "$logs/build-$preset.log" cmake --build --preset "$preset"
  done

  start_display
  export DISPLAY=$display
  say "X display $DISPLAY"
  start_wine

  for preset in linux windows asan; do
    say "testing preset $preset"
    ctest --preset "$preset" || status=1
  done
  say "done in $((SECONDS - began)) s: $( ((status == 0)) && echo passed || echo FAILED)"
  return "$status"
}

main "$@"
