# Sourced by tools/lib/env.sh and the end-to-end run: one Wine session kept up for a
# whole run, and the processes of this run's prefix.

# Zombies left by Wine's session end do not count.
alive() { local state; state=$(ps -o stat= -p "$1") && [[ $state != Z* ]]; }
# The processes of this prefix whose command line matches PATTERN: another run's, in
# another clone, are not ours.
prefix_pids() {  # prefix_pids PATTERN [PGREP OPTION...]
    local pid pattern=$1; shift
    for pid in $(pgrep "$@" -f "$pattern" || true); do
        { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
    done
    return 0
}

# Starts a persistent Wine session and keeps one program in it, the probe's session
# keeper, until the server is ended:
# - once a session's last program has ended, Wine ends its services within seconds,
#   and the next program starts them again (half a minute under qemu), lending them
#   its output: a caller reading that through a pipe (ctest) waited long after the
#   unit tests had passed;
# - the keeper holds the event that tells a program started from here that a session
#   is up, which otherwise only Wine's services.exe holds: should that end (under qemu
#   it crashes now and then), the next program would begin a session whose start drops
#   every pending rename it cannot carry out, a running copy's among them. Wine's
#   restart does not end the keeper.
# A session's start that never ends is begun again.
start_session() {
    local try keeper
    for try in 1 2 3; do
        wineserver -p
        wine "$BUILD/tests/probe.exe" session > "$WINEPREFIX-out/session.out" 2>&1 & keeper=$!
        unhang_starts "$keeper" &
        timeout 300 bash -c "until grep -q held '$WINEPREFIX-out/session.out'; do sleep 0.2; done" && return 0
        echo "the Wine session did not start in time (try $try of 3)" >&2
        wineserver -k 2>/dev/null || true
    done
    return 1
}

# Under qemu, services.exe now and then hangs as it starts (seen: two of its threads
# waiting for good on one word, nothing else of the session running), and wineboot,
# which waits for it without a bound before it starts the Run values, with it: a
# restart's logon never came. While KEEPER runs, a start of this prefix's session
# (wineboot) that has run for over 150 s, where the longest seen under qemu took 62 s,
# has its services.exe ended; wineboot then goes on without Wine's services, which
# neither the program nor the tests need.
unhang_starts() {  # unhang_starts KEEPER
    local boot took services done=" "
    while alive "$1"; do
        for boot in $(prefix_pids 'wineboot\.exe'); do
            [[ $done != *" $boot "* ]] || continue
            took=$(ps -o etimes= -p "$boot" | tr -d ' ') && [ "${took:-0}" -gt 150 ] || continue
            for services in $(prefix_pids 'services\.exe'); do kill -KILL "$services" 2>/dev/null; done
            echo "wineboot had waited $took s on a hung services.exe: ended, the session goes on without Wine's services" >&2
            done+="$boot "
        done
        sleep 5
    done
}
