#!/usr/bin/env bash
# The installed site with three accounts, from the unpacked package ROOT (as check-package.sh
# leaves it: the files under ROOT, the maintainer scripts in ROOT/DEBIAN). Run as root. The
# package's postinst makes the layout; one account joins group brackwater and starts the
# console, which makes the site's database, and adds a TCP/IP terminal; the nightly routine,
# run as its service unit runs it, collects the simulator's records; the first account sees
# them in the status; an account outside the group is refused with the group named; the
# folders' and files' owners and modes are checked. Everything happens in a mount namespace of
# its own over a copy of /etc, so the machine's accounts, /etc, /var/lib/brackwater and
# /run/brackwater are left as they were; where no namespace may be made (a container without
# the right), on a machine without a site only, and all of it is removed afterwards. Exits
# non-zero at the first fault.
set -euo pipefail
root="$(realpath "$1")"
member="bwsite$$m"
outsider="bwsite$$o"

fail() { echo "check-site: $*" >&2; exit 1; }

if [ -z "${BW_CHECK_SITE_NS:-}" ]; then
  if unshare --mount true 2>/dev/null; then
    exec env BW_CHECK_SITE_NS=1 unshare --mount --propagation private "$0" "$@"
  fi
  if getent group brackwater >/dev/null || [ -e /var/lib/brackwater ] || [ -e /etc/brackwater ]; then
    echo "check-site: skipped: no mount namespace here, and the machine has a site" >&2
    exit 0
  fi
  BW_CHECK_SITE_NS=0
fi

tmp="$(mktemp -d /tmp/bw-site.XXXXXX)"
chmod 0755 "$tmp"
made=()
sim=""
cleanup() {
  [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
  if [ "$BW_CHECK_SITE_NS" = 0 ]; then
    for who in "$member" "$outsider" brackwater; do userdel "$who" 2>/dev/null || true; done
    groupdel brackwater 2>/dev/null || true
    rm -rf /etc/brackwater /var/lib/brackwater /run/brackwater
  fi
  for d in /var/lib/brackwater /run/brackwater /etc; do umount "$d" 2>/dev/null || true; done
  for d in "${made[@]}"; do rmdir "$d" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

# The accounts and settings of this check go into a copy of /etc; the site's folders are
# empty file systems of their own.
if [ "$BW_CHECK_SITE_NS" = 1 ]; then
  cp -a /etc "$tmp/etc"
  mount --bind "$tmp/etc" /etc
  for d in /var/lib/brackwater /run/brackwater; do
    [ -d "$d" ] || { mkdir "$d"; made+=("$d"); }
    mount -t tmpfs -o mode=0755 tmpfs "$d"
  done
fi

# The package's postinst, its files taken from ROOT.
sed -e "s#/usr/share/brackwater/#$root/usr/share/brackwater/#" \
    -e "s#/usr/lib/tmpfiles.d/#$root/usr/lib/tmpfiles.d/#" "$root/DEBIAN/postinst" >"$tmp/postinst"
sh "$tmp/postinst" configure >"$tmp/postinst.out" 2>&1 || fail "the postinst failed: $(cat "$tmp/postinst.out")"

for who in "$member" "$outsider"; do
  useradd -M -d "$tmp/$who" -s /usr/sbin/nologin "$who"
  install -d -o "$who" -g "$who" -m 0700 "$tmp/$who"
done
adduser --quiet "$member" brackwater

# A program as an account logged in afresh: its own and supplementary groups, no capabilities.
as() {
  local who="$1"
  shift
  env -i PATH=/usr/bin:/bin LANG=C.UTF-8 HOME="$tmp/$who" QT_QPA_PLATFORM=offscreen \
    setpriv --reuid="$who" --regid="$(id -g "$who")" --init-groups --inh-caps=-all "$@"
}
db=/var/lib/brackwater/brackwater.db
bin="$root/usr/bin"

# The simulator's terminal 1 on TCP, reached through the site's port map; this machine's clock
# has no time service here.
sim_out="$tmp/sim.out"
"$bin/brackwater-sim" --addr 1 --records 25 --no-pacing --tcp 127.0.0.1:0 >"$sim_out" 2>&1 &
sim=$!
for _ in $(seq 50); do grep -q '^ready' "$sim_out" && break; sleep 0.1; done
port="$(sed -n 's/^tcp .*:\([0-9]*\)$/\1/p' "$sim_out")"
[ -n "$port" ] || fail "the simulator did not start: $(cat "$sim_out")"
conf=/etc/brackwater/brackwater.conf
sed -i -e "s/^;1001=15001$/1001=$port/" "$conf"
printf '\n[clock]\nrequire-synchronised=false\n' >>"$conf"

# The member's first console start makes the site's database; the member adds a terminal.
as "$member" "$bin/brackwater" --screenshot-status "$tmp/$member/console.png" >"$tmp/console.out" 2>&1 ||
  fail "the member's console did not start: $(cat "$tmp/console.out")"
as "$member" sqlite3 "$db" "INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, \
MachDesc) VALUES (1, '1', '127.0.0.1', 'canteen', '', '6429', '计次')" ||
  fail "the member cannot add a terminal to the site's database"

# The nightly routine as its unit runs it: user, groups, umask, environment and folder.
unit="$root/usr/lib/systemd/system/brackwater-nightly.service"
entry() { sed -n "s/^$1=//p" "$unit" | tail -n 1; }
service_user="$(entry User)"
start="$(entry ExecStart)"
service() {
  # shellcheck disable=SC2046 # the unit's Environment= holds several assignments
  (cd "$(eval echo ~"$service_user")" && umask "$(entry UMask)" &&
    env -i PATH=/usr/bin:/bin LANG=C.UTF-8 $(entry Environment) \
      setpriv --reuid="$service_user" --regid="$(entry Group)" \
      --groups="$(entry SupplementaryGroups | tr ' ' ',')" --inh-caps=-all "$@")
}
# shellcheck disable=SC2086 # the command's arguments
service "$root${start%% *}" ${start#* } >"$tmp/nightly.out" 2>&1 ||
  fail "the nightly routine failed: $(cat "$tmp/nightly.out")"

# The member sees the night's records; the outsider is told to join the group.
records="$(as "$member" sqlite3 "$db" 'SELECT COUNT(*) FROM MealRecord')"
[ "$records" = 25 ] || fail "the site's database holds $records of the 25 records"
status="$(as "$member" "$bin/brackwater-site" status 1 --json 2>&1)" || fail "status: $status"
grep -q '"lastCollection":{[^}]*"ok":true' <<<"$status" ||
  fail "the member's status shows no good collection: $status"
if out="$(as "$outsider" "$bin/brackwater-site" status 2>&1)"; then
  fail "the outsider read the status: $out"
fi
grep -q "not in group brackwater" <<<"$out" || fail "the outsider is not told the group: $out"
# The console says it on its diagnostic output too, and waits in its box for a hand.
as "$outsider" "$bin/brackwater" >"$tmp/outsider.out" 2>&1 &
console=$!
for _ in $(seq 100); do
  grep -q "not in group brackwater" "$tmp/outsider.out" && break
  kill -0 "$console" 2>/dev/null || break
  sleep 0.1
done
kill "$console" 2>/dev/null || true
wait "$console" 2>/dev/null || true
grep -q "not in group brackwater" "$tmp/outsider.out" ||
  fail "the outsider's console does not name the group: $(cat "$tmp/outsider.out")"

# Owners and modes: the site's folder, database, its -wal and -shm as the service makes them,
# the lock folder and file, the settings, the backup.
mode() { stat -c '%a %G' "$@" | sort -u | tr '\n' ' '; }
[ "$(mode /var/lib/brackwater)" = "2770 brackwater " ] || fail "/var/lib/brackwater: $(mode /var/lib/brackwater)"
[ "$(mode "$db")" = "660 brackwater " ] || fail "$db: $(mode "$db")"
printf 'BEGIN;\nSELECT COUNT(*) FROM MachineInfo;\n.shell stat -c "%%a %%G" %s-wal %s-shm\n' \
  "$db" "$db" | service sqlite3 "$db" >"$tmp/wal.out" 2>&1
[ "$(tail -n 2 "$tmp/wal.out" | sort -u)" = "660 brackwater" ] ||
  fail "the service's -wal and -shm are not the group's: $(cat "$tmp/wal.out")"
[ "$(mode /run/brackwater)" = "2770 brackwater " ] || fail "/run/brackwater: $(mode /run/brackwater)"
[ "$(mode /run/brackwater/*.lock)" = "660 brackwater " ] ||
  fail "the TCP/IP terminal's lock: $(mode /run/brackwater/*.lock)"
[ "$(mode "$conf")" = "640 brackwater " ] || fail "$conf: $(mode "$conf")"
ls /var/lib/brackwater/backups/brackwater-*.db >/dev/null 2>&1 || fail "the nightly made no backup"
others="$(find /var/lib/brackwater /run/brackwater -perm /o=rwx)"
[ -z "$others" ] || fail "others may use: $others"
echo "site: the member's console and the nightly share $db ($records records), the outsider is refused"
