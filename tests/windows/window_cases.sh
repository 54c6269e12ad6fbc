# Sourced by run.sh: kelvo.exe on a virtual X server, driven by xdotool, read by form_probe.exe.

# The window with that caption as form_probe reads it; bounded, as its messages wait for the window.
probe() { (cd "$work" && exec timeout 10 wine "$OLDPWD/$windows/tests/form_probe.exe" "$1") </dev/null; }
# Asks Windows, since Wine may keep the X window of a window that has closed.
is_open() { probe "$1" >/dev/null; }
# The text of the control with the given id.
field() {
  probe "Harvenor - Kelvo " | tr -d '\r' |
    awk -v id="$1" '$1 == id { print substr($0, length($1) + 2) }'
}
key() { xdotool key --window "$window" "$@" 2>/dev/null || fail "window: keys $* not sent"; }
# Waits for the box with that caption to open; sets box to its X window id.
await_box() { box=$(timeout 10 xdotool search --sync --name "^$1\$" | head -1); }
# Presses key in the box with that caption, and waits for the box to close. Without a window
# manager Wine may drop a key sent to a new window until it has had the X focus for a while; the
# key is sent again then. The main window, disabled meanwhile, ignores it.
press_in() {
  for _ in 1 2 3; do
    xdotool windowfocus "$box" 2>/dev/null || break
    sleep 1
    xdotool key --window "$box" "$2" 2>/dev/null || break
    for _ in $(seq 10); do is_open "$1" || return 0; sleep 0.2; done
  done
  is_open "$1" && fail "$1: $2 left it open"
}

# Starts kelvo.exe in $work, with KELVO.DAT naming COM5 and the image if one is given, and waits
# for its window; sets window to its X window id. The upload, which needs both, shows that it read
# them.
start_window() {
  [ -n "${1-}" ] && "$linux/tests/settings_round_trip" "$work/none" "$work/KELVO.DAT" COM5 \
    "$1" 0x2000 "ZARQ 40 - 580" 200
  (cd "$work" && exec wine "$OLDPWD/$windows/src/window/win32/kelvo.exe") </dev/null \
    >"$work/window.out" 2>&1 &
  window_pid=$!
  window=$(timeout 30 xdotool search --sync --name "Harvenor - Kelvo " | head -1) ||
    { fail "window: no window appeared"; return 1; }
}
await_end() {
  for _ in $(seq 300); do kill -0 "$window_pid" 2>/dev/null || return 0; sleep 0.1; done
  fail "window: still open"
  kill "$window_pid"
}

# The manifest that Windows reads as the program starts, resource 1 of type 24.
x86_64-w64-mingw32-windres -i "$windows/src/window/win32/kelvo.exe" -O rc |
  sed -n '/^1 24 /,/^END/p' | grep -F '/SMI/2016/WindowsSettings"">PerMonitorV2' >/dev/null ||
  fail "window: its program does not declare itself DPI-aware per monitor (v2)"

display=:$((50 + $$ % 40))
Xvfb "$display" -screen 0 1024x768x24 </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

echo "The window: an upload started from the keyboard, the About box open meanwhile"
start_sim --paced  # at line speed, so that the upload lasts while the About box is open
if start_window image.bin; then
  # Five Tabs from File reach Start. Once the log shows the upload, Start has given it the focus,
  # and Enter and Esc do nothing. The About box opens from the system menu.
  key Tab Tab Tab Tab Tab space
  for _ in $(seq 50); do grep -q "Opening Port" <(field 1010) && break; sleep 0.1; done
  grep -q "Opening Port" <(field 1010) || fail "window: Start from the keyboard started nothing"
  key Return KP_Enter Escape alt+space Up Return
  await_box "About Kelvo" || fail "about: no box"
  is_open "Harvenor - Kelvo " || fail "window: Enter or Esc closed it during the upload"
  before=$(field 1010)
  for _ in $(seq 300); do
    [ "$(field 1012)" = "10 / 10" ] && grep -q "Sending EOT" <(field 1010) && break
    sleep 0.1
  done
  is_open "About Kelvo" || fail "about: closed by itself"
  [ "$(field 1010)" != "$before" ] || fail "about: the log stood still behind it"
  press_in "About Kelvo" Escape
  sum=$(od -An -v -tu1 <(cat "$work/image.bin"; head -c 78 /dev/zero | tr '\0' '\377') |
    awk '{ for (i = 1; i <= NF; i++) s += $i } END { printf "%04X", s % 65536 }')
  for expected in "1012 10 / 10" "1014 2048" "1015 $sum" "1011 0"; do
    shown=$(field "${expected%% *}")
    [ "$shown" = "${expected#* }" ] || fail "window: field ${expected%% *} shows '$shown'"
  done

  # A click in the log, then keys that select and Ctrl+C: the whole log, or its first lines.
  xdotool mousemove --window "$window" 200 300 click 1 2>/dev/null || fail "window: no click"
  sleep 0.5
  for selection in "ctrl+a:all" "ctrl+Home shift+Down shift+End:2"; do
    # shellcheck disable=SC2086 # the keys
    key ${selection%:*} ctrl+c
    sleep 0.5
    [ "$(timeout 5 xclip -o -selection clipboard 2>/dev/null | tr -d '\r' | sed 's/$/\\n/' | tr -d '\n')" = \
      "$(field 1010 | awk -F '\\\\n' -v n="${selection#*:}" '{
        for (i = 1; i < NF && (n == "all" || i <= n); i++) printf "%s\\n", $i }')" ] ||
      fail "window: after ${selection%:*} the clipboard does not hold that part of the log"
  done
  key Escape
  await_end
fi
stop_sim

echo "The window: its close box in the middle of an upload asks; closed, its worker carries on"
head -c $((100 * 128)) /dev/urandom >"$work/long.bin"  # 30 s at line speed
start_sim --paced
if start_window long.bin; then
  key Tab Tab Tab Tab Tab space
  sleep 1
  for answer in Return y; do  # No, the default, then Yes
    key alt+F4
    await_box Kelvo || { fail "close: no question"; break; }
    probe Kelvo | grep -q "A transfer is running" || fail "close: no such question"
    press_in Kelvo "$answer"
    [ $answer = y ] || is_open "Harvenor - Kelvo " || fail "close: No closed the window"
  done
  await_end
  wait "$window_pid" || fail "window: closed during an upload, the program ended with status $?"
fi
stop_sim

echo "The window: Return saves the settings back, Esc leaves them, a save refused is told"
example='43 4F 4D 31 09 43 3A 5C 66 77 2E 62 69 6E 06 30 78 32 30 30 30 01 64 00'
for case in "Return 644 yes" "Escape 644 no" "Return 444 no"; do
  read -r pressed mode saved <<<"$case"
  rm -f "$work/KELVO.DAT"
  printf "$(printf '\\x%s' $example)" >"$work/KELVO.DAT"
  touch -d '2001-01-01' "$work/KELVO.DAT"
  chmod "$mode" "$work/KELVO.DAT"
  start_window || continue
  key "$pressed"
  if [ "$mode" = 444 ]; then
    await_box Kelvo && probe Kelvo | grep -q "KELVO.DAT was not saved: " &&
      press_in Kelvo Return || fail "window: a save refused was not told"
  fi
  await_end
  [ "$(od -An -tx1 "$work/KELVO.DAT" | tr a-f A-F | xargs)" = "$example" ] ||
    fail "window: after $pressed KELVO.DAT holds $(od -An -tx1 "$work/KELVO.DAT" | xargs)"
  [ "$(stat -c %Y "$work/KELVO.DAT")" = 978307200 ] && changed=no || changed=yes
  [ $changed = "$saved" ] || fail "window: $pressed with KELVO.DAT mode $mode saved: $changed"
done

wineserver -k 2>/dev/null || true  # before its X server goes
kill "$xvfb_pid"
