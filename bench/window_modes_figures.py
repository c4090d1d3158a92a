#!/usr/bin/env python3
"""Figures of the window modes on a private Xvfb with openbox:

- the time from a full-screen request (the window manager's, as a desktop
  shortcut sends it) to the full-screen picture on the screen, median and
  slowest of several rounds;
- the CPU cost of the clock overlay: a paused player in full screen with
  "系统时间" on against the same without it, side by side over SECONDS,
  CPU_ROUNDS times (default 3).

Usage: window_modes_figures.py MORAVISTA_BINARY [SECONDS] [WORK_FOLDER]
"""
import ctypes
import ctypes.util
import json
import os
import shutil
import subprocess
import sys
import time

SCREEN = (1280, 1024)
PROBE = (40, 900)  # outside the centred 960 x 540 window, inside the full-screen picture
ROUNDS = int(os.environ.get("FULLSCREEN_ROUNDS", "15"))
CPU_ROUNDS = int(os.environ.get("CPU_ROUNDS", "3"))


class Image(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p)]


class Message(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]


class Desktop:
    def __init__(self, display):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.POINTER(Image)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XFree.argtypes = [ctypes.c_void_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(Message)]
        x11.XFlush.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.display = x11.XOpenDisplay(display.encode())
        self.root = x11.XDefaultRootWindow(self.display)

    def probe_shows_picture(self):
        image = self.x11.XGetImage(self.display, self.root, PROBE[0], PROBE[1], 1, 1, 0xFFFFFFFF, 2)
        if not image:
            return False
        b, g, r = ctypes.string_at(image.contents.data, 3)
        self.x11.XFree(image.contents.data)
        self.x11.XFree(image)
        return r + g + b > 30  # the root is black

    def full_screen(self, window, on):
        event = Message()
        event.type = 33  # ClientMessage
        event.window = window
        event.message_type = self.x11.XInternAtom(self.display, b"_NET_WM_STATE", 0)
        event.format = 32
        event.data[0] = 1 if on else 0
        event.data[1] = self.x11.XInternAtom(self.display, b"_NET_WM_STATE_FULLSCREEN", 0)
        event.data[3] = 2
        self.x11.XSendEvent(self.display, self.root, 0, (1 << 20) | (1 << 19), ctypes.byref(event))
        self.x11.XFlush(self.display)


def start_desktop(folder):
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "%dx%dx24" % SCREEN,
                               "-br", "-nolisten", "tcp", "-noreset"], pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 1)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    display = ":" + number.decode().strip()
    manager = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=display),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    return server, manager, display


def make_clip(folder):
    clip = os.path.join(folder, "bench_1280x1024.mp4")
    if not os.path.exists(clip):
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1280x1024:rate=25:duration=5", "-pix_fmt", "yuv420p", clip + ".tmp.mp4"],
                       check=True)
        os.rename(clip + ".tmp.mp4", clip)
    return clip


def start_paused_player(binary, folder, clip, display, show_clock):
    """A copy of the player in its own folder whose settings open the clip
    paused at 2 s (with a start position the paused item shows its picture)."""
    home = os.path.join(folder, "clock_%d" % show_clock)
    os.makedirs(home, exist_ok=True)
    shutil.copy(binary, os.path.join(home, "moravista"))
    text = ("[Moravista]\r\n系统时间=%d\r\n列表数=1\r\n0=%s\r\n当前播放=0\r\n当前时间=2000\r\n播放中=0\r\n"
            % (show_clock, clip))
    with open(os.path.join(home, "moravista.ini"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    env = dict(os.environ, DISPLAY=display)
    player = subprocess.Popen([os.path.join(home, "moravista"), "--audio=null"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = 0
    for _ in range(100):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Moravista"], env=env,
                             capture_output=True, text=True).stdout.split()
        if out:
            window = int(out[0])
            break
        time.sleep(0.1)
    return player, window


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_for(condition, timeout):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.001)
    return False


def full_screen_latency(desktop, window):
    times = []
    for _ in range(ROUNDS):
        start = time.monotonic()
        desktop.full_screen(window, True)
        if wait_for(desktop.probe_shows_picture, 5):
            times.append(time.monotonic() - start)
        desktop.full_screen(window, False)
        wait_for(lambda: not desktop.probe_shows_picture(), 5)
        time.sleep(0.3)
    times.sort()
    return {"rounds": len(times), "median_ms": round(1000 * times[len(times) // 2], 1) if times else None,
            "slowest_ms": round(1000 * times[-1], 1) if times else None}


def paused_full_screen_cpu(desktops, binary, folder, clip, seconds):
    """The paused player in full screen with and without the clock, side by
    side on two private desktops, so that both share the same machine load.
    Returns their CPU seconds over the same interval."""
    players = []
    try:
        for show_clock, (desktop, display) in zip((1, 0), desktops):
            player, window = start_paused_player(binary, folder, clip, display, show_clock)
            players.append((player, desktop, window))
        time.sleep(2)
        for _, desktop, window in players:
            desktop.full_screen(window, True)
        time.sleep(3)
        before = [cpu_seconds(player.pid) for player, _, _ in players]
        time.sleep(seconds)
        return [cpu_seconds(player.pid) - b for (player, _, _), b in zip(players, before)]
    finally:
        for player, _, _ in players:
            player.terminate()
            player.wait()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 60
    folder = os.path.abspath(sys.argv[3] if len(sys.argv) > 3 else "bench-window-modes")
    os.makedirs(folder, exist_ok=True)
    clip = make_clip(folder)
    servers = [start_desktop(folder) for _ in range(2)]
    figures = {"screen": "%dx%d" % SCREEN, "seconds": seconds}
    try:
        desktops = [(Desktop(display), display) for _, _, display in servers]
        desktop, display = desktops[0]
        player, window = start_paused_player(binary, folder, clip, display, 1)
        time.sleep(2)
        figures["full_screen_request_to_picture"] = full_screen_latency(desktop, window)
        player.terminate()
        player.wait()
        rounds = []
        for _ in range(CPU_ROUNDS):
            with_clock, without = paused_full_screen_cpu(desktops, binary, folder, clip, seconds)
            rounds.append({"with_clock_cpu_s": round(with_clock, 3), "without_cpu_s": round(without, 3),
                           "clock_cost_pct_of_one_core": round(100 * (with_clock - without) / seconds, 3)})
        figures["paused_full_screen_rounds"] = rounds
        costs = sorted(r["clock_cost_pct_of_one_core"] for r in rounds)
        figures["clock_cost_pct_of_one_core_median"] = costs[len(costs) // 2]
    finally:
        for server, manager, _ in servers:
            manager.terminate()
            server.terminate()
            server.wait()
    print(json.dumps(figures, indent=2, ensure_ascii=False))


main()
