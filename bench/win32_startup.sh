#!/usr/bin/env bash
# The Windows dialog's start-up under Wine: from process start to the
# dialog shown, lumidex.exe against an empty Win32 dialog of the same size
# and font, interleaved in one run on a private Xvfb and Wine prefix; and
# the size of lumidex.exe. Not a test: it prints numbers.
#
#   bench/win32_startup.sh [BUILD_DIR] [ROUNDS]
#     BUILD_DIR: the cross build with bin/lumidex.exe (build-win/cmake)
set -euo pipefail
cd "$(dirname "$0")/.."

build=$(realpath "${1:-build-win/cmake}")
rounds=${2:-15}
exe=$build/bin/lumidex.exe
[ -f "$exe" ] || { echo "win32_startup: $exe is missing (scripts/test-windows builds it)" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/lumidex-bench-win32.XXXXXX")
pids=()
finish() {
  wineserver -k 2>/dev/null || true
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap finish EXIT

cxx=x86_64-w64-mingw32-g++-posix
flags=(-std=c++20 -O2 -Wall -Wextra -Wpedantic -Werror -static)
"$cxx" "${flags[@]}" -o "$work/empty_dialog.exe" bench/empty_dialog_win32.cpp -mwindows
"$cxx" "${flags[@]}" -municode -o "$work/startup_probe.exe" bench/win32_startup_probe.cpp

# The copy an operator gets is stripped (scripts/package): Wine
# reads a PE file's debug sections when it loads it, so both are timed.
mkdir -p "$work/app" "$work/stripped"
cp "$exe" "$work/app/"
x86_64-w64-mingw32-strip -o "$work/stripped/lumidex.exe" "$exe"
# The Config.ini of a station in daily use.
{
  printf '[Set]\r\nSet=1\r\nUIN=Now\r\nADD485=01\r\nLEDIP=-1062731420\r\n'
  for i in 1 2 3 4 5; do printf 'wsv%d=8\r\nwsv%d=2\r\n' "$i" $((i + 5)); done
  printf 'wsv22=8\r\nwsv23=2\r\n'
  printf '[Text]\r\n'; for i in 1 2 3 4 5 6; do printf 'Text%d=Yes\r\n' "$i"; done
  printf '[TextData]\r\n'; for i in 1 2 3 4 5 6; do printf 'TD%d=1234.56\r\n' "$i"; done
  printf '[TextBT]\r\n'; for i in 1 2 3 4 5 6; do printf 'TB%d=Production line %d\r\n' "$i" "$i"; done
  printf '[Port]\r\nPort=COM1\r\nBoud=9600\r\n[LD]\r\nLD=5\r\nLD2=3\r\n'
} >"$work/app/Config.ini"
cp "$work/app/Config.ini" "$work/stripped/"

export WINEPREFIX=$build/e2e-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
fi
: >"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/displayfd" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do grep -q '[0-9]' "$work/displayfd" && break; sleep 0.05; done
export DISPLAY=":$(tr -dc '0-9' <"$work/displayfd")"
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wineserver -p >/dev/null 2>&1 </dev/null
wine cmd.exe /c exit >/dev/null 2>&1 </dev/null

probe() {
  wine "$work/startup_probe.exe" "$1" "$(winepath -w "$2")" "$(winepath -w "$(dirname "$2")")" \
    </dev/null 2>/dev/null | tr -d '\r'
}
# One start of each to warm the caches, then interleaved rounds.
probe Empty_1.0 "$work/empty_dialog.exe" >/dev/null
probe Lumidex_1.0 "$work/app/lumidex.exe" >/dev/null
probe Lumidex_1.0 "$work/stripped/lumidex.exe" >/dev/null
empty=() dialog=() stripped=()
for _ in $(seq "$rounds"); do
  empty+=("$(probe Empty_1.0 "$work/empty_dialog.exe")")
  dialog+=("$(probe Lumidex_1.0 "$work/app/lumidex.exe")")
  stripped+=("$(probe Lumidex_1.0 "$work/stripped/lumidex.exe")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
m_empty=$(median "${empty[@]}")
m_dialog=$(median "${dialog[@]}")
m_stripped=$(median "${stripped[@]}")
ratio() { awk -v a="$1" -v b="$m_empty" 'BEGIN { printf "%.2f", a / b }'; }
echo "start to dialog shown under Wine (median of $rounds, openbox, load $(cut -d' ' -f1 /proc/loadavg)):"
echo "  empty Win32 dialog           ${m_empty} ms"
echo "  lumidex.exe as built         ${m_dialog} ms  ($(ratio "$m_dialog") x)"
echo "  lumidex.exe stripped         ${m_stripped} ms  ($(ratio "$m_stripped") x; target under 1.5 x)"
echo "lumidex.exe: $(stat -c %s "$exe") bytes as built, $(stat -c %s "$work/stripped/lumidex.exe") bytes stripped"
