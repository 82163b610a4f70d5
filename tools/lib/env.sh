# Sourced by tools/test, tools/demo and tools/bench: installs what is missing,
# builds, and prepares a throwaway Wine prefix inside the build folder.
set -eEuo pipefail
# No silent exits: name the command that failed and where, then stop.
trap 'echo "error: \"$BASH_COMMAND\" failed with status $? at ${BASH_SOURCE[0]:-$0}:$LINENO" >&2' ERR
# Wine takes its ANSI code page from the locale, and the program's texts are code page
# 1252: this locale gives 1252 (a Russian one would give 1251) and exists everywhere.
export LC_ALL=C.UTF-8

# EMULATE_I386=1 runs the 32-bit programs through qemu on a machine that runs them
# natively, as machines of the other sort do, to see there what the tests cost them:
# the script starts again in a user and mount namespace with a binfmt_misc of its own
# (Linux 6.7 and later), so that nothing outside it is emulated.
if [ "${EMULATE_I386:-}" = 1 ] && [ -z "${EMULATING:-}" ]; then
    # Nothing can be installed from inside that namespace: qemu comes first.
    if ! dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q "ok installed"; then
        sudo=; [ "$(id -u)" -eq 0 ] || sudo=sudo
        $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends qemu-user-static >/dev/null
    fi
    export EMULATING=1
    exec unshare --user --map-root-user --mount \
        bash -c 'mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc && exec bash "$0" "$@"' "$0" "$@"
fi

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export BUILD=${BUILD:-$ROOT/build}
# Never a prefix of the user's: one in the build folder, named by TARQUELIN_PREFIX when
# two runs share the folder (tools/test runs the demo beside its own runs). 32-bit, as
# named: with wine64 installed Wine would make a 64-bit one; tools/test runs the removal
# once more in one of those beside it.
export WINEARCH=win32
export WINEPREFIX=$BUILD/${TARQUELIN_PREFIX:-wineprefix}
export WINEDEBUG=-all
# winedbg off: a crash must fail the run, not wait on a dialog.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"

# Wall time of each part of a run: one line as each part ends, a table when the run
# ends, passed or not. Kept in a file, a line as a part begins and one as it ends, so
# that parts run beside another are counted too, and a part that never ended is named.
# Under qemu every Wine process start costs seconds: these are the figures to watch.
start_timing() { mkdir -p "$BUILD"; : > "$BUILD/times"; TIMING=1; }
timed() {  # timed NAME COMMAND...
    local name=$1 start=$SECONDS; shift
    printf '%s|\n' "$name" >> "$BUILD/times"
    "$@"
    printf '%s|%s\n' "$name" $((SECONDS - start)) >> "$BUILD/times"
    printf 'time: %s %s\n' "$name" "$(minutes $((SECONDS - start)))"
}
minutes() { printf '%d:%02d' $(($1 / 60)) $(($1 % 60)); }
print_times() {
    echo "Times (wall clock; $(machine_kind)):"
    awk -F'|' '$2 == "" { order[++n] = $1; next } { took[$1] = $2 }
        END { for (i = 1; i <= n; i++)
                  if (order[i] in took) printf "  %-28s %3d:%02d\n", order[i], took[order[i]] / 60, took[order[i]] % 60
                  else printf "  %-28s %s\n", order[i], "did not end" }' "$BUILD/times"
    local install; install=$(sed -n 's/^install|\(.\)/\1/p' "$BUILD/times")
    printf '  %-28s %6s\n' "whole run" "$(minutes $SECONDS)" "without the install" "$(minutes $((SECONDS - ${install:-0})))"
}
machine_kind() { if [ -n "${QEMU_RESERVED_VA:-}" ]; then echo "32-bit programs under qemu"; else echo "32-bit programs native"; fi; }
# The table, when this run is timed; the session and the display that it started.
TIMING= XVFBS=()
at_exit() {
    trap - ERR  # what is left to stop may have gone already
    [ -z "$TIMING" ] || print_times
    local job
    for job in $(jobs -p); do kill_tree "$job"; done
    [ ${#XVFBS[@]} -eq 0 ] || { wineserver -k 2>/dev/null; kill "${XVFBS[@]}" 2>/dev/null; } || true
}
kill_tree() { local child; for child in $(pgrep -P "$1"); do kill_tree "$child"; done; kill "$1" 2>/dev/null || true; }
trap at_exit EXIT

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

install_packages() {
    local want=(cmake make python3 g++-mingw-w64-i686 mingw-w64-i686-dev googletest wine wine32:i386 wine64
                xvfb python3-xlib fonts-wine xdotool x11-utils imagemagick osslsigncode openssl)
    # Without a 32-bit kernel ABI the i386 Wine loader runs under qemu's user-mode emulator.
    can_run_i386 && [ "${EMULATE_I386:-}" != 1 ] || want+=(qemu-user-static)
    local missing=()
    for p in "${want[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "installing: ${missing[*]}"
    dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
    # A mirror in the middle of a sync fails one index now and then; what the others
    # list is usually enough, and the install below says so when it is not.
    local try
    for try in 1 2 3; do as_root apt-get update -qq && break; echo "apt-get update failed (try $try of 3)" >&2; sleep 5; done
    local install=(env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}")
    # Where the security archive's i386 list failed, its newer amd64 libraries cannot be
    # paired with i386 ones of the same version: then take the release's own versions.
    as_root "${install[@]}" >/dev/null 2>&1 || as_root "${install[@]}" -t "$(. /etc/os-release; echo "$VERSION_CODENAME")" >/dev/null
}

can_run_i386() { [ -e /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }

# Some kernels are booted with ia32 emulation off: 32-bit ELF files then fail with
# "Exec format error". Route them through qemu-i386 instead (or, with EMULATE_I386=1,
# where they would run natively: see the top of this file). Wine's start-up reserves
# the address space above 2 GB page by page, which qemu makes very slow; capping the
# emulated space just above 2 GB keeps a Wine process start at about two seconds.
enable_i386() {
    local misc=/proc/sys/fs/binfmt_misc
    if [ "${EMULATE_I386:-}" = 1 ] || ! can_run_i386; then
        [ -e $misc/register ] || as_root mount -t binfmt_misc binfmt_misc $misc
        [ -e $misc/qemu-i386 ] ||
            printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
                | as_root tee $misc/register >/dev/null
    fi
    if [ -e $misc/qemu-i386 ]; then
        export QEMU_RESERVED_VA=0x81000000
        echo "32-bit programs run under qemu here. Its lines \"qemu: uncaught target signal 11\" come from Wine's own" \
             "service processes (winedevice.exe, plugplay.exe, now and then services.exe), which crash under it:" \
             "harmless to the program and its tests, which need none of them and keep their sessions up themselves."
    fi
    can_run_i386 || { echo "cannot run i386 programs on this machine" >&2; exit 1; }
}

# Optimised for size: the program computes next to nothing, and a smaller image is
# less to load. With the tests, which need GoogleTest's sources: configuring fails
# without them rather than building no tests.
build() {  # build [FOLDER [TARGET]]
    local folder=${1:-$BUILD}
    cmake -S "$ROOT" -B "$folder" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
          -DCMAKE_BUILD_TYPE=MinSizeRel -DTARQUELIN_TESTS=ON >/dev/null
    cmake --build "$folder" -j"$(nproc)" ${2:+--target "$2"}
}

# A fresh prefix for every run, with Tahoma installed, Wine drawing its own
# Windows-style frames (there is no window manager on Xvfb) and the scale $DPI. Each
# kind (Wine version, architecture, scale) is made once by wineboot and kept in the
# build folder as a template, which later runs copy: a copy takes a second, wineboot
# a minute or more under qemu. The prefix's scratch files (programs' output) go beside
# it, in $WINEPREFIX-out.
make_prefix() {
    local template
    template=$BUILD/template-$(wine --version | tr -cs 'A-Za-z0-9.\n' -)-$WINEARCH-${DPI:-96}
    # Runs side by side may want the same template: one makes it, the other waits.
    { flock 9; [ -d "$template" ] || make_template "$template"; } 9> "$template.lock"
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX" "$WINEPREFIX-out"
    cp -a "$template" "$WINEPREFIX"
    mkdir -p "$WINEPREFIX-out"
}
# Made by its first program, which imports the settings: a new session begins with a
# wineboot --init, which under qemu takes half a minute or more and sometimes never
# ends (seen both in prefix creation and in a "wine reg add" just after it), so one
# session makes the prefix and its settings. Each wait is bounded (-k: a Wine process
# under qemu may not end on SIGTERM), and the whole creation begun again when one runs
# out: up to four times, as two tries in a row have hung. Made aside and renamed, so
# that no half-made one is ever used.
make_template() (
    export WINEPREFIX=$1.new
    local try settings=$BUILD/settings-${DPI:-96}.reg
    # The display scale, as Windows' display settings set it: 96 dots per inch is 100 %.
    cat > "$settings" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]
"Decorated"="N"

[HKEY_CURRENT_USER\\Control Panel\\Desktop]
"LogPixels"=dword:$(printf %08x "${DPI:-96}")
EOF
    for try in 1 2 3 4; do
        wineserver -k 2>/dev/null || true
        rm -rf "$WINEPREFIX"
        if timeout -k 10 300 wine reg import "Z:${settings//\//\\}" >/dev/null 2>&1 && timeout -k 10 300 wineserver -w; then
            # Marlett draws the caption buttons Wine paints itself.
            cp /usr/share/wine/fonts/tahoma*.ttf /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
            mv "$WINEPREFIX" "$1"
            return 0
        fi
        echo "the prefix was not made in time (try $try of 4)" >&2
    done
    return 1
)

source "$ROOT/tools/lib/session.sh"

# Starts Xvfb on a free display unless one is given (or "new" is asked for, for a run
# beside another); stops it when the script exits. Xvfb picks the display itself, so
# that two runs starting at once never share one.
start_display() {  # start_display [new]
    if [ -z "${1:-}" ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
    mkdir -p "$BUILD"
    local number n= ready
    number=$(mktemp "$BUILD/display.XXXXXX") ready=$(mktemp "$BUILD/wm_state.XXXXXX")
    # A screen of 1024 x 768 at 100 %, with as many more pixels as the scale $DPI asks.
    local scale=${DPI:-96}
    Xvfb -displayfd 3 -screen 0 $((1024 * scale / 96))x$((768 * scale / 96))x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    XVFBS+=($!)
    for _ in $(seq 100); do
        n=$(cat "$number" 2>/dev/null || true)
        if [ -n "$n" ]; then export DISPLAY=:$n; xdpyinfo >/dev/null 2>&1 && break; fi
        sleep 0.1
    done
    rm -f "$number"
    xdpyinfo >/dev/null 2>&1 || { echo "Xvfb did not start" >&2; exit 1; }
    # No window manager runs there: this stands in for the one thing Wine waits for.
    "$ROOT/tools/lib/wm_state.py" > "$ready" 2>&1 &
    timeout 30 bash -c "until grep -q ready '$ready'; do sleep 0.1; done" || { cat "$ready" >&2; exit 1; }
    rm -f "$ready"
}
