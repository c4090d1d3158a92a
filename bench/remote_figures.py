#!/usr/bin/env python3
"""Figures of the desktop services, on a private Xvfb and session bus:

1. latency from a playerctl command to its effect, median and p95 over 20
   calls each: "pause" until the picture stops changing (the last picture
   update before the first 150 ms without one), "position" until the first
   picture at the target (the command's own wall time plus the seek's time
   from request to first picture as the player's statistics give it);
2. CPU seconds of the player over 15 s of playback with the media-player
   interface on the bus, against the same without a session bus;
3. resident memory of a paused 1080p item before and after a trim.

Usage: remote_figures.py MORAVISTA_BINARY [WORK_FOLDER [latency|cpu|memory ...]]
"""
import ctypes
import ctypes.util
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_figures import make_clip, start_server  # noqa: E402

CALLS = int(os.environ.get("REMOTE_CALLS", "20"))


def small_clip(folder):
    clip = os.path.join(folder, "bench_minute_160x120.mp4")
    if not os.path.exists(clip):
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", "testsrc2=size=160x120:rate=25:duration=60",
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=60",
                        "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p",
                        "-c:a", "aac", "-shortest", clip + ".tmp.mp4"], check=True)
        os.rename(clip + ".tmp.mp4", clip)
    return clip


class Damage:
    """Times at which the X server reports drawing into a window."""

    def __init__(self, display):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        damage = ctypes.CDLL(ctypes.util.find_library("Xdamage"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        for name in ("XPending", "XNextEvent", "XSync", "XFlush"):
            getattr(x11, name).argtypes = [ctypes.c_void_p] + ([ctypes.c_void_p] if name == "XNextEvent" else
                                                               [ctypes.c_int] if name == "XSync" else [])
        x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
        damage.XDamageQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                                 ctypes.POINTER(ctypes.c_int)]
        damage.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
        damage.XDamageCreate.restype = ctypes.c_ulong
        self.x11, self.damage = x11, damage
        self.dpy = x11.XOpenDisplay(display.encode())
        event_base, error_base = ctypes.c_int(), ctypes.c_int()
        damage.XDamageQueryExtension(self.dpy, ctypes.byref(event_base), ctypes.byref(error_base))
        self.notify = event_base.value  # XDamageNotify is event 0 of the extension
        self.event = ctypes.create_string_buffer(192)

    def watch(self, window):
        self.damage.XDamageCreate(self.dpy, window, 0)  # raw rectangles: no subtracting needed
        self.x11.XSync(self.dpy, 0)

    def times(self, seconds):
        """Arrival times of damage events during the next seconds."""
        import select
        out = []
        end = time.monotonic() + seconds
        fd = self.x11.XConnectionNumber(self.dpy)
        while True:
            while self.x11.XPending(self.dpy):
                self.x11.XNextEvent(self.dpy, self.event)
                if ctypes.c_int.from_buffer(self.event).value == self.notify:
                    out.append(time.monotonic())
            left = end - time.monotonic()
            if left <= 0:
                return out
            select.select([fd], [], [], left)


def picture_window(env):
    top = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name", "Moravista"], env=env,
                         capture_output=True, text=True, timeout=20).stdout.split()[0]
    tree = subprocess.run(["xwininfo", "-children", "-id", top], env=env, capture_output=True, text=True).stdout
    children = [line.split()[0] for line in tree.splitlines() if line.strip().startswith("0x")]
    return int(children[0], 16) if children else int(top)


def playerctl(env, *args):
    t0 = time.monotonic()
    out = subprocess.run(["playerctl", "-p", "moravista"] + list(args), env=env, capture_output=True,
                         text=True).stdout
    return out.strip(), time.monotonic() - t0


def wait_status(env, status, seconds=20):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if playerctl(env, "status")[0] == status:
            return True
        time.sleep(0.1)
    return False


def write_settings(folder, trim):
    text = "[Moravista]\r\n清理内存=%d\r\n" % trim
    with open(os.path.join(folder, "moravista.ini"), "wb") as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))


def start_player(binary, folder, env, args):
    shutil.copy(binary, os.path.join(folder, "moravista"))
    return subprocess.Popen([os.path.join(folder, "moravista"), "--audio=null"] + args, env=env,
                            stderr=subprocess.DEVNULL)


def stop(process):
    process.terminate()
    process.wait(timeout=20)


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def rss_mib(pid):
    for line in open("/proc/%d/status" % pid):
        if line.startswith("VmRSS:"):
            return int(line.split()[1]) / 1024
    return 0


def summary(values):
    values = sorted(values)
    return "median %.1f ms, p95 %.1f ms, n=%d" % (statistics.median(values) * 1000,
                                                   values[min(len(values) - 1, int(len(values) * 0.95))] * 1000,
                                                   len(values))


def latency(binary, folder, env, clip):
    stats_path = os.path.join(folder, "latency_stats.json")
    player = start_player(binary, folder, env, ["--stats=" + stats_path, clip])
    assert wait_status(env, "Playing"), "the player did not start playing"
    damage = Damage(env["DISPLAY"])
    damage.watch(picture_window(env))
    pauses, pause_calls = [], []
    for _ in range(CALLS):
        playerctl(env, "play")
        damage.times(0.5)
        t0 = time.monotonic()
        _, wall = playerctl(env, "pause")
        updates = [t for t in damage.times(1.0) if t >= t0]
        last = t0
        for t in updates:  # up to the first gap of 150 ms: later ones are the once-a-second OSD
            if t - last > 0.15 and t > t0 + wall:
                break
            last = t
        pauses.append(last - t0)
        pause_calls.append(wall)
    playerctl(env, "play")
    seek_walls = []
    for i in range(CALLS):
        time.sleep(0.6)
        seek_walls.append(playerctl(env, "position", "3" if i % 2 else "12")[1])
    time.sleep(1)
    stop(player)
    seeks = [s for s in json.load(open(stats_path))["seeks"] if s["origin"] == "user"]
    totals = [wall + s["latency_ms"] / 1000 for wall, s in zip(seek_walls, seeks)]
    print("pause visible after `playerctl pause`: %s (the command alone: %s)" % (summary(pauses),
                                                                                summary(pause_calls)))
    print("first picture at the target after `playerctl position`: %s (the command alone: %s; the seek "
          "from request to picture: %s)" % (summary(totals), summary(seek_walls),
                                            summary([s["latency_ms"] / 1000 for s in seeks])))


def cpu_cost(binary, folder, env, clip):
    empty = os.path.join(folder, "no-bus")
    os.makedirs(empty, exist_ok=True)
    without = dict(env, DBUS_SESSION_BUS_ADDRESS="", XDG_RUNTIME_DIR=empty)
    results = {"with": [], "without": []}
    for _ in range(3):
        for name, e in (("with", env), ("without", without)):
            player = start_player(binary, folder, e, [clip])
            time.sleep(3)
            c0 = cpu_seconds(player.pid)
            time.sleep(15)
            results[name].append(cpu_seconds(player.pid) - c0)
            stop(player)
    w, wo = statistics.median(results["with"]), statistics.median(results["without"])
    print("player CPU over 15 s of playback: with the media-player interface %.2f s (%s), without a session bus "
          "%.2f s (%s); difference %.2f %% of one core" % (w, results["with"], wo, results["without"],
                                                          (w - wo) / 15 * 100))


def trim_memory(binary, folder, env, clip):
    for trim in (1, 0):
        befores, afters = [], []
        for _ in range(3):
            write_settings(folder, trim)
            player = start_player(binary, folder, env, [clip])
            assert wait_status(env, "Playing")
            time.sleep(4)
            playerctl(env, "pause")
            time.sleep(1.5)
            befores.append(rss_mib(player.pid))
            # Minimising trims while the option is on.
            subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "Moravista", "windowminimize", "--sync"],
                           env=env, capture_output=True)
            time.sleep(1)
            afters.append(rss_mib(player.pid))
            stop(player)
        print("resident memory of a paused 1080p item, trimming %s: before minimising %.1f MiB, after %.1f MiB "
              "(medians of %s and %s)" % ("on" if trim else "off", statistics.median(befores),
                                          statistics.median(afters), befores, afters))
    os.unlink(os.path.join(folder, "moravista.ini"))


def main():
    binary = os.path.abspath(sys.argv[1])
    folder = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "remote_figures")
    os.makedirs(folder, exist_ok=True)
    big, small = make_clip(folder), small_clip(folder)
    server, display = start_server()
    bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1",
                          "--nopidfile"], capture_output=True, text=True).stdout.split("\n")
    env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus[0])
    wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(1)
        what = sys.argv[3:] or ["latency", "cpu", "memory"]
        if "latency" in what:
            latency(binary, folder, env, big)
        if "cpu" in what:
            cpu_cost(binary, folder, env, small)
        if "memory" in what:
            trim_memory(binary, folder, env, big)
    finally:
        wm.terminate()
        os.kill(int(bus[1]), 15)
        server.terminate()


if __name__ == "__main__":
    main()
