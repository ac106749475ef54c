#!/usr/bin/env bash
# The dialog as an operator meets it: the real lumidex on its own X server,
# under openbox and without a window manager, driven with xdotool; each
# scenario checks the Config.ini beside the program afterwards.
#
# Usage: operator_paths.sh PATH/TO/lumidex [SCENARIO...]
# Exits 77 (skipped) when Xvfb, openbox or xdotool is missing.
set -euo pipefail

for tool in Xvfb openbox xdotool xprop xwininfo; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (scripts/install-deps installs it)" >&2
    exit 77
  fi
done

LUMIDEX_EXE=$(realpath "$1")
shift
E2E_WORK=$(mktemp -d "${TMPDIR:-/tmp}/lumidex-e2e.XXXXXX")
source "$(dirname "$0")/lib.sh"
trap 'e2e_cleanup; [ "${E2E_KEEP:-0}" = 1 ] || rm -rf "$E2E_WORK"' EXIT

# Pixel centres of the controls the scenarios touch (dialog units x 1.515
# across and x 1.625 down, as the dialog places them).
LINE1_EDITOR=(144 58)
SETTINGS_BUTTON=(217 539)
UPDATE_LIST=(73 563)
LINE1_PLACES_LIST=(413 61)
PORT_LIST=(371 420)
BAUD_LIST=(472 420)
CLOSED_WIDTH=290
OPEN_WIDTH=520

# 127.0.0.1, every line sent, per-line formats with 3 digits, no point.
BASE_CONFIG=('[Set]' 'Set=1' 'LEDIP=2130706433')

open_panel() {
  e2e_click "${SETTINGS_BUTTON[@]}"
  e2e_wait_window Password >/dev/null
  e2e_type v503
  e2e_key Return
  e2e_wait_width "$OPEN_WIDTH"
}

# The drop-down of a list is a window of its own; true while one is shown.
popup_shown() {
  local id
  for id in $(xdotool search --onlyvisible --classname lumidex); do
    [ "$id" = "$E2E_WIN" ] && continue
    xwininfo -id "$id" | grep -q 'Override Redirect State: yes' && return 0
  done
  return 1
}
popup_gone() { ! popup_shown; }

file_state() { stat -c '%i %.9Y %s' "$E2E_APP_DIR/Config.ini"; }

# ---- scenarios -------------------------------------------------------------

# With the panel shut, Tab from line 6 wraps to line 1: the address field
# beyond the window's edge never takes what is typed.
scenario_tab_skips_hidden_panel() {
  e2e_prepare "${BASE_CONFIG[@]}"
  e2e_start_app
  e2e_key Return Return Return Return Return # line 1 -> line 6
  e2e_key Tab
  e2e_type 9
  e2e_key Tab
  e2e_wait_ini TextData TD1 9
  e2e_expect_ini Set LEDIP 2130706433
  e2e_stop_app
}

# Opening the panel leaves the focus nowhere harmful; with it open Tab walks
# the line editors and then the caption editors.
scenario_panel_focus_and_tab_order() {
  e2e_prepare "${BASE_CONFIG[@]}" 'ADD485=05'
  e2e_start_app
  open_panel
  e2e_type 9 # would change the address field or the bus address
  e2e_key Tab
  e2e_type 4 # line 1
  e2e_key Tab
  e2e_type 5 # line 2
  e2e_key Return Return Return Return # line 2 -> line 6
  e2e_type 6
  e2e_key Tab
  e2e_type x # caption 1
  e2e_wait_ini TextBT TB1 x
  e2e_expect_ini TextData TD1 4
  e2e_expect_ini TextData TD2 5
  e2e_expect_ini TextData TD6 6
  e2e_expect_ini Set LEDIP 2130706433
  e2e_expect_ini Set ADD485 05
  e2e_stop_app
}

# The exit question takes the focus: what was typed is stored whatever the
# answer, and after Yes every value on screen is in the file.
scenario_exit_stores_what_was_typed() {
  e2e_prepare "${BASE_CONFIG[@]}" '[TextData]' 'TD1=1'
  e2e_start_app
  e2e_key ctrl+a
  e2e_type 7
  e2e_key alt+F4
  e2e_wait_window "$E2E_TITLE" >/dev/null
  e2e_wait_ini TextData TD1 7
  e2e_key Escape # No
  e2e_wait_window_gone "$E2E_TITLE"
  e2e_poll has_focus_in "$E2E_WIN" || e2e_fail "the main window did not get the keyboard back"
  e2e_type 8 # back in line 1, after the 7
  e2e_click "${UPDATE_LIST[@]}"
  e2e_poll popup_shown || e2e_fail "the drop-down did not open"
  e2e_key Down Return # "01:00"
  e2e_poll popup_gone || e2e_fail "the drop-down did not close"
  e2e_wait_ini TextData TD1 78
  e2e_key alt+F4
  e2e_wait_window "$E2E_TITLE" >/dev/null
  e2e_key Return # Yes
  e2e_wait_exit
  e2e_expect_ini Set UIN 01:00
}

# Opening a list's drop-down is no leave: nothing is written.
scenario_drop_down_is_no_leave() {
  # Line 1 in fixed-point mode and empty: leaving it writes nothing.
  e2e_prepare "${BASE_CONFIG[@]}" 'UIN=05:00' 'wsv1=5' 'wsv6=2'
  e2e_start_app
  local before
  before=$(file_state)
  e2e_click "${UPDATE_LIST[@]}"
  e2e_poll popup_shown || e2e_fail "the drop-down did not open"
  [ "$(file_state)" = "$before" ] || e2e_fail "opening the drop-down wrote Config.ini"
  e2e_key Escape
  e2e_poll popup_gone || e2e_fail "the drop-down did not close"
  # Back from the drop-down, still in the list: still nothing written.
  [ "$(file_state)" = "$before" ] || e2e_fail "closing the drop-down wrote Config.ini"
  e2e_click "${UPDATE_LIST[@]}"
  e2e_poll popup_shown || e2e_fail "the drop-down did not open again"
  e2e_key Up Return # "04:00", stored when the list is left
  e2e_expect_ini Set UIN 05:00
  e2e_click "${LINE1_EDITOR[@]}"
  e2e_wait_ini Set UIN 04:00
  # The same for a line's "Fixed point" list in the settings panel: opening
  # it neither stores the line's format nor re-formats the line.
  open_panel
  before=$(file_state)
  e2e_click "${LINE1_PLACES_LIST[@]}"
  e2e_poll popup_shown || e2e_fail "the places drop-down did not open"
  [ "$(file_state)" = "$before" ] || e2e_fail "opening the places drop-down wrote Config.ini"
  e2e_key Escape
  e2e_poll popup_gone || e2e_fail "the places drop-down did not close"
  [ "$(file_state)" = "$before" ] || e2e_fail "closing the places drop-down wrote Config.ini"
  e2e_stop_app
}

# A stored port the list does not offer (a pseudo-terminal) shows no choice;
# clicking the list, Escape and clicking elsewhere keeps it, and the same
# for a baud rate the list does not offer.
scenario_list_without_choice_keeps_port() {
  e2e_prepare "${BASE_CONFIG[@]}" '[Port]' 'Port=/dev/pts/97' 'Boud=12345'
  e2e_start_app
  open_panel
  local list
  for list in PORT_LIST BAUD_LIST; do
    local -n at=$list
    e2e_click "${at[@]}"
    e2e_poll popup_shown || e2e_fail "the $list drop-down did not open"
    e2e_key Escape
    e2e_poll popup_gone || e2e_fail "the $list drop-down did not close"
    e2e_click "${LINE1_EDITOR[@]}"
    e2e_poll has_focus_in "$E2E_WIN" || e2e_fail "the main window lost the keyboard"
  done
  # Leaving line 1 afterwards stores it; once that is written, so is
  # anything the lists' leaving would have written.
  e2e_type 7
  e2e_key Tab
  e2e_wait_ini TextData TD1 7
  e2e_expect_ini Port Port /dev/pts/97
  e2e_expect_ini Port Boud 12345
  e2e_stop_app
}

# After "Wrong password!" the edit is empty and keeps the keyboard.
scenario_password_retry() {
  e2e_prepare "${BASE_CONFIG[@]}"
  e2e_start_app
  e2e_click "${SETTINGS_BUTTON[@]}"
  local password
  password=$(e2e_wait_window Password)
  e2e_type v50
  e2e_key Return
  e2e_wait_window lumidex >/dev/null # the box is captioned with the program's name
  e2e_key Return
  e2e_wait_window_gone lumidex
  e2e_poll has_focus_in "$password" || e2e_fail "the password dialog did not get the keyboard back"
  e2e_type v503 # a leftover "v50" in front would make this wrong
  e2e_key Return
  e2e_wait_width "$OPEN_WIDTH"
  e2e_stop_app
}

# Another local user holds every lock it can take while the dialog starts:
# one on Config.ini itself (it may read the file), and it tries the lock the
# dialog's writers take, which only the dialog's user may open. The window
# comes up at once (within 3 s, more under the sanitizers), nothing is said,
# and what is typed is stored; lumidex-send beside it, which only reads,
# answers within 3 s too.
scenario_another_user_cannot_hold_the_dialog() {
  if [ "$(id -u)" != 0 ]; then
    e2e_log "skipped: needs root to play another user with setpriv"
    return 0
  fi
  # A folder the other user can reach, as a shared PC's folders are.
  local shared other started elapsed_ms
  shared=$(mktemp -d /tmp/lumidex-e2e-shared.XXXXXX)
  chmod 755 "$shared"
  cp "$LUMIDEX_EXE" "$shared/"
  printf '%s\r\n' "${BASE_CONFIG[@]}" 'wsv1=4' 'wsv6=2' >"$shared/Config.ini"
  E2E_APP_DIR=$shared
  setpriv --reuid=nobody --regid=nogroup --clear-groups sh -c \
    'cd "$1" && { flock -xn .Config.ini.lock true 2>/dev/null && echo took the lock; exec 9<Config.ini && flock -x 9 && echo holding && exec sleep 600; }' \
    sh "$shared" >"$E2E_WORK/other.out" 2>&1 &
  other=$!
  e2e_pids+=("$other")
  e2e_poll grep -q holding "$E2E_WORK/other.out" || e2e_fail "the other user holds nothing"
  ! grep -q 'took the lock' "$E2E_WORK/other.out" || e2e_fail "the other user took the writers' lock"
  started=$(date +%s%N)
  e2e_start_app
  elapsed_ms=$((($(date +%s%N) - started) / 1000000))
  e2e_log "the window came up $elapsed_ms ms after the start, the other user holding on"
  if [ -z "${ASAN_OPTIONS:-}" ] && [ "$elapsed_ms" -gt 3000 ]; then
    e2e_fail "the window took $elapsed_ms ms"
  fi
  window_gone "$E2E_TITLE" || e2e_fail "a box came up"
  e2e_type 12.5
  e2e_key Return
  e2e_wait_ini TextData TD1 12.50
  local send
  send=$(dirname "$LUMIDEX_EXE")/lumidex-send
  if [ -x "$send" ]; then
    timeout 3 "$send" --config "$shared/Config.ini" --dry-run content >"$E2E_WORK/send.out" ||
      e2e_fail "lumidex-send did not answer within 3 s"
    grep -q '^FE ' "$E2E_WORK/send.out" || e2e_fail "lumidex-send printed no frame"
  fi
  e2e_stop_app
  kill "$other" 2>/dev/null || true
  wait "$other" 2>/dev/null || true
  rm -rf "$shared"
}

# lumidex --config names the settings file: it is made, with its missing
# folders, without a word, and what is typed is stored there, not beside the
# program. A bad command line opens nothing and says why on one line.
scenario_named_settings_file() {
  e2e_prepare "${BASE_CONFIG[@]}"
  local named="$E2E_APP_DIR/site/boards/hall.ini" said status=0
  said=$(timeout "$E2E_TIMEOUT" "$E2E_APP_DIR/lumidex" --config "$named" --config "$named" \
    2>&1 >/dev/null) || status=$?
  [ "$status" = 2 ] || e2e_fail "--config given twice ended with status $status"
  [[ "$said" == "lumidex: "* && "$said" != *$'\n'* ]] || e2e_fail "bad usage said \"$said\""
  [ ! -e "$E2E_APP_DIR/site" ] || e2e_fail "bad usage made the folders"
  e2e_start_app --config "$named"
  e2e_type 7
  e2e_key Tab
  E2E_INI=$named e2e_wait_ini TextData TD1 7
  window_gone "$E2E_TITLE" || e2e_fail "a box came up"
  e2e_expect_ini TextData TD1 ""
  e2e_stop_app
}

# ---- sessions --------------------------------------------------------------

# Alt+F4 is the window manager's, so the exit scenario needs one.
with_wm=(tab_skips_hidden_panel panel_focus_and_tab_order exit_stores_what_was_typed
  drop_down_is_no_leave password_retry list_without_choice_keeps_port named_settings_file)
without_wm=(password_retry tab_skips_hidden_panel panel_focus_and_tab_order drop_down_is_no_leave
  list_without_choice_keeps_port another_user_cannot_hold_the_dialog)
wanted=("$@")

run_session() {
  local label=$1
  shift
  local name
  for name in "$@"; do
    if [ ${#wanted[@]} -gt 0 ] && [[ " ${wanted[*]} " != *" $name "* ]]; then
      continue
    fi
    e2e_log "$label: $name"
    "scenario_$name"
  done
}

e2e_start_display
run_session "without a window manager" "${without_wm[@]}"
e2e_start_wm
run_session "under openbox" "${with_wm[@]}"
e2e_log "all scenarios passed"
