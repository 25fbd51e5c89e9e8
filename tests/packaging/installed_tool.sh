# Sourced by the packaging tests: checks an installed quorvandile as its user
# meets it, with no --plugin and no QUORVANDILE_PLUGIN, so that the plug-in
# comes from where the tool looks for it.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The files installed under PREFIX (relative, starting with .), sorted.
installed_files() {
  local prefix=$1
  printf ".$prefix/%s\n" \
    bin/quorvandile \
    lib/quorvandile/Quorvandile.so \
    share/doc/quorvandile/changelog.gz \
    share/doc/quorvandile/copyright \
    share/man/man1/quorvandile.1.gz | sort
}

# check_installed_tool TOOL PLUGIN VERSION WORKDIR
#   TOOL says VERSION, loads PLUGIN, and renders a picture in WORKDIR.
check_installed_tool() {
  local tool=$1 plugin=$2 version=$3 work=$4
  local said
  said=$(env -u QUORVANDILE_PLUGIN "$tool" --version) || fail "$tool --version failed"
  local expected="quorvandile $version
plug-in Quorvandile, v$version ($plugin)"
  [ "$said" = "$expected" ] || fail "$tool --version says '$said', expected '$expected'"
  env -u QUORVANDILE_PLUGIN "$tool" info > "$work/info.txt" || fail "$tool info failed"
  grep -qxF "Plug-in library: $plugin" "$work/info.txt" ||
    fail "$tool loaded $(grep 'Plug-in library' "$work/info.txt"), expected $plugin"
  # The version the build read from the plug-in's facts is the one the plug-in registers.
  grep -Eq "^ +Effect version +0x[0-9a-f]+ = ${version//./\\.} " "$work/info.txt" ||
    fail "the plug-in registers $(grep 'Effect version' "$work/info.txt"), not $version"
  # The demo's chart, toned again as a user's picture.
  (cd "$work" && env -u QUORVANDILE_PLUGIN "$tool" demo -o chart.png > /dev/null &&
    env -u QUORVANDILE_PLUGIN "$tool" render chart.png -o toned.png --set "Tones=Duotone" --quiet) ||
    fail "$tool could not render in $work"
  [ -s "$work/toned.png" ] || fail "$tool render wrote no toned.png"
  if cmp -s "$work/chart.png" "$work/toned.png"; then fail "$tool render left the picture as it was"; fi
  rm -f "$work/info.txt" "$work/chart.png" "$work/toned.png"
  echo "ok: $tool says $version, loads $plugin and renders"
}
