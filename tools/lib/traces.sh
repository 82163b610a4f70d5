# Sourced by the end-to-end run and tools/demo, with env.sh's environment and
# session.sh's functions: installs tarquelin.exe in the prefix, plants harmless
# stand-ins for the worm's traces, reads the state back and drives the program's
# windows from Linux.
SETTINGS='HKLM\Software\Kestrova Zelvy Remover'
TITLE='Kestrova Zelvy Remover'
WORM=$WINEPREFIX/drive_c/windows/winppr32.exe
PROBE=$BUILD/tests/probe.exe
# What programs started here print, beside the prefix (make_prefix makes the folder).
OUT=$WINEPREFIX-out
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

# Applies .reg lines given on standard input ("[KEY]", "NAME"="TEXT", "NAME"=- to delete
# a value, "[-KEY]" to delete a key) in one Wine process, as each start costs seconds
# under qemu. Paths are the 64-bit view's: the 32-bit one is under Wow6432Node there.
apply_reg() {
    { printf '\xef\xbb\xbfWindows Registry Editor Version 5.00\n\n'; cat; } | sed 's/$/\r/' |
        iconv -f UTF-8 -t UTF-16LE > "$WINEPREFIX/drive_c/apply.reg"
    wine reg import 'C:\apply.reg' /reg:64 >/dev/null 2>&1
}
# Standard input (NUL-separated strings) as UTF-16 bytes in hex, as the probe prints
# them, and as a .reg file's hex data wants them.
utf16_hex() { iconv -t UTF-16LE | od -An -tx1 -v | tr -d ' \n'; }
reg_hex() { utf16_hex | sed 's/../&,/g; s/,$//'; }
reg_text() { local text=${1//\\/\\\\}; printf '"%s"' "${text//\"/\\\"}"; }  # TEXT as a .reg string
RUN_KEY='Software\Microsoft\Windows\CurrentVersion\Run'
# HKLM\Software as the 32-bit program sees it (a 32-bit prefix has one view).
if [ "${WINEARCH:-}" = win64 ]; then SOFTWARE32='Software\Wow6432Node'; else SOFTWARE32=Software; fi
RUN32_KEY="$SOFTWARE32\Microsoft\Windows\CurrentVersion\Run" SETTINGS_KEY="$SOFTWARE32\Kestrova Zelvy Remover"
TRAYX="\"TrayX\"=$(reg_text 'C:\WINDOWS\winppr32.exe')"

# The worm's file and its "TrayX" values, in both views of the machine's Run key (on
# 64-bit Windows) and in the user's, and other programs' start-up values that must come
# through untouched (one with an accent, one REG_EXPAND_SZ, one in each view). With
# "fresh", on a machine where the program never ran: its settings deleted too.
plant_traces() {  # plant_traces [fresh]
    echo "stand-in for the worm's file" > "$WORM"
    # REG_EXPAND_SZ is written as the bytes of its UTF-16 text, its end included.
    local sync
    sync=$(printf '%%ProgramFiles%%\\Sync\\sync.exe -m\0' | reg_hex)
    apply_reg <<EOF
$([ "${1:-}" != fresh ] || echo "[-HKEY_LOCAL_MACHINE\\$SETTINGS_KEY]")

[HKEY_LOCAL_MACHINE\\$RUN_KEY]
$TRAYX
"Audio Helper"=$(reg_text '"C:\Program Files\Audio Tools\helper.exe" /tray')

[HKEY_LOCAL_MACHINE\\$RUN32_KEY]
$TRAYX
"Sincronización"=hex(2):$sync

[HKEY_CURRENT_USER\\$RUN_KEY]
$TRAYX
"Notas"=$(reg_text 'C:\Archivos de programa\Notas\notas.exe /min')
EOF
}

# Every value the program may change, read in one Wine process (each start costs
# seconds under qemu) into STATE, one a line: WHERE "NAME" TYPE:HEX, WHERE one of HKLM64
# and HKLM32 (the machine's Run key in each view; one key in a 32-bit prefix), HKCU,
# HKU1001 (a second user's Run key), SETTINGS and BOOTED (the program's), SM (the Session
# Manager). The functions below read STATE: read it again after anything changes. The
# Session Manager always has values: a read without them read nothing, and then every
# check on STATE fails, rather than find nothing where it looks for nothing.
read_state() {
    STATE=$(wine "$PROBE" state | tr -d '\r')
    state_read || STATE="not read ($RANDOM$RANDOM)"
}
state_read() { grep -q '^SM "' <<<"$STATE"; }
lines() { awk -v p="$1 \"$2\" " 'index($0, p) == 1' <<<"$STATE"; }  # lines WHERE NAME
has() { state_read && [ -n "$(lines "$1" "$2")" ]; }
lacks() { state_read && [ -z "$(lines "$1" "$2")" ]; }
# The text of a string value, one line a string of a REG_MULTI_SZ; nothing when absent.
text() {  # text WHERE NAME
    state_read || { echo "$STATE"; return 1; }
    local line; line=$(lines "$1" "$2" | head -1)
    [ -z "$line" ] || printf '%b' "$(sed 's/../\\x&/g' <<<"${line##*:}")" | iconv -f UTF-16LE -t UTF-8 | tr '\0' '\n' | sed '/^$/d'
}
no_trayx() { state_read && ! grep -qE '^(HKLM64|HKLM32|HKCU) "TrayX" ' <<<"$STATE"; }
# The start-up values of other programs, exactly as stored, in every view.
other_values() {
    state_read || { echo "$STATE"; return 1; }
    grep -E '^(HKLM64|HKLM32|HKCU) ' <<<"$STATE" | grep -v -e '^[^ ]* "TrayX" ' -e '^[^ ]* "Zelvy Remover" ' || true
}
flag() { text BOOTED Value; }  # the restart flag, or nothing when it is not set
# The pending deletions at the restart that name FILE.
pending() { state_read || { echo "$STATE"; return; }; text SM PendingFileRenameOperations | grep -iF "$1" || true; }

# The values at WHERE in STATE as a .reg file shows them, REG_EXPAND_SZ data as the text
# it is.
show_values() {  # show_values WHERE
    local line name
    grep "^$1 \"" <<<"$STATE" | while IFS= read -r line; do
        name=${line#"$1 \""} name=${name%\" *}
        case ${line##* } in
        1:*) echo "    \"$name\"=$(reg_text "$(text "$1" "$name")")" ;;
        2:*) echo "    \"$name\"=(REG_EXPAND_SZ) \"$(text "$1" "$name")\"" ;;
        *) echo "    \"$name\"=(type ${line##* })" ;;
        esac
    done
}

print_state() {
    read_state
    echo "  machine Run key:"; show_values HKLM32
    if [ "${WINEARCH:-}" = win64 ]; then echo "  machine Run key, 64-bit view:"; show_values HKLM64; fi
    echo "  user Run key:"; show_values HKCU
    if [ -e "$WORM" ]; then echo "  C:\\windows\\winppr32.exe: present"; else echo "  C:\\windows\\winppr32.exe: absent"; fi
    local copy=absent value
    [ ! -e "$COPY_DIR/tarquelin.exe" ] || copy=present
    [ -z "$(pending 'Kestrova Zelvy Remover\tarquelin.exe')" ] || copy="$copy, deleted at the next restart"
    echo "  $COPY: $copy"
    value=$(flag)
    echo "  restart flag: ${value:-(not set)}"
}

program_pids() { prefix_pids 'tarquelin\.exe' -r R,S,D,T; }
running() { [ -n "$(program_pids)" ]; }
# Ends the Wine programs of this prefix whose command line matches PATTERN.
kill_prefix() { local pid; for pid in $(prefix_pids "$1"); do kill "$pid" 2>/dev/null; done; return 0; }
ended() { for _ in $(seq 150); do alive "$1" || return 0; sleep 0.2; done; return 1; }
shown() { wine "$PROBE" window "$TITLE" >/dev/null 2>&1; }  # the main window, within a minute
# The state the first phase leaves for the run after the restart: flag "1", Run value.
# MORE, if given, is more .reg lines to apply with it.
plant_restart_state() {  # plant_restart_state [MORE]
    apply_reg <<EOF
[HKEY_LOCAL_MACHINE\\$SETTINGS_KEY\\BOOTED]
"Value"="1"

[HKEY_LOCAL_MACHINE\\$RUN32_KEY]
"Zelvy Remover"=$(reg_text "\"$PROGRAM\"")

${1:-}
EOF
}
# Starts the Windows program $1 with a standard user's filtered token, as a double click
# or a logon does under User Account Control.
limited() { wine "$PROBE" limited "$1" > "$OUT/limited.out" 2>/dev/null && grep -q started "$OUT/limited.out"; }
wait_gone() { for _ in $(seq 300); do running || return 0; sleep 0.2; done; return 1; }
# Within a minute, or SECONDS: a start at logon waits for the new session's boot,
# which under qemu, beside other runs, has taken longer.
wait_running() { for _ in $(seq $((${1:-60} * 5))); do running && return 0; sleep 0.2; done; return 1; }

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

# Waits for FILE to go, as the renames pending at a restart take it: Wine carries them
# out as its next session starts, which under qemu can take minutes.
deleted_at_restart() { for _ in $(seq 1500); do [ -e "$1" ] || return 0; sleep 0.2; done; return 1; }

# Restarts Windows as the program does (Wine: every process ended, the deletions
# pending at the restart carried out, then a logon).
restart() { wine "$PROBE" restart >/dev/null 2>&1 & }
