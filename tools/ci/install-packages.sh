#!/bin/sh
# Installs the Debian packages a run needs, all at the start, so that one that cannot be had is known in
# the first minutes.
#
#   tools/ci/install-packages.sh [--optional PACKAGE]... [--lean PACKAGE]... PACKAGE...
#
# `apt-get update` may fail for an index nothing here needs (a mirror caught in a sync): that failure is
# shown and the install decides. A required package that cannot be installed stops the run (exit 1, apt's
# reason shown). An optional one (the 32-bit Wine, wine32:i386) that cannot be installed leaves apt's reason
# in $ZRK_CI_DIR/unavailable/<package> and the run goes on: the steps that need it report themselves
# skipped with that reason. A package of a foreign architecture (name:arch) has the architecture added to
# dpkg first. A lean package is required too, but installed without its recommendations (a headless
# browser needs none of its large ones).
#
# APT_GET, DPKG and DPKG_QUERY name the programs (the tests point them at a configuration of their own).
set -u
sudo=$([ "$(id -u)" = 0 ] || echo sudo)
APT_GET=${APT_GET:-$sudo apt-get}
DPKG=${DPKG:-$sudo dpkg}
DPKG_QUERY=${DPKG_QUERY:-dpkg-query}
dir=${ZRK_CI_DIR:-build/ci}
unavailable=$dir/unavailable
export DEBIAN_FRONTEND=noninteractive

required=""
optional=""
lean=""
while [ $# -gt 0 ]; do
    case $1 in
    --optional) optional="$optional $2"; shift 2 ;;
    --lean) lean="$lean $2"; shift 2 ;;
    *) required="$required $1"; shift ;;
    esac
done

installed() {
    [ "$($DPKG_QUERY -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}
# apt's own lines about what went wrong, a few of them: its errors first, then the first broken packages.
reasons() {
    grep -E '^E: ' "$1" | head -n 3
    grep -E '^ *[^ ]+ : (Depends|PreDepends|Breaks|Conflicts): ' "$1" | sed 's/^ *//' | head -n 3
}

# Only the packages asked for now are tried again: a later install of the required ones alone (each build
# target's) keeps the record of an optional one that could not be had.
for p in $optional; do rm -f "$unavailable/$p"; done
missing=""
for p in $required; do installed "$p" || missing="$missing $p"; done
missing_lean=""
for p in $lean; do installed "$p" || missing_lean="$missing_lean $p"; done
missing_optional=""
for p in $optional; do installed "$p" || missing_optional="$missing_optional $p"; done
if [ -z "$missing$missing_lean$missing_optional" ]; then
    echo "every package is installed"
    exit 0
fi

for p in $missing_optional; do
    arch=${p#*:}
    [ "$arch" = "$p" ] && continue
    [ "$arch" = "$($DPKG --print-architecture)" ] && continue
    $DPKG --print-foreign-architectures | grep -qx "$arch" || {
        echo "adding the architecture $arch to dpkg (for $p)"
        $DPKG --add-architecture "$arch"
    }
done

log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "apt-get update"
if ! $APT_GET update -q >"$log" 2>&1; then
    update_failure=$(reasons "$log")
    echo "apt-get update failed; the install decides whether that matters:"
    echo "$update_failure" | sed 's/^/    /'
fi

if [ -n "$missing" ]; then
    echo "installing:$missing"
    # shellcheck disable=SC2086
    if ! $APT_GET install -y -q $missing >"$log" 2>&1; then
        cat "$log" >&2
        echo "required packages could not be installed:$missing" >&2
        exit 1
    fi
fi

if [ -n "$missing_lean" ]; then
    echo "installing (without recommendations):$missing_lean"
    # shellcheck disable=SC2086
    if ! $APT_GET install -y -q --no-install-recommends $missing_lean >"$log" 2>&1; then
        cat "$log" >&2
        echo "required packages could not be installed:$missing_lean" >&2
        exit 1
    fi
fi

for p in $missing_optional; do
    echo "installing (optional): $p"
    if ! $APT_GET install -y -q "$p" >"$log" 2>&1; then
        mkdir -p "$unavailable"
        {
            reasons "$log"
            [ -n "${update_failure:-}" ] && echo "$update_failure"
        } | awk '!seen[$0]++' >"$unavailable/$p"
        echo "$p could not be installed; the steps that need it are skipped:"
        sed 's/^/    /' "$unavailable/$p"
    fi
done
exit 0
