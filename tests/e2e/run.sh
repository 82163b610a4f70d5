#!/usr/bin/env bash
# End to end: the real tarquelin.exe under Wine on the display, driven from outside
# Wine, because the forced restart ends every process of the Wine session. Expects
# tools/lib/env.sh's environment (fresh prefix, display, build). A step that fails
# counts as a failed check and the run goes on to its summary; every wait is bounded.
# With "removal" it runs only the whole removal across the restart (for the 64-bit
# prefix, where the machine's Run key has two views); with "unattended", only the runs
# with switches that deployment tools make.
only=${1:-}
set -uo pipefail
source "$(dirname "$0")/../../tools/lib/traces.sh"
source "$(dirname "$0")/../../tools/lib/session.sh"
SHOTS=${SHOTS:-$BUILD/screenshots}
mkdir -p "$SHOTS"
passed=0 failed=0
check() {  # check NAME COMMAND...
    local name=$1; shift
    if "$@"; then passed=$((passed + 1)); echo "ok   $name"; else failed=$((failed + 1)); echo "FAIL $name"; fi
}
is() { [ "$1" = "$2" ] || { head -3 <<<"     got: $1" >&2; return 1; }; }  # what was seen, on a failure
# The stand-in's mark, left when it starts in place of the program.
STARTED_MARK=tarquelin.exe.started
own_value() { text HKLM32 "Zelvy Remover"; }  # in the program's own view
snapshot() { read_state; echo "$STATE"; }
# The next message box TITLE once the one that showed OLD has gone.
next_message() {
    local text
    for _ in 1 2 3; do text=$(message "$1"); [ "$text" != "$2" ] && break; sleep 0.5; done
    echo "$text"
}
BEGUN="El virus ha sido eliminado con éxito de su equipo. Ahora se reiniciará su PC."
DONE="Virus eliminado por completo. No olvide visitar nuestra web donde encontrará otros productos de su utilidad."
NOT_FOUND="No se ha encontrado el virus Zelvy.F en su PC. No se ha realizado ningún cambio."
IN_USE="El archivo del virus está en uso y se eliminará al reiniciar el equipo. ¿Desea reiniciarlo ahora?"
NOT_REGISTERED="No se ha podido registrar este programa para el próximo inicio de Windows."
IDOK=1 IDYES=6
# Windows' own access lists: users may read the machine's keys, not write them.
USERS_READ='D:P(A;CI;KR;;;BU)(A;CI;KA;;;BA)(A;CI;KA;;;SY)'
SESSION_MANAGER='SYSTEM\CurrentControlSet\Control\Session Manager'

# Access lists changed (keys below HKLM), each as it was found: put back whatever
# happens, and the session ends.
declare -A found_dacl=()
protect() {  # protect KEY SDDL
    local old
    old=$(wine "$PROBE" protect "$1" "$2" | tr -d '\r') && [ -n "$old" ] || return 1
    [ -n "${found_dacl[$1]:-}" ] || found_dacl[$1]=$old
}
restore_dacls() {
    local key failed=0
    for key in "${!found_dacl[@]}"; do wine "$PROBE" protect "$key" "${found_dacl[$key]}" >/dev/null || failed=1; done
    [ $failed -eq 0 ] && found_dacl=()
}
trap 'status=$?; restore_dacls; wineserver -k 2>/dev/null; exit $status' EXIT

# Security set on a key lives in the wineserver only, so one server serves the whole run.
wineserver -k 2>/dev/null || true
install_program
start_session || exit 1

# Presses a button of window KIND TITLE: "key" sends KEYS to the focused window, "mouse"
# clicks the control ID.
press() {  # press key|mouse KIND TITLE ID KEYS
    if [ "$1" = key ]; then xdotool key "$5"; else click "$2" "$3" "$4"; fi
}

# Comenzar where the machine's Run key may not be written: the registry's two refusals,
# then the program's word in "Eliminación incompleta", TEXT.
refused_press() {  # refused_press NAME WHAT TEXT
    focus_main
    xdotool key alt+c
    check "$1: open error first" is "$(message "$TITLE")" "RegOpenKey error - 5"
    xdotool key Return
    check "$1: then the write error" is "$(next_message "$TITLE" "RegOpenKey error - 5")" "SetValue error - 6"
    xdotool key Return
    check "$1: $2" is "$(message "Eliminación incompleta")" "$3"
}

# A program that is not ours, running in the session until it is ended. Waited for:
# under qemu a start takes seconds, and one that joined the session after a restart
# would seem to have survived it.
start_bystander() {
    rm -f "$OUT/bystander.out"
    wine "$PROBE" hold 'C:\windows\win.ini' > "$OUT/bystander.out" 2>/dev/null & BYSTANDER=$!
    timeout 60 bash -c "until grep -q held '$OUT/bystander.out'; do sleep 0.2; done"
}
session_ended() {  # the program PID and the bystander were both ended by the restart
    for _ in $(seq 600); do alive "$1" || alive "$BYSTANDER" || return 0; sleep 0.2; done
    return 1
}

# -- the whole removal, across the forced restart, by keyboard and by mouse, from the
# program's folder PROGRAM (PROGRAM_FILE on Linux); the file started there is replaced
# before the restart by a stand-in that marks its start, and must never run. With
# "again", the worm comes back before the restart that deletes the copy, and the user
# removes it again the same way. BEFORE and BEFORE_AGAIN, when set, name what to do to
# the machine before the first press and before the second.
removal() {  # removal key|mouse [again]
    removal_run "$1" fresh "${BEFORE:-}"
    [ "${2:-}" != again ] || removal_run "$1, worm back" "" "${BEFORE_AGAIN:-}"
    restart
    check "$1: after one more restart the copy and its folder are gone" deleted_at_restart "$COPY_DIR"
    cp "$BUILD/tarquelin.exe" "$PROGRAM_FILE"
}
# The copy is still there, as a running program's file is, and its deletion pending.
# Nothing carries out the pending renames before the next restart: the keeper holds the
# session's event, so no Wine command begins a session of its own.
copy_left() { [ -e "$COPY_DIR/tarquelin.exe" ] && read_state && [ -n "$(pending "$COPY")" ]; }
# Another build of the program in its own folder, as an earlier press recorded it.
older_copy() {
    mkdir -p "$COPY_DIR"
    cp "$BUILD/tests/stray.exe" "$COPY_DIR/tarquelin.exe"
    printf '[HKEY_LOCAL_MACHINE\\%s\\BOOTED]\n"Folder"="1"\n' "$SETTINGS_KEY" | apply_reg
}
# The copy's and the folder's deletions, which the completion asked for, in Windows'
# second list instead (MoveFileEx appends there once it exists), around another
# program's rename, which must come through byte for byte.
OTHER_RENAME=('\??\C:\windows\temp\otro.tmp' '!\??\C:\windows\temp\otro.dll')
second_list() {
    local data
    data=$(printf '\\??\\%s\0\0%s\0%s\0\\??\\%s\0\0\0' "$COPY" "${OTHER_RENAME[@]}" "${COPY%\\*}" | reg_hex)
    printf '[HKEY_LOCAL_MACHINE\\%s]\n"PendingFileRenameOperations"=-\n"PendingFileRenameOperations2"=hex(7):%s\n' \
        "$SESSION_MANAGER" "$data" | apply_reg
}
# What is left of that list: the other program's rename alone.
second_list_left() {
    read_state
    is "$(lines SM PendingFileRenameOperations2)" \
        "SM \"PendingFileRenameOperations2\" 7:$(printf '%s\0%s\0\0' "${OTHER_RENAME[@]}" | utf16_hex)"
}
removal_run() {  # removal_run LABEL [fresh] [BEFORE]
    local by=$1 first
    cp "$BUILD/tarquelin.exe" "$PROGRAM_FILE"
    rm -f "$(dirname "$PROGRAM_FILE")/$STARTED_MARK"
    plant_traces "${2:-}"
    ${3:-}
    read_state
    local others; others=$(other_values)
    wine "$PROGRAM" ${PROGRAM_ARGS:+"$PROGRAM_ARGS"} >/dev/null 2>&1 & first=$!
    check "$by: window shown" shown
    focus_main
    press "$by" window "$TITLE" 102 alt+c
    check "$by: first phase's message" is "$(message "Virus eliminado")" "$BEGUN"
    read_state
    check "$by: own Run value, the quoted path of the copy under Program Files" is "$(own_value)" "\"$COPY\""
    check "$by: the copy is the build, byte for byte" cmp -s "$COPY_DIR/tarquelin.exe" "$BUILD/tarquelin.exe"
    check "$by: every TrayX gone" no_trayx
    check "$by: flag set to 1" is "$(flag)" 1
    # What the user started is replaced, as a running program can be renamed away.
    cp "$BUILD/tests/stray.exe" "$PROGRAM_FILE.new" && mv -f "$PROGRAM_FILE.new" "$PROGRAM_FILE"
    start_bystander
    timeout 30 import -window root "$SHOTS/restart-$by.png"
    press "$by" message "Virus eliminado" 1 Return
    check "$by: the restart ends the session" session_ended $first
    # Nothing here starts the program: Wine's logon does, from the Run value.
    check "$by: started again at logon" wait_running 300
    check "$by: started again at logon, completion message" is "$(message "Eliminación completada.")" "$DONE"
    check "$by: main window never shown" bash -c "! xdotool search --onlyvisible --name '^$TITLE\$' >/dev/null"
    timeout 30 import -window root "$SHOTS/completion-$by.png"
    press "$by" message "Eliminación completada." 1 Return
    check "$by: program ends after the message" wait_gone
    check "$by: worm file deleted" [ ! -e "$WORM" ]
    read_state
    check "$by: no TrayX anywhere" no_trayx
    check "$by: own Run value removed" lacks HKLM32 "Zelvy Remover"
    check "$by: flag cleared to 0" is "$(flag)" 0
    check "$by: other start-up values unchanged" is "$(other_values)" "$others"
    check "$by: the file first started never ran again" [ ! -e "$(dirname "$PROGRAM_FILE")/$STARTED_MARK" ]
    check "$by: the copy left to the restart: there, its deletion pending" copy_left
}

# Twips of the stored layout to pixels at the prefix's DPI, rounded as MulDiv does.
DPI=${DPI:-96}
px() { echo $(( ($1 * DPI + 720) / 1440 )); }
# The client area scaled, at the stored place, moved left and up by the least that
# keeps the window inside the work area, but never past its top left corner (a window
# larger than the screen keeps its caption on it).
window_scaled() {
    local x y w h l t r b right bottom
    read -r x y w h <<<"$(wine "$PROBE" window "$TITLE" | tr -d '\r')"
    read -r l t r b right bottom <<<"$(wine "$PROBE" frame "$TITLE" | tr -d '\r')"
    echo "client area ${w}x$h at ($x,$y), window ($l,$t)-($r,$b), work area to ($right,$bottom)"
    local fl=$((x - l)) ft=$((y - t)) fw=$((r - l)) fh=$((b - t)) ex ey
    ex=$(($(px 2670) - fl)); ((ex <= right - fw)) || ex=$((right - fw)); ((ex >= 0)) || ex=0
    ey=$(($(px 2730) - ft)); ((ey <= bottom - fh)) || ey=$((bottom - fh)); ((ey >= 0)) || ey=0
    [ "$w $h $x $y" = "$(px 7695) $(px 5715) $((ex + fl)) $((ey + ft))" ]
}
# The button ID's centre on the screen, at its scaled place in the client area.
button_scaled() {  # button_scaled ID LEFT TOP RIGHT BOTTOM (twips)
    local x y w h; read -r x y w h <<<"$(wine "$PROBE" window "$TITLE" | tr -d '\r')"
    is "$(point window "$TITLE" "$1")" \
        "$(( (2 * x + $(px "$2") + $(px "$4")) / 2 )) $(( (2 * y + $(px "$3") + $(px "$5")) / 2 ))"
}

if [ "$only" = removal ]; then
    wine "$PROGRAM" >/dev/null 2>&1 &
    check "$DPI DPI: window shown" shown
    check "$DPI DPI: window scaled and on the screen" window_scaled
    check "$DPI DPI: Comenzar scaled" button_scaled 102 6330 5205 7530 5550
    check "$DPI DPI: Salir scaled" button_scaled 101 4980 5205 6180 5550
    sleep 1
    shoot "$TITLE" "$SHOTS/window-$DPI.png" && echo "screenshot: $SHOTS/window-$DPI.png"
    focus_main
    xdotool key alt+s
    check "$DPI DPI: exit" wait_gone
    # And at 200 %, on the same screen: a new process takes the scale from the registry.
    if [ "$DPI" = 144 ]; then
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
        DPI=192
        wine "$PROGRAM" >/dev/null 2>&1 &
        check "$DPI DPI: window shown" shown
        check "$DPI DPI: window scaled and on the screen" window_scaled
        sleep 1
        shoot "$TITLE" "$SHOTS/window-$DPI.png" && echo "screenshot: $SHOTS/window-$DPI.png"
        focus_main
        xdotool key alt+s
        check "$DPI DPI: exit" wait_gone
        DPI=144
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null 2>&1
    fi
    removal key
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
fi

# -- runs with switches, as deployment tools make them. The whole exit code is read on
# the Windows side (wine's own status keeps 8 bits of it), with every window the program
# showed counted: "exit CODE windows N".
if [ "$only" = unattended ]; then
    rm -rf "$COPY_DIR"  # a machine where the window's removal never ran
    DEBUG_LOG=$WINEPREFIX/drive_c/windows/Debug/tarquelin.log
    mkdir -p "$(dirname "$DEBUG_LOG")"  # there on every Windows, not in a Wine prefix
    TEMP_LOG=$(winepath -u "$(wine cmd /c echo %TEMP% | tr -d '\r')" 2>/dev/null)/tarquelin.log
    LOG_FILE='C:\registros\limpieza z.log'
    mkdir -p "$WINEPREFIX/drive_c/registros"
    SECOND_USER_RUN='HKU\S-1-5-21-0-0-0-1001\Software\Microsoft\Windows\CurrentVersion\Run'
    unattended() { wine "$PROBE" run "$PROGRAM" "$@" | tr -d '\r'; }
    # Started where no one sees a window: a window station of its own, as SYSTEM's in
    # session 0; a run that waited there for an answer would be ended after two minutes.
    unattended_hidden() { wine "$PROBE" run hidden "$PROGRAM" "$@" | tr -d '\r'; }
    last_block() { tr -d '\r' < "$1" | sed 's/^\xef\xbb\xbf//' | awk '/^---- /{b=""} {b=b $0 "\n"} END{printf "%s", b}'; }
    # Everything the program may change, but its log and its record of the last run.
    machine_state() {
        wine "$PROBE" state | tr -d '\r' | grep -v -e '^BOOTED "LastExitCode"' -e '^BOOTED "LastRun"'
        ls -la --time-style=full-iso "$WORM" "$COPY_DIR" 2>&1
    }
    removed() {
        local state; state=$(wine "$PROBE" state | tr -d '\r')
        ! grep -q -e '"TrayX"' -e '"Zelvy Remover"' -e '^BOOTED "Value"' <<<"$state" && [ ! -e "$WORM" ] &&
            [ ! -e "$COPY_DIR" ]
    }
    # The worm's traces, "TrayX" in a second user's hive loaded under HKEY_USERS too, and
    # no settings of the program: one import, as each Wine start costs seconds here.
    machine() {  # machine infected|clean|begun (clean, the window's second phase waiting)
        local data='"C:\\WINDOWS\\winppr32.exe"' key
        [ "$1" = infected ] || data=-
        { printf 'REGEDIT4\n\n[-HKEY_LOCAL_MACHINE\\Software\\Kestrova Zelvy Remover]\n'
          for key in HKEY_LOCAL_MACHINE HKEY_CURRENT_USER 'HKEY_USERS\S-1-5-21-0-0-0-1001'; do
              printf '\n[%s\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]\n"TrayX"=%s\n' "$key" "$data"
          done
          printf '"Zelvy Remover"=-\n'; } > "$WINEPREFIX/drive_c/machine.reg"
        wine reg import 'C:\machine.reg' >/dev/null 2>&1
        if [ "$1" = infected ]; then echo "stand-in for the worm's file" > "$WORM"; else rm -f "$WORM"; fi
        [ "$1" != begun ] || plant_restart_state
    }
    # name | machine | switches | exit code | afterwards: removed, or the same (but for the
    # log and the record) | started where no one sees a window
    while IFS='|' read -r name traces switches code after where <&3; do
        machine "$traces"
        before=$(machine_state)
        check "$name: exit code $code, no window" is "$(unattended${where:+_$where} $switches)" "exit $code windows 0"
        if [ "$after" = same ]; then
            check "$name: nothing changed" is "$(machine_state)" "$before"
        else
            check "$name: no trace left, and nothing of its own" removed
        fi
        block=$(last_block "$DEBUG_LOG")
        check "$name: the log's block ends with the exit code" is "$(tail -1 <<<"$block")" "código de salida: $code"
        [ "$name" != infected ] || infected_log=$block
    done 3<<'EOF'
infected|infected|/Q|0|removed
clean|clean|/QUIET|0|same
detect only, infected|infected|/N /Q|6|same
detect only, clean|clean|-n -q|0|same
unknown switch|infected|/Q /Z|87|same
detect only, the window's second phase waiting|begun|/N /Q|0|same
hidden, a habit of other tools|infected|/S|87|same|hidden
hidden, no switches|infected||87|same|hidden
hidden, detect only|infected|/N|6|same|hidden
hidden, help|infected|/?|0|same|hidden
hidden, quiet|infected|/Q|0|removed|hidden
EOF
    for line in 'línea de órdenes: "'"$PROGRAM"'" /Q' 'cuenta: administrador, elevado' \
        'encontrado: HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\TrayX' \
        'encontrado: HKU\S-1-5-21-0-0-0-1001\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\TrayX' \
        'encontrado: C:\windows\winppr32.exe' 'borrar HKCU\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\TrayX: 0' \
        'borrar HKU\S-1-5-21-0-0-0-1001\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\TrayX: 0' \
        'perfiles de usuario limpiados: 2' 'borrar C:\windows\winppr32.exe: 0'; do
        check "infected: the log says \"$line\"" grep -qxF "$line" <<<"${infected_log:-}"
    done

    # The Run key read-only to the full token too: what is refused is named, no message.
    machine infected
    check "read-only: access list set" protect "$RUN_KEY" 'D:P(A;;KRWD;;;WD)'
    check "read-only: exit code 1, no window" is "$(unattended /Q)" "exit 1 windows 0"
    check "read-only: the log names the refused value" \
        grep -qxF 'borrar HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\TrayX (64 bits): 5' <<<"$(last_block "$DEBUG_LOG")"
    check "read-only: access list restored" restore_dacls

    # A standard user's logon script: the filtered token, Windows' own access lists.
    machine infected
    check "standard user: Windows' access list on the machine's Run key" protect "$RUN_KEY" "$USERS_READ"
    check "standard user: on HKLM\\Software" protect Software "$USERS_READ(A;CIIO;KA;;;CO)"
    check "standard user: on the Session Manager" protect "$SESSION_MANAGER" "$USERS_READ"
    before=$(machine_state) debug_before=$(md5sum < "$DEBUG_LOG")
    check "standard user: exit code 5, no window" \
        is "$(wine "$PROBE" run limited "$PROGRAM" /Q | tr -d '\r')" "exit 5 windows 0"
    check "standard user: nothing changed" is "$(machine_state)" "$before"
    check "standard user: the log in the user's temporary folder" \
        is "$(last_block "$TEMP_LOG" | sed -n 's/^cuenta: //p;$p')" $'administrador, sin elevar\ncódigo de salida: 5'
    check "standard user: nothing in the administrators' log" is "$(md5sum < "$DEBUG_LOG")" "$debug_before"
    check "standard user: access lists put back" restore_dacls

    # A log of the administrator's choosing, then held open by another program.
    machine infected
    check "own log: exit code 0" is "$(unattended /Q "/LOG=$LOG_FILE")" "exit 0 windows 0"
    check "own log: its block there" is "$(last_block "$WINEPREFIX/drive_c/registros/limpieza z.log" | tail -1)" \
        "código de salida: 0"
    check "own log: the record of the last run" bash -c "wine reg query '$SETTINGS\\BOOTED' | tr -d '\\r' |
        grep -Eq 'LastRun +REG_SZ +20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-2][0-9]:[0-5][0-9]:[0-5][0-9]Z$'"
    check "own log: the exit code recorded" bash -c "wine reg query '$SETTINGS\\BOOTED' /v LastExitCode | grep -q 'REG_SZ *0'"
    machine infected
    wine "$PROBE" hold "$LOG_FILE" > "$OUT/log-held.out" 2>/dev/null & holder=$!
    check "own log held: held" timeout 60 bash -c "until grep -q held '$OUT/log-held.out'; do sleep 0.2; done"
    check "own log held: the same exit code" is "$(unattended /Q "/LOG=$LOG_FILE")" "exit 0 windows 0"
    check "own log held: removed all the same" removed
    kill $holder 2>/dev/null

    # The worm's file held by a program that is not the worm: Windows deletes it at the
    # restart, and a run before that changes nothing.
    machine infected
    wine "$PROBE" hold 'C:\windows\winppr32.exe' > "$OUT/hold.out" 2>/dev/null & holder=$!
    check "held: file held" timeout 60 bash -c "until grep -q held '$OUT/hold.out'; do sleep 0.2; done"
    check "held: exit code 3010" is "$(unattended /Q)" "exit 3010 windows 0"
    read_state
    check "held: its deletion pending" test -n "$(pending winppr32)"
    before=$(machine_state)
    check "held, again: exit code 3010" is "$(unattended /Q)" "exit 3010 windows 0"
    check "held, again: nothing changed" is "$(machine_state)" "$before"
    restart
    check "held: the restart ends the holder" ended $holder
    deleted_at_restart "$WORM"  # checked below, by the run after it
    check "held, after the restart: exit code 0" is "$(unattended /Q)" "exit 0 windows 0"
    check "held, after the restart: the file gone" removed

    # Beside a window that is merely open: removed all the same.
    machine infected
    wine "$PROGRAM" >/dev/null 2>&1 &
    check "window open: window shown" shown
    check "window open: exit code 0" is "$(unattended /Q)" "exit 0 windows 0"
    check "window open: removed" removed
    focus_main
    xdotool key alt+s
    check "window open: exit" wait_gone

    # Each name the runs meet at, taken first by a process with a standard user's
    # filtered token (Wine gives such a mutex no owner): not another run. The window's
    # mark, owned and never let go, is waited for a minute and then gone past.
    for mark in Unattended Window; do
        machine infected
        wine "$PROBE" limited "$PROBE" mutex "Global\\KestrovaZelvyRemover.$mark" >/dev/null 2>&1
        check "user's $mark: the name taken" wine "$PROBE" wait-mutex "Global\\KestrovaZelvyRemover.$mark"
        check "user's $mark: exit code 0" is "$(unattended /Q)" "exit 0 windows 0"
        check "user's $mark: removed" removed
        kill_prefix 'probe\.exe mutex'
    done
    check "user's Window: the log says it went on" \
        grep -qxF 'una ventana del programa sigue cambiando algo tras un minuto: se continúa' <<<"$(last_block "$DEBUG_LOG")"

    # A window run's first phase, its program ended before the restart, then an unattended
    # run: it finishes that removal, and nothing shows at the next logon.
    machine infected
    wine "$PROGRAM" >/dev/null 2>&1 & first=$!
    check "after a first phase: window shown" shown
    focus_main
    xdotool key alt+c
    check "after a first phase: its message" is "$(message "Virus eliminado")" "$BEGUN"
    { kill -9 $first && wait $first; } 2>/dev/null
    check "after a first phase: its program ended" wait_gone
    read_state
    check "after a first phase: flag 1" is "$(flag)" 1
    check "after a first phase: Run value" has HKLM32 "Zelvy Remover"
    check "after a first phase: exit code 0" is "$(unattended /Q)" "exit 0 windows 0"
    read_state
    check "after a first phase: Run value taken back" lacks HKLM32 "Zelvy Remover"
    check "after a first phase: flag 0" is "$(flag)" 0
    restart
    check "after a first phase: the copy gone at the restart" deleted_at_restart "$COPY_DIR"
    sleep 10  # the logon's programs have started by now
    check "after a first phase: nothing started at logon" wait_gone

    # The run at logon beside the program's own /Q run, held where /Q waits for a window
    # run's change (its mark made as the window makes it): the run at logon waits for /Q,
    # which finishes the removal once that mark goes, and shows nothing.
    machine infected
    plant_restart_state
    wine "$PROBE" mutex 'Global\KestrovaZelvyRemover.Window' 'D:(A;;GA;;;WD)' >/dev/null 2>&1 &
    check "logon beside /Q: a window's change under way" wine "$PROBE" wait-mutex 'Global\KestrovaZelvyRemover.Window'
    unattended /Q > "$OUT/quiet.out" & quiet=$!
    check "logon beside /Q: /Q under way" wine "$PROBE" wait-mutex 'Global\KestrovaZelvyRemover.Unattended'
    wine "$PROBE" run "$PROGRAM" 2>/dev/null | tr -d '\r' > "$OUT/logon.out" & logon=$!
    # /Q's handle, the probe's and the run at logon's, which waits on it.
    check "logon beside /Q: the run at logon waits for it" \
        wine "$PROBE" opened 'Global\KestrovaZelvyRemover.Unattended' 3
    kill_prefix 'probe\.exe mutex'
    wait $quiet $logon
    check "logon beside /Q: /Q ends with 0" is "$(cat "$OUT/quiet.out")" "exit 0 windows 0"
    check "logon beside /Q: /Q waited for the window's change, not a minute" \
        bash -c '! grep -q "tras un minuto"' <<<"$(last_block "$DEBUG_LOG")"
    check "logon beside /Q: the run at logon ends without a window" is "$(cat "$OUT/logon.out")" "exit 0 windows 0"
    read_state
    check "logon beside /Q: no Run value" lacks HKLM32 "Zelvy Remover"
    check "logon beside /Q: flag 0" is "$(flag)" 0

    # A second user's Run key whose access list grants only that user. Wine gives the
    # backup semantics no way past it: the run names the hive and fails.
    SECOND_USER_KEY='HKU\S-1-5-21-0-0-0-1001\Software\Microsoft\Windows\CurrentVersion\Run'
    CLOSED='HKU\S-1-5-21-0-0-0-1001\SOFTWARE\Microsoft\Windows\CurrentVersion\Run\TrayX'
    machine infected
    check "closed hive: access list set" protect "$SECOND_USER_KEY" 'D:P(A;CI;KA;;;S-1-5-21-0-0-0-1001)'
    check "closed hive, /N: exit code 6" is "$(unattended /N /Q)" "exit 6 windows 0"
    check "closed hive, /N: the log names it" \
        grep -qxF "encontrado: no se puede leer $CLOSED: 5" <<<"$(last_block "$DEBUG_LOG")"
    check "closed hive, /Q: exit code 1" is "$(unattended /Q)" "exit 1 windows 0"
    check "closed hive, /Q: the log names it" grep -qxF "borrar $CLOSED: 5" <<<"$(last_block "$DEBUG_LOG")"
    check "closed hive: access list restored" restore_dacls

    # The log's place a second name of another file (a hard link): that file untouched,
    # the result the same.
    ln -f "$WINEPREFIX/drive_c/windows/win.ini" "$WINEPREFIX/drive_c/registros/enlace.log"
    ini=$(md5sum < "$WINEPREFIX/drive_c/windows/win.ini")
    machine infected
    check "log a link: exit code 0" is "$(unattended /Q '/LOG=C:\registros\enlace.log')" "exit 0 windows 0"
    check "log a link: the other file untouched" is "$(md5sum < "$WINEPREFIX/drive_c/windows/win.ini")" "$ini"
    check "log a link: removed all the same" removed
    rm -f "$WINEPREFIX/drive_c/registros/enlace.log"

    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
fi

# -- first start: the window, where it belongs, without a taskbar button; a DLL planted
# beside the program is not loaded; exit by Alt+S
plant_traces
before=$(snapshot)
cp "$BUILD/tests/shell32.dll" "$PROGRAM_DIR/"
rm -f "$PROGRAM_DIR/shell32.dll.loaded"
# Wine prefers its own shell32 wherever it finds one of that name; asked to prefer a
# native one, as Windows does with a DLL it finds, it loads the planted copy wherever
# the search reaches it.
WINEDLLOVERRIDES="$WINEDLLOVERRIDES;shell32=n,b" wine "$PROGRAM" >/dev/null 2>&1 &
geometry=$(wine "$PROBE" window "$TITLE" | tr -d '\r')
check "window client area 513x381 at (178,182)" is "$geometry" "178 182 513 381"
xid=$(timeout 60 xdotool search --sync --onlyvisible --name "^$TITLE\$" | head -1)
check "no taskbar entry" bash -c "xprop -id '$xid' _NET_WM_STATE | grep -q _NET_WM_STATE_SKIP_TASKBAR"
sleep 1
timeout 30 import -window root "$SHOTS/window.png"
check "screenshot written" [ -s "$SHOTS/window.png" ]
echo "screenshot: $SHOTS/window.png"
click window "$TITLE" 107  # the web link loads the shell library by name
sleep 2
check "the planted shell32.dll is not loaded" [ ! -e "$PROGRAM_DIR/shell32.dll.loaded" ]
rm -f "$PROGRAM_DIR/shell32.dll"
focus_main
xdotool key alt+s
check "Alt+S ends the program" wait_gone
check "exit changes nothing in the registry or the settings" \
    is "$(snapshot)" "$before"
check "exit leaves the worm's file" [ -e "$WORM" ]

# -- a machine without the worm: nothing changed, no restart
printf '[%s]\n"TrayX"=-\n\n' "HKEY_LOCAL_MACHINE\\$RUN_KEY" "HKEY_LOCAL_MACHINE\\$RUN32_KEY" "HKEY_CURRENT_USER\\$RUN_KEY" | apply_reg
rm -f "$WORM"
before=$(snapshot)
wine "$PROGRAM" >/dev/null 2>&1 &
check "clean: window shown" shown
start_bystander
focus_main
xdotool key alt+c
check "clean: says nothing was found and nothing changed" is "$(message "$TITLE")" "$NOT_FOUND"
click message "$TITLE" $IDOK
sleep 3  # a restart, were one requested, would have begun by now
check "clean: the window stays" shown
check "clean: no restart, a bystander still runs" alive "$BYSTANDER"
check "clean: no Run value, no flag, nothing changed" is "$(snapshot)" "$before"
focus_main
xdotool key alt+s
check "clean: exit" wait_gone
kill "$BYSTANDER" 2>/dev/null

# The first press finds another build in the program's own folder; the second, after the
# completion, finds the copy's deletion in Windows' second list.
# That first press keeps a log, written before the restart ends it.
mkdir -p "$WINEPREFIX/drive_c/registros"
rm -f "$WINEPREFIX/drive_c/registros/ventana.log"
BEFORE=older_copy PROGRAM_ARGS='/LOG=C:\registros\ventana.log' removal key
press_log=$(tr -d '\r' < "$WINEPREFIX/drive_c/registros/ventana.log" 2>/dev/null | sed 's/^\xef\xbb\xbf//')
for line in "copiar este programa a $COPY: 0" "escribir HKLM\\$RUN_KEY\\Zelvy Remover: 0" \
    "borrar HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\TrayX: 0" "marca de reinicio 1: 0" "se reinicia Windows"; do
    check "key: the press's log says \"$line\"" grep -qxF "$line" <<<"$press_log"
done
check "key: the press's log ends with the restart" is "$(tail -1 <<<"$press_log")" "se reinicia Windows"
BEFORE_AGAIN=second_list removal mouse again
check "mouse, worm back: the other program's rename in the second list, byte for byte" second_list_left
printf '[HKEY_LOCAL_MACHINE\\%s]\n"PendingFileRenameOperations2"=-\n' "$SESSION_MANAGER" | apply_reg

# -- from a folder whose name code page 1252 can only best-fit: a full-width quotation
# mark, which must not become a real one that cuts the command line short and starts
# the program named by what comes before it
ODD_DIR="$WINEPREFIX/drive_c/users/Public/Descargas/x＂ y"
mkdir -p "$ODD_DIR"
cp "$BUILD/tarquelin.exe" "$ODD_DIR/"
cp "$BUILD/tests/stray.exe" "$ODD_DIR/../x.exe"
rm -f "$ODD_DIR/../x.exe.started"
saved=$PROGRAM saved_file=$PROGRAM_FILE saved_copy=$COPY saved_dir=$COPY_DIR
PROGRAM='C:\users\Public\Descargas\x＂ y\tarquelin.exe' PROGRAM_FILE="$ODD_DIR/tarquelin.exe"
# And where the copy's folder belongs, one the program did not make: a link to a folder
# that users may write (Wine shows a Linux symbolic link as a reparse point). Left as it
# was, nothing written through it: the copy goes to the next name.
ELSEWHERE=$WINEPREFIX/drive_c/users/Public/elsewhere
rm -rf "$COPY_DIR" "$ELSEWHERE"; mkdir -p "$ELSEWHERE"; echo "a user's file" > "$ELSEWHERE/notas.txt"
ln -s "$ELSEWHERE" "$COPY_DIR"
COPY="C:\\$PROGRAM_FILES\\Kestrova Zelvy Remover 2\\tarquelin.exe" COPY_DIR="$COPY_DIR 2"
removal odd-folder
PROGRAM=$saved PROGRAM_FILE=$saved_file COPY=$saved_copy COPY_DIR=$saved_dir
check "odd-folder: the folder it did not make left as it was" \
    bash -c "[ -L '$COPY_DIR' ] && [ \"\$(ls -A '$ELSEWHERE')\" = notas.txt ] && grep -qx \"a user's file\" '$ELSEWHERE/notas.txt'"
rm -f "$COPY_DIR"; rm -rf "$ELSEWHERE"
check "odd-folder: no other program was started" [ ! -e "$ODD_DIR/../x.exe.started" ]

# -- the worm's file held open at logon by a program that is not the worm, which the
# program (elevated: Wine gives every process a full token) does not end: Windows is
# asked to delete the file at the restart, and the run after it completes
echo "stand-in for the worm's file" > "$WORM"
plant_restart_state
wine "$PROBE" hold 'C:\windows\winppr32.exe' > "$OUT/hold.out" 2>/dev/null & locker=$!
check "locked: file held" timeout 60 bash -c "until grep -q held '$OUT/hold.out'; do sleep 0.2; done"
wine wineboot >/dev/null 2>&1 &  # a logon
check "locked: asks to restart, the file to go then" is "$(message "Eliminación incompleta")" "$IN_USE"
read_state
check "locked: its deletion is pending" test -n "$(pending winppr32)"
check "locked: worm file still there" [ -e "$WORM" ]
check "locked: flag kept at 1" is "$(flag)" 1
timeout 30 import -window root "$SHOTS/in-use.png"
click message "Eliminación incompleta" $IDYES
check "locked: the restart ends the holder" ended "$locker"
check "locked: started again at logon" wait_running 300
check "locked: after the restart, completion message" is "$(message "Eliminación completada.")" "$DONE"
xdotool key Return
check "locked: program ends" wait_gone
check "locked: worm file deleted" [ ! -e "$WORM" ]
read_state
check "locked: own Run value removed" lacks HKLM32 "Zelvy Remover"
check "locked: flag cleared to 0" is "$(flag)" 0

# -- a copy of the worm running at logon, with "TrayX" written back into both Run keys,
# and a program of the same file name in another folder: only the worm's copy is ended
DECOY_DIR=$WINEPREFIX/drive_c/Juegos
mkdir -p "$DECOY_DIR"
cp "$PROBE" "$WORM"
cp "$PROBE" "$DECOY_DIR/winppr32.exe"
plant_restart_state "$(printf '[%s]\n%s\n\n' "HKEY_LOCAL_MACHINE\\$RUN32_KEY" "$TRAYX" "HKEY_CURRENT_USER\\$RUN_KEY" "$TRAYX")"
wine 'C:\windows\winppr32.exe' hold 'C:\windows\win.ini' > "$OUT/worm.out" 2>/dev/null & worm=$!
wine 'C:\Juegos\winppr32.exe' hold 'C:\windows\win.ini' > "$OUT/decoy.out" 2>/dev/null & decoy=$!
check "worm running: both copies started" \
    timeout 60 bash -c "until grep -q held '$OUT/worm.out' && grep -q held '$OUT/decoy.out'; do sleep 0.2; done"
wine "$PROGRAM" >/dev/null 2>&1 &
check "worm running: completion message" is "$(message "Eliminación completada.")" "$DONE"
xdotool key Return
check "worm running: program ends" wait_gone
check "worm running: the worm's copy was ended" ended "$worm"
check "worm running: the program of the same name elsewhere still runs" alive "$decoy"
check "worm running: worm file deleted" [ ! -e "$WORM" ]
read_state
check "worm running: no TrayX anywhere" no_trayx
check "worm running: own Run value removed" lacks HKLM32 "Zelvy Remover"
check "worm running: flag cleared to 0" is "$(flag)" 0
kill "$worm" "$decoy" 2>/dev/null

# -- the machine-wide Run key read-only: no false success, no restart, and, the
# program being elevated already, no offer to run as administrator but what failed
plant_traces fresh
read_state
others=$(other_values)
check "read-only: access list set" protect "$RUN_KEY" 'D:P(A;;KRWD;;;WD)'
wine "$PROGRAM" >/dev/null 2>&1 & first=$!
check "read-only: window shown" shown
refused_press read-only "says what could not be done" "$NOT_REGISTERED"
start_bystander
click message "Eliminación incompleta" $IDOK
sleep 3  # a restart, were one requested, would have begun by now
check "read-only: the window stays" shown
check "read-only: no restart, a bystander still runs" alive "$BYSTANDER"
read_state
check "read-only: no flag" is "$(flag)" ""
check "read-only: no own Run value" lacks HKLM32 "Zelvy Remover"
check "read-only: user's TrayX gone" lacks HKCU TrayX
check "read-only: machine's TrayX stays" has HKLM32 TrayX
focus_main
xdotool key alt+s
check "read-only: exit" wait_gone
kill "$BYSTANDER" 2>/dev/null
check "read-only: access list restored" restore_dacls
read_state
check "read-only: other start-up values unchanged" is "$(other_values)" "$others"


# -- a standard user, as Vista to 11 start a double-clicked program and the Run values at
# logon: with the filtered token, under Windows' own access lists (users may read the
# machine's keys, not write them)
OFFER_FIRST="No se ha podido completar la primera fase de la eliminación: puede que este programa necesite permisos de administrador. ¿Desea ejecutarlo ahora como administrador?"
OFFER_SECOND="No se ha podido completar la eliminación del virus. ¿Desea ejecutar ahora este programa como administrador para terminarla?"
IDNO=7
plant_traces fresh
read_state
others=$(other_values)
pending_before=$(pending winppr32)
check "standard user: Windows' access list on the machine's Run key" protect "$RUN_KEY" "$USERS_READ"
check "standard user: on HKLM\\Software" protect Software "$USERS_READ(A;CIIO;KA;;;CO)"
check "standard user: on the Session Manager" protect "$SESSION_MANAGER" "$USERS_READ"
check "standard user: started with the filtered token" limited "$PROGRAM"
check "standard user: window shown" shown
refused_press "standard user" "offers to run as administrator" "$OFFER_FIRST"
click message "Eliminación incompleta" $IDNO
sleep 3  # a restart, were one requested, would have begun by now
check "standard user, No: the window stays" shown
read_state
check "standard user, No: no own Run value" lacks HKLM32 "Zelvy Remover"
check "standard user, No: no flag" is "$(flag)" ""
check "standard user, No: no pending deletion" is "$(pending winppr32)" "$pending_before"
check "standard user, No: no copy under Program Files (Wine let it be written)" [ ! -e "$COPY_DIR" ]
check "standard user, No: other start-up values unchanged, byte for byte" is "$(other_values)" "$others"
# Sí: the shell's "runas" with the program's own path. Wine shows no consent prompt and
# starts the copy with the same filtered token; the test ends it and plays the prompt by
# starting the program with a full token, which then removes the worm.
first=$(program_pids)
refused_press "standard user again" "offers to run as administrator" "$OFFER_FIRST"
click message "Eliminación incompleta" $IDYES
check "standard user, Sí: this copy ends" ended "$first"
again=
for _ in $(seq 150); do again=$(program_pids); [ -n "$again" ] && break; sleep 0.2; done
check "standard user, Sí: a new copy starts through runas" bash -c "[ -n '$again' ] && [ '$again' != '$first' ]"
check "standard user, Sí: its window shown" shown
kill $again 2>/dev/null
check "standard user, Sí: that copy ended by the test" wait_gone
removal consent

# -- the run at logon as a standard user: it removes what such a user may, cannot remove
# the machine's Run value, and offers to run as administrator; No leaves the Run value
# and the flag for the next logon
echo "stand-in for the worm's file" > "$WORM"
plant_restart_state "$(printf '[%s]\n"TrayX"=-\n\n' "HKEY_LOCAL_MACHINE\\$RUN_KEY" "HKEY_LOCAL_MACHINE\\$RUN32_KEY")
[HKEY_CURRENT_USER\\$RUN_KEY]
$TRAYX"
check "logon as a standard user: started with the filtered token" limited "$PROGRAM"
check "logon as a standard user: offers to run as administrator" is "$(message "Eliminación incompleta")" "$OFFER_SECOND"
check "logon as a standard user: the main window never shown" bash -c "! xdotool search --onlyvisible --name '^$TITLE\$' >/dev/null"
click message "Eliminación incompleta" $IDNO
check "logon as a standard user, No: the program ends" wait_gone
read_state
check "logon as a standard user: the user's TrayX gone" lacks HKCU TrayX
check "logon as a standard user: the machine's Run value stays" has HKLM32 "Zelvy Remover"
check "logon as a standard user: the flag stays 1" is "$(flag)" 1
check "standard user: access lists put back as found" restore_dacls

# -- with a full token, a copy of the worm that writes its "TrayX" back as soon as it
# goes: the first phase ends it before it deletes and checks "TrayX", and has Windows
# delete its file at the restart; the file goes even when the run after the restart
# never comes (its Run value removed here before the restart)
plant_traces fresh
cp "$PROBE" "$WORM"
wine 'C:\windows\winppr32.exe' rewrite > "$OUT/rewrite.out" 2>/dev/null & worm=$!
check "live worm: running" timeout 60 bash -c "until grep -q running '$OUT/rewrite.out'; do sleep 0.2; done"
wine "$PROGRAM" >/dev/null 2>&1 & first=$!
check "live worm: window shown" shown
focus_main
xdotool key alt+c
check "live worm: the first phase completes" is "$(message "Virus eliminado")" "$BEGUN"
check "live worm: ended by the first phase" ended "$worm"
read_state
check "live worm: no TrayX anywhere" no_trayx
check "live worm: its file left for now" [ -e "$WORM" ]
check "live worm: its file's deletion pending" test -n "$(pending winppr32)"
printf '[HKEY_LOCAL_MACHINE\\%s]\n"Zelvy Remover"=-\n' "$RUN32_KEY" | apply_reg
start_bystander
click message "Virus eliminado" $IDOK
check "live worm: the restart ends the session" session_ended $first
check "live worm: its file deleted at the restart" deleted_at_restart "$WORM"
wine reg delete "$SETTINGS" /f >/dev/null 2>&1

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
