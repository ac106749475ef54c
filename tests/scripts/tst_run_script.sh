#!/usr/bin/env bash
# scripts/run on a machine shared with other local users, headless: the VNC
# password appears on no command line (every user reads those in /proc), and
# a "kill -9" of the script ends every program it started, which would
# otherwise keep running with its private folder.
#
# With "site": scripts/run --site serves the boards it wrote over HTTP, a
# line sent through the API reaches that board's simulator, and a "kill -9"
# of the script ends the simulators and the board service.
#
#   tst_run_script.sh BUILD_DIR [site]   BUILD_DIR/bin holds the programs
#
# Exit 77 (skipped) when a tool is missing or an address the run needs is
# taken.
set -euo pipefail

build=$1
mode=${2:-dialog}
tree=$(cd "$(dirname "$0")/../.." && pwd)
tools=(Xvfb x11vnc xauth setpriv)
programs=(lumidex lumidex-sim lumidex-send)
if [ "$mode" = site ]; then
  tools=(setpriv curl)
  programs=(lumidex-sim lumidex-bridge)
fi
for tool in "${tools[@]}"; do
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
for program in "${programs[@]}"; do
  cp "$build/bin/$program" "$work/build/bin/"
done
# A stand-in x11vnc records its command line, then runs the real one.
if [ "$mode" = dialog ]; then
  real_vnc=$(command -v x11vnc)
  cat >"$work/shim/x11vnc" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$work/x11vnc-command-lines"
exec "$real_vnc" "\$@"
EOF
  chmod +x "$work/shim/x11vnc"
fi

# Root runs it in a network namespace of its own, so the simulator's
# 127.0.0.1:10006 (and the site's addresses) meet no other test.
isolate=()
if [ "$(id -u)" -eq 0 ] && command -v ip >/dev/null && unshare -n true 2>/dev/null; then
  isolate=(unshare -n bash -c 'ip link set lo up && exec "$@"' run)
fi
run_args=()
[ "$mode" = site ] && run_args=(--site)
env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR TMPDIR="$work/tmp" \
  PATH="$work/shim:$PATH" LUMIDEX_BUILD_DIR="$work/build" LUMIDEX_RUN_PREBUILT=1 \
  "${isolate[@]}" "$tree/scripts/run" "${run_args[@]}" >"$work/out" 2>&1 </dev/null &
run_pid=$!

# Every process below the script, found before it is killed.
collect() {
  local parent=$1 child
  for child in $(ps -o pid= --ppid "$parent"); do
    descendants+=("$child")
    collect "$child"
  done
}

# Kills the script with SIGKILL; fails for each program it started that
# still runs 5 s later.
kill_run_and_check() {
  kill -9 "$run_pid"
  wait "$run_pid" 2>/dev/null || true
  run_pid=""
  local left=() pid
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
}

failures=0
if [ "$mode" = site ]; then
  site=http://127.0.0.1:8080
  for _ in $(seq 300); do
    grep -q "^  $site/\$" "$work/out" && break
    if ! kill -0 "$run_pid" 2>/dev/null; then
      if grep -q "taken?" "$work/out"; then
        echo "SKIPPED: $(grep "taken?" "$work/out")"
        exit 77
      fi
      cat "$work/out" >&2
      echo "FAIL: scripts/run --site ended before it showed the page's address" >&2
      exit 1
    fi
    sleep 0.1
  done
  # The API as seen from the run's own network.
  in_run_net=()
  [ ${#isolate[@]} -gt 0 ] && in_run_net=(nsenter --net="/proc/$run_pid/ns/net")
  boards=$("${in_run_net[@]}" curl -sS --max-time 10 "$site/api/boards") || true
  for name in hall dock yard; do
    if [[ $boards != *"\"name\":\"$name\""* ]]; then
      echo "FAIL: board $name is not in GET /api/boards: $boards" >&2
      failures=$((failures + 1))
    fi
  done
  answer=$("${in_run_net[@]}" curl -sS --max-time 10 -X POST -H 'Content-Type: application/json' \
    -d '{"lines":{"1":"12.5"}}' "$site/api/boards/hall") || true
  if [[ $answer != *'"result":"accepted"'* ]]; then
    echo "FAIL: hall did not accept line 1: $answer" >&2
    failures=$((failures + 1))
  fi
  # hall's line 1 has 5 digits, 2 of them decimals: its simulator draws 12.50.
  for _ in $(seq 50); do
    grep -qF ' 12.50]' "$work/out" && break
    sleep 0.1
  done
  if ! grep -qF ' 12.50]' "$work/out"; then
    cat "$work/out" >&2
    echo "FAIL: hall's simulator did not show line 1 as 12.50" >&2
    failures=$((failures + 1))
  fi
  collect "$run_pid"
  names=$(for pid in "${descendants[@]}"; do ps -o comm= -p "$pid"; done | sort)
  if [ "$(grep -cx lumidex-sim <<<"$names")" -ne 3 ] || ! grep -qx lumidex-bridge <<<"$names"; then
    echo "FAIL: not three simulators and the board service under scripts/run (found: $(echo $names))" >&2
    failures=$((failures + 1))
  fi
  kill_run_and_check
  [ "$failures" -eq 0 ] || exit 1
  echo "PASS: the site's boards served and fed over HTTP; $(echo $names) ended with the script"
  exit 0
fi

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

collect "$run_pid"
names=$(for pid in "${descendants[@]}"; do ps -o comm= -p "$pid"; done | sort)
for wanted in lumidex-sim Xvfb x11vnc lumidex tail; do
  if ! grep -qx -- "$wanted" <<<"$names"; then
    echo "FAIL: $wanted is not running under scripts/run (found: $(echo $names))" >&2
    failures=$((failures + 1))
  fi
done

kill_run_and_check

if [ "$failures" -gt 0 ]; then
  exit 1
fi
echo "PASS: no password on a command line; $(echo $names) ended with the script"
