#!/bin/sh
# Fetches a Debian source package (with Debian's patches applied) into a folder under build/, through an apt
# configuration of its own: its own deb-src list, state and cache, so the machine's apt setup is untouched.
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
cat > "$apt_dir/sources.list" <<LIST
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian-security bookworm-security main
deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm-updates main
LIST
apt_opts="-o Dir::Etc::SourceList=$apt_dir/sources.list -o Dir::Etc::SourceParts=$apt_dir/etc/sources.list.d
 -o Dir::Etc::Preferences=$apt_dir/etc/preferences -o Dir::Etc::PreferencesParts=$apt_dir/etc/preferences.d
 -o Dir::State=$apt_dir -o Dir::State::Lists=$apt_dir/lists -o Dir::State::status=/var/lib/dpkg/status
 -o Dir::Cache=$apt_dir -o Dir::Cache::archives=$apt_dir/archives -o Debug::NoLocking=1
 -o APT::Sandbox::User=$(id -un)"
# The index is read once per work folder.
[ -f "$apt_dir/updated" ] || { apt-get $apt_opts -qq update && touch "$apt_dir/updated"; }
rm -rf "$apt_dir/src/$package"
mkdir -p "$apt_dir/src/$package"
# dpkg-source applies Debian's patch series while unpacking.
(cd "$apt_dir/src/$package" && apt-get $apt_opts -qq source "$package" >/dev/null)
tree=$(find "$apt_dir/src/$package" -mindepth 1 -maxdepth 1 -type d | head -n 1)
[ -n "$tree" ] || { echo "apt-get source $package left no tree" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
mv "$tree" "$out"
