#!/usr/bin/env bash
# lumidex-bridge.exe as a Windows service under Wine: --install-service
# registers it and makes %ProgramData%\Lumidex; started by the service
# manager over the boards file put there, it answers GET /api/boards and a
# POST reaches lumidex-sim.exe; --uninstall-service stops and removes it and
# keeps the folder. A password file other users may read is refused at
# start, as far as Wine keeps access lists (it makes them from the file's
# mode). Runs in the Wine prefix scripts/test-windows set up
# (WINEPREFIX). Exits 77 (skipped) without Wine or python3.
#
# Usage: test_windows_service.sh BIN_DIR
set -euo pipefail
bin=$(cd "${1:?usage: test_windows_service.sh BIN_DIR}" && pwd)
for tool in wine wineserver winepath python3; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

work=$(mktemp -d)
sim_pid=""
cleanup() {
  wine "$bin/lumidex-bridge.exe" --uninstall-service </dev/null >/dev/null 2>&1 || true
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what" >&2; failures=$((failures + 1)); fi
}
poll() { # poll SECONDS COMMAND...
  local deadline=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}
# http METHOD PATH [BODY]: prints the status and the body on one line.
http() {
  python3 - "$port" "$@" <<'PY'
import http.client, sys
port, method, path = int(sys.argv[1]), sys.argv[2], sys.argv[3]
body = sys.argv[4] if len(sys.argv) > 4 else None
c = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
c.request(method, path, body=body, headers={"Content-Type": "application/json"} if body else {})
r = c.getresponse()
print(r.status, r.read().decode())
PY
}

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
folder="$(winepath -u 'C:\ProgramData')/Lumidex"
rm -rf "$folder"

wine "$bin/lumidex-bridge.exe" --install-service </dev/null >"$work/install.log" 2>&1 ||
  { cat "$work/install.log" >&2; exit 1; }
service_key='HKLM\System\CurrentControlSet\Services\LumidexBridge'
# The service's command line; nothing once it is gone (reg says why on
# standard output then, and fails).
registered() {
  local out
  out=$(wine reg query "$service_key" /v ImagePath </dev/null 2>/dev/null) || return 0
  tr -d '\r' <<<"$out"
}
check "the service is registered to run lumidex-bridge.exe --service" \
  grep -q 'lumidex-bridge.exe" --service' <<<"$(registered)"
check "its folder is made" test -d "$folder"

# One board: the simulated card under Wine, on 127.0.0.1.
printf '[Set]\r\nwsv1=4\r\nwsv6=2\r\nLEDIP=2130706433\r\n[Text]\r\nText2=No\r\nText3=No\r\nText4=No\r\nText5=No\r\nText6=No\r\n' \
  >"$folder/hall.ini"
printf '[http]\r\nlisten=127.0.0.1:%s\r\n[hall]\r\nsettings=hall.ini\r\nrefresh=0\r\n' "$port" >"$folder/boards.ini"
wine "$bin/lumidex-sim.exe" --udp 127.0.0.1 --json </dev/null >"$work/sim.log" 2>&1 &
sim_pid=$!
poll 20 grep -q '^udp:' "$work/sim.log"

wine net start LumidexBridge </dev/null >"$work/start.log" 2>&1 || true
answers() { grep -q '^200 {"boards":\[{"name":"hall"' <<<"$(http GET /api/boards)"; }
check "the service answers GET /api/boards" poll 30 answers
got=$(http POST /api/boards/hall '{"lines": {"1": "12.5"}}')
check "a POST is answered with the board's accepted status" grep -q '^200 .*"result":"accepted"' <<<"$got"
check "the POST reaches the simulated card" poll 10 grep -q '"text":"12.50"' "$work/sim.log"
check "the board's Config.ini holds the value" grep -q 'TD1=12.50' "$folder/hall.ini"

# A password's hash that every user may read could be guessed at leisure:
# refused at start (exit 2). Kept to its user, the file is taken, and the
# bridge goes on to fail on the port the service holds.
printf '[http]\r\nlisten=127.0.0.1:%s\r\nadmin-password-file=admin.pass\r\n[hall]\r\nsettings=%s\r\n' \
  "$port" "$(winepath -w "$folder/hall.ini")" >"$work/boards.ini"
wine "$bin/lumidex-bridge.exe" --hash-password <<<'the admin password' >"$work/admin.pass" 2>/dev/null
chmod 644 "$work/admin.pass"
status=0
wine "$bin/lumidex-bridge.exe" --boards "$(winepath -w "$work/boards.ini")" </dev/null \
  >"$work/readable.log" 2>&1 || status=$?
check "a password file every user may read is refused (exit 2)" \
  grep -q 'refusing the admin password file: .* can be read by' "$work/readable.log"
check "... with exit status 2" test "$status" -eq 2
chmod 600 "$work/admin.pass"
wine "$bin/lumidex-bridge.exe" --boards "$(winepath -w "$work/boards.ini")" </dev/null \
  >"$work/private.log" 2>&1 || true
check "a password file of its user alone is taken" grep -q 'cannot listen' "$work/private.log"

wine "$bin/lumidex-bridge.exe" --uninstall-service </dev/null >"$work/uninstall.log" 2>&1
gone() { ! grep -q '^200' <<<"$(http GET /api/boards 2>/dev/null)"; }
check "uninstalling stops the service" poll 15 gone
unregistered() { test -z "$(registered)"; }
check "uninstalling removes the service" poll 15 unregistered
check "uninstalling keeps the folder" test -f "$folder/boards.ini"
rm -rf "$folder"

if [ "$failures" -ne 0 ]; then
  echo "$failures Windows service check(s) failed" >&2
  exit 1
fi
echo "all Windows service checks passed"
