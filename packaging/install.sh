#!/bin/sh
# Installs clickburst from this unpacked folder under PREFIX (~/.local unless given): the
# program, its launcher entry, icons, man page and AppStream metainfo. --uninstall removes
# them again. The launcher entry names the installed program by its path with every link
# resolved, as KWin sees it in /proc/PID/exe before it grants its fake input.
#
# Usage: ./install.sh [--uninstall] [PREFIX]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
usage() { echo "usage: $0 [--uninstall] [PREFIX]" >&2; exit 2; }
uninstall=false
[ "${1:-}" != --uninstall ] || { uninstall=true; shift; }
[ $# -le 1 ] || usage
prefix=${1:-${HOME:?HOME is not set: name a PREFIX}/.local}
entry=share/applications/clickburst.desktop
# What goes under the prefix, as this folder holds it; no name in it has a space.
files=$(cd "$here" && find bin share -type f | LC_ALL=C sort)

if $uninstall; then
  for file in $files $entry; do
    rm -f "$prefix/$file"
    # The folders this made, as they empty, up to the prefix.
    folder=$(dirname "$prefix/$file")
    while [ "$folder" != "$prefix" ] && rmdir "$folder" 2>/dev/null; do
      folder=$(dirname "$folder")
    done
  done
  echo "clickburst: removed from $prefix"
  exit 0
fi

mkdir -p "$prefix/bin"
exec=$(cd "$prefix/bin" && pwd -P)/clickburst
# freedesktop.org's Desktop Entry quoting rules: these cannot be written, these must be quoted.
case $exec in
  *[\"\`\$\\]*) echo "clickburst: a launcher entry cannot name $exec: install to a prefix" \
    "without quotes, backquotes, dollar signs or backslashes" >&2; exit 1 ;;
  *[[:space:]\'\<\>~\|\&\;\*\?\#\(\)]*) exec="\"$exec\"" ;;
esac
for file in $files; do
  case $file in bin/*) mode=755 ;; *) mode=644 ;; esac
  install -D -m "$mode" "$here/$file" "$prefix/$file"
done
mkdir -p "$prefix/share/applications"
sed "s|@exec@|$(printf '%s' "$exec" | sed 's/[|&]/\\&/g')|" "$here/clickburst.desktop.in" \
  >"$prefix/$entry"
chmod 644 "$prefix/$entry"
echo "clickburst: installed as $exec; remove it with $0 --uninstall${1:+ $1}"
