#!/usr/bin/env bash
# scripts/clean-room.sh killed by SIGINT (to its process group, as Ctrl-C), SIGTERM and SIGKILL
# while mmdebstrap makes the root (its mounts there), once the room's mounts exist, and while
# the command runs (a process of its own left in the background). Each time the host's mounts
# under /dev, /proc and /sys are as they were, no process sees a mount in the room's folder, a
# file in the host's /dev is still there, and the folder is gone (kept, unmounted, on SIGKILL).
# Usage: clean_room_kill_test.sh    (root and mmdebstrap, else skipped with status 77)
set -euo pipefail
script=$(dirname "${BASH_SOURCE[0]}")/../../scripts/clean-room.sh
fail() { echo "FAIL: $*" >&2; exit 1; }
if ((EUID != 0)) || ! command -v mmdebstrap >/dev/null; then
  echo "skipped: the clean room needs root and mmdebstrap" && exit 77
fi

host_mounts() { awk '$5 ~ "^/(dev|proc|sys)(/|$)" {print $5, $9, $10}' /proc/self/mountinfo |
  sort; }
seen_mounted() { grep -qsF -e " $1/" -e " $1 " /proc/[0-9]*/mountinfo; }  # by any process
canary=$(mktemp /dev/clean-room-canary.XXXXXX) out=$(mktemp) before=$(host_mounts)
trap 'rm -f "$canary" "$out"' EXIT
set -m  # each room in a process group of its own, where SIGINT is not ignored

for point in root mounts command; do
  for signal in INT TERM KILL; do
    : >"$out"
    bash "$script" sh -c 'sleep 600 & touch /ready; wait' 2>>"$out" &
    room=$! work="" i=0
    until [[ -n $work ]] && case $point in
      root) ! grep -q "root made" "$out" && seen_mounted "$work/root" ;;
      mounts) seen_mounted "$work/root/dev/shm" ;;
      command) [[ -e $work/root/ready ]] ;;
    esac; do
      kill -0 "$room" && ((i++ < 1500)) || fail "$point not reached: $(cat "$out")"
      work=$(sed -n 's/.* root in \(.*\)\/root$/\1/p' "$out")
      sleep 0.2
    done
    if [[ $signal == INT ]]; then kill -INT -- "-$room"; else kill "-$signal" "$room"; fi
    wait "$room" 2>/dev/null || true
    for ((i = 0; i < 50; i++)); do seen_mounted "$work" && sleep 0.2 || break; done
    ! seen_mounted "$work" || fail "$point, SIG$signal: still mounted in $work 10 s later"
    [[ $(host_mounts) == "$before" ]] || fail "$point, SIG$signal: the host's mounts changed"
    [[ -e $canary ]] || fail "$point, SIG$signal: $canary deleted"
    [[ $signal == KILL ]] && rm -rf --one-file-system -- "$work"
    [[ ! -e $work ]] || fail "$point, SIG$signal: $work left behind: $(cat "$out")"
    echo "ok: SIG$signal $point"
  done
done
