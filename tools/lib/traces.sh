# Sourced by the end-to-end run and tools/demo, after env.sh: installs tarquelin.exe in
# the prefix, plants harmless stand-ins for the worm's traces, reads the state back and
# drives the program's windows from Linux.
RUN_HKLM='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'
RUN_HKCU='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
SETTINGS='HKLM\Software\Kestrova Zelvy Remover'
TITLE='Kestrova Zelvy Remover'
WORM=$WINEPREFIX/drive_c/windows/winppr32.exe
PROBE=$BUILD/tests/probe.exe
# Started from the user's own Downloads folder, as a user would have it.
PROGRAM="C:\\users\\$(id -un)\\Downloads\\tarquelin.exe"
PROGRAM_DIR=$WINEPREFIX/drive_c/users/$(id -un)/Downloads
PROGRAM_FILE=$PROGRAM_DIR/tarquelin.exe
# What the first phase registers: its copy under the Program Files folder that a 32-bit
# program sees, with spaces in its path (the Run value must be quoted).
if [ "${WINEARCH:-}" = win64 ]; then PROGRAM_FILES='Program Files (x86)'; else PROGRAM_FILES='Program Files'; fi
COPY="C:\\$PROGRAM_FILES\\Kestrova Zelvy Remover\\tarquelin.exe"
COPY_DIR="$WINEPREFIX/drive_c/$PROGRAM_FILES/Kestrova Zelvy Remover"

install_program() {  # the build, or the file PROGRAM_EXE names (a signed release)
    # Wine may link the folder to the Linux user's own: this one stays in the prefix.
    [ ! -L "$PROGRAM_DIR" ] || rm "$PROGRAM_DIR"
    mkdir -p "$PROGRAM_DIR"
    cp "${PROGRAM_EXE:-$BUILD/tarquelin.exe}" "$PROGRAM_DIR/tarquelin.exe"
}

# The worm's file and its "TrayX" values, in both views of the machine's Run key (on
# 64-bit Windows; a 32-bit prefix has one, and reg.exe ignores the switches there) and
# in the user's, and other programs' start-up values that must come through untouched
# (one with an accent, one REG_EXPAND_SZ, one in each view).
plant_traces() {
    echo "stand-in for the worm's file" > "$WORM"
    wine reg add "$RUN_HKLM" /v TrayX /d 'C:\WINDOWS\winppr32.exe' /f /reg:64 >/dev/null
    wine reg add "$RUN_HKLM" /v TrayX /d 'C:\WINDOWS\winppr32.exe' /f /reg:32 >/dev/null
    wine reg add "$RUN_HKCU" /v TrayX /d 'C:\WINDOWS\winppr32.exe' /f >/dev/null
    wine reg add "$RUN_HKLM" /v 'Audio Helper' /d '"C:\Program Files\Audio Tools\helper.exe" /tray' /f /reg:64 >/dev/null
    wine reg add "$RUN_HKLM" /v 'Sincronización' /t REG_EXPAND_SZ /d '%ProgramFiles%\Sync\sync.exe -m' /f /reg:32 >/dev/null
    wine reg add "$RUN_HKCU" /v 'Notas' /d 'C:\Archivos de programa\Notas\notas.exe /min' /f >/dev/null
}

# A key exported as .reg text, one value per line (hex continuations joined), or
# "absent"; a second argument /reg:32 or /reg:64 picks the view.
export_key() {
    local file=$BUILD/export.reg
    wine reg export "$1" "$file" /y ${2:-} >/dev/null 2>&1 || { echo absent; return; }
    iconv -f UTF-16LE -t UTF-8 "$file" | tr -d '\r' | sed '1s/^\xef\xbb\xbf//' \
        | awk 'line != "" { sub(/^ +/, "") } { line = line $0 } /\\$/ { sub(/\\$/, "", line); next } { print line; line = "" }'
    rm -f "$file"
}

# The start-up values of other programs, exactly as stored, in every view.
other_values() {
    { export_key "$RUN_HKLM" /reg:64; export_key "$RUN_HKLM" /reg:32; export_key "$RUN_HKCU"; } |
        grep -v -e '^"TrayX"=' -e '^"Zelvy Remover"='
}

# has_value KEY NAME [/reg:32|/reg:64]; without a view, the program's own (32-bit) one.
has_value() { wine reg query "$1" /v "$2" ${3:-} >/dev/null 2>&1; }
no_trayx() {
    ! has_value "$RUN_HKLM" TrayX /reg:64 && ! has_value "$RUN_HKLM" TrayX /reg:32 && ! has_value "$RUN_HKCU" TrayX
}
# The restart flag, or nothing when it is not set.
flag() { { wine reg query "$SETTINGS\\BOOTED" /v Value 2>/dev/null || true; } | tr -d '\r' | awk '/Value/ {print $3}'; }

# The values of key $1 as exported, with REG_EXPAND_SZ data (hex of UTF-16 in the
# export) shown as the text it is.
show_values() {
    local line hex
    export_key "$1" "${2:-}" | grep '^"' | while IFS= read -r line; do
        if [[ $line =~ ^(\"[^\"]*\")=hex\(2\):(.*)$ ]]; then
            hex=$(sed 's/\([0-9a-f][0-9a-f]\),\?/\\x\1/g' <<<"${BASH_REMATCH[2]}")
            line="${BASH_REMATCH[1]}=(REG_EXPAND_SZ) \"$(printf '%b' "$hex" | iconv -f UTF-16LE -t UTF-8 | tr -d '\0')\""
        fi
        echo "    $line"
    done
}

print_state() {
    echo "  machine Run key:"; show_values "$RUN_HKLM"
    if [ "${WINEARCH:-}" = win64 ]; then echo "  machine Run key, 64-bit view:"; show_values "$RUN_HKLM" /reg:64; fi
    echo "  user Run key:"; show_values "$RUN_HKCU"
    if [ -e "$WORM" ]; then echo "  C:\\windows\\winppr32.exe: present"; else echo "  C:\\windows\\winppr32.exe: absent"; fi
    local copy=absent pending
    [ ! -e "$COPY_DIR/tarquelin.exe" ] || copy=present
    pending=$({ wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' /v PendingFileRenameOperations \
               2>/dev/null || true; } | grep -c 'Kestrova Zelvy Remover' || true)
    [ "$pending" = 0 ] || copy="$copy, deleted at the next restart"
    echo "  $COPY: $copy"
    local value; value=$(flag)
    echo "  restart flag: ${value:-(not set)}"
}

# Zombies left by Wine's session end do not count.
alive() { local state; state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]; }
# The processes of tarquelin.exe in this prefix: another run's, in another clone, are not ours.
program_pids() {
    local pid
    for pid in $(pgrep -r R,S,D,T -f 'tarquelin\.exe' || true); do
        tr '\0' '\n' < "/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
    return 0
}
running() { [ -n "$(program_pids)" ]; }
ended() { for _ in $(seq 150); do alive "$1" || return 0; sleep 0.2; done; return 1; }
shown() { wine "$PROBE" window "$TITLE" >/dev/null 2>&1; }  # the main window, within a minute
# The state the first phase leaves for the run after the restart: flag "1", Run value.
plant_restart_state() {
    wine reg add "$SETTINGS\\BOOTED" /v Value /d 1 /f >/dev/null
    wine reg add "$RUN_HKLM" /v 'Zelvy Remover' /d "\"$PROGRAM\"" /f >/dev/null
}
# Starts the Windows program $1 with a standard user's filtered token, as a double click
# or a logon does under User Account Control.
limited() { wine "$PROBE" limited "$1" > "$BUILD/limited.out" 2>/dev/null && grep -q started "$BUILD/limited.out"; }
wait_gone() { for _ in $(seq 300); do running || return 0; sleep 0.2; done; return 1; }
wait_running() { for _ in $(seq 300); do running && return 0; sleep 0.2; done; return 1; }

# The text of the visible message box TITLE, waiting for it to come.
message() { wine "$PROBE" message "$1" | tr -d '\r'; }

# Screen centre of control ID in the visible window (kind window or message) TITLE.
point() { wine "$PROBE" point "$1" "$2" "$3" | tr -d '\r'; }

click() { local at; at=$(point "$@") && xdotool mousemove $at click 1; }

focus_main() {
    local xid
    xid=$(timeout 60 xdotool search --sync --onlyvisible --name "^$TITLE\$" | head -1)
    [ -n "$xid" ] && timeout 10 xdotool windowfocus --sync "$xid" 2>/dev/null
    return 0
}

# Saves the visible window TITLE (frame included: Wine draws it) as FILE.
shoot() {
    local xid
    xid=$(xdotool search --onlyvisible --name "^$1\$" | tail -1)
    [ -n "$xid" ] && import -window "$xid" "$2"
}

# Restarts Windows as the program does (Wine: every process ended, the deletions
# pending at the restart carried out, then a logon).
restart() { wine "$PROBE" restart >/dev/null 2>&1 & }

# Keeps one program running in the session: once its last program has ended, Wine ends
# the session's services, and the next program, starting them again, takes half a
# minute under qemu instead of seconds. A restart ends it; start it again after one.
keep_session() {
    : > "$WINEPREFIX/drive_c/windows/temp/session"
    rm -f "$BUILD/keeper.out"
    wine "$PROBE" hold 'C:\windows\temp\session' > "$BUILD/keeper.out" 2>/dev/null &
    timeout 120 bash -c "until grep -q held '$BUILD/keeper.out'; do sleep 0.2; done"
}
