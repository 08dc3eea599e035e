#!/usr/bin/env bash
# The benchmark, one command: clickburst on Linux, the peer xdotool and clickburst.exe under
# Wine each click one burst into a receiver on one private Xvfb (bench/bench.py). Writes the
# table to bench/results/results.md and the lateness plot to bench/results/lateness.png.
# Not part of the tests; timings are only meaningful on an otherwise idle machine.
#
# Usage: bash bench/run.sh [--no-build] [--skip-wine]
# Environment: BENCH_LINUX_BUILD, BENCH_WINDOWS_BUILD (build trees, default build/linux and
# build/windows), WINEPREFIX (default build/wine, created if missing; its wineserver is ended
# afterwards).
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
root=$PWD
linux_build=${BENCH_LINUX_BUILD:-$root/build/linux}
windows_build=${BENCH_WINDOWS_BUILD:-$root/build/windows}
build=true
bench_options=()
for option in "$@"; do
  case $option in
    --no-build) build=false ;;
    --skip-wine) bench_options+=(--skip wine) ;;
    *) echo "usage: bash bench/run.sh [--no-build] [--skip-wine]" >&2; exit 2 ;;
  esac
done

tool=bench/run.sh
# shellcheck source=scripts/lib.sh
source "$root/scripts/lib.sh"
# Every tool of the bursts and of the plot, before the first burst.
install_missing_packages "${bench_packages[@]}"

if $build; then
  [[ -f $linux_build/CMakeCache.txt ]] || cmake --preset linux -B "$linux_build" >/dev/null
  cmake --build "$linux_build" --target clickburst receiver_x11 receiver_wayland start_button \
    mutter_remote_access \
    -j2 >/dev/null
  if [[ ! " ${bench_options[*]-} " =~ " wine " ]]; then
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
  --linux-program "$linux_build/src/clickburst" \
  --windows-program "$windows_build/src/clickburst.exe" \
  --receiver-x11 "$linux_build/tests/integration/receiver_x11" \
  --receiver-win32 "$windows_build/tests/integration/receiver_win32.exe" \
  --receiver-wayland "$linux_build/tests/integration/receiver_wayland" \
  --mutter-preload "$linux_build/tests/integration/libmutter_remote_access.so" \
  --start-button "$linux_build/tests/integration/start_button" --rusage "$work/rusage" \
  --out bench/results --work "$work"
