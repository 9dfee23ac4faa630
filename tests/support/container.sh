# Sourced by shell tests: a minimal Debian 12 booted under its own systemd
# with systemd-nspawn (root only).
#
#   container_skip_reason        prints why this machine cannot boot one
#                                (nothing when it can)
#   container_base DIR           makes DIR/root with mmdebstrap once; later
#                                runs reuse it and its apt cache
#   container_copy DIR ROOT      a copy of DIR/root to boot and change
#   container_fetch DIR ROOT PKGDIR DEB...
#                                downloads what the packages (in PKGDIR, seen
#                                as /mnt/pkg) need into ROOT's apt cache, with
#                                the host's network, and keeps them in DIR's
#   container_boot ROOT LOG NSPAWN-ARGS...
#                                boots it without network; sets CONTAINER_PID1
#   in_container COMMAND...      runs a command inside
#   container_stop               powers it off and removes its cgroups
#   container_reap DIR           ends what a killed run left: its container's
#                                processes and cgroups, its copy DIR/run.PID
#                                and the processes noted in run.PID/*.pid
CONTAINER_NSPAWN=""
CONTAINER_PID1=""
CONTAINER_CGROUPS=()
CONTAINER_INCLUDE=systemd,systemd-sysv,dbus
CONTAINER_MIRRORS=("deb http://deb.debian.org/debian bookworm main"
  "deb http://deb.debian.org/debian bookworm-updates main"
  "deb http://deb.debian.org/debian-security bookworm-security main")

container_skip_reason() {
  if [ "$(id -u)" -ne 0 ]; then
    echo "needs root"
  elif ! command -v systemd-nspawn >/dev/null || ! command -v mmdebstrap >/dev/null; then
    echo "systemd-nspawn or mmdebstrap is not installed (build.sh test installs them)"
  elif [ ! -f /sys/fs/cgroup/unified/cgroup.procs ] && [ ! -f /sys/fs/cgroup/cgroup.procs ]; then
    echo "no cgroup2 hierarchy at /sys/fs/cgroup or /sys/fs/cgroup/unified"
  fi
}

# The cgroups a container of this name runs in: its own in every hierarchy
# systemd uses (the host's PID 1 need not be systemd).
container_cgroups() {
  if [ -f /sys/fs/cgroup/unified/cgroup.procs ]; then
    echo "/sys/fs/cgroup/unified/$1"
    [ -d /sys/fs/cgroup/systemd ] && echo "/sys/fs/cgroup/systemd/$1"
  else
    echo "/sys/fs/cgroup/$1"
  fi
  return 0
}

# Moves the calling subshell into new cgroups of its own, then makes it
# systemd-nspawn; container_uncgroup removes those cgroups once it has ended.
container_exec_nspawn() {
  local cg
  for cg in "${CONTAINER_CGROUPS[@]}"; do
    mkdir -p "$cg"
    echo "$BASHPID" >"$cg/cgroup.procs"
  done
  SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1 exec systemd-nspawn --quiet --register=no --keep-unit "$@"
}
container_uncgroup() {
  local cg
  for cg in "${CONTAINER_CGROUPS[@]}"; do
    [ -d "$cg" ] && find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null
  done
  CONTAINER_CGROUPS=()
}
container_nspawn() {
  local rc=0
  mapfile -t CONTAINER_CGROUPS < <(container_cgroups "tovel3-nspawn-$$-$RANDOM")
  (container_exec_nspawn "$@") || rc=$?
  container_uncgroup
  return $rc
}

container_base() {
  local dir=$1 stamp="mmdebstrap --variant=minbase --include=$CONTAINER_INCLUDE bookworm"
  mkdir -p "$dir"
  [ "$(cat "$dir/root/.tovel3-base" 2>/dev/null)" = "$stamp" ] && return 0
  echo "making the Debian 12 root (once): $stamp"
  rm -rf "$dir/root" "$dir/root.new"
  mmdebstrap --variant=minbase --include="$CONTAINER_INCLUDE" --skip=cleanup/apt/lists \
    --skip=cleanup/apt/cache bookworm "$dir/root.new" "${CONTAINER_MIRRORS[@]}" \
    >"$dir/mmdebstrap.log" 2>&1 || { tail -n 20 "$dir/mmdebstrap.log"; return 1; }
  echo "$stamp" >"$dir/root.new/.tovel3-base"
  mv "$dir/root.new" "$dir/root"
}

container_copy() {
  cp -a --reflink=auto "$1/root" "$2"
}

container_fetch() {
  local dir=$1 root=$2 pkgdir=$3 debs=() deb
  shift 3
  for deb in "$@"; do debs+=("/mnt/pkg/$deb"); done
  fetch() {
    container_nspawn -D "$root" --pipe --bind-ro="$pkgdir:/mnt/pkg" \
      env DEBIAN_FRONTEND=noninteractive apt-get "$@"
  }
  if ! fetch install --download-only -y "${debs[@]}" >"$root/fetch.log" 2>&1; then
    # The lists kept with the root are older than the mirror.
    fetch update >>"$root/fetch.log" 2>&1 &&
      fetch install --download-only -y "${debs[@]}" >>"$root/fetch.log" 2>&1 ||
      { tail -n 20 "$root/fetch.log"; return 1; }
    cp -a "$root/var/lib/apt/lists/." "$dir/root/var/lib/apt/lists/"
  fi
  cp -n "$root"/var/cache/apt/archives/*.deb "$dir/root/var/cache/apt/archives/" 2>/dev/null || true
}

container_boot() {
  local root=$1 log=$2 try
  shift 2
  mapfile -t CONTAINER_CGROUPS < <(container_cgroups "tovel3-nspawn-$$-$RANDOM")
  (container_exec_nspawn -D "$root" --boot --console=pipe --private-network \
    --system-call-filter=bpf "$@" >"$log" 2>&1 </dev/null) &
  CONTAINER_NSPAWN=$!
  # Its PID 1 is systemd-nspawn's child.
  for try in $(seq 100); do
    CONTAINER_PID1=$(cat /proc/"$CONTAINER_NSPAWN"/task/*/children 2>/dev/null | awk '{ print $1 }')
    [ -n "$CONTAINER_PID1" ] && [ "$(cat /proc/"$CONTAINER_PID1"/comm 2>/dev/null)" = systemd ] && break
    kill -0 "$CONTAINER_NSPAWN" 2>/dev/null || break
    CONTAINER_PID1=""
    sleep 0.1
  done
  [ -n "$CONTAINER_PID1" ] || return 1
  local state
  for try in $(seq 300); do
    # (refused until its bus is up, then waits for the boot to finish)
    state=$(timeout 60 nsenter -t "$CONTAINER_PID1" -a systemctl is-system-running --wait 2>/dev/null) || true
    case $state in
      running | degraded) return 0 ;;
      "" | offline | initializing | starting) sleep 0.2 ;;
      *) return 1 ;;
    esac
  done
  return 1
}

in_container() {
  nsenter -t "$CONTAINER_PID1" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive "$@"
}

container_stop() {
  [ -n "$CONTAINER_NSPAWN" ] || { container_uncgroup; return 0; }
  if [ -n "$CONTAINER_PID1" ]; then
    kill -RTMIN+4 "$CONTAINER_PID1" 2>/dev/null || true # poweroff
    timeout 20 tail -s 0.2 --pid="$CONTAINER_NSPAWN" -f /dev/null || kill -KILL "$CONTAINER_PID1" 2>/dev/null || true
  fi
  timeout 10 tail -s 0.2 --pid="$CONTAINER_NSPAWN" -f /dev/null || kill -KILL "$CONTAINER_NSPAWN" 2>/dev/null || true
  wait "$CONTAINER_NSPAWN" 2>/dev/null || true
  container_uncgroup
  CONTAINER_NSPAWN=""
  CONTAINER_PID1=""
}

container_reap() {
  local cg name pid run
  for cg in /sys/fs/cgroup/unified/tovel3-nspawn-* /sys/fs/cgroup/systemd/tovel3-nspawn-* \
    /sys/fs/cgroup/tovel3-nspawn-*; do
    [ -d "$cg" ] || continue
    name=${cg##*/tovel3-nspawn-}
    kill -0 "${name%%-*}" 2>/dev/null && continue
    for pid in $(cat $(find "$cg" -name cgroup.procs) 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null || true
    done
    sleep 0.5
    find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null || true
  done
  for run in "$1"/run.*; do
    [ -d "$run" ] || continue
    kill -0 "${run##*.}" 2>/dev/null && continue
    # Processes the run started on this side, by the ids it noted.
    for pid in $(cat "$run"/*.pid 2>/dev/null); do
      grep -qF "$run" "/proc/$pid/cmdline" 2>/dev/null && kill -KILL "$pid"
    done
    rm -rf "$run"
  done
}
