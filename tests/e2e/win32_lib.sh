# Helpers for driving lumidex.exe under Wine on a private X server, sourced
# by the Windows end-to-end scenarios on top of lib.sh (displays, openbox,
# polling, Config.ini). What the program shows is read from its live
# windows by win32_probe.exe, run in the same Wine prefix; clicks go to the
# screen points the program itself reports for its controls.
#
# Needs: LUMIDEX_EXE, W32_PROBE, E2E_WORK, WINEPREFIX (a private prefix).


# The probe's answer, without Wine's carriage returns.
w32() { wine "$W32_PROBE" "$@" </dev/null 2>/dev/null | tr -d '\r'; }

# The handle of the visible top-level window with this title whose labels
# include the text (any window with the title when no text is given).
w32_find() {
  w32 list | awk -F'\t' -v t="$1" -v x="${2:-}" '$3 == t && index($7, x) { print $1; exit }'
}
w32_shown() { [ -n "$(w32_find "$@")" ]; }
w32_not_shown() { [ -z "$(w32_find "$@")" ]; }

# A field of the probe's line for a window: 4 rectangle, 5 enabled, 6 minimised.
w32_field() {
  w32 list | awk -F'\t' -v h="$1" -v f="$2" '$1 == h { print $f; exit }'
}
w32_width_is() {
  local rect
  rect=$(w32_field "$1" 4)
  [ -n "$rect" ] && [ $(( $(echo "$rect" | cut -d' ' -f3) - $(echo "$rect" | cut -d' ' -f1) )) = "$2" ]
}
w32_iconic_is() { [ "$(w32_field "$1" 6)" = "$2" ]; }

# A control's line from the probe: id, class, enabled, visible, rectangle, text.
w32_control() { w32 controls "$1" | awk -F'\t' -v id="$2" '$1 == id { print; exit }'; }
w32_control_text() { w32_control "$1" "$2" | cut -f6; }
w32_control_enabled() { w32_control "$1" "$2" | cut -f3; }
w32_control_text_is() { [ "$(w32_control_text "$1" "$2")" = "$3" ]; }

# The id of the control that holds the keyboard focus in the window's
# thread and the title of the window it is in ("0" for the window itself).
w32_focus_is() {
  local got
  got=$(w32 focus "$1")
  [ "$(echo "$got" | cut -f1)" = "$2" ] && [ "$(echo "$got" | cut -f3)" = "$3" ]
}

# On a failure: what windows were up, and a picture of the main window.
e2e_screenshot() {
  w32 list | cut -c1-200 >&2
  [ -n "${E2E_MAIN:-}" ] || return 0
  w32 shot "$E2E_MAIN" "$(winepath -w "$E2E_WORK/$1.png" 2>/dev/null)" &&
    e2e_log "screenshot $E2E_WORK/$1.png"
}

# Moves the pointer, lets the program see it arrive, then clicks.
w32_click_at() {
  xdotool mousemove "$1" "$2"
  sleep 0.2
  xdotool click 1
}
w32_click() {
  local point
  point=$(w32 center "$E2E_MAIN" "$1")
  [ -n "$point" ] || e2e_fail "no control $1"
  # shellcheck disable=SC2086
  w32_click_at $point
}

# Starts the copy in E2E_APP_DIR with the given arguments and waits for its
# main window with the keyboard in line editor 1; sets E2E_APP_PID and
# E2E_MAIN.
e2e_start_app() {
  (cd "$E2E_APP_DIR" && exec wine ./lumidex.exe "$@" </dev/null >"$E2E_APP_DIR/stdout.log" 2>&1) &
  E2E_APP_PID=$!
  e2e_poll w32_shown 'Lumidex_1.0' '|1.|2.|' || e2e_fail "the main window did not appear"
  E2E_MAIN=$(w32_find 'Lumidex_1.0' '|1.|2.|')
  e2e_poll w32_focus_is "$E2E_MAIN" 1005 'Lumidex_1.0' ||
    e2e_fail "line editor 1 did not get the keyboard"
  # Keys reach Wine while the pointer is over one of its windows.
  # shellcheck disable=SC2046
  xdotool mousemove $(w32 center "$E2E_MAIN" 1005)
}

# Waits for a message box (a dialog with this caption showing the text).
w32_wait_box() {
  e2e_poll w32_shown "$1" "$2" || e2e_fail "no box \"$2\" captioned \"$1\""
}
w32_wait_box_gone() {
  e2e_poll w32_not_shown "$1" "$2" || e2e_fail "the box \"$2\" stayed"
}

# Ends the copy; the next start must not find its window.
e2e_stop_app() {
  kill "$E2E_APP_PID" 2>/dev/null || true
  wait "$E2E_APP_PID" 2>/dev/null || true
  e2e_poll w32_not_shown 'Lumidex_1.0' || e2e_fail "the stopped copy's window stayed"
  E2E_MAIN=
}
