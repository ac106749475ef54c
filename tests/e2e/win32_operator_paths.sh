#!/usr/bin/env bash
# lumidex.exe as an operator meets it on Windows: the real program under
# Wine on its own X server, without a window manager and under openbox,
# driven with xdotool; each scenario checks Config.ini beside the program
# and what the simulated control card received.
#
# Usage: win32_operator_paths.sh BIN_DIR PROBE_EXE [SCENARIO...]
#   BIN_DIR holds lumidex.exe, lumidex-sim.exe and lumidex-send.exe.
# LUMIDEX_E2E_WINEPREFIX names the private Wine prefix (made when missing).
# Exits 77 (skipped) when Wine, Xvfb, openbox or xdotool is missing.
set -euo pipefail

for tool in wine wineboot wineserver winepath Xvfb openbox xdotool xprop; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs it)" >&2
    exit 77
  fi
done

BIN_DIR=$(realpath "$1")
W32_PROBE=$(realpath "$2")
shift 2
LUMIDEX_EXE=$BIN_DIR/lumidex.exe
PLANTED_LIBRARY=$(dirname "$W32_PROBE")/planted-library.dll
E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumidex-e2e-win32.XXXXXX")
export WINEPREFIX=${LUMIDEX_E2E_WINEPREFIX:-$(dirname "$W32_PROBE")/e2e-wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
here=$(dirname "$0")
source "$here/lib.sh"
source "$here/win32_lib.sh"
sim_pid=
finish() {
  [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
  wineserver -k 2>/dev/null || true
  e2e_cleanup
  [ "${E2E_KEEP:-0}" = 1 ] || rm -rf "$E2E_WORK"
}
trap finish EXIT

# The simulated card runs under Wine too, where a socket bound to another
# loopback address listens on all of them and answers from 127.0.0.1 (see
# tests/support/udp_peer.h): so the card is 127.0.0.1, and the suites that
# use port 10006 under Wine take turns (ctest's RESOURCE_LOCK).
SIM_ADDRESS=127.0.0.1
BASE_CONFIG=('[Set]' 'Set=1' 'LEDIP=2130706433')
MAIN='Lumidex_1.0'
MAIN_LABELS='|1.|2.|'

open_panel() {
  w32_click 1049
  e2e_poll w32_shown Password || e2e_fail "no password dialog"
  e2e_poll w32_focus_is "$(w32_find Password)" 1005 Password || e2e_fail "the password edit has no focus"
  e2e_type v503
  e2e_key Return
  e2e_poll w32_width_is "$E2E_MAIN" 520 || e2e_fail "the panel did not open to 520 pixels"
}

start_sim() {
  (cd "$BIN_DIR" && exec wine ./lumidex-sim.exe --udp "$SIM_ADDRESS:10006" --json --count 1 \
    </dev/null >"$E2E_WORK/sim.out" 2>&1) &
  sim_pid=$!
  e2e_poll grep -q "^udp: $SIM_ADDRESS" "$E2E_WORK/sim.out" || e2e_fail "the simulator did not start"
}
sim_received() { grep -q '"hex"' "$E2E_WORK/sim.out"; }

# ---- scenarios -------------------------------------------------------------

# Line 1 typed and "TCP/IP" clicked: the card gets the frame lumidex-send
# builds from the same Config.ini, the operator reads "Sent successfully!",
# and the formatted text is stored.
scenario_send_over_udp() {
  e2e_prepare "${BASE_CONFIG[@]}" 'wsv1=4' 'wsv6=2'
  start_sim
  e2e_start_app
  e2e_type 12.5
  w32_click 1020
  w32_wait_box "$MAIN" 'Sent successfully!'
  e2e_expect_ini TextData TD1 12.50
  e2e_poll sim_received || e2e_fail "the simulator received nothing"
  local want got
  want=$(cd "$E2E_APP_DIR" && wine "$BIN_DIR/lumidex-send.exe" --config Config.ini --dry-run content \
    </dev/null 2>/dev/null | tr -d '\r' | head -1)
  got=$(sed -n 's/.*"hex":"\([0-9A-F ]*\)".*/\1/p' "$E2E_WORK/sim.out")
  [ -n "$want" ] && [ "$got" = "$want" ] || e2e_fail "the card got \"$got\", expected \"$want\""
  grep -q '"valid":true' "$E2E_WORK/sim.out" || e2e_fail "the frame was not valid"
  e2e_key Return
  w32_wait_box_gone "$MAIN" 'Sent successfully!'
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
  e2e_stop_app
}

# Enter walks line 1 to 6 and back to 1 with its text selected; each line
# left is stored. The window shows its icon.
scenario_enter_walks_line_editors() {
  e2e_prepare "${BASE_CONFIG[@]}"
  e2e_start_app
  # The window carries the program's icon, large and small (Wine hands
  # both to X).
  local icons
  icons=$(xprop -id "$(xdotool search --name "^$MAIN\$" | head -1)" _NET_WM_ICON)
  grep -q 'Icon (32 x 32)' <<<"$icons" && grep -q 'Icon (16 x 16)' <<<"$icons" ||
    e2e_fail "the window has no large and small icon"
  local ids=(1005 1006 1007 1008 1009 1023 1005) i
  for i in 1 2 3 4 5 6; do
    e2e_type "$i"
    e2e_key Return
    e2e_poll w32_focus_is "$E2E_MAIN" "${ids[$i]}" "$MAIN" || e2e_fail "Enter in line $i went astray"
  done
  e2e_type 7 # replaces the selected "1"
  e2e_key Return
  e2e_wait_ini TextData TD1 7
  for i in 2 3 4 5 6; do
    e2e_expect_ini TextData "TD$i" "$i"
  done
  e2e_stop_app
}

# A second start while the first copy is minimised restores the first and
# ends without a window of its own.
scenario_second_start_brings_first_forward() {
  e2e_prepare "${BASE_CONFIG[@]}"
  e2e_start_app
  w32 minimize "$E2E_MAIN" >/dev/null
  e2e_poll w32_iconic_is "$E2E_MAIN" 1 || e2e_fail "the window did not minimise"
  local second
  (cd "$E2E_APP_DIR" && exec wine ./lumidex.exe </dev/null >/dev/null 2>&1) &
  second=$!
  e2e_poll process_gone "$second" || e2e_fail "the second copy did not end"
  wait "$second" 2>/dev/null || true
  e2e_poll w32_iconic_is "$E2E_MAIN" 0 || e2e_fail "the first copy was not restored"
  [ "$(w32 list | awk -F'\t' -v t="$MAIN" '$3 == t' | wc -l)" = 1 ] ||
    e2e_fail "a second window appeared"
  e2e_stop_app
}

# A wrong password is refused with the program's name as caption and the
# edit emptied and focused; the right one slides the panel open to 520.
scenario_password_opens_panel() {
  e2e_prepare "${BASE_CONFIG[@]}"
  e2e_start_app
  w32_click 1049
  e2e_poll w32_shown Password || e2e_fail "no password dialog"
  local password
  password=$(w32_find Password)
  e2e_poll w32_focus_is "$password" 1005 Password || e2e_fail "the password edit has no focus"
  e2e_type V503
  e2e_key Return
  w32_wait_box lumidex 'Wrong password!'
  e2e_key Return
  w32_wait_box_gone lumidex 'Wrong password!'
  e2e_poll w32_focus_is "$password" 1005 Password || e2e_fail "the edit lost the focus"
  w32_width_is "$E2E_MAIN" 290 || e2e_fail "the window changed its width"
  e2e_type v503
  e2e_key Return
  e2e_poll w32_width_is "$E2E_MAIN" 520 || e2e_fail "the panel did not open to 520 pixels"
  e2e_poll w32_not_shown Password || e2e_fail "the password dialog stayed"
  [ "$(w32_control_enabled "$E2E_MAIN" 1049)" = 0 ] || e2e_fail "Settings is still enabled"
  [ "$(w32_control_enabled "$E2E_MAIN" 1040)" = 1 ] || e2e_fail "caption 1 is still disabled"
  # "Save & Exit" snaps back at once.
  w32_click 1050
  e2e_poll w32_width_is "$E2E_MAIN" 290 || e2e_fail "Save & Exit did not close the panel"
  e2e_stop_app
}

# Fixed point 4 with four digits on line 1 is refused: the message shows,
# the list goes back to 0 and the stored choice stays.
scenario_refused_places_store_nothing() {
  e2e_prepare "${BASE_CONFIG[@]}" 'wsv1=4' 'wsv6=No'
  e2e_start_app
  open_panel
  w32_click 1015
  e2e_poll w32 item 5 >/dev/null || e2e_fail "the list did not drop down"
  # shellcheck disable=SC2046
  w32_click_at $(w32 item 5)
  e2e_poll w32_control_text_is "$E2E_MAIN" 1015 4 || e2e_fail "4 was not chosen"
  w32_click 1005
  w32_wait_box "$MAIN" 'Places must be larger than the decimal Places'
  e2e_key Return
  w32_wait_box_gone "$MAIN" 'Places must be larger'
  e2e_expect_ini Set wsv6 No
  w32_control_text_is "$E2E_MAIN" 1015 0 || e2e_fail "the list does not show 0"
  e2e_stop_app
}

# Closing asks "Exit the program?"; No keeps the window, Yes ends it, and
# what was typed just before is stored.
scenario_close_asks_and_stores() {
  e2e_prepare "${BASE_CONFIG[@]}"
  e2e_start_app
  e2e_type 42
  e2e_key alt+F4
  w32_wait_box "$MAIN" 'Exit the program?'
  e2e_wait_ini TextData TD1 42
  e2e_key n
  w32_wait_box_gone "$MAIN" 'Exit the program?'
  process_gone "$E2E_APP_PID" && e2e_fail "No ended the program"
  # The focus is back in line 1, which shows the stored text from its start.
  e2e_key End
  e2e_type 5
  e2e_key alt+F4
  w32_wait_box "$MAIN" 'Exit the program?'
  e2e_key y
  e2e_wait_exit
  e2e_expect_ini TextData TD1 425
  wait "$E2E_APP_PID" 2>/dev/null || true
  e2e_poll w32_not_shown "$MAIN" || e2e_fail "the window stayed"
}

# A copy installed in Program Files keeps its settings in the user's
# application data and says so once, when it makes the file.
scenario_installed_copy_uses_appdata() {
  local program_dir="$WINEPREFIX/drive_c/Program Files/Lumidex"
  local appdata_dir
  appdata_dir="$(winepath -u 'C:\users' 2>/dev/null)/$(whoami)/AppData/Roaming/Lumidex"
  rm -rf "$program_dir" "$appdata_dir"
  mkdir -p "$program_dir"
  cp "$LUMIDEX_EXE" "$program_dir/"
  (cd "$program_dir" && exec wine ./lumidex.exe </dev/null >/dev/null 2>&1) &
  E2E_APP_PID=$!
  w32_wait_box "$MAIN" 'Lumidex keeps your settings in C:\users\'
  E2E_MAIN=$(w32_find "$MAIN" "$MAIN_LABELS")
  [ -f "$appdata_dir/Config.ini" ] || e2e_fail "no Config.ini in $appdata_dir"
  [ ! -e "$program_dir/Config.ini" ] || e2e_fail "Config.ini was made beside the installed copy"
  e2e_key Return
  w32_wait_box_gone "$MAIN" 'Lumidex keeps your settings'
  e2e_stop_app
  # The second start finds the file and says nothing.
  (cd "$program_dir" && exec wine ./lumidex.exe </dev/null >/dev/null 2>&1) &
  E2E_APP_PID=$!
  e2e_poll w32_shown "$MAIN" "$MAIN_LABELS" || e2e_fail "the main window did not appear"
  E2E_MAIN=$(w32_find "$MAIN" "$MAIN_LABELS")
  e2e_poll w32_focus_is "$E2E_MAIN" 1005 "$MAIN" || e2e_fail "line editor 1 did not get the keyboard"
  # shellcheck disable=SC2046
  xdotool mousemove $(w32 center "$E2E_MAIN" 1005)
  # A notice would be posted before these keys arrive, and would hold them.
  e2e_key Return
  e2e_poll w32_focus_is "$E2E_MAIN" 1006 "$MAIN" || e2e_fail "Enter did not reach the dialog"
  w32_not_shown "$MAIN" 'Lumidex keeps your settings' || e2e_fail "the notice came again"
  e2e_stop_app
  rm -rf "$program_dir" "$appdata_dir"
}

# Another program shows a dialog titled like ours: the new copy does not
# take it for a running copy (it is no lumidex.exe), leaves it alone and
# comes up itself.
scenario_planted_window_is_left_alone() {
  e2e_prepare "${BASE_CONFIG[@]}"
  local planter planted
  (exec wine "$W32_PROBE" plant "$MAIN" </dev/null >"$E2E_WORK/plant.out" 2>/dev/null) &
  planter=$!
  e2e_poll grep -q '[0-9a-f]' "$E2E_WORK/plant.out" || e2e_fail "the planted window did not appear"
  planted=$(tr -d '\r' <"$E2E_WORK/plant.out")
  e2e_start_app
  [ "$E2E_MAIN" != "$planted" ] || e2e_fail "the planted window was taken for the main window"
  [ "$(w32 list | awk -F'\t' -v t="$MAIN" '$3 == t' | wc -l)" = 2 ] ||
    e2e_fail "the new copy did not come up beside the planted window"
  kill "$planter" 2>/dev/null || true
  wait "$planter" 2>/dev/null || true
  e2e_stop_app
}

# A library planted beside lumidex.exe under a system library's name
# (shcore.dll, which the shell brings along) is never loaded: the program
# comes up, the library leaves no trace, and Wine's loader took the system's.
scenario_planted_library_is_not_loaded() {
  e2e_prepare "${BASE_CONFIG[@]}"
  cp "$PLANTED_LIBRARY" "$E2E_APP_DIR/shcore.dll"
  WINEDEBUG=+loaddll e2e_start_app
  # The shell is loaded when first used: the command line is read at start.
  e2e_stop_app
  [ ! -e "$E2E_APP_DIR/shcore.dll.ran" ] || e2e_fail "the planted shcore.dll ran"
  ! grep -qi 'app\.[A-Za-z0-9]*\\\\shcore\.dll' "$E2E_APP_DIR/stdout.log" ||
    e2e_fail "the planted shcore.dll was loaded: $(grep -i 'shcore' "$E2E_APP_DIR/stdout.log")"
  grep -qi 'system32\\\\shcore\.dll' "$E2E_APP_DIR/stdout.log" ||
    e2e_fail "no shcore.dll was loaded at all, so the check above proves nothing"
}

# Another program holds the settings lock: the dialog comes up after its
# bounded wait, says why settings cannot be saved, works on, and stores
# again once the lock is free.
scenario_held_lock_is_told_and_waited_out() {
  e2e_prepare "${BASE_CONFIG[@]}"
  local holder start=$SECONDS
  (cd "$E2E_APP_DIR" && exec wine "$W32_PROBE" lock .Config.ini.lock </dev/null \
    >"$E2E_WORK/lock.out" 2>/dev/null) &
  holder=$!
  e2e_poll grep -q locked "$E2E_WORK/lock.out" || e2e_fail "the lock was not taken"
  start=$SECONDS
  (cd "$E2E_APP_DIR" && exec wine ./lumidex.exe </dev/null >"$E2E_APP_DIR/stdout.log" 2>&1) &
  E2E_APP_PID=$!
  w32_wait_box "$MAIN" 'Settings cannot be saved: its lock'
  e2e_log "the notice came $((SECONDS - start)) s after the start"
  # The notice comes as the window is made, before it shows; OK goes on.
  # shellcheck disable=SC2046
  xdotool mousemove $(w32 center "$(w32_find "$MAIN" 'Settings cannot be saved')" 1)
  e2e_key Return
  w32_wait_box_gone "$MAIN" 'Settings cannot be saved'
  e2e_poll w32_shown "$MAIN" "$MAIN_LABELS" || e2e_fail "the main window did not appear"
  E2E_MAIN=$(w32_find "$MAIN" "$MAIN_LABELS")
  # shellcheck disable=SC2046
  xdotool mousemove $(w32 center "$E2E_MAIN" 1005)
  kill "$holder" 2>/dev/null || true
  wait "$holder" 2>/dev/null || true
  e2e_poll w32_focus_is "$E2E_MAIN" 1005 "$MAIN" || e2e_fail "line editor 1 did not get the keyboard"
  e2e_type 42
  e2e_key Return
  e2e_wait_ini TextData TD1 42
  e2e_stop_app
}

# lumidex.exe --config names the settings file: it is made, with its missing
# folders, without a word, and what is typed is stored there, not beside the
# program. A bad command line opens nothing and says why on one line of its
# standard error.
scenario_named_settings_file() {
  e2e_prepare "${BASE_CONFIG[@]}"
  local named="$E2E_APP_DIR/site/boards/dock.ini" said status=0
  said=$(cd "$E2E_APP_DIR" && timeout "$E2E_TIMEOUT" wine ./lumidex.exe --config a.ini \
    --config b.ini </dev/null 2>&1 >/dev/null) || status=$?
  [ "$status" = 2 ] || e2e_fail "--config given twice ended with status $status"
  [ "$said" = 'lumidex: --config may be given only once' ] || e2e_fail "bad usage said \"$said\""
  e2e_start_app --config "$(winepath -w "$named")"
  e2e_type 42
  e2e_key Return
  E2E_INI=$named e2e_wait_ini TextData TD1 42
  [ "$(w32 list | awk -F'\t' -v t="$MAIN" '$3 == t' | wc -l)" = 1 ] || e2e_fail "a box came up"
  e2e_expect_ini TextData TD1 ""
  e2e_stop_app
}

# ---- runner ----------------------------------------------------------------

# Every path runs without a window manager; under openbox those where the
# window manager takes part (activation, the window's size, the close key,
# boxes coming and going), to keep the suite within its time.
scenarios=("$@")
wm_scenarios=("$@")
if [ ${#scenarios[@]} -eq 0 ]; then
  mapfile -t scenarios < <(sed -n 's/^scenario_\([a-z_]*\)() {$/\1/p' "$0")
  wm_scenarios=(send_over_udp second_start_brings_first_forward password_opens_panel
    close_asks_and_stores)
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  e2e_log "creating the Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
fi

run_all() {
  local mode=$1 name start
  shift
  # A fresh Wine server per display, kept off the test runner's pipes.
  wineserver -k 2>/dev/null || true
  wineserver -p >/dev/null 2>&1 </dev/null
  w32 list >/dev/null
  for name in "$@"; do
    start=$SECONDS
    "scenario_$name"
    e2e_log "$mode: $name passed ($((SECONDS - start)) s)"
  done
  wineserver -k 2>/dev/null || true
}

e2e_start_display
run_all "no window manager" "${scenarios[@]}"
e2e_start_wm
run_all "openbox" "${wm_scenarios[@]}"
echo "all Windows operator paths passed, with and without a window manager"
