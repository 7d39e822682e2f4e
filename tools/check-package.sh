#!/usr/bin/env bash
# Checks what an installation of Brackwater is made of, from a configured and built tree
# (default build-test): builds the Debian package and lists it, has lintian check it (an error
# or a warning fails), validates the desktop entry, installs into a temporary prefix, and has
# every installed program answer --help and --version, and checks the nightly routine: its
# units pass systemd-analyze verify and security, nothing enables them, and the service's
# program answers as an unprivileged member of dialout (the system user brackwater when it
# exists). As root it also checks the installed site with its accounts (tools/check-site.sh).
# Exits non-zero at the first fault. Leaves the machine as it was.
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
[[ "$depends" == *libxlsxwriter* ]] || fail "Depends lacks libxlsxwriter: $depends"
lintian --fail-on error,warning "$deb" || fail "lintian finds errors or warnings in $deb"

prefix="$(mktemp -d /tmp/bw-install.XXXXXX)"
root="$(mktemp -d /tmp/bw-deb.XXXXXX)"
trap 'rm -rf "$prefix" "$root"' EXIT
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

# The nightly routine, from the package's own files.
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$root/DEBIAN"
chmod 0755 "$root" # the unprivileged run below must reach the program
units="$root/usr/lib/systemd/system"
service="$units/brackwater-nightly.service"
timer="$units/brackwater-nightly.timer"
for f in "$service" "$timer" "$root/usr/share/brackwater/brackwater.conf"; do
  [ "$(stat -c %a "$f" 2>/dev/null)" = 644 ] || fail "the package lacks ${f#"$root"} (mode 0644)"
done
tmpfiles="$root/usr/lib/tmpfiles.d/brackwater.conf"
[ "$(stat -c %a "$tmpfiles" 2>/dev/null)" = 644 ] ||
  fail "the package lacks /usr/lib/tmpfiles.d/brackwater.conf (mode 0644)"
grep -Eq '^d /run/brackwater 2770 root brackwater' "$tmpfiles" ||
  fail "the TCP/IP terminals' lock folder is not root:brackwater 2770"
grep -q '^ReadWritePaths=.*/run/brackwater' "$service" ||
  fail "the nightly routine may not write its TCP/IP terminals' locks"
for s in postinst prerm postrm; do
  [ "$(stat -c %a "$root/DEBIAN/$s" 2>/dev/null)" = 755 ] || fail "the package lacks its $s"
done
if grep -Eq '^[^;#]*(password|pwd)[[:space:]]*=' -i "$root/usr/share/brackwater/brackwater.conf"; then
  fail "the settings template holds a password"
fi
if grep -rEq 'systemctl[^#]*(enable|start)|deb-systemd-(helper enable|invoke start)' \
  "$root/DEBIAN"; then
  fail "a maintainer script enables or starts the nightly routine"
fi
if grep -q '^\./etc/systemd' <<<"$contents"; then fail "the package enables a unit"; fi
exec_start="$(sed -n 's/^ExecStart=//p' "$service")"
program="${exec_start%% *}"
[ -x "$root$program" ] || fail "the service runs $program, which the package lacks"
# verify wants the program where the unit names it: a copy of the units names the unpacked one.
mkdir "$root/verify"
sed "s#^ExecStart=$program#ExecStart=$root$program#" "$service" >"$root/verify/${service##*/}"
cp "$timer" "$root/verify/"
systemd-analyze verify --man=no "$root/verify/"* || fail "systemd-analyze verify finds faults"
systemd-analyze security --offline=yes --threshold=20 "$root/verify/${service##*/}" >/dev/null ||
  fail "the nightly service's exposure rose above 2.0 (systemd-analyze security)"
echo "nightly units: verified"
# The web view's service: in the package, off, and sandboxed as the nightly one.
web_service="$units/brackwater-web.service"
[ -f "$web_service" ] || fail "the package lacks brackwater-web.service"
web_program="$(sed -n 's/^ExecStart=//p' "$web_service")"
[ -x "$root${web_program%% *}" ] || fail "the web service runs $web_program, which the package lacks"
sed "s#^ExecStart=${web_program%% *}#ExecStart=$root${web_program%% *}#" "$web_service" \
  >"$root/verify/${web_service##*/}"
systemd-analyze verify --man=no "$root/verify/${web_service##*/}" ||
  fail "systemd-analyze verify finds faults in the web service"
systemd-analyze security --offline=yes --threshold=20 "$root/verify/${web_service##*/}" >/dev/null ||
  fail "the web service's exposure rose above 2.0 (systemd-analyze security)"
echo "web service: verified"
if [ "$(id -u)" -eq 0 ]; then
  home="$(mktemp -d "$root/home.XXXXXX")"
  if getent passwd brackwater >/dev/null; then
    who=brackwater
    chown brackwater: "$home"
    run=(runuser -u brackwater --)
  else
    who="nobody with dialout (no user brackwater here)"
    chown nobody "$home"
    run=(setpriv --reuid=nobody --regid=nogroup --groups="$(getent group dialout | cut -d: -f3)"
         --inh-caps=-all)
  fi
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$home" "${run[@]}" "$root$program" --help 2>&1)" ||
    fail "the service's program does not run as $who: $out"
  [[ "$out" == *"nightly"* ]] || fail "$program --help run as $who does not know nightly"
  echo "nightly program: runs as $who"
  tools/check-site.sh "$root" || fail "the installed site does not work as its accounts use it"
fi
echo "check-package: ok"
