#!/usr/bin/env bash
# scripts/run on a machine shared with other local users, headless: the VNC
# password appears on no command line (every user reads those in /proc), and
# a "kill -9" of the script ends every program it started, which would
# otherwise keep running with its private folder.
#
#   tst_run_script.sh BUILD_DIR     BUILD_DIR/bin holds lumidex, lumidex-sim
#                                   and lumidex-send
#
# Exit 77 (skipped) when the X tools are missing or 127.0.0.1:10006 is taken.
set -euo pipefail

build=$1
tree=$(cd "$(dirname "$0")/../.." && pwd)
for tool in Xvfb x11vnc xauth setpriv; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is missing"
    exit 77
  fi
done

work=$(mktemp -d -t lumidex-run-test.XXXXXX)
run_pid=""
descendants=()
cleanup() {
  local pid
  [ -n "$run_pid" ] && kill -9 "$run_pid" 2>/dev/null || true
  for pid in "${descendants[@]}"; do
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# A copy of the programs, so the run seeds a Config.ini of its own.
mkdir -p "$work/build/bin" "$work/tmp" "$work/shim"
cp "$build/bin/lumidex" "$build/bin/lumidex-sim" "$build/bin/lumidex-send" "$work/build/bin/"
# A stand-in x11vnc records its command line, then runs the real one.
real_vnc=$(command -v x11vnc)
cat >"$work/shim/x11vnc" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$work/x11vnc-command-lines"
exec "$real_vnc" "\$@"
EOF
chmod +x "$work/shim/x11vnc"

# Root runs it in a network namespace of its own, so the simulator's
# 127.0.0.1:10006 meets no other test.
isolate=()
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && unshare -n true 2>/dev/null; then
  isolate=(unshare -n bash -c 'ip link set lo up && exec "$@"' run)
fi
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" \
  PATH="$work/shim:$PATH" LUMIDEX_BUILD_DIR="$work/build" LUMIDEX_RUN_PREBUILT=1 \
  "${isolate[@]}" "$tree/scripts/run" >"$work/out" 2>&1 </dev/null &
run_pid=$!

password=""
for _ in $(seq 300); do
  password=$(sed -n 's/.*password: \([0-9a-f]*\).*/\1/p' "$work/out")
  [ -n "$password" ] && break
  if ! kill -0 "$run_pid" 2>/dev/null; then
    if grep -q "port 10006 on 127.0.0.1 taken" "$work/out"; then
      echo "SKIPPED: 127.0.0.1:10006 is taken"
      exit 77
    fi
    cat "$work/out" >&2
    echo "FAIL: scripts/run ended before it showed the VNC password" >&2
    exit 1
  fi
  sleep 0.1
done
[ -n "$password" ] || { cat "$work/out" >&2; echo "FAIL: no VNC password shown" >&2; exit 1; }
# The dialog starts last; give it a moment to be up with the rest.
sleep 1

# Matched by the shell itself, so the password goes on no command line here
# either.
failures=0
recorded=$(cat "$work/x11vnc-command-lines")
if [[ $recorded == *"$password"* ]]; then
  echo "FAIL: the VNC password was on x11vnc's command line: $recorded" >&2
  failures=$((failures + 1))
fi
for cmdline in /proc/[0-9]*/cmdline; do
  { line=$(tr '\0' ' ' <"$cmdline"); } 2>/dev/null || continue
  if [[ $line == *"$password"* ]]; then
    echo "FAIL: the VNC password is on a command line: $line" >&2
    failures=$((failures + 1))
  fi
done

# Every process below the script, found before it is killed.
collect() {
  local parent=$1 child
  for child in $(ps -o pid= --ppid "$parent"); do
    descendants+=("$child")
    collect "$child"
  done
}
collect "$run_pid"
names=$(for pid in "${descendants[@]}"; do ps -o comm= -p "$pid"; done | sort)
for wanted in lumidex-sim Xvfb x11vnc lumidex tail; do
  if ! grep -qx -- "$wanted" <<<"$names"; then
    echo "FAIL: $wanted is not running under scripts/run (found: $(echo $names))" >&2
    failures=$((failures + 1))
  fi
done

kill -9 "$run_pid"
wait "$run_pid" 2>/dev/null || true
run_pid=""
left=()
for _ in $(seq 50); do
  left=()
  for pid in "${descendants[@]}"; do
    if kill -0 "$pid" 2>/dev/null && [ "$(ps -o stat= -p "$pid" | cut -c1)" != Z ]; then
      left+=("$pid $(ps -o comm= -p "$pid")")
    fi
  done
  [ ${#left[@]} -eq 0 ] && break
  sleep 0.1
done
if [ ${#left[@]} -gt 0 ]; then
  echo "FAIL: still running 5 s after kill -9 of scripts/run: ${left[*]}" >&2
  failures=$((failures + 1))
fi

if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "PASS: no password on a command line; $(echo $names) ended with the script"
