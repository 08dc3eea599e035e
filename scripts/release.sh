#!/usr/bin/env bash
# The release command. On Debian 12 or 13: installs what is missing, builds the committed HEAD
# afresh in a scratch folder for Linux (amd64, and arm64 with the cross toolchain), for every
# other Linux distribution (FLTK and the C++ run-time linked in) and for Windows (mingw-w64),
# and writes with CPack (the arm64 .deb only where apt serves arm64: Debian on amd64)
#   dist/clickburst_<version>_amd64.deb   dist/clickburst_<version>_arm64.deb
#   dist/clickburst-<version>-linux-x86_64.tar.gz   dist/clickburst-<version>-win64.zip
#   dist/SHA256SUMS
# The same commit gives the same bytes, whenever and wherever it is built: README.md,
# "Install", tells how to check a release against its source. A tree with uncommitted
# changes is refused, since a release must come from a commit.
#
# Usage: bash scripts/release.sh [--out DIR]    (default: dist)
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
logs=$root/build/release-logs
out=$root/dist
work=""  # the scratch folder, removed on exit

usage() {
  say "usage: bash scripts/release.sh [--out DIR]"
  exit 2
}

# Before anything is installed: a tree that cannot be released asks for no password.
refuse_uncommitted_changes() {
  if [[ ! -e $root/.git ]]; then
    say "$root is not a git checkout: a release is built from a commit"
    exit 1
  fi
  # A checkout copied to a machine without git: git alone is needed to tell.
  command -v git >/dev/null || install_missing_packages git
  if ! git -C "$root" rev-parse --verify -q HEAD >/dev/null; then
    say "$root is not a git checkout with a commit: a release is built from a commit"
    exit 1
  fi
  local changed
  changed=$(git -C "$root" status --porcelain --untracked-files=no)
  if [[ -n $changed ]]; then
    say "refused: a release is built from a commit, and these files differ from HEAD:"
    printf '%s\n' "$changed"
    say "commit or stash them, then run release.sh again"
    exit 1
  fi
}

# Builds one preset of the exported source and packs it; the package lands in $out.
build_and_pack() {
  local source=$1 preset=$2 log=$logs/$2.log
  say "building and packing preset $preset"
  (
    cd "$source"
    quietly "$log" cmake --preset "$preset" -DCLICKBURST_TESTS=OFF
    quietly "$log" cmake --build --preset "$preset"
    cd "build/$preset"
    # A .zip records its members' owners as they are on disk: make them root's.
    local as_root=()
    ((EUID == 0)) || as_root=(fakeroot)
    quietly "$log" "${as_root[@]}" cpack
  )
  cp "$source/build/$preset/packages/"* "$out/"
}

main() {
  while (($# > 0)); do
    case $1 in
      --out)
        (($# >= 2)) || usage
        out=$(realpath -m -- "$2")
        shift 2
        ;;
      *) usage ;;
    esac
  done
  refuse_uncommitted_changes
  install_missing_packages "${release_packages[@]}"
  rm -rf "$logs"
  mkdir -p "$logs" "$out"

  local commit
  commit=$(git -C "$root" rev-parse HEAD)
  # Every time in the packages is the commit's; a .zip keeps its members' times in local time.
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct "$commit")
  export SOURCE_DATE_EPOCH TZ=UTC LC_ALL=C.UTF-8
  umask 022
  work=$(mktemp -d "${TMPDIR:-/tmp}/clickburst-release.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  say "releasing commit $commit in $work"
  mkdir "$work/source"
  git -C "$root" archive --format=tar "$commit" | tar -x -C "$work/source"

  rm -f "$out"/clickburst*.deb "$out"/clickburst*.tar.gz "$out"/clickburst*.zip \
    "$out/SHA256SUMS"
  local preset presets=(linux linux-arm64 portable windows)
  [[ -z $arm64_absent ]] || presets=(linux portable windows)
  for preset in "${presets[@]}"; do
    build_and_pack "$work/source" "$preset"
  done
  (cd "$out" && sha256sum -- clickburst*.deb clickburst*.tar.gz clickburst*.zip >SHA256SUMS)
  say "wrote $out:"
  sed 's/^/  /' "$out/SHA256SUMS"
  [[ -z $arm64_absent ]] ||
    say "not made: clickburst_<version>_arm64.deb, since $arm64_absent"
}

main "$@"
