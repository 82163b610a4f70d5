#!/usr/bin/env bash
# End to end: the real tarquelin.exe under Wine on the display, driven from outside
# Wine, because the forced restart ends every process of the Wine session. Expects
# tools/lib/env.sh's environment (fresh prefix, display, build). A step that fails
# counts as a failed check and the run goes on to its summary; every wait is bounded.
set -uo pipefail
source "$(dirname "$0")/../../tools/lib/traces.sh"
SHOTS=$BUILD/screenshots
mkdir -p "$SHOTS"
passed=0 failed=0
check() {  # check NAME COMMAND...
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}
is() { [ "$1" = "$2" ]; }
absent() { ! has_value "$@"; }
no_trayx() { absent "$RUN_HKLM" TrayX && absent "$RUN_HKCU" TrayX; }
own_value_quoted() { wine reg query "$RUN_HKLM" /v 'Zelvy Remover' | tr -d '\r' | grep -qF "REG_SZ    \"$PROGRAM\""; }
snapshot() { export_key "$RUN_HKLM"; export_key "$RUN_HKCU"; export_key "$SETTINGS"; }
# The next message box TITLE once the one that showed OLD has gone.
next_message() {
    local text
    for _ in 1 2 3; do text=$(message "$1"); [ "$text" != "$2" ] && break; sleep 0.5; done
    echo "$text"
}
BEGUN="El virus ha sido eliminado con éxito de su equipo. Ahora se reiniciará su PC."
DONE="Virus eliminado por completo. No olvide visitar nuestra web donde encontrará otros productos de su utilidad."
FIRST_INCOMPLETE="No se ha podido completar la primera fase de la eliminación: puede que este programa necesite permisos de administrador. ¿Desea ejecutarlo ahora como administrador?"
INCOMPLETE="No se ha podido completar la eliminación del virus. ¿Desea ejecutar ahora este programa como administrador para terminarla?"
IDYES=6 IDNO=7

# The machine Run key's access list goes back whatever happens, and the session ends.
dacl=
restore_dacl() { [ -z "$dacl" ] || wine "$PROBE" protect "${RUN_HKLM#HKLM\\}" "$dacl" >/dev/null && dacl=; }
trap 'status=$?; restore_dacl; wineserver -k 2>/dev/null; exit $status' EXIT

# Security set on a key lives in the wineserver only, so one server serves the whole run.
wineserver -k 2>/dev/null || true
wineserver -p
install_program

# Presses a button of window KIND TITLE: "key" sends KEYS to the focused window, "mouse"
# clicks the control ID.
press() {  # press key|mouse KIND TITLE ID KEYS
    if [ "$1" = key ]; then xdotool key "$5"; else click "$2" "$3" "$4"; fi
}

# A program that is not ours, running in the session until it is ended.
start_bystander() { wine "$PROBE" hold 'C:\windows\win.ini' >/dev/null 2>&1 & BYSTANDER=$!; }
session_ended() {  # the program PID and the bystander were both ended by the restart
    for _ in $(seq 300); do alive "$1" || alive "$BYSTANDER" || return 0; sleep 0.2; done
    return 1
}

# -- first start: the window, where it belongs, without a taskbar button; a DLL planted
# beside the program is not loaded; exit by Alt+S
plant_traces
before=$(snapshot)
cp "$BUILD/tests/shell32.dll" "$PROGRAM_DIR/"
wine "$PROGRAM" >/dev/null 2>&1 &
geometry=$(wine "$PROBE" window "$TITLE" | tr -d '\r')
check "window client area 513x381 at (178,182)" is "$geometry" "178 182 513 381"
xid=$(timeout 60 xdotool search --sync --onlyvisible --name "^$TITLE\$" | head -1)
check "no taskbar entry" bash -c "xprop -id '$xid' _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR"
sleep 1
timeout 30 import -window root "$SHOTS/window.png"
check "screenshot written" [ -s "$SHOTS/window.png" ]
echo "screenshot: $SHOTS/window.png"
click window "$TITLE" 107  # the web link loads the shell library by name
check "the planted shell32.dll is not loaded, the system's is" \
    is "$(wine "$PROBE" module "$TITLE" shell32.dll | tr -d '\r')" 'C:\windows\system32\shell32.dll'
rm -f "$PROGRAM_DIR/shell32.dll"
focus_main
xdotool key alt+s
check "Alt+S ends the program" wait_gone
check "exit changes nothing in the registry or the settings" \
    is "$(snapshot)" "$before"
check "exit leaves the worm's file" [ -e "$WORM" ]

# -- the whole removal, across the forced restart, by keyboard and by mouse
removal() {
    local by=$1 first
    wine reg delete "$SETTINGS" /f >/dev/null 2>&1 || true
    plant_traces
    local others; others=$(other_values)
    wine "$PROGRAM" >/dev/null 2>&1 & first=$!
    check "$by: window shown" shown
    focus_main
    press "$by" window "$TITLE" 102 alt+c
    check "$by: first phase's message" is "$(message "Virus eliminado")" "$BEGUN"
    check "$by: own Run value written, quoted" own_value_quoted
    check "$by: both TrayX values gone" no_trayx
    check "$by: flag set to 1" is "$(flag)" 1
    start_bystander
    timeout 30 import -window root "$SHOTS/restart-$by.png"
    press "$by" message "Virus eliminado" 1 Return
    check "$by: the restart ends the session" session_ended $first
    # Nothing here starts the program: Wine's logon does, from the Run value.
    check "$by: started again at logon, completion message" is "$(message "Eliminación completada.")" "$DONE"
    check "$by: main window never shown" bash -c "! xdotool search --onlyvisible --name '^$TITLE\$' >/dev/null"
    timeout 30 import -window root "$SHOTS/completion-$by.png"
    press "$by" message "Eliminación completada." 1 Return
    check "$by: program ends after the message" wait_gone
    check "$by: worm file deleted" [ ! -e "$WORM" ]
    check "$by: no TrayX anywhere" no_trayx
    check "$by: own Run value removed" absent "$RUN_HKLM" "Zelvy Remover"
    check "$by: flag cleared to 0" is "$(flag)" 0
    check "$by: other start-up values unchanged" is "$(other_values)" "$others"
}
removal key
removal mouse

# -- the worm's file held open by another program at logon: incomplete, tried again later
echo "stand-in for the worm's file" > "$WORM"
plant_restart_state
wine "$PROBE" hold 'C:\windows\winppr32.exe' > "$BUILD/hold.out" 2>/dev/null & locker=$!
check "locked: file held" timeout 60 bash -c "until grep -q held '$BUILD/hold.out'; do sleep 0.2; done"
wine wineboot >/dev/null 2>&1 &  # a logon
check "locked: asks to run as administrator" is "$(message "Eliminación incompleta")" "$INCOMPLETE"
timeout 30 import -window root "$SHOTS/incomplete.png"
click message "Eliminación incompleta" $IDNO
check "locked: program ends" wait_gone
check "locked: worm file still there" [ -e "$WORM" ]
check "locked: own Run value kept" has_value "$RUN_HKLM" "Zelvy Remover"
check "locked: flag kept at 1" is "$(flag)" 1
kill $locker; wait $locker 2>/dev/null
wine "$PROGRAM" >/dev/null 2>&1 &  # by hand, once the lock is gone
check "unlocked: completion message" is "$(message "Eliminación completada.")" "$DONE"
xdotool key Return
check "unlocked: program ends" wait_gone
check "unlocked: worm file deleted" [ ! -e "$WORM" ]
check "unlocked: own Run value removed" absent "$RUN_HKLM" "Zelvy Remover"
check "unlocked: flag cleared to 0" is "$(flag)" 0

# -- a copy of the worm running at logon, with "TrayX" written back into both Run keys,
# and a program of the same file name in another folder: only the worm's copy is ended
DECOY_DIR=$WINEPREFIX/drive_c/Juegos
mkdir -p "$DECOY_DIR"
cp "$PROBE" "$WORM"
cp "$PROBE" "$DECOY_DIR/winppr32.exe"
plant_restart_state
wine reg add "$RUN_HKLM" /v TrayX /d 'C:\WINDOWS\winppr32.exe' /f >/dev/null
wine reg add "$RUN_HKCU" /v TrayX /d 'C:\WINDOWS\winppr32.exe' /f >/dev/null
wine 'C:\windows\winppr32.exe' hold 'C:\windows\win.ini' > "$BUILD/worm.out" 2>/dev/null & worm=$!
wine 'C:\Juegos\winppr32.exe' hold 'C:\windows\win.ini' > "$BUILD/decoy.out" 2>/dev/null & decoy=$!
check "worm running: both copies started" \
    timeout 60 bash -c "until grep -q held '$BUILD/worm.out' && grep -q held '$BUILD/decoy.out'; do sleep 0.2; done"
wine "$PROGRAM" >/dev/null 2>&1 &
check "worm running: completion message" is "$(message "Eliminación completada.")" "$DONE"
xdotool key Return
check "worm running: program ends" wait_gone
check "worm running: the worm's copy was ended" ended "$worm"
check "worm running: the program of the same name elsewhere still runs" alive "$decoy"
check "worm running: worm file deleted" [ ! -e "$WORM" ]
check "worm running: no TrayX anywhere" no_trayx
check "worm running: own Run value removed" absent "$RUN_HKLM" "Zelvy Remover"
check "worm running: flag cleared to 0" is "$(flag)" 0
kill "$worm" "$decoy" 2>/dev/null

# -- the machine-wide Run key read-only for the user: no false success, no restart
wine reg delete "$SETTINGS" /f >/dev/null 2>&1
plant_traces
others=$(other_values)
dacl=$(wine "$PROBE" protect "${RUN_HKLM#HKLM\\}" 'D:P(A;;KRWD;;;WD)' | tr -d '\r')
check "read-only: access list set" [ -n "$dacl" ]
wine "$PROGRAM" >/dev/null 2>&1 & first=$!
begin_without_rights() {  # presses Comenzar and goes through WriteValue's two messages
    focus_main
    xdotool key alt+c
    check "read-only $1: open error first" is "$(message "$TITLE")" "RegOpenKey error - 5"
    xdotool key Return
    check "read-only $1: then the write error" is "$(next_message "$TITLE" "RegOpenKey error - 5")" "SetValue error - 6"
    xdotool key Return
    check "read-only $1: asks to run as administrator" is "$(message "Eliminación incompleta")" "$FIRST_INCOMPLETE"
}
check "read-only: window shown" shown
begin_without_rights no
start_bystander
click message "Eliminación incompleta" $IDNO
sleep 3  # a restart, were one requested, would have begun by now
check "read-only no: the window stays" shown
check "read-only no: no restart, a bystander still runs" alive "$BYSTANDER"
check "read-only no: no flag" is "$(flag)" ""
check "read-only no: no own Run value" absent "$RUN_HKLM" "Zelvy Remover"
check "read-only no: user's TrayX gone" absent "$RUN_HKCU" TrayX
check "read-only no: machine's TrayX stays" has_value "$RUN_HKLM" TrayX
begin_without_rights yes
click message "Eliminación incompleta" $IDYES
check "read-only yes: this instance ends" ended "$first"
check "read-only yes: a new instance shows its window" shown
check "read-only yes: it is running" running
check "read-only yes: still no flag" is "$(flag)" ""
focus_main
xdotool key alt+s
check "read-only yes: the new instance exits" wait_gone
kill "$BYSTANDER" 2>/dev/null
restore_dacl
check "read-only: access list restored" [ -z "$dacl" ]
check "read-only: other start-up values unchanged" is "$(other_values)" "$others"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
