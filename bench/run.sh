#!/usr/bin/env bash
# The benchmark, one command (bench/bench.py): one burst from each program into a receiving
# window, one column each (COLUMNS in bench/bench.py), in this order (--skip-COLUMN: without it):
#   linux  clickburst on a private Xvfb with openbox
#   peer   xdotool click --repeat 448 --delay 60 1, on the same kind of display
#   wine   clickburst.exe under Wine, on the same kind of display
#   sway   clickburst on a headless sway with Xwayland, clicking through the virtual pointer;
#          needs root (sway refuses root, so it runs as a user of its own), skipped without
#   gnome  clickburst on a headless mutter with Xwayland, clicking through its remote-desktop
#          session
#   kwin   clickburst installed in a private HOME on a headless KWin with Xwayland, clicking
#          through KWin's fake input
# Writes the table to bench/results/results.md and the lateness plot to
# bench/results/lateness.png, again after each column. Not part of the tests; timings are only
# meaningful on an otherwise idle machine.
#
# Usage: bash bench/run.sh [--no-build] [--skip-linux] [--skip-peer] [--skip-wine] [--skip-sway]
#        [--skip-gnome] [--skip-kwin]
# Environment: BENCH_LINUX_BUILD, BENCH_WINDOWS_BUILD (build trees, default build/linux and
# build/windows), WINEPREFIX (default build/wine, created if missing; its wineserver is ended
# afterwards).
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../scripts/lib.sh"
linux_build=${BENCH_LINUX_BUILD:-$root/build/linux}
windows_build=${BENCH_WINDOWS_BUILD:-$root/build/windows}
build=true
bench_options=()
skip_wine=false
for option in "$@"; do
  case $option in
    --no-build) build=false ;;
    --skip-*) # bench.py names the columns there are
      bench_options+=(--skip "${option#--skip-}")
      [[ $option != --skip-wine ]] || skip_wine=true
      ;;
    *) say "usage: bash bench/run.sh [--no-build] [--skip-COLUMN]..."; exit 2 ;;
  esac
done

# Every tool of the bursts and of the plot, before the first burst.
install_missing_packages "${bench_packages[@]}"

if $build; then
  [[ -f $linux_build/CMakeCache.txt ]] || cmake --preset linux -B "$linux_build" >/dev/null
  # theme_icons and packaging_pages: what the KWin column's cmake --install puts beside it.
  cmake --build "$linux_build" --target clickburst receiver_x11 receiver_wayland start_button \
    theme_icons packaging_pages mutter_remote_access -j2 >/dev/null
  if ! $skip_wine; then
    [[ -f $windows_build/CMakeCache.txt ]] || cmake --preset windows -B "$windows_build" >/dev/null
    cmake --build "$windows_build" --target clickburst receiver_win32 -j2 >/dev/null
  fi
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Built here rather than in the project: the benchmark is no part of the build or the tests.
cxx=(g++ -std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror)
"${cxx[@]}" bench/rusage.cpp -o "$work/rusage"

title=$(sed -n 's/^CLICKBURST_TITLE:STRING=//p' "$linux_build/CMakeCache.txt")
PYTHONPATH=$root/tests /usr/bin/python3 bench/bench.py "${bench_options[@]}" --title "$title" \
  --wine-prefix "${WINEPREFIX:-$root/build/wine}" \
  --linux-build "$linux_build" --linux-program "$linux_build/src/clickburst" \
  --windows-program "$windows_build/src/clickburst.exe" \
  --receiver-x11 "$linux_build/tests/integration/receiver_x11" \
  --receiver-win32 "$windows_build/tests/integration/receiver_win32.exe" \
  --receiver-wayland "$linux_build/tests/integration/receiver_wayland" \
  --mutter-preload "$linux_build/tests/integration/libmutter_remote_access.so" \
  --start-button "$linux_build/tests/integration/start_button" --rusage "$work/rusage" \
  --out bench/results --work "$work"
