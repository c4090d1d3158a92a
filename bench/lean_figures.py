#!/usr/bin/env python3
"""Memory, seek and start-up figures of the player side by side, in one run
on one private Xvfb: this build, optionally an earlier build ("before"), mpv
(when installed) and the ffmpeg tool. Each figure is the median of several
runs; the programs take turns run by run (A B C A B C ...), so that all of
them see the same machine load.

Usage: lean_figures.py [--before BINARY] [--runs N] [--rows ROW,...]
                       [--work FOLDER] BINARY

Rows (all by default):
  headless  peak RSS and CPU, 20 s 1920x1080 30 fps H.264/AAC, no window
  window    peak RSS, CPU, dropped frames, same clip in a 960x540 window
  seek      progress-bar seek latency, p95 of 10 seeks into the middle of
            2 s GOPs, against FFmpeg's own accurate seek to the same targets
            (decoding from the key frame, its start-up subtracted)
  first     time to the first picture in a window (small clip), and the
            CPU time spent until then; mpv --frames=1 from start to exit
  load      the window row with a second process using one core fully
  clip4k    peak RSS, CPU and dropped frames of a 10 s 3840x2160 clip
  audio     peak RSS and CPU of the first 60 s (--audio-seconds) of a 60-minute audio item
  longgop   seek latency in a clip of 10 s GOPs
  limits    address-space limits (ulimit -v) from 300 MB to 2 GB: the clip
            plays, or the program ends with a message; never a crash or hang
  floor     what a start costs before any work: peak RSS and wall time of
            --version (the shared libraries loaded and relocated, nothing
            else), and the peak RSS of 2 s with nothing to play, headless
            and in a window: the floor under the memory and first-picture
            figures
"""
import argparse
import json
import os
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import time

ALL_ROWS = ["headless", "window", "seek", "first", "load", "clip4k", "audio", "longgop", "limits", "floor"]


# ---- media ----

def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y", *args], check=True)


def make(folder, name, *args):
    path = os.path.join(folder, name)
    if not os.path.exists(path):
        ffmpeg(*args, path + ".tmp." + name.rsplit(".", 1)[1])
        os.rename(path + ".tmp." + name.rsplit(".", 1)[1], path)
    return path


def video_clip(folder, name, size, seconds, gop):
    return make(folder, name,
                "-f", "lavfi", "-i", "testsrc2=size=%s:rate=30:duration=%d" % (size, seconds),
                "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=%d" % seconds,
                "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-g", str(gop),
                "-c:a", "aac", "-b:a", "128k", "-shortest")


def audio_item(folder):
    return make(folder, "audio_60min.m4a",
                "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=3600",
                "-c:a", "aac", "-b:a", "128k")


# ---- the private display ----

# The private X server and the look at the screen centre are the window
# benchmark's own.
from window_figures import SCREEN, Screen as CentreScreen, start_server  # noqa: E402


class Screen(CentreScreen):
    def wait_clear(self):
        # Between runs nothing is shown, so the centre is the black root window.
        deadline = time.monotonic() + 5
        while self.colourful() and time.monotonic() < deadline:
            time.sleep(0.05)


# ---- running one program ----

def cpu_seconds_of(pid):
    """User + system CPU seconds of a running process, from /proc."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return None


def run_measured(argv, env=None, screen=None, timeout=300, limit_bytes=None, stop_at_picture=False):
    """Runs argv; returns its CPU seconds and peak RSS (from wait4), wall
    seconds, exit code or signal, last line on stderr, whether it hung and,
    with a screen, the seconds and CPU seconds until the first picture
    showed at the screen centre."""
    def limit():
        if limit_bytes:
            resource.setrlimit(resource.RLIMIT_AS, (limit_bytes, limit_bytes))
    start = time.monotonic()
    process = subprocess.Popen(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               preexec_fn=limit, start_new_session=True)
    os.set_blocking(process.stderr.fileno(), False)
    stderr = b""
    first = first_cpu = None
    ended = None
    while ended is None:
        pid, status, usage = os.wait4(process.pid, os.WNOHANG)
        if pid:
            ended = (status, usage)
            break
        try:
            stderr += process.stderr.read() or b""
        except (BlockingIOError, TypeError):
            pass
        if screen and first is None and time.monotonic() - start < 20 and screen.colourful():
            first = time.monotonic() - start
            first_cpu = cpu_seconds_of(process.pid)
            if stop_at_picture:
                process.terminate()
        if time.monotonic() - start > timeout:
            break
        time.sleep(0.002 if screen and first is None else 0.02)
    hung = ended is None
    if hung:
        os.killpg(process.pid, signal.SIGKILL)
        _, status, usage = os.wait4(process.pid, 0)
        ended = (status, usage)
    status, usage = ended
    try:
        stderr += process.stderr.read() or b""
    except (BlockingIOError, TypeError):
        pass
    process.stderr.close()
    process.returncode = 0  # reaped here
    lines = stderr.decode(errors="replace").strip().splitlines()
    return {"cpu_s": usage.ru_utime + usage.ru_stime, "rss_mb": usage.ru_maxrss / 1024,
            "wall_s": time.monotonic() - start, "hung": hung,
            "signal": os.WTERMSIG(status) if os.WIFSIGNALED(status) else 0,
            "code": os.WEXITSTATUS(status) if os.WIFEXITED(status) else None,
            "message": lines[-1] if lines else "", "first_s": first, "first_cpu_s": first_cpu}


def median(values):
    values = [v for v in values if v is not None]
    return statistics.median(values) if values else None


def p95(values):
    values = sorted(v for v in values if v is not None)
    if not values:
        return None
    return values[max(0, -(-len(values) * 95 // 100) - 1)]


# ---- the figures ----

class Bench:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        os.makedirs(self.work, exist_ok=True)
        self.players = [("after", os.path.abspath(args.binary))]
        if args.before:
            self.players.insert(0, ("before", os.path.abspath(args.before)))
        self.mpv = shutil.which("mpv")
        self.rows = []
        self.display = None
        self.screen = None

    def out(self, figure, values, goal=""):
        self.rows.append((figure, values, goal))
        print("%-62s %s %s" % (figure, "  ".join("%s %s" % (k, fmt(v)) for k, v in values.items()), goal),
              flush=True)

    def stats(self, name):
        path = os.path.join(self.work, name)
        try:
            with open(path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}

    def moravista(self, binary, clip, headless, stats, extra=()):
        argv = [binary, "--no-settings", "--audio=null", "--quit-at-end", "--stats=" + os.path.join(self.work, stats)]
        if headless:
            argv.insert(1, "--headless")
        return argv + list(extra) + [clip]

    def mpv_argv(self, clip, headless, extra=()):
        out = ["--vo=null"] if headless else ["--vo=x11", "--geometry=960x540"]
        return [self.mpv, "--no-config", "--really-quiet", "--ao=null", "--hwdec=no", *out, *extra, clip]

    def env(self, headless):
        return dict(os.environ) if headless else dict(os.environ, DISPLAY=self.display)

    # Every player in turn, runs times; returns {name: [result, ...]}.
    def rounds(self, clip, headless, with_mpv=True, extra=(), mpv_extra=()):
        results = {}
        names = [n for n, _ in self.players] + (["mpv"] if with_mpv and self.mpv else [])
        for i in range(self.args.runs):
            for name, binary in self.players:
                if self.screen:
                    self.screen.wait_clear()
                stats = "%s_%d.json" % (name, i)
                r = run_measured(self.moravista(binary, clip, headless, stats, extra), env=self.env(headless))
                s = self.stats(stats)
                r["dropped"] = s.get("video_frames_dropped")
                r["presented"] = s.get("video_frames_presented")
                r["seeks"] = [x["latency_ms"] for x in s.get("seeks", [])
                              if x.get("origin", "user") == "user" and x["latency_ms"] >= 0]
                results.setdefault(name, []).append(r)
            if "mpv" in names:
                if self.screen:
                    self.screen.wait_clear()
                results.setdefault("mpv", []).append(
                    run_measured(self.mpv_argv(clip, headless, mpv_extra), env=self.env(headless)))
        return results

    def memory_cpu(self, label, clip, headless, goal_rss="", extra=(), mpv_extra=()):
        results = self.rounds(clip, headless, extra=extra, mpv_extra=mpv_extra)
        self.out("peak RSS MB, " + label, {k: median(r["rss_mb"] for r in v) for k, v in results.items()}, goal_rss)
        cpu = {k: median(r["cpu_s"] for r in v) for k, v in results.items()}
        if "mpv" in cpu and cpu["mpv"]:
            for k in list(cpu):
                if k != "mpv":
                    cpu[k + "/mpv"] = cpu[k] / cpu["mpv"]
        self.out("CPU s, " + label, cpu, "goal 0.8 x mpv" if not headless else "")
        dropped = {k: median(r.get("dropped") for r in v) for k, v in results.items() if k != "mpv"}
        self.out("dropped frames (median), " + label, dropped, "goal 0")
        return results

    def row_headless(self):
        self.memory_cpu("1080p30 20 s, headless", self.clip1080, True, "goal <= 60")

    def row_window(self):
        self.memory_cpu("1080p30 20 s, 960x540 window", self.clip1080, False, "goal <= 80")

    def row_load(self):
        burner = subprocess.Popen([sys.executable, "-c", "while True: pass"])
        try:
            self.memory_cpu("1080p30 window, one core kept busy", self.clip1080, False)
        finally:
            burner.kill()
            burner.wait()

    def row_clip4k(self):
        clip = video_clip(self.work, "clip_2160p30_10s.mp4", "3840x2160", 10, 60)
        self.memory_cpu("2160p30 10 s, headless", clip, True)
        self.memory_cpu("2160p30 10 s, 960x540 window", clip, False)

    def row_audio(self):
        clip = audio_item(self.work)
        script = os.path.join(self.work, "quit_at_60s.txt")
        with open(script, "w") as f:
            f.write("%d quit\n" % (self.args.audio_seconds * 1000))
        self.memory_cpu("60-minute audio item, first %d s, headless" % self.args.audio_seconds, clip, True,
                        extra=["--input=" + script], mpv_extra=["--length=%d" % self.args.audio_seconds])

    def seeks(self, label, clip, targets_s, goal):
        script = os.path.join(self.work, "seeks_%s.txt" % label.split()[0])
        with open(script, "w") as f:
            for i, t in enumerate(targets_s):
                f.write("%d seek %d\n" % (1000 + i * 1500, t * 1000))
        results = self.rounds(clip, True, with_mpv=False, extra=["--input=" + script])
        values = {k: median(p95(r["seeks"]) for r in v) for k, v in results.items()}
        # FFmpeg's accurate seek: -ss before the input decodes from the key
        # frame before the target and discards what lies before it.
        per_target = {t: [] for t in targets_s}
        for _ in range(self.args.runs):
            base = run_measured(["ffmpeg", "-nostdin", "-loglevel", "error", "-i", clip, "-an", "-frames:v", "1",
                                 "-f", "null", "-"])["wall_s"]
            for t in targets_s:
                w = run_measured(["ffmpeg", "-nostdin", "-loglevel", "error", "-ss", str(t), "-i", clip, "-an",
                                  "-frames:v", "1", "-f", "null", "-"])["wall_s"]
                per_target[t].append((w - base) * 1000)
        values["ffmpeg"] = p95([median(v) for v in per_target.values()])
        if values.get("ffmpeg"):
            for k in [n for n, _ in self.players]:
                if values.get(k) is not None:
                    values[k + "/ffmpeg"] = values[k] / values["ffmpeg"]
        self.out("seek latency p95 ms, " + label, values, goal)

    def row_seek(self):
        self.seeks("2 s GOPs, 10 seeks to GOP middles", self.clip1080, [11, 3, 17, 7, 1, 15, 9, 19, 5, 13],
                   "goal <= 1.1 x ffmpeg")

    def row_longgop(self):
        clip = video_clip(self.work, "clip_1080p30_20s_gop300.mp4", "1920x1080", 20, 300)
        self.seeks("10 s GOPs, 10 seeks", clip, [5, 15, 3, 12, 7, 17, 2, 9, 14, 6], "no slower than before")

    def row_first(self):
        clip = video_clip(self.work, "clip_640x360_5s.mp4", "640x360", 5, 60)
        times = {}
        cpu = {}
        for _ in range(self.args.runs):
            for name, binary in self.players:
                self.screen.wait_clear()
                r = run_measured([binary, "--audio=null", "--no-settings", clip], env=self.env(False),
                                 screen=self.screen, stop_at_picture=True, timeout=30)
                times.setdefault(name, []).append(r["first_s"])
                cpu.setdefault(name, []).append(r["first_cpu_s"])
            if self.mpv:
                self.screen.wait_clear()
                r = run_measured(self.mpv_argv(clip, False, ["--frames=1"]), env=self.env(False), timeout=30)
                times.setdefault("mpv", []).append(r["wall_s"])
                cpu.setdefault("mpv", []).append(r["cpu_s"])
        self.out("first picture in a window ms (mpv: --frames=1 to exit)",
                 {k: median(v) * 1000 if median(v) is not None else None for k, v in times.items()}, "goal <= 100")
        self.out("CPU ms until the first picture (mpv: whole run)",
                 {k: median(v) * 1000 if median(v) is not None else None for k, v in cpu.items()})

    def row_floor(self):
        rss = {}
        wall = {}
        commands = [(n, [b, "--version"]) for n, b in self.players]
        if self.mpv:
            commands.append(("mpv", [self.mpv, "--no-config", "--version"]))
        for _ in range(self.args.runs * 4):
            for name, argv in commands:
                r = run_measured(argv, timeout=30)
                rss.setdefault(name, []).append(r["rss_mb"])
                wall.setdefault(name, []).append(r["wall_s"] * 1000)
        self.out("peak RSS MB of --version (libraries only)", {k: median(v) for k, v in rss.items()})
        self.out("wall ms of --version (loading the libraries)", {k: median(v) for k, v in wall.items()})
        # The player itself with nothing to play for 2 s: threads, fonts and,
        # with a window, the toolkit and the screen image.
        script = os.path.join(self.work, "quit_at_2s.txt")
        with open(script, "w") as f:
            f.write("2000 quit\n")
        for headless in (True, False):
            idle = {}
            for _ in range(self.args.runs):
                for name, binary in self.players:
                    argv = [binary, "--no-settings", "--audio=null", "--input=" + script]
                    if headless:
                        argv.insert(1, "--headless")
                    idle.setdefault(name, []).append(run_measured(argv, env=self.env(headless), timeout=30)["rss_mb"])
            self.out("peak RSS MB, nothing to play, " + ("headless" if headless else "960x540 window"),
                     {k: median(v) for k, v in idle.items()})

    def row_limits(self):
        for mb in self.args.limits:
            values = {}
            for name, binary in self.players:
                r = run_measured(self.moravista(binary, self.clip1080, True, "limit.json"),
                                 limit_bytes=mb * 1024 * 1024, timeout=120)
                s = self.stats("limit.json") if r["code"] == 0 else {}
                if r["hung"]:
                    outcome = "HANG"
                elif r["signal"]:
                    outcome = "CRASH(signal %d)" % r["signal"]
                elif r["code"] == 0:
                    outcome = "played(%s pictures)" % s.get("video_frames_presented")
                else:
                    outcome = "ended %d: %s" % (r["code"], r["message"][:70] or "NO MESSAGE")
                values[name] = outcome
            self.out("ulimit -v %d MB, headless 1080p" % mb, values)

    def main(self):
        self.clip1080 = video_clip(self.work, "clip_1080p30_20s.mp4", "1920x1080", 20, 60)
        server, self.display = start_server()
        try:
            self.screen = Screen(self.display)
            for row in self.args.rows.split(","):
                getattr(self, "row_" + row)()
        finally:
            server.terminate()
            server.wait()
        with open(os.path.join(self.work, "figures.json"), "w") as f:
            json.dump(self.rows, f, indent=1, default=str)


def fmt(v):
    if v is None:
        return "-"
    if isinstance(v, float):
        return "%.2f" % v if v < 10 else "%.0f" % v
    return str(v)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("binary")
    parser.add_argument("--before")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--rows", default=",".join(ALL_ROWS))
    parser.add_argument("--work", default="bench-lean")
    parser.add_argument("--limits", type=lambda v: [int(x) for x in v.split(",")],
                        default=[300, 400, 500, 600, 700, 800, 1000, 1500, 2000],
                        help="address-space limits in MB for the limits row")
    parser.add_argument("--audio-seconds", type=int, default=60, help="how much of the audio item plays")
    args = parser.parse_args()
    Bench(args).main()


if __name__ == "__main__":
    main()
