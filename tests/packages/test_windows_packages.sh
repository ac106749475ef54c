#!/usr/bin/env bash
# Makes the Windows zip and installer from a mingw-w64 build tree with
# packaging/windows/build-packages.sh, as scripts/package does, and tries
# them under Wine as an operator would: the unpacked zip sends; the setup
# installs silently into a fresh Wine prefix, its programs run from Program
# Files, the installed dialog comes up and keeps its settings in
# %APPDATA%\Lumidex, and a silent uninstall removes the programs, the
# Start-menu entry and the entry among installed programs but keeps the
# settings. Exits 77 (skipped) without wine, zip, makensis or Xvfb.
#
# Usage: test_windows_packages.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: test_windows_packages.sh BUILD_DIR}" && pwd)
for tool in wine wineboot wineserver zip unzip makensis Xvfb xdotool strings; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

work=$(mktemp -d "$build/windows-package-test.XXXXXX")
xvfb_pid=""
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
pass() { echo "ok: $*"; }
check() { # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
poll() { # poll SECONDS COMMAND...: true once COMMAND succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.2
  done
}

# A private X screen from the start: Wine's own services, started with the
# first program of a prefix, stay on the display they found.
screen_file="$work/display"
: >"$screen_file"
Xvfb -displayfd 3 -screen 0 800x700x24 -nolisten tcp -noreset 3>"$screen_file" \
  >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
poll 10 grep -q '[0-9]' "$screen_file" || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(tr -dc '0-9' <"$screen_file")"
poll 10 xdotool getmouselocation >/dev/null

"$here/../../packaging/windows/build-packages.sh" "$build" "$work/out" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
zip_file="$work/out/lumidex-$version-win64-portable.zip"
setup="$work/out/lumidex-$version-win64-setup.exe"
check "the zip is made" test -f "$zip_file"
check "the installer is made" test -f "$setup"
[ -f "$zip_file" ] && [ -f "$setup" ] || exit 1

# --- The portable zip ------------------------------------------------------
unzip -q "$zip_file" -d "$work/unpacked"
portable="$work/unpacked/lumidex-$version-win64-portable"
for file in lumidex.exe lumidex-send.exe lumidex-sim.exe lumidex-bridge.exe Help.doc Help.html LICENSE \
    FONT-LICENSE.txt README.txt; do
  check "the zip holds $file" test -f "$portable/$file"
done
# The version resource Explorer shows: the version of project() and the
# licence (its texts are UTF-16).
for program in lumidex lumidex-send lumidex-sim lumidex-bridge; do
  texts=$(strings -n 3 -el "$portable/$program.exe")
  check "$program.exe's version resource says $version and MIT" \
    test "$(grep -cx -e "$version" -e "SPDX-License-Identifier: MIT" <<<"$texts")" -ge 3
done
check "the zip holds nothing else" test "$(find "$work/unpacked" -type f | wc -l)" -eq 9

wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w
printf '[Set]\r\nADD485=05\r\n[TextData]\r\nTD1=123\r\n' >"$portable/Config.ini"
: >"$work/empty.ini"
portable_send() { (cd "$portable" && wine ./lumidex-send.exe "$@" </dev/null 2>&1 | tr -d '\r'); }
frame=$(portable_send --dry-run content)
frame_told=$(portable_send --config "$(winepath -w "$portable/Config.ini")" --dry-run content)
frame_default=$(portable_send --config "$(winepath -w "$work/empty.ini")" --dry-run content)
check "the unpacked lumidex-send.exe sends the Config.ini beside it" \
  test -n "$frame" -a "$frame" = "$frame_told" -a "$frame" != "$frame_default"
check "the unpacked lumidex-send.exe says its version" \
  test "$(cd "$portable" && wine ./lumidex-send.exe --version </dev/null | tr -d '\r' | head -n1)" \
  = "lumidex-send $version"

# --- The installer ---------------------------------------------------------
# A fresh prefix: nothing of the portable run is in it.
wineserver -k 2>/dev/null || true
export WINEPREFIX="$work/installed-prefix"
wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w
drive="$WINEPREFIX/drive_c"
program_dir="$drive/Program Files/Lumidex"
start_menu="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Lumidex.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Lumidex'
unregistered() { ! wine reg query "$uninstall_key" </dev/null >/dev/null 2>&1; }
# A folder outside Program Files inherits what its drive lets users do, so
# the installer refuses it and installs nothing.
set +e
wine "$setup" /S '/D=C:\Lumidex' </dev/null >/dev/null 2>&1
outside_status=$?
set -e
wineserver -w
check "the installer refuses a folder outside Program Files (status 2)" test "$outside_status" = 2
check "the refused installer leaves nothing" test ! -e "$drive/Lumidex" -a ! -e "$program_dir"
check "the refused installer registers nothing" unregistered
# /SERVICE chooses the optional board service (tst_windows_service tries
# the service itself).
wine "$setup" /S /SERVICE </dev/null >/dev/null 2>&1
wineserver -w
service_key='HKLM\System\CurrentControlSet\Services\LumidexBridge'
service_registered() { wine reg query "$service_key" /v ImagePath </dev/null >/dev/null 2>&1; }
check "the installer registers the board service LumidexBridge" service_registered
for file in lumidex.exe lumidex-send.exe lumidex-sim.exe lumidex-bridge.exe Help.doc Help.html LICENSE Uninstall.exe; do
  check "the installer puts $file into Program Files\\Lumidex" test -f "$program_dir/$file"
done
check "the installer makes the Start-menu entry Lumidex" test -f "$start_menu"
registered() { wine reg query "$uninstall_key" /v "$1" </dev/null 2>/dev/null | tr -d '\r'; }
check "the installer lists Lumidex $version among installed programs" \
  grep -q "DisplayVersion.*$version" <<<"$(registered DisplayVersion)"
check "the uninstaller it registers lies in Program Files" \
  grep -qF '"C:\Program Files\Lumidex\Uninstall.exe"' <<<"$(registered UninstallString)"

appdata=$(wine cmd.exe /c echo %APPDATA% </dev/null 2>/dev/null | tr -d '\r')
settings="$(winepath -u "$appdata" 2>/dev/null)/Lumidex/Config.ini"
rm -f "$work/no-settings.ini"
: >"$work/no-settings.ini"
got=$(wine "C:\\Program Files\\Lumidex\\lumidex-send.exe" --config "$(winepath -w "$work/no-settings.ini")" \
      --dry-run content </dev/null 2>&1 | tr -d '\r')
check "the installed lumidex-send.exe runs" grep -qx 'FE [0-9A-F ]*' <<<"$got"

# The installed dialog on the private X screen: up, and its settings made
# in %APPDATA%\Lumidex, never in Program Files.
wine "C:\\Program Files\\Lumidex\\lumidex.exe" </dev/null >"$work/dialog.log" 2>&1 &
window_up() { xdotool search --onlyvisible --name '^Lumidex_1\.0$' >/dev/null; }
check "the installed lumidex.exe comes up" poll 30 window_up
check "the installed lumidex.exe keeps its settings in %APPDATA%\\Lumidex" poll 30 test -f "$settings"
check "the installed lumidex.exe writes nothing into Program Files" test ! -e "$program_dir/Config.ini"
wineserver -k 2>/dev/null || true

# --- Uninstalling ----------------------------------------------------------
wine "C:\\Program Files\\Lumidex\\Uninstall.exe" /S </dev/null >/dev/null 2>&1
wineserver -w
check "uninstalling removes the program folder" poll 10 test ! -e "$program_dir"
check "uninstalling removes the Start-menu entry" test ! -e "$start_menu"
check "uninstalling removes the entry among installed programs" unregistered
check "uninstalling removes the board service" poll 15 eval '! service_registered' 
check "uninstalling keeps the operator's settings" test -f "$settings"

if [ "$failures" -ne 0 ]; then
  echo "$failures Windows package check(s) failed" >&2
  exit 1
fi
echo "all Windows package checks passed"
