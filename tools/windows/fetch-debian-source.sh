#!/bin/sh
# Fetches a Debian source package (with Debian's patches applied) into a folder under build/, through an apt
# configuration of its own: its own deb-src list (made from the machine's apt sources), state and cache, so
# the machine's apt setup is untouched.
#
#   fetch-debian-source.sh <work-dir> <source-package> <output-dir>
#
# The unpacked tree ends up at <output-dir>; a tree already there is kept.
set -eu
mkdir -p "$1"
work=$(cd "$1" && pwd)
package=$2
case $3 in /*) out=$3 ;; *) out=$(pwd)/$3 ;; esac
[ -d "$out" ] && exit 0

apt_dir=$work/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial" "$apt_dir/etc/preferences.d" \
         "$apt_dir/etc/sources.list.d" "$apt_dir/src"
# The source lists of this machine's own Debian release, from the mirrors its apt already uses (a site behind
# its own mirror fetches from there): every `deb` entry of the deb822 .sources files and of the one-line
# sources.list / .list files whose suite is of this release becomes a deb-src entry, keyring included.
codename=$( (. /etc/os-release && echo "${VERSION_CODENAME:-}") 2>/dev/null || true)
[ -n "$codename" ] || { echo "cannot tell this machine's Debian release (/etc/os-release)" >&2; exit 1; }
: > "$apt_dir/sources.list"
set --
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && set -- "$@" "$f"
done
[ $# -gt 0 ] && awk -v release="$codename" -f "$(dirname "$0")/apt-sources-to-src.awk" "$@" \
  > "$apt_dir/etc/sources.list.d/machine.sources"
grep -q '^URIs:' "$apt_dir/etc/sources.list.d/machine.sources" 2>/dev/null || {
  echo "no Debian $codename entry in this machine's apt sources (/etc/apt/sources.list, sources.list.d)" >&2
  exit 1
}
apt_opts="-o Dir::Etc::SourceList=$apt_dir/sources.list -o Dir::Etc::SourceParts=$apt_dir/etc/sources.list.d
 -o Dir::Etc::Preferences=$apt_dir/etc/preferences -o Dir::Etc::PreferencesParts=$apt_dir/etc/preferences.d
 -o Dir::State=$apt_dir -o Dir::State::Lists=$apt_dir/lists -o Dir::State::status=/var/lib/dpkg/status
 -o Dir::Cache=$apt_dir -o Dir::Cache::archives=$apt_dir/archives -o Debug::NoLocking=1
 -o APT::Sandbox::User=$(id -un)"
# The index is read once per work folder.
[ -f "$apt_dir/updated" ] || { apt-get $apt_opts -qq update && touch "$apt_dir/updated"; }
rm -rf "$apt_dir/src/$package"
mkdir -p "$apt_dir/src/$package"
# dpkg-source applies Debian's patch series while unpacking. A mirror may hold a package's upstream tarball
# without its Debian part: the upstream tarball alone is then unpacked (the builds here need only that).
if ! (cd "$apt_dir/src/$package" && apt-get $apt_opts -qq source "$package" >/dev/null); then
  orig=$(find "$apt_dir/src/$package" -maxdepth 1 -name "*.orig.tar.*" ! -name "*.asc" | head -n 1)
  [ -n "$orig" ] || { echo "apt-get source $package failed and left no upstream tarball" >&2; exit 1; }
  echo "$package: the mirror has no Debian part; unpacking the upstream tarball $(basename "$orig")" >&2
  find "$apt_dir/src/$package" -mindepth 1 -maxdepth 1 -type d -exec rm -rf {} +
  tar -xf "$orig" -C "$apt_dir/src/$package"
fi
tree=$(find "$apt_dir/src/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[ -n "$tree" ] || { echo "apt-get source $package left no tree" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
mv "$tree" "$out"
