#!/usr/bin/python3
# Sets WM_STATE on each top-level window mapped or unmapped on the display, as a window
# manager would, and does nothing else: no frames, no placement, no focus. Without it,
# Wine waits two seconds for a window manager each time it hides a window that has a
# caption (its log: "wait_for_withdrawn_state ... wait timed out"), which is every
# message box answered and every window closed. Runs until the display goes away.
from Xlib import X, display, error

NORMAL, WITHDRAWN = 1, 0

screen = display.Display()
# A window may be gone by the time its state is set: that is no error of ours.
screen.set_error_handler(lambda *_: None)
wm_state = screen.intern_atom("WM_STATE")
screen.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
print("ready", flush=True)
while True:
    event = screen.next_event()
    if event.type in (X.MapNotify, X.UnmapNotify) and not getattr(event, "override", False):
        state = NORMAL if event.type == X.MapNotify else WITHDRAWN
        event.window.change_property(wm_state, wm_state, 32, [state, X.NONE])
        screen.flush()
