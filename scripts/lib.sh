# Shell functions shared by the project's commands (scripts/test.sh, scripts/run.sh): install
# what is missing, start a private X display with a window manager, run quietly, and end
# everything that was started when the caller exits. Source it; it sets the EXIT trap.
# The caller sets `packages` (Debian package names), `logs` (a folder) and `tool` (its name).

say() { printf '%s [%4d s]: %s\n' "$tool" "$SECONDS" "$*"; }

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
