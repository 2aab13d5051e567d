#!/usr/bin/env bash
# The run's own tools against an apt of their own: a loopback-free file: repository that serves a package,
# one whose index is caught in a mirror sync (its Release names another size), and a dpkg database in a
# temporary folder. apt-get only simulates; nothing of the machine is read or changed.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
passed=0 failed=0

check() { # check DESCRIPTION COMMAND...
    if "${@:2}"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $1"; fi
}

# repo NAME ARCH PACKAGE [BROKEN]: a flat repository holding PACKAGE; BROKEN makes its Release lie about
# the size of its index.
repo() {
    local dir=$tmp/repo-$1
    mkdir -p "$dir"
    printf 'Package: %s\nVersion: 1.0\nArchitecture: %s\nMaintainer: t <t@t>\nFilename: %s.deb\nSize: 1\nDescription: t\n\n' \
        "$3" "$2" "$3" >"$dir/Packages"
    local size
    size=$(stat -c %s "$dir/Packages")
    [ -n "${4:-}" ] && size=$((size + 7))
    printf 'Origin: t\nLabel: t\nDate: %s\nSHA256:\n %s %s Packages\n' "$(date -uR)" \
        "$(sha256sum "$dir/Packages" | cut -d' ' -f1)" "$size" >"$dir/Release"
    echo "deb [trusted=yes] file:$dir ./" >>"$tmp/sources.list"
}

setup() { # a fresh apt and dpkg: no package installed, no foreign architecture
    rm -rf "$tmp"/* && mkdir -p "$tmp/dpkg/updates" "$tmp/state/lists/partial" "$tmp/cache/archives/partial" "$tmp/parts"
    : >"$tmp/dpkg/status"
    cat >"$tmp/apt.conf" <<CONF
Dir::State "$tmp/state"; Dir::State::status "$tmp/dpkg/status"; Dir::Cache "$tmp/cache";
Dir::Etc::sourcelist "$tmp/sources.list"; Dir::Etc::sourceparts "$tmp/parts"; Dir::Etc::preferencesparts "$tmp/parts";
Dir::Etc::parts "$tmp/parts"; APT::Architecture "amd64"; APT::Architectures { "amd64"; "i386"; };
APT::Get::Simulate "true"; Debug::NoLocking "true"; APT::Sandbox::User "root";
CONF
    export APT_CONFIG=$tmp/apt.conf APT_GET=apt-get DPKG="dpkg --admindir=$tmp/dpkg"
    export DPKG_QUERY="dpkg-query --admindir=$tmp/dpkg" ZRK_CI_DIR=$tmp/ci
}

install() { "$root/tools/ci/install-packages.sh" "$@" >"$tmp/out" 2>&1; }

# An index nothing needs fails to update; the 32-bit Wine is in it, so it is skipped with apt's reason.
setup
repo good amd64 zrk-tool
repo synced i386 wine32 broken
check "an unrelated failing index does not stop the install" install --optional wine32:i386 zrk-tool
check "the update's failure is shown" grep -q 'E: Failed to fetch .*repo-synced' "$tmp/out"
check "the required package is installed" grep -q '^installing: zrk-tool' "$tmp/out"
check "the missing optional package leaves apt's reason" grep -q '^E: .*wine32' "$tmp/ci/unavailable/wine32:i386"
check "the reason names the failing index" grep -q 'E: Failed to fetch .*repo-synced' "$tmp/ci/unavailable/wine32:i386"
check "the foreign architecture is added to dpkg" grep -qx i386 "$tmp/dpkg/arch"
check "a later install of the required packages alone keeps that reason" \
    eval 'install zrk-tool && test -s "$tmp/ci/unavailable/wine32:i386"'

# A required package that cannot be had stops the run, with apt's reason.
setup
repo good amd64 zrk-tool
check "a missing required package fails the install" eval '! install zrk-tool zrk-absent'
check "apt's reason is shown" grep -q 'Unable to locate package zrk-absent' "$tmp/out"

# An installable optional package leaves no reason behind (not even an earlier run's).
setup
repo good amd64 zrk-tool
repo i386 i386 wine32
mkdir -p "$tmp/ci/unavailable" && echo old >"$tmp/ci/unavailable/wine32:i386"
check "an installable optional package installs" install --optional wine32:i386 zrk-tool
check "and is not reported unavailable" test ! -e "$tmp/ci/unavailable/wine32:i386"

# The summary: counts from CTest, GoogleTest and a step's own line (not a test's, which CTest shows above
# its own summary); a failure without counts still counts.
export ZRK_CI_DIR=$tmp/steps
step() { "$root/tools/ci/step" "$@" >/dev/null 2>&1; }
step --begin
step ctest printf '%s\n' '90% tests passed, 1 tests failed out of 10' '' 'The following tests did not run:' \
    '	  3 - a (Skipped)' '	  4 - b (Disabled)' '' 'The following tests FAILED:' '	  7 - Suite.Lost (Failed)'
step gtest printf '%s\n' '/src/tests/e2e/Show.cpp:12: Failure' 'Value of: fired' '[  FAILED  ] Wine.Part (381 ms)' '[  PASSED  ] 4 tests.' '[  SKIPPED ] 1 test, listed below:' 'skipped: no wine32:i386'
step own sh -c 'echo "5 passed, 0 failed, 2 skipped"; exit 3'
step shown printf '%s\n' '2 passed, 1 failed, 0 skipped' '100% tests passed, 0 tests failed out of 2'
step build false
"$root/tools/ci/step" --summary >"$tmp/summary" 2>&1
status=$?
check "the summary fails when a step failed" test "$status" -ne 0
check "the closing line sums every step" test "$(tail -n 1 "$tmp/summary")" = "19 passed, 3 failed, 5 skipped"
check "a skip reason is shown under its step" grep -q '^    skipped: no wine32:i386$' "$tmp/summary"
check "what failed is named under its step" sh -c "grep -q '^    failed: Suite.Lost (Failed)$' '$tmp/summary' &&
    grep -q '^    failed: Wine.Part$' '$tmp/summary'"
check "and why, in a word" grep -q '^    failed:   Show.cpp:12: Value of: fired$' "$tmp/summary"
check "a failing step is marked" grep -q '^build .*FAILED (exit 1)$' "$tmp/summary"
step --begin
step fine true
check "a run without failures passes" "$root/tools/ci/step" --summary >/dev/null

# A group beside the steps: its steps are recorded when it is joined, a group that dies counts as failed.
step --begin
step --beside builds sh -c '"$0" first echo "1 passed, 0 failed, 0 skipped"; "$0" second true' "$root/tools/ci/step"
step --beside lost sh -c 'exit 4'
step fine true
step --join builds
step --join lost
"$root/tools/ci/step" --summary >"$tmp/summary" 2>&1
check "a group's steps are recorded, marked beside" sh -c "grep -q '^first .* 1 .*ok (beside)$' '$tmp/summary' &&
    grep -q '^second .*ok (beside)$' '$tmp/summary'"
check "a group that fails without a step of its own counts one failure" \
    test "$(tail -n 1 "$tmp/summary")" = "1 passed, 1 failed, 0 skipped"

echo "$passed passed, $failed failed, 0 skipped"
[ "$failed" -eq 0 ]
