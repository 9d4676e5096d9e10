# The VM mode of a Wine session: where this machine cannot run 32-bit programs, a small Debian VM
# under qemu-system-x86_64 runs the local steps (scripts/lib/wine-local.sh, sourced in the guest).
# Sourced by scripts/wine-session, which defines $repo, $winvm, $vm_assets, $guest_port, die, note
# and the path helpers first.

agent() { /usr/bin/python3 "$winvm/agent" "$@"; }

# Directories the guest sees at the same path: the repository's parent (or the repository,
# when that parent is a system directory such as / or /tmp) and $WINE_SESSION_SHARE.
vm_shares() {
  local top d
  top=$(dirname "$repo")
  system_dir "$top" && top=$repo
  echo "$top"
  local IFS=:
  for d in ${WINE_SESSION_SHARE:-}; do [ -n "$d" ] && abspath "$d"; done
}

# True for directories the guest needs for itself: a share there would hide them (Wine's and
# Xvfb's sockets live in the guest's own /tmp).
system_dir() {
  case $1 in
    / | /tmp | /var | /var/tmp | /home | /mnt | /srv | /opt | /root) return 0 ;;
    /usr | /usr/* | /etc | /etc/* | /bin* | /sbin* | /lib* | /boot* | /dev* | /proc* | /sys* | /run*) return 0 ;;
  esac
  return 1
}

in_shares() {
  local p=$1 s
  while read -r s; do is_under "$p" "$s" && return 0; done <"$2"
  return 1
}

# Boots the VM in the background: launch_qemu DIR PORT KERNEL-ARGS QEMU-ARGS... (the shares).
# snapshot=on: the image stays read-only; the guest's writes go to a deleted temporary file
# in $TMPDIR (here the session directory), so nothing survives the session.
# restrict=on: the guest gets no network beyond the forward.
# -cpu qemu64: the fewer instruction set extensions the guest sees, the faster it runs under
# TCG: with "max", the kernel's and glibc's string routines pick forms (rep movsb, AVX2) that
# TCG emulates slowly, and the guest spent most of its time in its kernel (wineboot: 27 s
# with qemu64, 70 s or more with max). "max" needs -smap: QEMU 7.2 pops IRET frames with
# supervisor rights, and the guest kernel then oopses on Wine's 32-bit IRETs.
# tsc=reliable: otherwise the guest finds the emulated TSCs unsynchronized and falls back to
# the HPET, making every clock read (Wine does many) a system call and a device access.
# mitigations=off: nothing to protect in here, and each mitigation costs more under TCG.
launch_qemu() {
  local dir=$1 port=$2 cmdline=$3
  shift 3
  TMPDIR=$dir/vm qemu-system-x86_64 \
    -name wine-session -nodefaults -no-user-config -no-reboot \
    -machine pc -accel tcg,thread=multi -cpu "${WINE_SESSION_VM_CPU:-qemu64}" \
    -smp "${WINE_SESSION_VM_CPUS:-2}" -m "${WINE_SESSION_VM_MEM:-3072}" \
    -display none -vga none -serial "file:$dir/vm/console.log" \
    -monitor "unix:$dir/vm/monitor.sock,server=on,wait=off" \
    -kernel "$vm_assets/vmlinuz" -initrd "$vm_assets/initrd.img" \
    -append "console=ttyS0 root=/dev/vda rw init=/sbin/winvm-init quiet panic=-1 tsc=reliable mitigations=off ${WINE_SESSION_9P:+winvm.9p=$WINE_SESSION_9P} winvm.port=$guest_port winvm.token=$dir/vm/token $cmdline" \
    -drive "file=$vm_assets/root.img,format=raw,if=virtio,snapshot=on,cache=unsafe" \
    -fsdev "local,id=fsw,path=$winvm,security_model=none,readonly=on" \
    -device "virtio-9p-pci,fsdev=fsw,mount_tag=winvm" \
    "$@" \
    -netdev "user,id=net0,restrict=on,hostfwd=tcp:127.0.0.1:$port-10.0.2.15:$guest_port" \
    -device virtio-net-pci,netdev=net0,romfile= \
    -device virtio-rng-pci \
    -pidfile "$dir/vm/qemu.pid" -daemonize >"$dir/vm/qemu.log" 2>&1
}

vm_start() {
  local dir=$1 limit=$2 deadline s i=0
  deadline=$(( $(date +%s) + limit ))
  grep -qs '^recipe=' "$vm_assets/COMPLETE" ||
    die "no complete VM image in $vm_assets (run scripts/winvm/build-image as root)"
  command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (package qemu-system-x86)"
  mkdir -p "$dir/vm" "$dir/log"
  note "$dir" "starting the VM"
  vm_shares | awk '!seen[$0]++' >"$dir/vm/shares"
  in_shares "$dir" "$dir/vm/shares" ||
    die "$dir is not inside a shared directory ($(paste -sd' ' "$dir/vm/shares")); set WINE_SESSION_SHARE"
  (umask 077 && od -An -N16 -tx1 /dev/urandom | tr -d ' \n' >"$dir/vm/token")

  local -a share_opts=() share_args=()
  while read -r s; do
    case $s in *[[:space:],]*) die "cannot share a path with spaces or commas: $s" ;; esac
    system_dir "$s" && die "cannot share $s with the VM: the guest needs its own"
    share_opts+=(-fsdev "local,id=fs$i,path=$s,security_model=passthrough"
                 -device "virtio-9p-pci,fsdev=fs$i,mount_tag=share$i")
    share_args+=("winvm.share$i=$s")
    i=$((i + 1))
  done <"$dir/vm/shares"
  share_opts+=(-fsdev "local,id=fss,path=$dir,security_model=passthrough"
               -device "virtio-9p-pci,fsdev=fss,mount_tag=session")
  share_args+=("winvm.session=$dir")

  # A free loopback port for the forward to the guest's agent. Another process may take it
  # before QEMU binds it: then try again with another.
  local port tries
  for tries in 1 2 3; do
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    echo "$port" >"$dir/vm/port"
    launch_qemu "$dir" "$port" "${share_args[*]}" "${share_opts[@]}" && break
    grep -q 'host forwarding' "$dir/vm/qemu.log" && [ "$tries" -lt 3 ] ||
      die "qemu failed to start: $(tail -n 5 "$dir/vm/qemu.log")"
  done

  note "$dir" "VM started"
  local left=$(( deadline - $(date +%s) ))
  if ! agent ping "$port" "$dir/vm/token" "$left"; then
    vm_stop "$dir"
    die "the VM did not come up within $limit s (console: $dir/vm/console.log)"
  fi
  note "$dir" "VM agent answers"
  left=$(( deadline - $(date +%s) ))
  local staging=staged
  [ -n "${WINE_SESSION_PREFIX_MEMORY:-}" ] && staging=memory:$WINE_SESSION_PREFIX_MEMORY
  if ! agent call "$port" "$dir/vm/token" "$dir" -- \
      bash -c '. "$0"; local_start "$@"' "$local_steps" "$dir" "$left" "$staging"; then
    vm_stop "$dir"
    die "could not start Wine in the VM (logs: $dir/log)"
  fi
}

vm_run() {
  local dir=$1 cwd
  shift
  [ -f "$dir/vm/port" ] && vm_alive "$dir" || die "no running session in $dir (run: wine-session start $dir)"
  cwd=$PWD
  in_shares "$cwd" "$dir/vm/shares" || cwd=$dir
  agent call "$(cat "$dir/vm/port")" "$dir/vm/token" "$cwd" -- \
    bash -c '. "$0"; guest_run "$@"' "$local_steps" "$dir" "$@"
}

vm_alive() { [ -f "$1/vm/qemu.pid" ] && kill -0 "$(cat "$1/vm/qemu.pid")" 2>/dev/null; }

vm_stop() {
  local dir=$1 pid
  vm_alive "$dir" || { rm -f "$dir/vm/qemu.pid"; return 0; }
  pid=$(cat "$dir/vm/qemu.pid")
  # Let wineserver write the registry out, then end the VM; nothing inside needs a clean shutdown.
  timeout 20 /usr/bin/python3 "$winvm/agent" call "$(cat "$dir/vm/port")" "$dir/vm/token" "$dir" -- \
    bash -c '. "$0"; local_stop "$1"; sync' "$local_steps" "$dir" >/dev/null 2>&1 || true
  kill "$pid" 2>/dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/vm/qemu.pid" "$dir/vm/monitor.sock"
}
