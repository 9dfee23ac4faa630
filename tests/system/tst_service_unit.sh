#!/usr/bin/env bash
# The system unit tovel3d.service as systemd judges it (verify, security
# exposure), its user as systemd-sysusers creates it, and what the service
# needs besides its serial port under the unit's restrictions, reproduced
# with setpriv and libseccomp in network and mount namespaces of the test's
# own: ping to 127.0.0.1 with the unit's own capability while ICMP echo
# sockets stay closed, and the process check's reads of another user's /proc
# entries.
set -euo pipefail
src=${TOVEL3_SOURCE_DIR:?}
linux="$src/packaging/linux"
fail() {
  echo "FAIL: $*"
  exit 1
}

# Part two, run by part one inside fresh namespaces: $2 = the unit file,
# $3 = a directory holding a copy of ping.
if [ "${1:-}" = --restricted ]; then
  unit=$2
  tools=$3
  setting() { sed -n "s/^$1=//p" "$unit" | tail -n1; }

  # The unit's capability sets in setpriv's notation.
  caps() {
    local list=-all cap
    for cap in $(setting "$1"); do
      cap=${cap#CAP_}
      list+=",+${cap,,}"
    done
    echo "$list"
  }
  bset=$(caps CapabilityBoundingSet)
  ambient=$(caps AmbientCapabilities)
  [ "$(setting NoNewPrivileges)" = yes ] || fail "the unit lacks NoNewPrivileges=yes"
  syscalls=$(setting SystemCallFilter)
  [ "${syscalls:0:1}" != "~" ] || fail "the test reproduces a SystemCallFilter allow-list only"
  as_service() {
    setpriv --reuid=65534 --regid=65534 --clear-groups --no-new-privs \
      --bounding-set="$bset" --inh-caps="$ambient" --ambient-caps="$ambient" \
      /usr/bin/python3 "$tools/seccomp-exec.py" "$tools/syscall-groups" \
      "$(setting SystemCallFilter)" "$(setting RestrictAddressFamilies)" "$@"
  }

  # /proc as the unit mounts it.
  hidepid=off
  case "$(setting ProtectProc)" in
    "" | default) ;;
    *) hidepid=$(setting ProtectProc) ;;
  esac
  options="hidepid=$hidepid"
  [ "$(setting ProcSubset)" = pid ] && options+=",subset=pid"
  mount -t proc -o "$options" proc /proc
  echo "/proc mounted with $options, bounding set $bset, ambient $ambient, user nobody, no new privileges,"
  echo "system calls $syscalls, address families $(setting RestrictAddressFamilies)"

  ip link set lo up
  echo "fresh network namespace: net.ipv4.ping_group_range = $(cat /proc/sys/net/ipv4/ping_group_range)"
  # Under NoNewPrivileges ping's file capability does not count; with the
  # range closed, ping has only the unit's own capabilities to go by.
  [ "$(cat /proc/sys/net/ipv4/ping_group_range)" = "$(printf '1\t0')" ] || fail "the namespace's ping range is open"
  if ambient=-all as_service "$tools/ping" -c 1 -W 1 127.0.0.1 >/dev/null 2>&1; then
    fail "ping without a capability answered although the namespace's range is closed"
  fi
  for ping in "$tools/ping" /usr/bin/ping; do
    as_service "$ping" -c 1 -W 1 127.0.0.1 >/dev/null || fail "$ping under the unit's capabilities"
  done
  echo "ok: ping (with and without a file capability) answers with the unit's capabilities, range closed"

  sleep 60 &
  other=$!
  as_service bash -c "
    ls /proc | grep -qx $other || { echo 'not listed in /proc'; exit 1; }
    read -r stat </proc/$other/stat || exit 1
    [[ \$stat == '$other (sleep) S '* ]] || { echo \"stat: \$stat\"; exit 1; }
    grep -q '^Uid:[[:space:]]0[[:space:]]' /proc/$other/status || { echo 'status without the owner'; exit 1; }
    [ \"\$(cat /proc/$other/comm)\" = sleep ] || exit 1
    readlink /proc/$other/exe >/dev/null 2>&1 && echo 'exe: readable' || echo 'exe: not readable (the check falls back on the kernel name)'
  " || fail "another user's process seen through /proc"
  kill "$other"
  echo "ok: root's process listed, its stat, status and comm read by the service user"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"

# Stand-in executables at the paths the unit names.
mkdir -p "$work/bin" "$work/units" "$work/tools"
cp /bin/true "$work/bin/tovel3d"
unit="$work/units/tovel3d.service"
sed "s#@CMAKE_INSTALL_FULL_BINDIR@#$work/bin#g" "$linux/tovel3d.service.in" >"$unit"
! grep -n '@[A-Z_]*@' "$unit" || fail "unreplaced variable in the unit"

# The man pages the unit names, where man finds them.
mkdir -p "$work/man/man1" "$work/man/man8"
cp "$src/packaging/man/tovel3ctl.1" "$work/man/man1/"
cp "$src/packaging/man/tovel3d.8" "$work/man/man8/"

echo "## systemd-analyze verify tovel3d.service"
set +e
out=$(MANPATH="$work/man" systemd-analyze verify "$unit" 2>&1)
rc=$?
set -e
echo "${out:-(no output)}"
[ $rc -eq 0 ] && [ -z "$out" ] || fail "systemd-analyze verify: exit $rc"
echo "ok: verify"

echo "## systemd-analyze security --offline=yes tovel3d.service"
out=$(systemd-analyze security --offline=yes "$unit" 2>&1) || fail "systemd-analyze security"
grep -v '^✓' <<<"$out"
exposure=$(sed -n 's/.*Overall exposure level for tovel3d.service: \([0-9.]*\).*/\1/p' <<<"$out")
[ -n "$exposure" ] || fail "no exposure figure"
awk -v e="$exposure" 'BEGIN { exit !(e <= 2.0) }' || fail "exposure $exposure is above 2.0"
echo "ok: exposure $exposure (at most 2.0)"

# What the restrictions must leave open; the namespaces below reproduce the
# rest from the unit itself.
setting() { sed -n "s/^$1=//p" "$unit" | tail -n1; }
[ "$(setting DeviceAllow)" = "char-ttyACM rw" ] || fail "DeviceAllow does not open USB ACM ports"
[ "$(setting PrivateDevices)" != yes ] || fail "PrivateDevices hides the serial port"
[ "$(setting PrivateUsers)" != yes ] || fail "PrivateUsers hides other processes' owners"
[ "$(setting ProcSubset)" = all ] || fail "ProcSubset must leave /proc whole"
for family in AF_UNIX AF_INET AF_INET6; do
  grep -qw "$family" <<<"$(setting RestrictAddressFamilies)" || fail "RestrictAddressFamilies lacks $family"
done
[ -z "$(setting IPAddressDeny)" ] || fail "IPAddressDeny keeps ping from its target"
echo "ok: serial port, sockets and process owners left open"

for page in "$work/man/man1/tovel3ctl.1" "$work/man/man8/tovel3d.8"; do
  out=$(LC_ALL=C.UTF-8 groff -man -ww -z "$page" 2>&1)
  [ -z "$out" ] || fail "$(basename "$page"): $out"
done
echo "ok: man pages"

echo "## systemd-sysusers"
mkdir -p "$work/root/etc"
systemd-sysusers --root="$work/root" "$linux/tovel3.sysusers"
grep '^tovel3:' "$work/root/etc/passwd" "$work/root/etc/group"
IFS=: read -r _ _ uid gid _ home shell <<<"$(grep '^tovel3:' "$work/root/etc/passwd")"
[ "$uid" -lt 1000 ] && [ "$uid" = "$gid" ] || fail "tovel3 is no system user with its own group"
[ "$home" = /var/lib/tovel3 ] && [ "$shell" = /usr/sbin/nologin ] || fail "home or shell of tovel3"
echo "ok: system user and group tovel3"

echo "## restrictions reproduced"
[ "$(id -u)" -eq 0 ] || fail "needs root for the namespaces and setpriv"
cp /usr/bin/ping "$work/tools/ping" # the copy has no file capability
# The unit's system call filter and address families, loaded with libseccomp
# before the command runs, as systemd does before it starts the service.
systemd-analyze syscall-filter >"$work/tools/syscall-groups" 2>/dev/null
cat >"$work/tools/seccomp-exec.py" <<'PY'
import errno, os, socket, sys
import seccomp

groups_file, allowed, families, *command = sys.argv[1:]
groups, current = {}, None
for line in open(groups_file):
    text = line.strip()
    if not text or text.startswith("#"):
        continue
    if line[0].isspace():
        current.append(text)
    else:
        current = groups.setdefault(text, [])

def expand(item):
    if not item.startswith("@"):
        return {item}
    return set().union(*(expand(member) for member in groups[item]))

names = set().union(*(expand(item) for item in allowed.split()))
rules = seccomp.SyscallFilter(defaction=seccomp.ERRNO(errno.EPERM))
def allow(name, *conditions):
    try:
        rules.add_rule(seccomp.ALLOW, name, *conditions)
    except Exception:
        pass  # not a system call of this architecture
for name in names - {"socket"}:
    allow(name)
for family in families.split():
    allow("socket", seccomp.Arg(0, seccomp.EQ, getattr(socket, family)))
rules.load()
os.execvp(command[0], command)
PY
unshare --net --mount bash "$0" --restricted "$unit" "$work/tools"
