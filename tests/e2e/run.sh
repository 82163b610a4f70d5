#!/usr/bin/env bash
# End to end: the real tarquelin.exe under Wine on the display, driven from outside
# Wine. Expects tools/lib/env.sh's environment (prefix, display, build).
set -euo pipefail
EXE=$BUILD/tarquelin.exe
PROBE=$BUILD/tests/probe.exe
SHOTS=$BUILD/screenshots
mkdir -p "$SHOTS"
passed=0 failed=0
check() {  # check NAME CONDITION...
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}
flag() { wine reg query 'HKCU\Software\Kestrova Zelvy Remover\BOOTED' /v Value 2>/dev/null | tr -d '\r' | awk '/Value/ {print $3}'; }
run_value() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v "$1" >/dev/null 2>&1; }
no_run_value() { ! run_value 'Zelvy Remover'; }
running() { pgrep -f 'tarquelin.exe' >/dev/null; }
wait_gone() { for _ in $(seq 300); do running || return 0; sleep 0.2; done; return 1; }
WORM=$WINEPREFIX/drive_c/windows/winppr32.exe

# -- first start: the window, where it belongs, without a taskbar button
wine reg delete 'HKCU\Software\Kestrova Zelvy Remover' /f >/dev/null 2>&1 || true
wine "$EXE" >/dev/null 2>&1 &
geometry=$(wine "$PROBE" window "Kestrova Zelvy Remover" | tr -d '\r')
check "window client area 513x381 at (178,182)" [ "$geometry" = "178 182 513 381" ]
xid=$(xdotool search --sync --onlyvisible --name '^Kestrova Zelvy Remover$' | head -1)
check "no taskbar entry" bash -c "xprop -id $xid _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR"
sleep 1
import -window root "$SHOTS/window.png"
check "screenshot written" [ -s "$SHOTS/window.png" ]
echo "screenshot: $SHOTS/window.png"

# -- exit by keyboard: Alt+S ends the program and changes nothing
xdotool windowfocus --sync "$xid" || true
xdotool key alt+s
check "Alt+S ends the program" wait_gone
check "exit leaves the flag unset" [ -z "$(flag)" ]
check "exit writes no Run value" no_run_value

# -- the run after the restart: flag "1", worm file present
echo worm > "$WORM"
wine reg add 'HKCU\Software\Kestrova Zelvy Remover\BOOTED' /v Value /d 1 /f >/dev/null
wine reg add 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v 'Zelvy Remover' /d "\"$(winepath -w "$EXE")\"" /f >/dev/null
wine "$EXE" >/dev/null 2>&1 &
text=$(wine "$PROBE" message "Eliminación completada." | tr -d '\r')
check "completion message" [ "$text" = "Virus eliminado por completo. No olvide visitar nuestra web donde encontrará otros productos de su utilidad." ]
check "main window never shown" bash -c "! xdotool search --onlyvisible --name '^Kestrova Zelvy Remover$' >/dev/null"
import -window root "$SHOTS/completion.png"
xdotool key Return
check "program ends after the message" wait_gone
check "worm file deleted" [ ! -e "$WORM" ]
check "flag cleared to 0" [ "$(flag)" = "0" ]
check "own Run value removed" no_run_value

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
