#!/usr/bin/env bash
# Makes the two .debs (lumidex, and lumidex-bridge without Qt) and the
# portable .tar.gz from a build tree with packaging/build-packages.sh, as
# scripts/package does, and checks what a user gets from each: the files and
# their places, what lintian and appstreamcli say about the .debs (any error
# or warning fails), manual pages that tell what --help tells, the board
# service's unit as systemd reads it, a valid desktop entry, lumidex-send reading
# the right Config.ini, and the dialog
# (offscreen) finding and using its settings file, and telling once on a
# private X screen where an installed copy keeps it.
#
# Usage: test_packages.sh BUILD_DIR
set -euo pipefail

# X clients reach a display through a socket name shared by everything in
# the network namespace. When it can, the test runs in a network namespace
# of its own (it needs no network), so its dialogs never reach a stranger's
# screen of the same number.
if [ -z "${LUMIDEX_PACKAGE_TEST_PRIVATE_NET:-}" ] && [ "$(id -u)" -eq 0 ] &&
   unshare -n true 2>/dev/null; then
  LUMIDEX_PACKAGE_TEST_PRIVATE_NET=1 exec unshare -n "$0" "$@"
fi

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: test_packages.sh BUILD_DIR}" && pwd)
work=$(mktemp -d "$build/package-test.XXXXXX")
dialog_pid=""
cleanup() {
  if [ -n "$dialog_pid" ]; then
    kill "$dialog_pid" 2>/dev/null || true
    wait "$dialog_pid" 2>/dev/null || true
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

# --- Packages -------------------------------------------------------------
"$here/../../packaging/build-packages.sh" "$build" "$work/out" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log" >&2; exit 1; }
debs=("$work"/out/lumidex_*.deb)
bridge_debs=("$work"/out/lumidex-bridge_*.deb)
tars=("$work"/out/lumidex-*-portable.tar.gz)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single .deb made" >&2; exit 1; }
[ ${#bridge_debs[@]} -eq 1 ] && [ -f "${bridge_debs[0]}" ] ||
  { echo "FAIL: no single lumidex-bridge .deb made" >&2; exit 1; }
[ ${#tars[@]} -eq 1 ] && [ -f "${tars[0]}" ] || { echo "FAIL: no single .tar.gz made" >&2; exit 1; }
deb=${debs[0]}
bridge_deb=${bridge_debs[0]}
tar=${tars[0]}

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libqt6network6 libstdc++6 qt6-qpa-plugins; do
  check "the lumidex .deb depends on $needed" grep -qw -- "$needed" <<<"$depends"
done
# The board service goes on servers without a desktop: nothing of Qt.
bridge_depends=$(dpkg-deb -f "$bridge_deb" Depends)
for needed in libmosquitto1 libssl3 libstdc++6; do
  check "the lumidex-bridge .deb depends on $needed" grep -qw -- "$needed" <<<"$bridge_depends"
done
bridge_qt=$(grep -io '[a-z0-9-]*qt[^,]*' <<<"$bridge_depends" || true)
check "the lumidex-bridge .deb depends on nothing of Qt" test -z "$bridge_qt"

# Both packages unpacked into one root, as both installed.
root="$work/root"
dpkg -x "$deb" "$root"
bridge_root="$work/bridge-root"
dpkg -x "$bridge_deb" "$bridge_root"
dpkg -x "$bridge_deb" "$root"
for file in usr/bin/lumidex usr/bin/lumidex-send usr/bin/lumidex-sim \
            usr/share/lumidex/Help.doc usr/share/lumidex/Help.html \
            usr/share/applications/lumidex.desktop usr/share/doc/lumidex/copyright \
            usr/share/doc/lumidex/changelog.gz; do
  check "the lumidex .deb installs /$file" test -f "$root/$file"
done
for file in usr/bin/lumidex-bridge usr/lib/systemd/system/lumidex-bridge.service \
            usr/share/man/man1/lumidex-bridge.1.gz usr/share/doc/lumidex-bridge/copyright \
            usr/share/doc/lumidex-bridge/changelog.gz usr/share/doc/lumidex-bridge/service.md \
            usr/share/doc/lumidex-bridge/examples/boards.ini; do
  check "the lumidex-bridge .deb installs /$file" test -f "$bridge_root/$file"
done
# Whatever the libraries of the program itself pull in, none is Qt's.
qt_libraries=$(ldd "$bridge_root/usr/bin/lumidex-bridge" | grep -i qt || true)
check "lumidex-bridge loads no Qt library" test -z "$qt_libraries"
icons=$( { find "$root/usr/share/icons" "$root/usr/share/pixmaps" -name 'lumidex.*' 2>/dev/null || true; } | wc -l)
check "the .deb installs one lumidex icon" test "$icons" -eq 1
desktop="$root/usr/share/applications/lumidex.desktop"
check "the desktop entry is valid" desktop-file-validate "$desktop"
unit="$root/usr/lib/systemd/system/lumidex-bridge.service"
for line in "Description=Lumidex board service: LED display boards over MQTT and HTTP" \
            "Documentation=man:lumidex-bridge(1) file:///usr/share/doc/lumidex-bridge/service.md" \
            "LoadCredential=http-admin-password:/etc/lumidex/http-admin-password" \
            "SetCredential=http-admin-password:\\n" \
            "ExecStart=lumidex-bridge --boards /var/lib/lumidex/boards.ini" \
            "ConditionPathExists=/var/lib/lumidex/boards.ini" "DynamicUser=yes" \
            "SupplementaryGroups=dialout" "Restart=on-failure" "Type=notify" \
            "RestartPreventExitStatus=2 243" "DeviceAllow=char-ttyUSB rw"; do
  check "the bridge's unit has $line" grep -qxF -- "$line" "$unit"
done
# systemd rates the unit's exposure from 0 (none) to 10; 2.5 or lower is
# what a distribution would ship.
check "systemd-analyze security rates the bridge's unit 2.5 or lower" \
  sh -c "systemd-analyze security --offline=yes --threshold=25 '$unit' >/dev/null"
check "the example boards file is one the bridge reads as far as its boards" \
  sh -c "'$root/usr/bin/lumidex-bridge' --boards '$root/usr/share/doc/lumidex-bridge/examples/boards.ini' 2>&1 | grep -q 'cannot read /var/lib/lumidex/hall.ini'"
# systemd reads the unit as it will on the server: with the program and
# its manual page where they will be (in a private mount namespace, so
# nothing of this system changes), every file Documentation= names there.
if [ "$(id -u)" -eq 0 ] && unshare -m true 2>/dev/null; then
  verify_log="$work/verify.log"
  if unshare -m --propagation private sh -c '
       mount -t tmpfs none /usr/local/bin && cp "$1/usr/bin/lumidex-bridge" /usr/local/bin/ &&
       mount -t tmpfs none /usr/local/share/man && mkdir /usr/local/share/man/man1 &&
       cp "$1/usr/share/man/man1/lumidex-bridge.1.gz" /usr/local/share/man/man1/ &&
       systemd-analyze verify "$1/usr/lib/systemd/system/lumidex-bridge.service"' \
       sh "$bridge_root" >"$verify_log" 2>&1 && [ ! -s "$verify_log" ]; then
    pass "systemd-analyze verify accepts the bridge's unit"
  else
    fail "systemd-analyze verify accepts the bridge's unit"
    sed 's/^/  /' "$verify_log" >&2
  fi
  for doc in $(sed -n 's/^Documentation=//p' "$unit"); do
    case $doc in
      file://*) check "the unit's $doc is in the package" test -f "$bridge_root${doc#file://}" ;;
    esac
  done
else
  echo "skipped: systemd-analyze verify (needs root and a mount namespace)"
fi
for line in "Categories=Utility;" "Icon=lumidex" "Exec=lumidex" "Type=Application"; do
  check "the desktop entry has $line" grep -qx -- "$line" "$desktop"
done
# --- What a distribution asks of the .deb ----------------------------------
# lintian is run as Debian's archive runs it; an override in the package
# would have to say why it is right, and there is none.
if command -v lintian >/dev/null; then
  for package in "$deb" "$bridge_deb"; do
    lintian --fail-on none --no-tag-display-limit "$package" >"$work/lintian.log" 2>&1 || true
    problems=$(grep -E '^[EW]: ' "$work/lintian.log" || true)
    check "lintian reports no error and no warning on $(basename "$package")" test -z "$problems"
    [ -z "$problems" ] || sed 's/^/  /' <<<"$problems" >&2
  done
else
  fail "lintian is not installed (scripts/install-deps installs it)"
fi
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ ${#metainfo[@]} -eq 1 ] && [ -f "${metainfo[0]}" ]; then
  pass "the .deb installs one AppStream metainfo file"
  check "the metainfo names the desktop entry" \
    grep -q '<launchable type="desktop-id">lumidex.desktop</launchable>' "${metainfo[0]}"
  check "the metainfo gives the licence" grep -q '<project_license>MIT</project_license>' \
    "${metainfo[0]}"
  check "the metainfo is of this version" \
    grep -q "<release version=\"$(dpkg-deb -f "$deb" Version)\"" "${metainfo[0]}"
  if command -v appstreamcli >/dev/null; then
    # The screenshots are on the project's site; nothing here goes online.
    for how in validate validate-tree; do
      target=${metainfo[0]}
      [ "$how" = validate ] || target=$root
      status=0
      appstreamcli "$how" --no-net "$target" >"$work/appstream.log" 2>&1 || status=$?
      problems=$(grep -E '^[EW]: ' "$work/appstream.log" || true)
      check "appstreamcli $how accepts it without error or warning" \
        test "$status" -eq 0 -a -z "$problems"
      [ -z "$problems" ] && [ "$status" -eq 0 ] || sed 's/^/  /' "$work/appstream.log" >&2
    done
  else
    fail "appstreamcli is not installed (scripts/install-deps installs it)"
  fi
else
  fail "the .deb installs one AppStream metainfo file"
fi

# Every program in /usr/bin has a manual page in its own package, made from
# what it says now: each option its --help names, and its --version.
version=$(dpkg-deb -f "$deb" Version)
check "both .debs are of one version" test "$(dpkg-deb -f "$bridge_deb" Version)" = "$version"
for program_path in "$root"/usr/bin/*; do
  program=$(basename "$program_path")
  package=$deb
  [ "$program" != lumidex-bridge ] || package=$bridge_deb
  check "$program and its manual page are in $(basename "$package")" \
    sh -c "dpkg-deb -c '$package' | grep -q ' ./usr/bin/$program\$' &&
           dpkg-deb -c '$package' | grep -q ' ./usr/share/man/man1/$program.1.gz\$'"
  check "$program --version says $version" \
    test "$("$program_path" --version | head -n1)" = "$program $version"
  page="$root/usr/share/man/man1/$program.1.gz"
  if [ ! -f "$page" ]; then
    fail "the .deb has a manual page for $program"
    continue
  fi
  pass "the .deb has a manual page for $program"
  text=$(zcat "$page" | sed 's/\\-/-/g')
  missing=""
  for option in $("$program_path" --help | grep -oE -- '--[a-z][a-z-]*' | sort -u); do
    grep -qF -- "$option" <<<"$text" || missing+=" $option"
  done
  check "the manual page of $program names every option of its --help" test -z "$missing"
  [ -z "$missing" ] || echo "  not in the page:$missing" >&2
  check "the manual page of $program is of version $version" \
    grep -qF "\"$program $version\"" <<<"$text"
done

stray=$( { dpkg-deb -c "$deb"; dpkg-deb -c "$bridge_deb"; } | awk '{print $6}' |
  grep -v -e '^\./usr/' -e '^\./$' || true)
check "the .debs install only under /usr" test -z "$stray"
shared=$(comm -12 <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort) \
                  <(dpkg-deb -c "$bridge_deb" | awk '$1 !~ /^d/ {print $6}' | sort))
check "the two .debs share no file" test -z "$shared"

# A plain install lays out the same tree as the two .debs, and nothing else.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
installed_files=$(cd "$work/prefix" && find . -type f | sort)
packaged_files=$(cd "$root/usr" && find . -type f | sort)
check "cmake --install lays out the files of the .debs" test "$installed_files" = "$packaged_files"

mkdir "$work/unpacked"
tar -xzf "$tar" -C "$work/unpacked"
tops=("$work"/unpacked/*)
check "the .tar.gz holds one folder" test ${#tops[@]} -eq 1 -a -d "${tops[0]}"
portable=${tops[0]}
for file in lumidex lumidex-send lumidex-sim lumidex-bridge Help.doc Help.html LICENSE; do
  check "the portable folder holds $file" test -f "$portable/$file"
done
check "the portable folder has no Config.ini yet" test ! -e "$portable/Config.ini"

# --- lumidex-send finds the same Config.ini as the dialog -----------------
# Two settings files that give different frames; the reference frames come
# from the tool just built, told the file with --config.
printf '[Set]\r\nADD485=05\r\n[TextData]\r\nTD1=123\r\nTD2=45\r\n' >"$work/beside.ini"
printf '[Set]\r\nADD485=09\r\nwsv1=5\r\n[TextData]\r\nTD1=7\r\n' >"$work/user.ini"
: >"$work/empty.ini"
send="$build/bin/lumidex-send"
frame_beside=$("$send" --config "$work/beside.ini" --dry-run content)
frame_user=$("$send" --config "$work/user.ini" --dry-run content)
frame_default=$("$send" --config "$work/empty.ini" --dry-run content)
if [ "$frame_beside" = "$frame_user" ] || [ "$frame_beside" = "$frame_default" ] ||
   [ "$frame_user" = "$frame_default" ]; then
  echo "FAIL: the two settings files do not give different frames" >&2
  exit 1
fi

# Runs a program with only the environment given, like a fresh login.
run_clean() { # run_clean XDG_CONFIG_HOME HOME PROGRAM ARGS...
  local xdg=$1 home=$2
  shift 2
  env -i PATH=/usr/bin:/bin ${xdg:+XDG_CONFIG_HOME=$xdg} ${home:+HOME=$home} "$@"
}
expect_frame() { # expect_frame DESCRIPTION EXPECTED XDG HOME PROGRAM ARGS...
  local what=$1 expected=$2
  shift 2
  local got
  got=$(run_clean "$@" --dry-run content 2>&1) || true
  if [ "$got" = "$expected" ]; then pass "$what"; else fail "$what: got '$got'"; fi
}

mkdir -p "$work/xdg/lumidex" "$work/home/.config/lumidex"
cp "$work/user.ini" "$work/xdg/lumidex/Config.ini"
cp "$work/user.ini" "$work/home/.config/lumidex/Config.ini"
cp "$work/beside.ini" "$portable/Config.ini"

expect_frame "installed lumidex-send reads \$XDG_CONFIG_HOME/lumidex/Config.ini" \
  "$frame_user" "$work/xdg" "$work/nohome" "$root/usr/bin/lumidex-send"
expect_frame "installed lumidex-send reads ~/.config/lumidex/Config.ini" \
  "$frame_user" "" "$work/home" "$root/usr/bin/lumidex-send"
expect_frame "installed lumidex-send takes --config over the user folder" \
  "$frame_beside" "$work/xdg" "" "$root/usr/bin/lumidex-send" --config "$work/beside.ini"
expect_frame "portable lumidex-send reads Config.ini beside it" \
  "$frame_beside" "$work/xdg" "$work/home" "$portable/lumidex-send"

# A portable folder that cannot be written (read-only media) sends the user
# folder's settings, as the dialog there keeps them. Root writes anywhere,
# so a read-only bind mount in a private mount namespace stands in.
readonly_send() {
  if [ "$(id -u)" -eq 0 ]; then
    unshare -m sh -c 'mount --bind "$1" "$1" && mount -o remount,bind,ro "$1" && shift && exec "$@"' \
      sh "$portable" "$@"
  else
    chmod a-w "$portable"
    "$@"
    local status=$?
    chmod u+w "$portable"
    return $status
  fi
}
if [ "$(id -u)" -ne 0 ] || unshare -m true 2>/dev/null; then
  got=$(readonly_send env -i PATH=/usr/bin:/bin XDG_CONFIG_HOME="$work/xdg" \
        "$portable/lumidex-send" --dry-run content 2>&1) || true
  if [ "$got" = "$frame_user" ]; then
    pass "a read-only portable folder sends the user folder's settings"
  else
    fail "a read-only portable folder sends the user folder's settings: got '$got'"
  fi
else
  echo "skipped: read-only portable folder (no mount namespace here)"
fi

# --- The dialog finds its settings ---------------------------------------
# The dialog's first settings refresh reads "Set" and writes it back as "1"
# or "2". A file holding Set=7 therefore turns into Set=2 only in the file
# the dialog actually read; that is the sign waited for before it is
# stopped. A file that did not exist turns up holding Set=1.
start_dialog() { # start_dialog XDG_CONFIG_HOME PROGRAM
  local private
  private=$(mktemp -d "$work/tmp.XXXXXX")
  chmod 700 "$private"
  env -i PATH=/usr/bin:/bin HOME="$work/nohome" XDG_CONFIG_HOME="$1" TMPDIR="$private" \
    XDG_RUNTIME_DIR="$private" QT_QPA_PLATFORM=offscreen "$2" >"$private/log" 2>&1 &
  dialog_pid=$!
}
stop_dialog() {
  kill "$dialog_pid" 2>/dev/null || true
  wait "$dialog_pid" 2>/dev/null || true
  dialog_pid=""
}
holds_line() { # holds_line FILE LINE: FILE holds LINE (lines end in CRLF)
  [ -f "$1" ] && tr -d '\r' <"$1" | grep -qx -- "$2"
}
wait_for_line() { # wait_for_line FILE LINE: true once FILE holds LINE
  local _
  for _ in $(seq 300); do
    if holds_line "$1" "$2"; then
      return 0
    fi
    if ! kill -0 "$dialog_pid" 2>/dev/null; then
      return 1
    fi
    sleep 0.1
  done
  return 1
}

printf '[Set]\r\nSet=7\r\n' >"$portable/Config.ini"
start_dialog "$work/xdg-portable" "$portable/lumidex"
check "the portable dialog uses Config.ini beside it" wait_for_line "$portable/Config.ini" "Set=2"
stop_dialog
check "the portable dialog leaves the user folder alone" test ! -e "$work/xdg-portable"

printf '[Set]\r\nSet=7\r\n' >"$work/xdg/lumidex/Config.ini"
start_dialog "$work/xdg" "$root/usr/bin/lumidex"
check "the installed dialog uses \$XDG_CONFIG_HOME/lumidex/Config.ini" \
  wait_for_line "$work/xdg/lumidex/Config.ini" "Set=2"
stop_dialog
check "the installed dialog writes nothing beside the program" \
  test -z "$(find "$root/usr/bin" -mindepth 1 ! -name lumidex ! -name lumidex-send ! -name lumidex-sim ! -name lumidex-bridge)"

start_dialog "$work/fresh/config" "$root/usr/bin/lumidex"
check "the installed dialog creates its settings on first use" \
  wait_for_line "$work/fresh/config/lumidex/Config.ini" "Set=1"
stop_dialog
check "the new settings folder is the user's alone" \
  test "$(stat -c %a "$work/fresh/config/lumidex")" = 700

# --- The dialog says once where an installed copy keeps its settings ------
# On a private X screen a message box shows as a low window with the
# program's caption beside the main window.
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null && command -v xauth >/dev/null; then
  export XAUTHORITY="$work/Xauthority"
  install -m 600 /dev/null "$XAUTHORITY"
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  xauth -q -f "$XAUTHORITY" add "lumidex/unix:0" MIT-MAGIC-COOKIE-1 "$cookie"
  # -noreset: the screen outlives each dialog; a server that resets when
  # its last client leaves turns the next one away for a moment.
  Xvfb -displayfd 1 -screen 0 800x700x24 -nolisten tcp -noreset -auth "$XAUTHORITY" \
    >"$work/display" 2>"$work/Xvfb.log" &
  xvfb_pid=$!
  trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true; cleanup' EXIT
  for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  screen=":$(head -n1 "$work/display")"
  xauth -q -f "$XAUTHORITY" add "$screen" MIT-MAGIC-COOKIE-1 "$cookie"

  windows() { # the visible windows with the program's caption
    DISPLAY=$screen timeout 10 xdotool search --onlyvisible --name '^Lumidex_1\.0$' 2>/dev/null || true
  }
  # The main window is 620 pixels high; a message box is far lower.
  count_windows() { # count_windows main|box
    local id height main=0 box=0
    for id in $(windows); do
      height=$(DISPLAY=$screen timeout 10 xdotool getwindowgeometry --shell "$id" 2>/dev/null |
        sed -n 's/^HEIGHT=//p')
      [ -n "$height" ] || continue
      if [ "$height" -ge 600 ]; then main=$((main + 1)); else box=$((box + 1)); fi
    done
    if [ "$1" = main ]; then echo "$main"; else echo "$box"; fi
  }
  start_on_screen() { # start_on_screen XDG_CONFIG_HOME PROGRAM
    local private
    private=$(mktemp -d "$work/tmp.XXXXXX")
    chmod 700 "$private"
    env -i PATH=/usr/bin:/bin HOME="$work/nohome" XDG_CONFIG_HOME="$1" TMPDIR="$private" \
      XDG_RUNTIME_DIR="$private" DISPLAY="$screen" XAUTHORITY="$XAUTHORITY" "$2" \
      >"$private/log" 2>&1 &
    dialog_pid=$!
    dialog_log="$private/log"
  }
  wait_for() { # wait_for main|box N: true once N windows of that kind show
    local _ seen
    for _ in $(seq 200); do
      seen=$(count_windows "$1")
      [ "$seen" -eq "$2" ] && return 0
      if ! kill -0 "$dialog_pid" 2>/dev/null; then
        echo "  the dialog ended; it said:" >&2
        cat "$dialog_log" >&2
        return 1
      fi
      sleep 0.1
    done
    echo "  $seen $1 windows show instead of $2" >&2
    show_windows
    return 1
  }
  stop_on_screen() { # stops the dialog and waits until its windows are gone
    local _
    stop_dialog
    for _ in $(seq 100); do
      [ -z "$(windows)" ] && return 0
      sleep 0.1
    done
  }
  tells() { wait_for box 1; }
  tells_nothing() { # the main window shows, and no box joins it
    wait_for main 1 || return 1
    sleep 2
    [ "$(count_windows box)" -eq 0 ] && return 0
    show_windows
    return 1
  }
  show_windows() { # for a failure: which windows show, and whose they are
    local id
    for id in $(windows); do
      echo "  window $id of pid $(DISPLAY=$screen xdotool getwindowpid "$id" 2>&1)," \
        "dialog pid $dialog_pid: $(DISPLAY=$screen xdotool getwindowgeometry "$id" | tr '\n' ' ')" >&2
    done
  }

  start_on_screen "$work/notice" "$root/usr/bin/lumidex"
  check "the installed dialog tells where it made the settings file" tells
  stop_on_screen
  start_on_screen "$work/notice" "$root/usr/bin/lumidex"
  check "the installed dialog does not tell it again" tells_nothing
  stop_on_screen
  # Neither the program's folder nor the user folder can be written (a
  # folder below a file cannot be made, not even by root): the dialog says
  # that settings cannot be saved, and works on.
  printf 'x' >"$work/a-file"
  start_on_screen "$work/a-file/config" "$root/usr/bin/lumidex"
  check "the installed dialog tells when no place can keep its settings" tells
  stop_on_screen
  rm -f "$portable/Config.ini"
  start_on_screen "$work/notice" "$portable/lumidex"
  check "the portable dialog tells nothing about its settings" tells_nothing
  stop_on_screen
  check "the portable dialog made Config.ini beside it on first use" \
    holds_line "$portable/Config.ini" "Set=1"
else
  echo "skipped: the settings notice on a screen (needs Xvfb, xauth and xdotool)"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures package check(s) failed" >&2
  exit 1
fi
echo "all package checks passed"
