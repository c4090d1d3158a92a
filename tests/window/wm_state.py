#!/usr/bin/env python3
"""Asks the window manager to change a window's state, as a pager or a
desktop shortcut does: a _NET_WM_STATE client message to the root window.
Usage: wm_state.py WINDOW_ID add|remove|toggle STATE [STATE]
(STATE without its _NET_WM_STATE_ prefix, e.g. FULLSCREEN, MAXIMIZED_VERT)."""
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
import wm_message  # noqa: E402

action = {"remove": 0, "add": 1, "toggle": 2}[sys.argv[2]]
states = ["_NET_WM_STATE_" + s for s in sys.argv[3:5]]
# Source 2: a pager or a tool acting for the user.
wm_message.send(int(sys.argv[1], 0), "_NET_WM_STATE", [action] + states + [0] * (2 - len(states)) + [2],
                to_root=True)
