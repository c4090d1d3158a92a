#!/usr/bin/env python3
"""Side-by-side figures of the desktop window, in one run on one private Xvfb:
CPU seconds, peak memory, dropped frames and time to the first picture on
screen for Moravista playing a 20-second 1920x1080 30 fps H.264/AAC clip in a
960x540 window, against mpv on the same clip and window (when installed) and
against the floor of decoding and scaling the clip with the ffmpeg tool.

Usage: window_figures.py MORAVISTA_BINARY [WORK_FOLDER]
"""
import ctypes
import ctypes.util
import json
import os
import shutil
import subprocess
import sys
import time

WIDTH, HEIGHT = 960, 540
ROUNDS = int(os.environ.get("FIRST_PICTURE_ROUNDS", "9"))
SCREEN = (1920, 1080)


def make_clip(folder):
    clip = os.path.join(folder, "bench_1080p30_h264_aac.mp4")
    if not os.path.exists(clip):
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=30:duration=20",
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=20",
                        "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "60",
                        "-c:a", "aac", "-b:a", "128k", "-shortest", clip + ".tmp.mp4"], check=True)
        os.rename(clip + ".tmp.mp4", clip)
    return clip


def start_server():
    read_fd, write_fd = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
                               "%dx%dx24" % SCREEN, "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write_fd,), stderr=subprocess.DEVNULL)
    os.close(write_fd)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_fd, 1)
        if not chunk:
            break
        number += chunk
    os.close(read_fd)
    return server, ":" + number.decode().strip()


class Screen:
    """Reads a small patch of the screen centre, to see when a picture is up."""

    def __init__(self, display):
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultRootWindow.restype = ctypes.c_ulong
        x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        x11.XGetImage.restype = ctypes.POINTER(XImage)
        x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        x11.XFree.argtypes = [ctypes.c_void_p]
        self.x11 = x11
        self.display = x11.XOpenDisplay(display.encode())
        self.root = x11.XDefaultRootWindow(self.display)

    def colourful(self):
        size = 64
        cx, cy = SCREEN[0] // 2 - size // 2, SCREEN[1] // 2 - size // 2
        image = self.x11.XGetImage(self.display, self.root, cx, cy, size, size, 0xFFFFFFFF, 2)
        if not image:
            return False
        img = image.contents
        data = ctypes.string_at(img.data, img.bytes_per_line * size)
        self.x11.XFree(img.data)
        self.x11.XFree(image)
        strong = 0
        for y in range(0, size, 4):
            for x in range(0, size, 4):
                b, g, r = data[y * img.bytes_per_line + 4 * x: y * img.bytes_per_line + 4 * x + 3]
                if max(r, g, b) - min(r, g, b) > 80:
                    strong += 1
        return strong > (size // 4) ** 2 // 3


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


def run_measured(argv, env, screen=None, timeout=120):
    """Runs argv; returns CPU seconds, peak RSS in MB, wall seconds and, with a
    screen, seconds until the first picture showed at its centre."""
    start = time.monotonic()
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    first_picture = None
    if screen:
        while process.poll() is None and time.monotonic() - start < timeout:
            if screen.colourful():
                first_picture = time.monotonic() - start
                break
            time.sleep(0.002)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.monotonic() - start
    process.stderr.close()
    return {"cpu_s": round(usage.ru_utime + usage.ru_stime, 2), "peak_rss_mb": round(usage.ru_maxrss / 1024, 1),
            "wall_s": round(wall, 2), "first_picture_s": None if first_picture is None else round(first_picture, 3),
            "exit_status": status}


def clear_screen_centre(screen):
    # Nothing runs between measurements, so the centre is the black root window.
    deadline = time.monotonic() + 5
    while screen.colourful() and time.monotonic() < deadline:
        time.sleep(0.05)


def first_picture_rounds(binary, mpv, clip, env, screen, rounds):
    """Time to the first picture on screen, several times in turn: Moravista
    (stopped once its picture shows) and the whole of `mpv --frames=1`.
    Returns the two lists of seconds."""
    own, theirs = [], []
    for _ in range(rounds):
        clear_screen_centre(screen)
        start = time.monotonic()
        process = subprocess.Popen([binary, "--audio=null", "--no-settings", clip], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while process.poll() is None and time.monotonic() - start < 10:
            if screen.colourful():
                own.append(time.monotonic() - start)
                break
            time.sleep(0.002)
        process.terminate()
        process.wait()
        if mpv:
            clear_screen_centre(screen)
            theirs.append(run_measured(mpv + ["--frames=1", clip], env)["wall_s"])
    return own, theirs


def median(values):
    values = sorted(values)
    return values[len(values) // 2] if values else None


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = os.path.abspath(sys.argv[1])
    folder = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "bench-window")
    os.makedirs(folder, exist_ok=True)
    clip = make_clip(folder)
    server, display = start_server()
    env = dict(os.environ, DISPLAY=display)
    figures = {"clip": clip, "window": "%dx%d" % (WIDTH, HEIGHT), "screen": "%dx%d" % SCREEN}
    try:
        screen = Screen(display)
        stats_path = os.path.join(folder, "moravista_stats.json")
        own = run_measured([binary, "--audio=null", "--quit-at-end", "--no-settings", "--stats=" + stats_path,
                            clip], env, screen)
        with open(stats_path) as f:
            stats = json.load(f)
        own["frames_presented"] = stats.get("video_frames_presented")
        own["frames_dropped"] = stats.get("video_frames_dropped")
        own["first_picture_in_process_ms"] = stats.get("first_picture_ms")
        figures["moravista"] = own
        floor = run_measured(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", clip,
                              "-vf", "scale=%d:%d" % (WIDTH, HEIGHT), "-f", "null", "-"], env)
        figures["ffmpeg_decode_and_scale"] = floor
        mpv = shutil.which("mpv")
        if mpv:
            common = [mpv, "--no-config", "--really-quiet", "--vo=x11", "--ao=null", "--hwdec=no",
                      "--geometry=%dx%d" % (WIDTH, HEIGHT)]
            clear_screen_centre(screen)
            figures["mpv"] = run_measured(common + [clip], env, screen)
            clear_screen_centre(screen)
            figures["mpv_frames_1"] = run_measured(common + ["--frames=1", clip], env)
            figures["cpu_vs_mpv"] = round(own["cpu_s"] / max(figures["mpv"]["cpu_s"], 0.01), 2)
            if own["first_picture_s"] is not None:
                figures["first_picture_vs_mpv_frames_1"] = round(
                    own["first_picture_s"] / max(figures["mpv_frames_1"]["wall_s"], 0.001), 2)
        else:
            figures["mpv"] = "not installed"
        figures["cpu_vs_ffmpeg_floor"] = round(own["cpu_s"] / max(floor["cpu_s"], 0.01), 2)
        # Single start-ups are noisy: medians of several, taken in turn.
        common = [mpv, "--no-config", "--really-quiet", "--vo=x11", "--ao=null", "--hwdec=no",
                  "--geometry=%dx%d" % (WIDTH, HEIGHT)] if mpv else None
        own_starts, mpv_starts = first_picture_rounds(binary, common, clip, env, screen, ROUNDS)
        figures["first_picture_rounds"] = ROUNDS
        figures["first_picture_median_s"] = round(median(own_starts), 3) if own_starts else None
        if mpv_starts:
            figures["mpv_frames_1_median_wall_s"] = round(median(mpv_starts), 3)
            if own_starts:
                figures["first_picture_median_vs_mpv_frames_1_median"] = round(
                    median(own_starts) / median(mpv_starts), 2)
    finally:
        server.terminate()
        server.wait()
    print(json.dumps(figures, indent=2, ensure_ascii=False))


if __name__ == "__main__":
    main()
