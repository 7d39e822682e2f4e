#!/usr/bin/env bash
# Checks what an installation of Brackwater is made of, from a configured and built tree
# (default build-test): builds the Debian package and lists it, has lintian check it (an error
# or a warning fails), validates the desktop entry, installs into a temporary prefix, and has
# every installed program answer --help and --version. Exits non-zero at the first fault.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-test}"

fail() { echo "check-package: $*" >&2; exit 1; }

desktop-file-validate data/brackwater.desktop || fail "the desktop entry is not valid"

(cd "$build" && cpack -G DEB >/dev/null) || fail "cpack could not build the package"
deb="$(ls -t "$build"/brackwater_*.deb | head -n 1)"
echo "package: $deb"
dpkg-deb --field "$deb"
contents="$(dpkg-deb --contents "$deb" | awk '{print $NF}')"
depends="$(dpkg-deb --field "$deb" Depends)"
[[ "$depends" == *libqt6widgets6* ]] || fail "Depends lacks the Qt libraries: $depends"
lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings in $deb"

prefix="$(mktemp -d /tmp/bw-install.XXXXXX)"
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

programs=()
for p in "$prefix"/bin/*; do programs+=("$(basename "$p")"); done
for p in brackwater brackwater-sim brackwater-bell; do
  [ -x "$prefix/bin/$p" ] || fail "$p is not installed"
done
for p in "${programs[@]}"; do
  grep -qx "./usr/bin/$p" <<<"$contents" || fail "the package lacks /usr/bin/$p"
  grep -qx "./usr/share/man/man1/$p.1.gz" <<<"$contents" ||
    fail "the package lacks the manual page of $p"
  # Without a display: the answers must not need one.
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$p" --help 2>&1)" ||
    fail "$p --help failed"
  [[ "$out" == *"$p"* ]] || fail "$p --help does not name the program"
  version="$(env -u DISPLAY -u WAYLAND_DISPLAY "$prefix/bin/$p" --version 2>&1)" ||
    fail "$p --version failed"
  grep -Eq '[0-9]+\.[0-9]+' <<<"$version" || fail "$p --version shows no version: $version"
  echo "$p: $version"
done
for f in ./usr/share/applications/brackwater.desktop \
         ./usr/share/icons/hicolor/scalable/apps/brackwater.svg \
         ./usr/share/icons/hicolor/48x48/apps/brackwater.png \
         ./usr/share/icons/hicolor/256x256/apps/brackwater.png; do
  grep -qx "$f" <<<"$contents" || fail "the package lacks $f"
done
desktop-file-validate "$prefix/share/applications/brackwater.desktop" ||
  fail "the installed desktop entry is not valid"
echo "check-package: ok"
