#!/usr/bin/env bash
# The clean room: runs COMMAND as a newcomer would, in a fresh minimal Debian 12 root (or 13, or
# testing, forky, with --debian 13 or 14) made by mmdebstrap from this machine's own apt
# sources, on a clone of the checkout's committed HEAD
# (uncommitted changes are not in it). COMMAND runs as root in /src/clickburst, a path any user
# can read, with a clean environment and CI=true. The room is deleted afterwards, also on
# failure or interrupt.
#
# The root is made, mounted and entered in a mount and PID namespace of the room's own: every
# mount (the room's and mmdebstrap's) lives only there and every process started there ends
# with the room, so nothing is ever unmounted on the host, and even a script killed outright
# (SIGKILL) leaves no mount and no process behind, only its folder /var/tmp/clean-room.*.
#
# Usage: bash scripts/clean-room.sh [--debian 12|13|14] COMMAND...
#        e.g. bash scripts/clean-room.sh --debian 13 bash scripts/run.sh
# Environment: CLEAN_ROOM_KEEP=DIR copies the checkout's build logs, and its dist/ if there is
# one, into DIR before deletion; CLEAN_ROOM_DIST=DIR copies DIR's files into the checkout's
# dist/ (a release made in another room).
# Exit status: COMMAND's; 2 when the room itself could not be set up.
set -euo pipefail

say() { printf 'clean-room.sh [%4d s]: %s\n' "$SECONDS" "$*" >&2; }
fail() {
  say "$*"
  exit 2
}

# The checkout may belong to the user that sudo was run by.
git() { command git -c safe.directory='*' "$@"; }

usage="usage: bash scripts/clean-room.sh [--debian 12|13|14] COMMAND..."
# Debian's release names, by version: the host's sources name its own, the room's name this.
declare -A codenames=([12]=bookworm [13]=trixie [14]=forky)
release=12
if [[ ${1:-} == --debian ]]; then
  [[ -n ${codenames[${2:-}]:-} ]] || fail "$usage"
  release=$2
  shift 2
fi
(($# > 0)) || fail "$usage"
suite=${codenames[$release]}
checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Resolved now: the room changes folder.
keep=${CLEAN_ROOM_KEEP:+$(realpath -m -- "$CLEAN_ROOM_KEEP")}
dist=${CLEAN_ROOM_DIST:+$(realpath -m -- "$CLEAN_ROOM_DIST")}
if ((EUID != 0)); then
  # Mounts and chroot need root.
  command -v sudo >/dev/null ||
    fail "needs root to mount and chroot, and sudo is not installed: run it as root"
  exec sudo -- env CLEAN_ROOM_KEEP="$keep" CLEAN_ROOM_DIST="$dist" \
    bash "$checkout/scripts/clean-room.sh" --debian "$release" "$@"
fi
# What the room needs on the host, installed as the other commands install theirs. lib.sh's
# preamble moves to the checkout; the paths above are resolved already. Its `say` is replaced
# by this script's own again, which writes to standard error.
# shellcheck source=scripts/lib.sh
source "$checkout/scripts/lib.sh"
say() { printf 'clean-room.sh [%4d s]: %s\n' "$SECONDS" "$*" >&2; }
install_missing_packages "${clean_room_packages[@]}" ||
  fail "the clean room needs ${clean_room_packages[*]} on this machine (above)"
head=$(git -C "$checkout" rev-parse --verify HEAD 2>/dev/null) ||
  fail "$checkout is not a git checkout with a commit: the clean room takes its committed HEAD"

# Runs as the first process of the room's namespaces: makes the root, mounts it and runs
# COMMAND in it. Arguments: SECONDS so far, the room's folder, suite, checkout, commit, a
# release to carry in (a folder, or empty), COMMAND.
in_room() {
  SECONDS=$1
  local work=$2 suite=$3 checkout=$4 head=$5 dist=$6 root=$2/root file i host sources=()
  shift 6
  # The host's own sources: whatever mirror and snapshot this machine uses, the room uses too.
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources; do
    [[ -s $file ]] && sources+=("$file")
  done
  ((${#sources[@]} > 0)) || fail "no apt sources in /etc/apt/sources.list or sources.list.d"
  # The same archive serves both releases: where the host's sources name another release than
  # the room's (bookworm-updates, bookworm-security...), the room's copies name the room's.
  # A host of Debian's family that is not Debian (Ubuntu) has another archive: mmdebstrap's
  # own default, deb.debian.org, serves the room then.
  host=$(. /etc/os-release && echo "${ID:-}/${VERSION_CODENAME:-}") || true
  if [[ $host != debian/* ]]; then
    say "this host is not Debian: the room's packages come from deb.debian.org"
    sources=()
  elif [[ -n ${host#*/} && ${host#*/} != "$suite" ]]; then
    host=${host#*/}
    mkdir "$work/sources"
    for i in "${!sources[@]}"; do
      sed "s/\b$host\b/$suite/g" "${sources[i]}" >"$work/sources/$i-${sources[i]##*/}"
      sources[i]=$work/sources/$i-${sources[i]##*/}
    done
  fi

  local options=(--aptopt='Acquire::Retries "5"')
  # Testing's lists are signed for a week; a mirror or snapshot that stopped there serves them
  # expired, and apt refuses them. The option stays in the root, for its own apt too.
  if [[ $suite == forky ]]; then
    say "testing's lists may be past their Valid-Until: apt is told not to check it" \
      "(Acquire::Check-Valid-Until=false)"
    options+=(--aptopt='Acquire::Check-Valid-Until "false"')
  fi
  say "making a minimal Debian $suite root in $root"
  if ! mmdebstrap --variant=minbase --mode=root "${options[@]}" \
    "$suite" "$root" "${sources[@]}" >"$work/mmdebstrap.log" 2>&1; then
    tail -n 20 "$work/mmdebstrap.log" >&2
    fail "mmdebstrap could not make the root (above): can this machine reach its apt archive?"
  fi
  say "root made"

  mkdir -p "$root/src"
  git clone -q --no-checkout "$checkout" "$root/src/clickburst"
  git -C "$root/src/clickburst" fetch -q "$checkout" "$head"
  git -C "$root/src/clickburst" checkout -q --detach "$head"
  say "checked out $(git -C "$checkout" log -1 --format='%h %s' "$head")"
  if [[ -n $dist ]]; then
    mkdir -p "$root/src/clickburst/dist"
    cp -- "$dist"/* "$root/src/clickburst/dist/" || fail "no files in $dist"
  fi

  # /proc is the namespace's own, which shows the room's processes only.
  mount --bind /proc "$root/proc"
  mount --bind /sys "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"

  say "running: $*"
  local status=0
  chroot "$root" /usr/bin/env -i CI=true HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    sh -c 'cd /src/clickburst && exec "$@"' sh "$@" || status=$?
  say "finished with status $status"
  return "$status"
}

umask 022
work=$(mktemp -d /var/tmp/clean-room.XXXXXXXX)
room= # unshare, the parent of the room's namespaces

tear_down() {
  local status=$? mounts i
  trap - EXIT INT TERM HUP
  set +e
  if [[ -n $room ]]; then
    mounts=$(stat -L -c %i "/proc/$room/ns/mnt")
    # unshare holds SIGINT and SIGTERM back; its end kills every process of the room.
    kill -KILL "$room" 2>/dev/null
    wait "$room" 2>/dev/null
    # Their end takes the room's mounts along. Wait for it, so that nothing writes below
    # while the room is deleted (a namespace not yet made is the host's own: no wait).
    if [[ $mounts != "$(stat -L -c %i /proc/self/ns/mnt)" ]]; then
      for ((i = 0; i < 100; i++)); do
        [[ $'\n'$(stat -L -c %i /proc/[0-9]*/ns/mnt 2>/dev/null)$'\n' == *$'\n'$mounts$'\n'* ]] ||
          break
        sleep 0.1
      done
    fi
  fi
  if [[ -n $keep && -d $work/root/src/clickburst/build ]]; then
    if (shopt -s nullglob && cd "$work/root/src/clickburst/build" &&
      logs=(*-logs */Testing/Temporary) && ((${#logs[@]} > 0)) && mkdir -p "$keep" &&
      cp -r --parents -- "${logs[@]}" "$keep"/); then
      say "build logs copied to $keep"
    else
      say "no build logs copied to $keep"
    fi
    if [[ -d $work/root/src/clickburst/dist ]]; then
      mkdir -p "$keep" && cp -r "$work/root/src/clickburst/dist" "$keep"/ &&
        say "the release in dist/ copied to $keep"
    fi
  fi
  # Never the case, as the room's mounts were never the host's; but deleting through a mount
  # would delete the host's files.
  if awk -v work="$work/" 'index($5, work) == 1 { found = 1 } END { exit !found }' \
    /proc/self/mountinfo; then
    say "something is mounted under $work; left in place"
    exit 2
  fi
  [[ $work == /var/tmp/clean-room.* ]] && rm -rf --one-file-system -- "$work"
  exit "$status"
}
trap tear_down EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# In the background, so that a signal to this script is handled at once. Should this script
# be killed outright, the parent-death signal ends unshare, and with it the room.
setpriv --pdeathsig KILL -- unshare --mount --propagation private --pid --kill-child \
  --mount-proc -- bash -c "set -euo pipefail; $(declare -f say fail git in_room)"'
  in_room "$@"' bash "$SECONDS" "$work" "$suite" "$checkout" "$head" "$dist" "$@" &
room=$!
status=0
wait "$room" || status=$?
room=
exit "$status"
