# The local steps of a Wine session: Xvfb, prefix and wineserver on this machine. Sourced by
# scripts/wine-session in native mode, and inside the VM by the guest (same paths), so both modes
# run one sequence. Needs bash; sets the strict options the caller has anyway, then defines
# functions only.

set -euo pipefail

die() { echo "wine-session: error: $*" >&2; exit 1; }
# Progress with timestamps, for the session's start.log (what took how long).
note() { echo "$(date +%T.%N | cut -c1-12) $2" >>"$1/log/start.log"; }
# The environment every Wine command of the session gets.
session_env() {
  local dir=$1
  echo "PATH=/usr/local/bin:/usr/bin:/bin"
  echo "HOME=${HOME:-/root}"
  echo "USER=$(id -un)"
  echo "LOGNAME=$(id -un)"
  echo "LANG=C.UTF-8"
  echo "WINEPREFIX=$dir/prefix"
  echo "WINEARCH=win32"
  echo "WINEDEBUG=-all"
  # No Mono/Gecko installer dialogs, no desktop menu entries written outside the prefix.
  echo "WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe="
  [ -f "$dir/display" ] && echo "DISPLAY=:$(cat "$dir/display")"
  return 0
}

# Starts a persistent wineserver (each later run then starts in well under a second) and runs
# wineboot with the given arguments, within the deadline (seconds since the epoch).
wine_boot() {
  local dir=$1 deadline=$2 left
  shift 2
  local -a env
  mapfile -t env < <(session_env "$dir")
  env -i "${env[@]}" setsid wineserver -p </dev/null >>"$dir/log/wineserver.log" 2>&1 ||
    die "wineserver failed: $(tail -n 5 "$dir/log/wineserver.log")"
  left=$(( deadline - $(date +%s) ))
  [ "$left" -gt 0 ] || die "out of time before wineboot"
  note "$dir" "wineboot $*"
  env -i "${env[@]}" timeout "$left" wine wineboot "$@" </dev/null >>"$dir/log/wineboot.log" 2>&1 ||
    die "wineboot $* failed or ran out of time: $(tail -n 5 "$dir/log/wineboot.log")"
}

# Local part of start. LIMIT is in seconds. STAGED (VM mode): "staged" builds the prefix in
# memory and copies it out; "memory:SIZE" keeps it in guest memory (a tmpfs of SIZE) for the
# whole session, so that programs writing hundreds of megabytes are not timed on 9p.
local_start() {
  local dir=$1 limit=$2 staged=${3:-} n deadline size=1536m
  case $staged in memory:*) size=${staged#memory:} ;; esac
  deadline=$(( $(date +%s) + limit ))
  mkdir -p "$dir/log"
  # Xvfb picks a free display itself and writes its number once it accepts clients.
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
    3>"$dir/display.tmp" </dev/null >"$dir/log/xvfb.log" 2>&1 &
  echo $! >"$dir/xvfb.pid"
  for ((n = 0; n < 300; n++)); do
    grep -q '[0-9]' "$dir/display.tmp" 2>/dev/null && break
    kill -0 "$(cat "$dir/xvfb.pid")" 2>/dev/null || die "Xvfb failed: $(tail -n 5 "$dir/log/xvfb.log")"
    sleep 0.1
  done
  tr -dc 0-9 <"$dir/display.tmp" >"$dir/display" && rm -f "$dir/display.tmp"
  [ -s "$dir/display" ] || die "Xvfb gave no display within 30 s"

  local -a env
  mapfile -t env < <(session_env "$dir")
  mkdir -p "$dir/prefix"
  # In the VM the prefix is on 9p, where wineboot -i takes minutes (every file operation is a
  # round trip to the host): build it in guest memory at the same path, then copy it out.
  local out=/run/winvm-session
  if [ -n "$staged" ]; then
    mountpoint -q "$out" && [ "$(cat "$out/mode" 2>/dev/null)" = vm ] ||
      die "the session directory is not mounted at $out in the guest"
    mount -t tmpfs -o "size=$size,mode=755" tmpfs "$dir/prefix"
  fi
  wine_boot "$dir" "$deadline" -i
  # The persistent wineserver holds the new registry in memory and writes system.reg and
  # user.reg only when it saves: stop it and wait, so the prefix on disk is complete.
  note "$dir" "saving the prefix"
  env -i "${env[@]}" wineserver -k >/dev/null 2>&1 || true
  env -i "${env[@]}" timeout 60 wineserver -w || die "wineserver did not exit after wineboot"
  if [ "$staged" = staged ]; then
    # Out through the session directory's uncached mount (guest-init), which writes in large
    # blocks.
    cp -a "$dir/prefix/." "$out/prefix/" && sync || die "could not copy the prefix to $dir/prefix"
    # Wine's processes may take a moment to go after their server; lazily detach at worst.
    for n in 1 2 3 4 5 6 7 8 9 10; do umount "$dir/prefix" 2>/dev/null && break; sleep 0.5; done
    mountpoint -q "$dir/prefix" && umount -l "$dir/prefix"
    mountpoint -q "$dir/prefix" && die "cannot unmount the staging prefix"
    echo 2 >/proc/sys/vm/drop_caches
    note "$dir" "copied"
  fi
  [ -f "$dir/prefix/system.reg" ] || die "wineboot made no prefix in $dir/prefix"
  # The services again, now on the finished prefix.
  wine_boot "$dir" "$deadline"
  # A crashing program would otherwise wait for a click on winedbg's dialog (there is a display):
  # without it the backtrace goes to stderr and the program ends.
  env -i "${env[@]}" timeout 120 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog \
    /t REG_DWORD /d 0 /f </dev/null >>"$dir/log/wineboot.log" 2>&1 || die "could not turn off the crash dialog"
  note "$dir" "ready"
  echo ready >"$dir/local.ready"
  # In the VM the shares write back lazily: let the host see the logs now.
  if [ -n "$staged" ]; then sync; fi
}

local_run() {
  local dir=$1
  shift
  local -a env extra=()
  mapfile -t env < <(session_env "$dir")
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do
    case $1 in *=*) extra+=("$1") ;; *) die "expected NAME=VALUE or --, got '$1'" ;; esac
    shift
  done
  [ $# -ge 2 ] || die "run needs -- PROGRAM [ARGS...]"
  shift
  [ -f "$dir/local.ready" ] || die "no session in $dir (run: wine-session start $dir)"
  exec env -i "${env[@]}" "${extra[@]}" wine "$@" </dev/null
}

local_stop() {
  local dir=$1 pid
  local -a env
  if [ -d "$dir/prefix" ]; then
    mapfile -t env < <(session_env "$dir")
    env -i "${env[@]}" timeout 30 wineserver -k >/dev/null 2>&1 || true
  fi
  if [ -f "$dir/xvfb.pid" ]; then
    pid=$(cat "$dir/xvfb.pid")
    kill "$pid" 2>/dev/null || true
    for _ in 1 2 3 4 5 6 7 8 9 10; do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/xvfb.pid" "$dir/local.ready"
}

# In the guest: a run that sees the host's latest files (the shares cache loosely, see guest-init)
# and whose writes have reached the host when it returns.
guest_run() {
  local dir=$1 status=0
  shift
  echo 2 >/proc/sys/vm/drop_caches
  (local_run "$dir" "$@") || status=$?
  sync
  return "$status"
}

