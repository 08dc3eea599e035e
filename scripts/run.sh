#!/usr/bin/env bash
# The run command. On Debian 12 or 13: installs what is missing, builds the Linux program and starts
# it on the current display. With no display it shows a burst headless instead: under a
# private Xvfb and openbox it presses Start, moves the pointer onto a test window that counts
# what it receives, and prints the result.
#
# Usage: bash scripts/run.sh
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
logs=$root/build/run-logs

# The program, and what its headless burst needs: the receiver window it clicks and the
# helper that reads where Start is. None of the tests or their tools.
build_dir=$root/build/program
program=$build_dir/src/clickburst

build() {
  say "building clickburst (preset program)"
  quietly "$logs/build.log" cmake --preset program
  quietly "$logs/build.log" cmake --build --preset program
}

# The window's title is a build setting; the demonstration finds the window by it.
window_title() {
  sed -n 's/^CLICKBURST_TITLE:STRING=//p' "$build_dir/CMakeCache.txt"
}

demonstrate() {
  say "no display here: a headless burst on a private Xvfb (about 35 s)"
  local report
  local tests=$build_dir/tests/integration
  if report=$(PYTHONPATH=$root/tests python3 "$root/tests/integration/window_e2e.py" \
      start_with_mouse_clicks_448_times --program "$program" --receiver "$tests/receiver_x11" \
      --start-button "$tests/start_button" --title "$(window_title)" --artifacts "$root/build/demo")
  then
    say "Start pressed with the mouse, pointer moved onto a test window:"
    printf '  %s\n' "${report#*: PASS }"
    say "the report is kept in build/demo/"
  else
    printf '%s\n' "$report"
    say "the burst did not go as it should"
    return 1
  fi
}

main() {
  install_missing_packages "${run_packages[@]}"
  mkdir -p "$logs"
  build
  if [[ -n ${DISPLAY:-} ]] && xdpyinfo >/dev/null 2>&1; then
    say "starting clickburst on $DISPLAY"
    exec "$program"
  fi
  demonstrate
}

main "$@"
