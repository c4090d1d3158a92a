#!/usr/bin/env python3
"""Picture against sound, measured from outside the player.

A clip made here flashes one white frame and beeps for 40 ms at every whole
second from 1 s on. It plays in a 960x540 window under Xvfb (the screen is
the window's size, so the window covers it) through a private sound server
with a null sink: PulseAudio, or PipeWire with its PulseAudio service and
WirePlumber. One ffmpeg process captures a 32x32 patch in the middle of the
screen with x11grab at 100 fps and the null sink's monitor at the same time,
both on the wall clock (-copyts, one setpts/asetpts offset for both); flash
onsets come from the patch's mean luma, beep onsets from silencedetect. Each
flash is paired with the beep nearest to it; the figure is sound minus
picture (positive: the sound comes late).

A session plays 31 s from the start of the item, seeks 5 times, pauses and
resumes, and switches the audio track, the same for every player; mpv is
driven through its IPC socket, moravista by its --input script. Moravista's
own --stats figure of the same session is printed beside the outside one,
and a headless session through the same server gives the figure again.

Needs, beyond what the build and the tests install: pipewire pipewire-pulse
wireplumber mpv (apt-get install --no-install-recommends).

Usage: bench/av_sync_outside.py [--binary build/moravista] [--servers pulse,pipewire]
       [--loads idle,busy] [--players moravista,mpv] [--audio sdl] [--no-headless] [--flashes]
       [--bad-input]  instead: the server stalls, its sink is suspended, it restarts
"""
import argparse
import json
import os
import re
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

SCREEN = (960, 540)
PATCH = 32
CAPTURE_FPS = 100
CLIP_SECONDS = 40
SINK = "bench_null"

# (ms after launch, moravista action, argument); the same for mpv.
SESSION = [
    (32000, "seek", 5600), (35000, "seek", 12600), (38000, "seek", 20600),
    (41000, "seek", 8600), (44000, "seek", 16600),
    (47000, "pause", None), (49000, "play", None),
    (52000, "track", 1021),  # the second audio stream (stream index 2)
    (55500, "quit", None),
]
AFTER_MS = 2600  # how long after a command its flashes count for it


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def make_clip(path):
    """A 960x540 25 fps clip, black but for one white frame at each whole second
    from 1 s, with two PCM audio tracks (1 kHz and 1.5 kHz) beeping for 40 ms at
    the same seconds. Key frames lie at x.48 s, so a seek never lands on a flash."""
    flash = "drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(mod(n\\,25)\\,0)*gte(n\\,25)'"
    beep = "aevalsrc='if(gte(t\\,1)*lt(mod(t\\,1)\\,0.04)\\,0.5*sin(2*PI*{f}*t)\\,0)|" \
           "if(gte(t\\,1)*lt(mod(t\\,1)\\,0.04)\\,0.5*sin(2*PI*{f}*t)\\,0)':s=48000:d={d}"
    subprocess.run(
        ["ffmpeg", "-nostdin", "-loglevel", "error", "-y",
         "-f", "lavfi", "-i", f"color=c=black:s={SCREEN[0]}x{SCREEN[1]}:r=25:d={CLIP_SECONDS},{flash}",
         "-f", "lavfi", "-i", beep.format(f=1000, d=CLIP_SECONDS),
         "-f", "lavfi", "-i", beep.format(f=1500, d=CLIP_SECONDS),
         "-map", "0:v", "-map", "1:a", "-map", "2:a",
         "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-g", "250", "-sc_threshold", "0",
         "-force_key_frames", "expr:eq(mod(n,25),12)", "-c:a", "pcm_s16le", path], check=True)


class Desktop:
    """Xvfb, a session bus and one sound server in a private folder."""

    def __init__(self, work):
        self.work = work
        self.procs = []
        self.env = dict(os.environ)
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        self.env["XDG_RUNTIME_DIR"] = runtime
        for key in ("SDL_AUDIODRIVER", "PULSE_SERVER", "PIPEWIRE_REMOTE", "DISPLAY"):
            self.env.pop(key, None)
        self.server = None

    def spawn(self, argv, **kw):
        p = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True, **kw)
        self.procs.append(p)
        return p

    def start_display(self):
        for _ in range(5):
            if self.try_display():
                break
            time.sleep(0.5)
        else:
            sys.exit("Xvfb did not start")
        out = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1",
                              "--nopidfile"], capture_output=True, text=True, env=self.env).stdout.split("\n")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = out[0]
        self.bus_pid = int(out[1])

    def try_display(self):
        r, w = os.pipe()
        p = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24",
                              "-nolisten", "tcp", "-noreset", "-br"], pass_fds=(w,),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(w)
        number = os.read(r, 64).decode().strip()
        os.close(r)
        self.env["DISPLAY"] = ":" + number
        # Another server may have taken the number meanwhile: this one must answer.
        time.sleep(0.2)
        if p.poll() is None and subprocess.run(["xdotool", "getdisplaygeometry"], env=self.env,
                                               capture_output=True).returncode == 0:
            self.procs.append(p)
            return True
        stop(p)
        return False

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=self.env, capture_output=True, text=True)

    def wait_sound(self):
        for _ in range(200):
            if self.pactl("info").returncode == 0:
                return True
            time.sleep(0.05)
        return False

    def start_sound(self, kind):
        runtime = self.env["XDG_RUNTIME_DIR"]
        self.kind = kind
        if kind == "pulse":
            socket_path = os.path.join(runtime, "native")
            self.env["PULSE_SERVER"] = "unix:" + socket_path
            self.server = [self.spawn(["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                       "--use-pid-file=no", "--disable-shm=yes",
                                       f"--load=module-native-protocol-unix socket={socket_path} auth-anonymous=1",
                                       f"--load=module-null-sink sink_name={SINK}"])]
            ok = self.wait_sound()
        else:
            self.env["PULSE_SERVER"] = "unix:" + os.path.join(runtime, "pulse", "native")
            self.server = [self.spawn(["pipewire"])]
            time.sleep(0.3)
            self.server.append(self.spawn(["wireplumber"]))
            self.server.append(self.spawn(["pipewire-pulse"]))
            ok = self.wait_sound()
            if ok:
                self.pactl("load-module", "module-null-sink", f"sink_name={SINK}",
                           "sink_properties=device.description=bench")
                for _ in range(100):
                    if SINK in self.pactl("list", "short", "sinks").stdout:
                        break
                    time.sleep(0.05)
        if ok:
            self.pactl("set-default-sink", SINK)
        return ok

    def stop_sound(self):
        for p in reversed(self.server or []):
            stop(p)
        self.server = None

    def close(self):
        self.stop_sound()
        for p in self.procs:
            stop(p)
        if getattr(self, "bus_pid", 0):
            try:
                os.kill(self.bus_pid, signal.SIGTERM)
            except ProcessLookupError:
                pass


def stop(p, sig=signal.SIGTERM):
    if p.poll() is None:
        try:
            os.kill(p.pid, signal.SIGCONT)
            os.kill(p.pid, sig)
        except ProcessLookupError:
            pass
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


class Capture:
    """The patch and/or the sink's monitor on one wall clock, from T0."""

    def __init__(self, desk, work, name, video=True, audio=True, t0=None):
        self.t0 = t0 if t0 is not None else int(time.time())
        self.luma = os.path.join(work, name + ".luma") if video else None
        self.log = os.path.join(work, name + ".log")
        x, y = (SCREEN[0] - PATCH) // 2, (SCREEN[1] - PATCH) // 2
        inputs, graph, maps = [], [], []
        if video:
            inputs += ["-thread_queue_size", "1024", "-f", "x11grab", "-draw_mouse", "0",
                       "-framerate", str(CAPTURE_FPS), "-video_size", f"{PATCH}x{PATCH}",
                       "-i", f"{desk.env['DISPLAY']}+{x},{y}"]
            graph.append(f"[0:v]setpts=PTS-{self.t0}/TB,format=yuv444p,signalstats,"
                         f"metadata=mode=print:key=lavfi.signalstats.YAVG:direct=1:file={self.luma}[v]")
            maps += ["-map", "[v]", "-f", "null", "-"]
        if audio:
            inputs += ["-thread_queue_size", "1024", "-f", "pulse", "-fragment_size", "1920", "-i", SINK + ".monitor"]
            graph.append(f"[{1 if video else 0}:a]asetpts=PTS-{self.t0}/TB,silencedetect=n=-30dB:d=0.1[a]")
            maps += ["-map", "[a]", "-f", "null", "-"]
        self.proc = subprocess.Popen(
            ["ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "info", "-y", *inputs,
             "-copyts", "-filter_complex", ";".join(graph), *maps],
            env=desk.env, stdout=subprocess.DEVNULL, stderr=open(self.log, "w"), start_new_session=True)
        # Running once the first frames have gone through the graph; x11grab
        # makes up for a late start with a burst of frames, which must be over
        # before the player starts.
        for _ in range(300):
            if self.proc.poll() is not None:
                sys.exit("ffmpeg capture failed:\n" + open(self.log).read()[-2000:])
            if (self.luma and os.path.exists(self.luma) and os.path.getsize(self.luma) > 200) or \
                    (not self.luma and "Output #0" in open(self.log).read()):
                break
            time.sleep(0.05)
        time.sleep(1.0 if video else 0.3)

    def finish(self):
        time.sleep(0.5)
        stop(self.proc, signal.SIGINT)
        return self.onsets()

    def onsets(self):
        """Wall times (s since T0) of flash and beep onsets, and the capture period."""
        times, lumas = [], []
        t = None
        for line in open(self.luma) if self.luma else []:
            m = re.search(r"pts_time:([0-9.]+)", line)
            if m:
                t = float(m.group(1))
            m = re.search(r"YAVG=([0-9.]+)", line)
            if m and t is not None:
                times.append(t)
                lumas.append(float(m.group(1)))
        period = statistics.median(b - a for a, b in zip(times, times[1:])) if len(times) > 2 else 0.01
        # The flash appeared, on average, half a capture period before the
        # first capture that shows it.
        flashes = [times[i] - period / 2 for i in range(1, len(times)) if lumas[i] > 128 >= lumas[i - 1]]
        # A beep is an end of silence that a start of silence follows within
        # 200 ms (the beep lasts 40 ms); the capture's own end closes the
        # silence it stopped in, with no beep.
        events = [(float(m.group(2)), m.group(1)) for m in
                  re.finditer(r"silence_(start|end): ([0-9.]+)", open(self.log).read())]
        beeps = [t for i, (t, kind) in enumerate(events) if kind == "end" and
                 any(k == "start" and 0 < u - t < 0.2 for u, k in events[i + 1:i + 3])]
        return flashes, beeps, period


def pair(flashes, beeps):
    """Sound minus picture (ms) for each flash with a beep within 400 ms."""
    out = []
    for f in flashes:
        near = min(beeps, key=lambda b: abs(b - f), default=None)
        if near is not None and abs(near - f) < 0.4:
            out.append((f, round((near - f) * 1000, 1)))
    return out


def classify(pairs, launch, session):
    """Conditions of a session from the wall times of its commands."""
    first_cmd = launch + session[0][0] / 1000
    before = [p for p in pairs if p[0] < first_cmd]
    cond = {"start": before[:2], "plain": before[2:]}
    seeks = [launch + at / 1000 for at, action, _ in session if action == "seek"]
    resume = [launch + at / 1000 for at, action, _ in session if action == "play"]
    switch = [launch + at / 1000 for at, action, _ in session if action == "track"]

    def after(t, span=AFTER_MS):
        return [p for p in pairs if t <= p[0] < t + span / 1000]
    cond["seek"] = [p for t in seeks for p in after(t)]
    cond["seek first"] = [after(t)[0] for t in seeks if after(t)]
    cond["resume"] = [p for t in resume for p in after(t)]
    cond["track"] = [p for t in switch for p in after(t, 3000)]
    return cond


def moravista_session(args, desk, work, clip, session, headless=False):
    script = os.path.join(work, "input.txt")
    with open(script, "w") as f:
        for at, action, arg in session:
            f.write(f"{at} {action}" + (f" {arg}" if arg is not None else "") + "\n")
    stats = os.path.join(work, "stats.json")
    if os.path.exists(stats):
        os.unlink(stats)
    argv = [args.binary, "--no-settings", f"--input={script}", f"--stats={stats}"]
    if args.audio:
        argv.append(f"--audio={args.audio}")
    elif headless:
        # Headless plays silently unless told; the sound server's own output
        # where the program has one.
        usage = subprocess.run([args.binary, "--help"], capture_output=True, text=True).stdout
        argv.append("--audio=pulse" if "pulse" in usage else "--audio=sdl")
    if headless:
        argv += ["--headless", "--size=960x540"]
    launch = time.time()
    p = subprocess.Popen(argv + [clip], env=desk.env, stdout=subprocess.DEVNULL,
                         stderr=open(os.path.join(work, "player.err"), "w"))
    try:
        p.wait(session[-1][0] / 1000 + 20)
    except subprocess.TimeoutExpired:
        stop(p)
    try:
        return launch, json.load(open(stats))["av_offset_ms"]
    except (OSError, ValueError, KeyError):
        return launch, None


def mpv_session(args, desk, work, clip, session):
    sock_path = os.path.join(work, "mpv.sock")
    launch = time.time()
    p = subprocess.Popen(["mpv", "--no-config", "--vo=x11", "--ao=pulse", "--really-quiet",
                          f"--input-ipc-server={sock_path}", clip], env=desk.env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    sock = None
    for _ in range(200):
        try:
            sock = socket.socket(socket.AF_UNIX)
            sock.connect(sock_path)
            break
        except OSError:
            sock = None
            time.sleep(0.02)
    commands = {"seek": lambda a: ["seek", a / 1000, "absolute"], "pause": lambda a: ["set", "pause", "yes"],
                "play": lambda a: ["set", "pause", "no"], "track": lambda a: ["set", "aid", str(a - 1019)],
                "quit": lambda a: ["quit"]}
    for at, action, arg in session:
        delay = launch + at / 1000 - time.time()
        if delay > 0:
            time.sleep(delay)
        if sock:
            try:
                sock.sendall((json.dumps({"command": commands[action](arg)}) + "\n").encode())
            except OSError:
                pass
    try:
        p.wait(10)
    except subprocess.TimeoutExpired:
        stop(p)
    return launch, None


def summary(values):
    if not values:
        return "      -"
    v = [x for _, x in values]
    return f"{statistics.mean(v):+6.1f} {min(v):+6.0f} {max(v):+6.0f}"


def self_report(pairs):
    """Outside figures in the form of --stats: mean, p95 and max of |offset|."""
    v = [x for _, x in pairs]
    if not v:
        return None
    mags = sorted(abs(x) for x in v)
    return {"mean": statistics.mean(v), "p95": mags[max(0, -(-len(mags) * 95 // 100) - 1)], "max": mags[-1]}


def fmt(o):
    return "-" if not o else f"mean {o['mean']:+6.1f}, p95 {o['p95']:5.0f}, max {o['max']:5.0f}"


def run_condition(args, desk, work, clip, server, load):
    results = {}
    for player in args.players:
        name = f"{server}-{load}-{player}"
        cap = Capture(desk, work, name)
        if player == "mpv":
            launch, stats = mpv_session(args, desk, work, clip, SESSION)
        else:
            launch, stats = moravista_session(args, desk, work, clip, SESSION)
        flashes, beeps, period = cap.finish()
        pairs = pair(flashes, beeps)
        cond = classify(pairs, launch - cap.t0, SESSION)
        results[player] = {"cond": cond, "stats": stats, "outside": self_report(pairs),
                           "counts": (len(flashes), len(beeps), len(pairs)), "period": period}
        if args.flashes:
            print(f"# {name}: per flash, wall s since launch: sound minus picture ms")
            print("  " + " ".join(f"{f - (launch - cap.t0):.1f}:{o:+.0f}" for f, o in pairs))
    if "moravista" in args.players and not args.no_headless:
        # Someone listens, as in the window sessions: an idle null sink of
        # PulseAudio renders two seconds ahead and takes a new stream late.
        listener = Capture(desk, work, f"{server}-{load}-headless", video=False)
        _, results["headless"] = moravista_session(args, desk, work, clip, SESSION, headless=True)
        listener.finish()
    return results


def print_table(all_results, players):
    print("\nsound minus picture per flash (ms): mean min max")
    header = f"{'server':9} {'load':5} {'condition':11}" + "".join(f" {p:>20}" for p in players)
    print(header)
    for (server, load), res in all_results.items():
        for c in ("start", "plain", "seek", "seek first", "resume", "track"):
            row = f"{server:9} {load:5} {c:11}"
            for p in players:
                row += f" {summary(res[p]['cond'][c]):>20}"
            print(row)
        for p in players:
            n = res[p]["counts"]
            print(f"{'':16}{p}: {n[0]} flashes, {n[1]} beeps, {n[2]} paired; capture period "
                  f"{res[p]['period'] * 1000:.1f} ms")
    if "moravista" in players:
        print("\nmoravista's own figure (--stats av_offset_ms) against the outside one (same session)")
        for (server, load), res in all_results.items():
            r = res["moravista"]
            print(f"{server:9} {load:5} outside   {fmt(r['outside'])}")
            print(f"{'':15} window    {fmt(r['stats'])}")
            if "headless" in res:
                print(f"{'':15} headless  {fmt(res['headless'])}")


def bad_input(args, desk, work, clip, server):
    """Plays 34 s while the server stalls (SIGSTOP for 2 s), its sink is
    suspended for 2 s and it restarts. The sink's monitor is captured afresh
    after each, the picture throughout."""
    t0 = int(time.time())
    video = Capture(desk, work, f"{server}-bad-video", audio=False, t0=t0)
    audio = [Capture(desk, work, f"{server}-bad-audio0", video=False, t0=t0)]
    servers = lambda: [p.pid for p in desk.server]
    events = [
        (6.0, "server stalled 2 s", lambda: [os.kill(pid, signal.SIGSTOP) for pid in servers()],
         lambda: (time.sleep(2), [os.kill(pid, signal.SIGCONT) for pid in servers()])),
        (14.0, "sink suspended 2 s", lambda: desk.pactl("suspend-sink", SINK, "1"),
         lambda: (time.sleep(2), desk.pactl("suspend-sink", SINK, "0"))),
        (22.0, "server restarted", desk.stop_sound, lambda: (time.sleep(1), desk.start_sound(server))),
    ]
    marks = []
    launch_box = []

    def disturb():
        while not launch_box:
            time.sleep(0.01)
        for at, name, begin, end in events:
            time.sleep(max(0, launch_box[0] + at - time.time()))
            audio[-1].finish()
            began = time.time() - t0
            begin()
            end()
            returned = time.time() - t0
            audio.append(Capture(desk, work, f"{server}-bad-audio{len(audio)}", video=False, t0=t0))
            marks.append((name, began, returned))

    import threading
    worker = threading.Thread(target=disturb)
    worker.start()
    session = [(34000, "quit", None)]
    script = os.path.join(work, "bad-input.txt")
    with open(script, "w") as f:
        f.write("34000 quit\n")
    argv = [args.binary, "--no-settings", f"--input={script}"] + ([f"--audio={args.audio}"] if args.audio else [])
    launch_box.append(time.time())
    p = subprocess.Popen(argv + [clip], env=desk.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    worker.join()
    try:
        p.wait(session[-1][0] / 1000 + 20)
    except subprocess.TimeoutExpired:
        stop(p)
    flashes, _, _ = video.finish()
    beeps = []
    for cap in audio:
        if cap.proc.poll() is None:
            cap.finish()
        beeps += cap.onsets()[1]
    pairs = pair(flashes, sorted(beeps))
    launch = launch_box[0] - t0
    print(f"\nbad input through {server} (moravista, window): seconds since launch, sound minus picture ms")
    print("  " + " ".join(f"{f - launch:.1f}:{o:+.0f}" for f, o in pairs))
    ends = [m[1] for m in marks[1:]] + [launch + 33]
    for (name, began, returned), until in zip(marks, ends):
        seen = [f for f in flashes if began <= f < returned]
        around = [f for f in flashes if began - 1.5 <= f < returned + 1.5]
        longest = max((b - a for a, b in zip(around, around[1:])), default=float("nan"))
        back = [b for b in sorted(beeps) if b >= returned]
        soon = [o for f, o in pairs if returned <= f < returned + 2]
        later = [o for f, o in pairs if returned + 2 <= f < until]
        print(f"  {name:20}: {len(seen)} flashes shown in the {returned - began:.1f} s away "
              f"(longest {longest:.2f} s between flashes around it); "
              f"first beep {((back[0] - returned) * 1000 if back else float('nan')):.0f} ms after the return; "
              f"within 2 s {soon}; after: " +
              (f"{min(later):+.0f} .. {max(later):+.0f} over {len(later)}" if later else "-"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--binary", default="build/moravista")
    ap.add_argument("--servers", default="pulse,pipewire")
    ap.add_argument("--loads", default="idle,busy")
    ap.add_argument("--players", default="moravista,mpv")
    ap.add_argument("--audio", default="", help="moravista's --audio= (default: its own choice)")
    ap.add_argument("--no-headless", action="store_true")
    ap.add_argument("--flashes", action="store_true", help="print every flash")
    ap.add_argument("--bad-input", action="store_true", help="the server stalls, suspends, restarts")
    args = ap.parse_args()
    args.binary = os.path.abspath(args.binary)
    args.players = args.players.split(",")
    work = tempfile.mkdtemp(prefix="mv-avsync-")
    clip = os.path.join(work, "clip.mkv")
    make_clip(clip)
    all_results = {}
    print(f"load before: {open('/proc/loadavg').read().split()[:3]}")
    try:
        for server in args.servers.split(","):
            desk = Desktop(work)
            try:
                desk.start_display()
                if not desk.start_sound(server):
                    log(f"{server}: the sound server did not start")
                    continue
                if args.bad_input:
                    bad_input(args, desk, work, clip, server)
                    continue
                for load in args.loads.split(","):
                    busy = None
                    if load == "busy":
                        busy = subprocess.Popen([sys.executable, "-c", "while True: pass"])
                    try:
                        all_results[(server, load)] = run_condition(args, desk, work, clip, server, load)
                    finally:
                        if busy:
                            stop(busy)
            finally:
                desk.close()
    finally:
        print(f"load after: {open('/proc/loadavg').read().split()[:3]}")
        print_table(all_results, args.players)
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
