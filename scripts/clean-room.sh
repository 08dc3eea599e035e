#!/usr/bin/env bash
# The clean room: runs COMMAND as a newcomer would, in a fresh minimal Debian 12 root (or 13,
# with --debian 13) made by mmdebstrap from this machine's own apt sources, on a clone of the
# checkout's committed HEAD (uncommitted changes are not in it). COMMAND runs as root in /src/clickburst, a path any user
# can read, with a clean environment and CI=true. The root is unmounted and deleted afterwards,
# also on failure or interrupt.
#
# Usage: bash scripts/clean-room.sh [--debian 12|13] COMMAND...
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

usage="usage: bash scripts/clean-room.sh [--debian 12|13] COMMAND..."
# Debian's release names, by version: the host's sources name its own, the room's name this.
declare -A codenames=([12]=bookworm [13]=trixie)
release=12
if [[ ${1:-} == --debian ]]; then
  [[ -n ${codenames[${2:-}]:-} ]] || fail "$usage"
  release=$2
  shift 2
fi
(($# > 0)) || fail "$usage"
checkout=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if ((EUID != 0)); then
  # Mounts and chroot need root.
  command -v sudo >/dev/null ||
    fail "needs root to mount and chroot, and sudo is not installed: run it as root"
  exec sudo -- env CLEAN_ROOM_KEEP="${CLEAN_ROOM_KEEP:-}" CLEAN_ROOM_DIST="${CLEAN_ROOM_DIST:-}" \
    bash "$checkout/scripts/clean-room.sh" --debian "$release" "$@"
fi
command -v mmdebstrap >/dev/null ||
  fail "mmdebstrap is not installed: apt-get install mmdebstrap"
head=$(git -C "$checkout" rev-parse --verify HEAD 2>/dev/null) ||
  fail "$checkout is not a git checkout with a commit: the clean room takes its committed HEAD"

umask 022
work=$(mktemp -d /var/tmp/clean-room.XXXXXXXX)
root=$work/root
mounted=()
child=

tear_down() {
  local status=$? pid target i
  trap - EXIT INT TERM
  set +e
  # Whatever COMMAND left running in the root (a display, a server) would hold the mounts.
  for pid in /proc/[0-9]*; do
    [[ $(readlink "$pid/root" 2>/dev/null) == "$root" ]] && kill -KILL "${pid#/proc/}" 2>/dev/null
  done
  [[ -n $child ]] && wait "$child" 2>/dev/null
  if [[ -n ${CLEAN_ROOM_KEEP:-} && -d $root/src/clickburst/build ]]; then
    mkdir -p "$CLEAN_ROOM_KEEP"
    (cd "$root/src/clickburst/build" && cp -r --parents -- *-logs */Testing/Temporary \
      "$CLEAN_ROOM_KEEP"/ 2>/dev/null) || true
    [[ -d $root/src/clickburst/dist ]] && cp -r "$root/src/clickburst/dist" "$CLEAN_ROOM_KEEP"/
    say "build logs copied to $CLEAN_ROOM_KEEP"
  fi
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    target=${mounted[i]}
    umount "$target" 2>/dev/null || umount --lazy "$target" || true
  done
  # Deleting through a mount that is still there would delete the host's files.
  if findmnt --list --noheadings --output TARGET | grep -q -F -- "$work/"; then
    say "something is still mounted under $work; left in place:"
    findmnt --list --noheadings --output TARGET | grep -F -- "$work/" >&2
    exit 2
  fi
  [[ $work == /var/tmp/clean-room.* ]] && rm -rf --one-file-system -- "$work"
  exit "$status"
}
trap tear_down EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The host's own sources: whatever mirror and snapshot this machine uses, the room uses too.
sources=()
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [[ -s $file ]] && sources+=("$file")
done
((${#sources[@]} > 0)) || fail "no apt sources in /etc/apt/sources.list or sources.list.d"
# The same archive serves both releases: where the host's sources name another release than the
# room's (bookworm-updates, bookworm-security...), the room's copies name the room's.
host=$(. /etc/os-release && echo "${VERSION_CODENAME:-}") || true
codename=${codenames[$release]}
if [[ -n $host && $host != "$codename" ]]; then
  mkdir "$work/sources"
  for i in "${!sources[@]}"; do
    sed "s/\b$host\b/$codename/g" "${sources[i]}" >"$work/sources/$i-${sources[i]##*/}"
    sources[i]=$work/sources/$i-${sources[i]##*/}
  done
fi

say "making a minimal Debian $release root in $root"
if ! mmdebstrap --variant=minbase --mode=root --aptopt='Acquire::Retries "5"' \
  "$codename" "$root" "${sources[@]}" >"$work/mmdebstrap.log" 2>&1; then
  tail -n 20 "$work/mmdebstrap.log" >&2
  fail "mmdebstrap could not make the root (above): can this machine reach its apt archive?"
fi
say "root made"

mkdir -p "$root/src"
git clone -q --no-checkout "$checkout" "$root/src/clickburst"
git -C "$root/src/clickburst" fetch -q "$checkout" "$head"
git -C "$root/src/clickburst" checkout -q --detach "$head"
say "checked out $(git -C "$checkout" log -1 --format='%h %s' "$head")"
if [[ -n ${CLEAN_ROOM_DIST:-} ]]; then
  mkdir -p "$root/src/clickburst/dist"
  cp -- "$CLEAN_ROOM_DIST"/* "$root/src/clickburst/dist/" || fail "no files in $CLEAN_ROOM_DIST"
fi

mount_in_root() {
  local target=$root$1
  shift
  mount "$@" "$target"
  mounted+=("$target")
  # Where the host's mounts are shared (systemd's default), a mount made under this one, or its
  # unmount, would otherwise reach the host's own /dev.
  mount --make-private "$target"
}
mount_in_root /proc --bind /proc
mount_in_root /sys --bind /sys
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs -o mode=1777,nosuid,nodev tmpfs

say "running: $*"
chroot "$root" /usr/bin/env -i CI=true HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  sh -c 'cd /src/clickburst && exec "$@"' sh "$@" &
child=$!
status=0
wait "$child" || status=$?
child=
say "finished with status $status"
exit "$status"
