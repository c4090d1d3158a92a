#!/usr/bin/env python3
"""Figures of the window's own move and resize and of the data messages, on
one private Xvfb with a window manager and a private session bus:

- drag smoothness: while xdotool drags the window in 200 steps (a move of
  the picture, then a resize by the bottom-right corner, and as a control
  the corner pressed as long without a step), how many pictures
  the player presented and the largest gap between two of them (its --stats
  count them while a drag is under way), for a 1280x720 30 fps clip;
- 10 000 appends through the data-message method on one bus connection:
  total time and the slowest single call (which bounds the window thread's
  longest stall, since a call is answered only once the window thread has
  handled it).

Each figure is taken several times (DRAG_ROUNDS, default 5, for the drags;
3 for the appends) and given as a median with the worst round beside it.

Usage: window_geometry_figures.py BUILD_DIR [WORK_FOLDER]
"""
import json
import os
import subprocess
import sys
import time

from window_figures import SCREEN, start_server

STEPS = 200
ROUNDS = int(os.environ.get("DRAG_ROUNDS", "5"))


def make_clip(folder):
    clip = os.path.join(folder, "drag_720p30.mp4")
    if not os.path.exists(clip):
        subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y",
                        "-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=30",
                        "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=30",
                        "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", "60",
                        "-c:a", "aac", "-shortest", clip + ".tmp.mp4"], check=True)
        os.rename(clip + ".tmp.mp4", clip)
    return clip


def start_desktop():
    server, display = start_server()
    env = dict(os.environ, DISPLAY=display)
    bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1",
                          "--nopidfile"], capture_output=True, text=True, check=True).stdout.split("\n")
    env["DBUS_SESSION_BUS_ADDRESS"] = bus[0]
    wm = subprocess.Popen(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)
    return server, wm, int(bus[1]), env


def xdotool(env, *args):
    return subprocess.run(["xdotool"] + [str(a) for a in args], env=env, capture_output=True, text=True).stdout


def geometry(env, window):
    out = xdotool(env, "getwindowgeometry", "--shell", window)
    values = dict(line.split("=") for line in out.split() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def start_player(binary, clip, env, stats_path):
    player = subprocess.Popen([binary, "--audio=null", "--no-settings", "--stats=" + stats_path, clip], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    window = xdotool(env, "search", "--sync", "--onlyvisible", "--name", "Moravista").split()[0]
    time.sleep(2)  # playing steadily
    return player, window


def drag_figures(binary, clip, env, folder, kind):
    stats_path = os.path.join(folder, "drag_%s_stats.json" % kind)
    player, window = start_player(binary, clip, env, stats_path)
    x, y, w, h = geometry(env, window)
    if kind == "move":
        start, step = (x + w // 2, y + h // 2), (2, 1)
    else:
        start, step = (x + w - 2, y + h - 2), (2, 1)
    command = ["mousemove", start[0], start[1], "sleep", "0.2", "mousedown", "1"]
    for _ in range(STEPS):
        command += ["sleep", "0.01"]
        # The control: the corner held as long, without a step.
        if kind != "hold":
            command += ["mousemove_relative", "--", step[0], step[1]]
    command += ["sleep", "0.1", "mouseup", "1"]
    began = time.monotonic()
    xdotool(env, *command)
    seconds = time.monotonic() - began
    time.sleep(0.5)
    after = geometry(env, window)
    player.terminate()
    player.wait()
    with open(stats_path) as f:
        drags = json.load(f)["window_drags"]
    return {"steps": STEPS, "xdotool_s": round(seconds, 2), "before": [x, y, w, h], "after": list(after),
            "drags": drags["count"], "drag_ms": drags["total_ms"], "pictures_presented": drags["pictures"],
            "largest_gap_ms": drags["max_gap_ms"]}


def summary(results):
    """Medians over the rounds, and the worst gap of any round."""
    def median(key):
        values = sorted(r[key] for r in results)
        return values[len(values) // 2]
    return {"rounds": len(results), "steps": STEPS, "moved_or_resized": sum(r["after"] != r["before"] for r in results),
            "median_drag_ms": median("drag_ms"), "median_pictures_presented": median("pictures_presented"),
            "median_largest_gap_ms": median("largest_gap_ms"),
            "worst_gap_ms": max(r["largest_gap_ms"] for r in results),
            "gaps_ms": [r["largest_gap_ms"] for r in results]}


def append_figures(binary, build, clip, env, folder):
    player, _ = start_player(binary, clip, env, os.path.join(folder, "append_stats.json"))
    for _ in range(100):
        probe = subprocess.run([binary, "--send", str(player.pid), "0", ""], env=env, capture_output=True)
        if probe.returncode == 0:
            break
        time.sleep(0.1)
    began = time.monotonic()
    out = subprocess.run([os.path.join(build, "bench", "copy_data_bench"), str(player.pid), "10000"], env=env,
                         capture_output=True, text=True)
    wall = time.monotonic() - began
    player.terminate()
    player.wait()
    figures = json.loads(out.stdout) if out.returncode == 0 else {"error": out.stderr.strip()}
    figures["script_wall_s"] = round(wall, 3)
    return figures


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = os.path.abspath(sys.argv[1])
    binary = os.path.join(build, "moravista")
    folder = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "bench-geometry")
    os.makedirs(folder, exist_ok=True)
    clip = make_clip(folder)
    server, wm, bus_pid, env = start_desktop()
    figures = {"clip": "1280x720 30 fps", "screen": "%dx%d" % SCREEN}
    try:
        # Rounds taken in turn, so that a busy moment of a shared machine
        # does not fall on one kind only.
        runs = {"move": [], "resize": [], "hold_without_steps": []}
        for _ in range(ROUNDS):
            for kind in runs:
                runs[kind].append(drag_figures(binary, clip, env, folder, kind.split("_")[0]))
        for kind, results in runs.items():
            figures[kind] = summary(results)
        appends = [append_figures(binary, build, clip, env, folder) for _ in range(3)]
        totals = sorted(a.get("total_s", 0) for a in appends)
        figures["append_10000"] = {"median_total_s": totals[1],
                                   "median_call_ms": sorted(a["call_ms"]["median"] for a in appends)[1],
                                   "worst_call_ms": max(a["call_ms"]["max"] for a in appends),
                                   "rounds": appends}
    finally:
        wm.terminate()
        os.kill(bus_pid, 15)
        server.terminate()
        server.wait()
    print(json.dumps(figures, indent=2))


if __name__ == "__main__":
    main()
