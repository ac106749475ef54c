# Helpers for driving the real lumidex on a private X server, sourced by
# the end-to-end scenarios. Every wait polls for a condition with a generous
# upper bound; nothing relies on a fixed sleep being long enough.
#
# Needs: LUMIDEX_EXE (the built program), E2E_WORK (a private scratch folder).

E2E_TITLE='Lumidex_1.0'
E2E_TIMEOUT=${E2E_TIMEOUT:-15} # seconds for any one wait
e2e_pids=()

e2e_log() { echo "e2e: $*" >&2; }

e2e_fail() {
  echo "FAIL: $*" >&2
  e2e_screenshot "failure-$(date +%s%N)"
  exit 1
}

# Polls "$@" every 50 ms until it succeeds; false after E2E_TIMEOUT seconds.
e2e_poll() {
  local deadline=$((SECONDS + E2E_TIMEOUT))
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.05
  done
}

e2e_cleanup() {
  local pid
  for pid in "${e2e_pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${e2e_pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  e2e_pids=()
}

# Starts an X server on a display number it picks itself and exports DISPLAY.
e2e_start_display() {
  local fd_file="$E2E_WORK/displayfd.$RANDOM"
  : >"$fd_file"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fd_file" \
    >"$E2E_WORK/xvfb.log" 2>&1 &
  e2e_pids+=($!)
  e2e_poll grep -q '[0-9]' "$fd_file" || e2e_fail "Xvfb did not start"
  export DISPLAY=":$(tr -dc '0-9' <"$fd_file")"
  e2e_poll xdpyinfo_ok || e2e_fail "display $DISPLAY does not answer"
}
xdpyinfo_ok() { xdotool getmouselocation >/dev/null; }

# Starts openbox and waits until it has announced itself on the root window.
e2e_start_wm() {
  openbox --sm-disable >"$E2E_WORK/openbox.log" 2>&1 &
  e2e_pids+=($!)
  e2e_poll wm_ready || e2e_fail "openbox did not start"
}
wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }

# A fresh copy of the program's folder with the given Config.ini text
# (lines joined with CRLF as the dialog writes them); sets E2E_APP_DIR.
e2e_prepare() {
  E2E_APP_DIR=$(mktemp -d "$E2E_WORK/app.XXXXXX")
  cp "$LUMIDEX_EXE" "$E2E_APP_DIR/"
  local line
  for line in "$@"; do
    printf '%s\r\n' "$line"
  done >"$E2E_APP_DIR/Config.ini"
}

# Starts the copy with the given arguments and waits for its main window;
# sets E2E_APP_PID and E2E_WIN.
e2e_start_app() {
  mkdir -p "$E2E_APP_DIR/tmp"
  # Under AddressSanitizer (scripts/test-sanitizers) strict string checks
  # misreport libxkbcommon-x11, which strndup()s counted, unterminated names
  # while the X connection starts, and libdbus leaks at exit; the offscreen
  # suites check the program's own memory. The later setting wins.
  ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}strict_string_checks=0:detect_leaks=0" \
    TMPDIR="$E2E_APP_DIR/tmp" QT_QPA_PLATFORM=xcb "$E2E_APP_DIR/lumidex" "$@" \
    >"$E2E_APP_DIR/stdout.log" 2>&1 &
  E2E_APP_PID=$!
  e2e_pids+=("$E2E_APP_PID")
  E2E_WIN=$(timeout "$E2E_TIMEOUT" xdotool search --sync --onlyvisible --name "^$E2E_TITLE\$" | head -1)
  [ -n "$E2E_WIN" ] || e2e_fail "the main window did not appear"
  e2e_poll has_focus_in "$E2E_WIN" || e2e_fail "the main window did not get the keyboard"
}

# True when the X input focus is on the window (or one of its children).
has_focus_in() {
  local focused
  focused=$(xdotool getwindowfocus)
  [ "$focused" = "$1" ] || xwininfo -id "$1" -children 2>/dev/null | grep -q "^ *$(printf '0x%x' "$focused") "
}

# The visible window with exactly this title, other than the main window.
e2e_wait_window() {
  local title=$1 id
  e2e_poll window_exists "$title" || e2e_fail "no window \"$title\""
  id=$(xdotool search --onlyvisible --name "^$title\$" | grep -vx "$E2E_WIN" | tail -1)
  e2e_poll has_focus_in "$id" || e2e_fail "window \"$title\" did not get the keyboard"
  echo "$id"
}
window_exists() { xdotool search --onlyvisible --name "^$1\$" | grep -vxq "${E2E_WIN:-none}"; }
e2e_wait_window_gone() {
  e2e_poll window_gone "$1" || e2e_fail "window \"$1\" stayed"
}
window_gone() { ! xdotool search --onlyvisible --name "^$1\$" | grep -vxq "${E2E_WIN:-none}"; }

# Keys and text go to whatever holds the X input focus, as an operator's do.
e2e_key() { xdotool key --delay 30 "$@"; }
e2e_type() { xdotool type --delay 30 "$1"; }

# Clicks at a point given in pixels inside the main window's client area.
e2e_click() {
  xdotool mousemove --window "$E2E_WIN" "$1" "$2" click 1
}

# Waits until the main window's client area is this wide.
e2e_wait_width() {
  e2e_poll window_width_is "$1" || e2e_fail "the window did not become $1 pixels wide"
}
window_width_is() {
  [ "$(xdotool getwindowgeometry "$E2E_WIN" | sed -n 's/.*Geometry: \([0-9]*\)x.*/\1/p')" = "$1" ]
}

# The value of a key in the copy's Config.ini, or in E2E_INI when that names
# another settings file ("" when missing).
e2e_ini() {
  local section=$1 key=$2
  tr -d '\r' <"${E2E_INI:-$E2E_APP_DIR/Config.ini}" | awk -v s="[$section]" -v k="$key" '
    /^\[/ { in_section = ($0 == s); next }
    in_section && index($0, k "=") == 1 { print substr($0, length(k) + 2); exit }'
}

e2e_expect_ini() {
  local section=$1 key=$2 want=$3 got
  got=$(e2e_ini "$section" "$key")
  [ "$got" = "$want" ] || e2e_fail "$key is \"$got\", expected \"$want\""
}

# Waits until a key holds the value (the dialog writes at once, but the X
# events that cause the write arrive asynchronously).
e2e_wait_ini() {
  local section=$1 key=$2 want=$3
  e2e_poll ini_is "$section" "$key" "$want" ||
    e2e_fail "$key is \"$(e2e_ini "$section" "$key")\", expected \"$want\""
}
ini_is() { [ "$(e2e_ini "$1" "$2")" = "$3" ]; }

# Waits until the program has ended by itself; fails if it does not.
e2e_wait_exit() {
  e2e_poll process_gone "$E2E_APP_PID" || e2e_fail "the program did not end"
}
process_gone() { ! kill -0 "$1"; }

e2e_stop_app() {
  kill "$E2E_APP_PID" 2>/dev/null || true
  wait "$E2E_APP_PID" 2>/dev/null || true
}

e2e_screenshot() {
  [ -n "${DISPLAY:-}" ] || return 0
  command -v import >/dev/null || return 0
  import -window root "$E2E_WORK/$1.png" 2>/dev/null && e2e_log "screenshot $E2E_WORK/$1.png"
}
