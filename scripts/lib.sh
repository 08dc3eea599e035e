# shellcheck shell=bash
# Shell functions shared by the project's commands (scripts/test.sh, scripts/run.sh,
# bench/run.sh): what each installs, installing what is missing, a private X display with a
# window manager, running quietly, and ending everything that was started when the caller
# exits. Source it; it sets the EXIT trap. The caller sets `logs` (a folder) and `tool` (its
# name).

# What each command installs on Debian 12, without recommends: what it relies on from a
# recommendation is named too (the X server's core fonts, Wine's own fonts and its XRandR
# display support). One list a command; the benchmark builds and runs what the tests do.
# The run command: build the program (it loads libXtst at its first click; libwayland-dev
# brings wayland-scanner too) and the receiver window (it links libXtst), and show a headless
# burst: Xvfb, openbox, xdotool and the harness in python3 drive it, x11-utils answers whether
# a display is there.
run_packages=(
  cmake make g++ libfltk1.3-dev libx11-dev libxtst-dev libwayland-dev
  python3 xvfb openbox xdotool x11-utils xfonts-base
)
# The test command: both platforms' builds and every test, with the hygiene tools; the Wayland
# tests' compositors, and passwd for the unprivileged user they run sway as.
test_packages=(
  "${run_packages[@]}" googletest g++-mingw-w64-x86-64-posix wine wine64 fonts-wine libxrandr2
  icoutils imagemagick clang-format clang-tidy cppcheck valgrind
  wayland-protocols sway xwayland weston passwd
)
# The benchmark: what the tests build and run, and gnuplot for its plot.
bench_packages=("${test_packages[@]}" gnuplot-nox)

say() { printf '%s [%4d s]: %s\n' "$tool" "$SECONDS" "$*"; }

# Installs those of the named packages that are missing, as root or through sudo. apt retries
# a download that fails, and waits for a dpkg lock another installer holds.
install_missing_packages() {
  local missing=() package
  for package in "$@"; do
    if [[ $(dpkg-query -W -f='${db:Status-Abbrev}' "$package" 2>/dev/null) != ii* ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0
  if ! command -v apt-get >/dev/null; then
    say "no apt-get here (this command expects Debian 12): install these first: ${missing[*]}"
    return 1
  fi
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

# openbox claims the root window some time before its event loop runs, and a window mapped
# in between stays unmapped for good: it is ready once it has mapped a probe window.
wait_for_window_manager() {
  local probe ready=1 window
  DISPLAY=$display xmessage -title clickburst-wm-probe "window manager probe" >/dev/null 2>&1 &
  probe=$!
  for ((tenths = 100; tenths > 0; tenths--)); do
    window=$(DISPLAY=$display xdotool search --name clickburst-wm-probe 2>/dev/null | head -n 1)
    if [[ -n $window ]]; then
      if DISPLAY=$display xwininfo -id "$window" 2>/dev/null | grep -q IsViewable; then
        ready=0
        break
      fi
      DISPLAY=$display xdotool windowmap "$window" >/dev/null 2>&1 || true
    fi
    sleep 0.1
  done
  kill "$probe" 2>/dev/null || true
  wait "$probe" 2>/dev/null || true
  return "$ready"
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
      wait_for_window_manager || say "warning: openbox on $display does not manage windows"
      return 0
    fi
    kill "$pid" 2>/dev/null || true  # lost a race for the number: try the next
    wait "$pid" 2>/dev/null || true
  done
  say "no free X display from :$first"
  return 1
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
