#!/usr/bin/env bash
# The Debian package of the tool, made by CPack as make package makes it: its
# control fields and files, the tool run from the unpacked files, lintian
# (where installed), and, as root, a real install with apt-get, a render, and
# the purge, which leaves no trace in dpkg's records. A quorvandile package
# installed before the test is left alone.
#   deb_package_test.sh CPACK CPACK_CONFIG VERSION
set -euo pipefail
cpack=$1 config=$2 version=$3
. "$(dirname "$0")/installed_tool.sh"

work=$(mktemp -d)
installed_here=0
cleanup() {
  if [ "$installed_here" = 1 ]; then
    apt-get purge -y -qq -o DPkg::Lock::Timeout=300 quorvandile > /dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"  # apt fetches a local package as its own unprivileged user

"$cpack" -G DEB --config "$config" -B "$work" > "$work/cpack.log" || { cat "$work/cpack.log"; fail "cpack failed"; }
deb=$work/quorvandile_${version}_amd64.deb
[ -f "$deb" ] || fail "no $(basename "$deb"); cpack made: $(ls "$work")"
echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = quorvandile ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version), expected $version"
[ "$(field Architecture)" = amd64 ] || fail "Architecture: $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
# The tool links OpenImageIO: its runtime library's package, never the -dev one.
grep -Eq '(^|, )libopenimageio[0-9.]+ \(' <<< "$depends" || fail "Depends lacks OpenImageIO's runtime library"
if grep -q -- '-dev\b' <<< "$depends"; then fail "Depends names a -dev package"; fi
for name in Maintainer Description Section; do
  [ -n "$(field "$name")" ] || fail "no $name field"
done

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=$(installed_files /usr)
[ "$files" = "$expected" ] || fail "package files:
$files
expected:
$expected"

dpkg -x "$deb" "$work/root"
check_installed_tool "$work/root/usr/bin/quorvandile" "$work/root/usr/lib/quorvandile/Quorvandile.so" "$version" "$work"

if command -v lintian > /dev/null; then
  lintian --fail-on error "$deb" || fail "lintian found errors"
else
  echo "lintian is not installed: not run"
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "not root: no real install"
  exit 0
fi
if dpkg-query -W -f='${Status}' quorvandile 2> /dev/null | grep -q "install ok installed"; then
  echo "quorvandile is already installed here: left alone, no real install"
  exit 0
fi
installed_here=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -o DPkg::Lock::Timeout=300 --no-install-recommends "$deb" > /dev/null
check_installed_tool /usr/bin/quorvandile /usr/lib/quorvandile/Quorvandile.so "$version" "$work"
apt-get purge -y -qq -o DPkg::Lock::Timeout=300 quorvandile > /dev/null
installed_here=0
for file in /usr/bin/quorvandile /usr/lib/quorvandile/Quorvandile.so; do
  [ ! -e "$file" ] || fail "$file is still there after apt-get purge"
done
if dpkg-query -W quorvandile > /dev/null 2>&1; then fail "dpkg still records quorvandile after apt-get purge"; fi
echo "ok: installed with apt-get, rendered, purged"
