#!/usr/bin/env python3
"""Asks the window manager to change a window's state, as a pager or a
desktop shortcut does: a _NET_WM_STATE client message to the root window.
Usage: wm_state.py WINDOW_ID add|remove|toggle STATE [STATE]
(STATE without its _NET_WM_STATE_ prefix, e.g. FULLSCREEN, MAXIMIZED_VERT)."""
import ctypes
import ctypes.util
import sys


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("client", ClientMessage), ("pad", ctypes.c_long * 24)]


def main():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("wm_state: cannot open the display")
    action = {"remove": 0, "add": 1, "toggle": 2}[sys.argv[2]]
    states = [x11.XInternAtom(display, ("_NET_WM_STATE_" + s).encode(), 0) for s in sys.argv[3:5]]
    event = Event()
    event.client.type = 33  # ClientMessage
    event.client.window = int(sys.argv[1], 0)
    event.client.message_type = x11.XInternAtom(display, b"_NET_WM_STATE", 0)
    event.client.format = 32
    event.client.data[0] = action
    event.client.data[1] = states[0]
    event.client.data[2] = states[1] if len(states) > 1 else 0
    event.client.data[3] = 2  # a pager or a tool acting for the user
    mask = (1 << 20) | (1 << 19)  # SubstructureRedirect | SubstructureNotify
    x11.XSendEvent(display, x11.XDefaultRootWindow(display), 0, mask, ctypes.byref(event))
    x11.XSync(display, 0)


main()
