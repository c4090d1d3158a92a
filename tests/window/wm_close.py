#!/usr/bin/env python3
"""Asks a window to close the way a window manager does: a WM_DELETE_WINDOW
client message. Usage: wm_close.py WINDOW_ID (DISPLAY from the environment)."""
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
import wm_message  # noqa: E402

wm_message.send(int(sys.argv[1], 0), "WM_PROTOCOLS", ["WM_DELETE_WINDOW", 0], to_root=False)
