#!/usr/bin/env bash
# The test command. On Debian 12: installs the packages the builds and tests need (only those
# missing), builds the linux and windows presets, starts a private X server (Xvfb) with a
# window manager (openbox) and a private Wine prefix (build/wine), runs every test of both
# builds, and takes all of that down again on exit. Exits non-zero if anything failed.
#
# Usage: bash scripts/test.sh
# Environment: CLICKBURST_FIRST_DISPLAY, the first X display number to try (default 60).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
logs=$root/build/test-logs

# Installed without recommends, so what a test relies on from a recommendation is named too:
# the X server's core fonts, Wine's own fonts and its XRandR display support.
packages=(
  cmake g++ googletest libgtest-dev libgmock-dev g++-mingw-w64-x86-64-posix
  wine wine64 xvfb openbox xdotool x11-utils libfltk1.3-dev libxtst-dev icoutils imagemagick
  python3 clang-format clang-tidy cppcheck xfonts-base fonts-wine libxrandr2
)

say() { printf 'test.sh [%4d s]: %s\n' "$SECONDS" "$*"; }

install_missing_packages() {
  local missing=() package
  for package in "${packages[@]}"; do
    if [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null) != ii* ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0
  local as_root=()
  ((EUID == 0)) || as_root=(sudo)
  say "installing ${missing[*]}"
  "${as_root[@]}" apt-get update -q
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Everything started here, ended in reverse order on exit.
started_pids=()
wine_started=false
tear_down() {
  local pid
  if $wine_started; then
    wineserver -k >/dev/null 2>&1 || true
  fi
  for ((i = ${#started_pids[@]} - 1; i >= 0; i--)); do
    pid=${started_pids[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
}
trap tear_down EXIT

# Polls `command...` every 0.1 s for up to `tenths` tenths of a second.
wait_until() {
  local tenths=$1
  shift
  for ((; tenths > 0; tenths--)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# Starts Xvfb on the first free display from CLICKBURST_FIRST_DISPLAY, and openbox on it;
# sets `display` to ":N".
start_display() {
  local first=${CLICKBURST_FIRST_DISPLAY:-60} n pid
  for ((n = first; n < first + 30; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >"$logs/xvfb-$n.log" 2>&1 &
    pid=$!
    if wait_until 100 env DISPLAY=":$n" xdpyinfo; then
      started_pids+=("$pid")
      display=:$n
      DISPLAY=$display openbox --sm-disable >"$logs/openbox-$n.log" 2>&1 &
      started_pids+=("$!")
      # The window manager is up once it has claimed the root window.
      wait_until 100 env DISPLAY="$display" sh -c \
        'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
        say "warning: openbox did not come up on $display"
      return 0
    fi
    kill "$pid" 2>/dev/null || true  # lost a race for the number: try the next
    wait "$pid" 2>/dev/null || true
  done
  say "no free X display from :$first"
  return 1
}

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

main() {
  local began=$SECONDS status=0
  install_missing_packages
  rm -rf "$logs"
  mkdir -p "$logs"

  local preset
  for preset in linux windows; do
    say "configuring and building preset $preset"
    quietly "$logs/build-$preset.log" cmake --preset "$preset"
    quietly "$logs/build-$preset.log" cmake --build --preset "$preset"
  done

  start_display
  export DISPLAY=$display
  say "X display $DISPLAY"
  start_wine

  for preset in linux windows; do
    say "testing preset $preset"
    ctest --preset "$preset" || status=1
  done
  say "done in $((SECONDS - began)) s: $( ((status == 0)) && echo passed || echo FAILED)"
  return "$status"
}

main "$@"
