# Sourced by tools/lib/env.sh and the end-to-end run: one Wine session kept up for a
# whole run.

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
# Under qemu a session's start (wineboot --init) sometimes never ends, and every Wine
# command after it waits on it: then the session is begun again.
start_session() {
    local try
    for try in 1 2 3; do
        wineserver -p
        wine "$BUILD/tests/probe.exe" session > "$WINEPREFIX-out/session.out" 2>&1 &
        timeout 300 bash -c "until grep -q held '$WINEPREFIX-out/session.out'; do sleep 0.2; done" && return 0
        echo "the Wine session did not start in time (try $try of 3)" >&2
        wineserver -k 2>/dev/null || true
    done
    return 1
}
