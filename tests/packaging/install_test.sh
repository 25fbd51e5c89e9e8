#!/usr/bin/env bash
# make install's rules, run as `cmake --install` with a prefix of our own and
# DESTDIR: the files it puts where, and the installed tool finding its plug-in
# relative to itself (under lib/, and beside it, which wins).
#   install_test.sh CMAKE BUILD_DIR VERSION
set -euo pipefail
cmake=$1 build=$2 version=$3
. "$(dirname "$0")/installed_tool.sh"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix=/opt/quorvandile-test
DESTDIR=$root "$cmake" --install "$build" --prefix "$prefix" > /dev/null

installed=$(cd "$root" && find . -type f | sort)
expected=$(installed_files "$prefix")
[ "$installed" = "$expected" ] || fail "installed files:
$installed
expected:
$expected"
gzip -t "$root$prefix/share/man/man1/quorvandile.1.gz" || fail "the manual page is not gzip"

check_installed_tool "$root$prefix/bin/quorvandile" "$root$prefix/lib/quorvandile/Quorvandile.so" "$version" "$root"

cp "$root$prefix/lib/quorvandile/Quorvandile.so" "$root$prefix/bin/"
check_installed_tool "$root$prefix/bin/quorvandile" "$root$prefix/bin/Quorvandile.so" "$version" "$root"
