#!/usr/bin/env python3
"""Window starts in a row, counting the ones that end badly: on one private
Xvfb with openbox, each start under its own session bus
(dbus-run-session), an input script that goes full screen at 1 s and quits
at 1.6 s. Half the starts probe OpenGL, half draw on the CPU (--no-gpu);
half of each run while another process keeps one core busy. Prints the
count of starts that did not exit 0, their exit statuses, and the median
time from start to the first picture the player's statistics report.

With --parallel N, N starts run side by side on the display (the test
command's shorter form); the figures quoted use 1. With --before OTHER,
every start of BINARY is paired with one of OTHER, their order taking
turns, so both meet the same machine; the medians of both and of the
differences within pairs are printed.

Usage: startup_stress.py [--starts N] [--parallel N] [--clip FILE]
                         [--work FOLDER] [--before OTHER] BINARY
"""
import argparse
import concurrent.futures
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_figures import start_server  # noqa: E402


def start_display(work):
    xvfb, display = start_server()
    ready = os.path.join(work, "wm-ready")
    env = dict(os.environ, DISPLAY=display)
    wm = subprocess.Popen(["openbox", "--sm-disable", "--startup", "touch " + ready], env=env,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if os.path.exists(ready):
            break
        time.sleep(0.05)
    return display, [wm, xvfb]


def make_clip(work):
    clip = os.path.join(work, "clip.mp4")
    subprocess.run(["ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y",
                    "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30:duration=5",
                    "-f", "lavfi", "-i", "sine=frequency=440:duration=5",
                    "-c:v", "libx264", "-preset", "veryfast", "-c:a", "aac", "-shortest", clip], check=True)
    return clip


def busy_core():
    # One process spinning; killed when its half of the starts is done.
    return subprocess.Popen([sys.executable, "-c", "while True: pass"])


def one_start(binary, clip, display, work, no_gpu, index):
    stats = os.path.join(work, "stats%d.json" % index)
    argv = ["dbus-run-session", "--", binary, "--audio=null", "--no-settings",
            "--input=" + os.path.join(work, "script.txt"), "--stats=" + stats]
    if no_gpu:
        argv.append("--no-gpu")
    argv.append(clip)
    env = dict(os.environ, DISPLAY=display)
    try:
        r = subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=30)
        code, err = r.returncode, r.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired as e:
        code, err = "timeout", (e.stderr or b"").decode(errors="replace")
    first = None
    try:
        with open(stats) as f:
            first = json.load(f).get("first_picture_ms")
        os.unlink(stats)
    except (OSError, ValueError):
        pass
    return code, err, first


def compare(args, clip, display, work):
    # Pairs in one process at a time; the first half idle, the second with a
    # core kept busy, as the plain run does.
    firsts = {(b, loaded): [] for b in ("now", "before") for loaded in (False, True)}
    deltas = {False: [], True: []}
    failures = 0
    busy = None
    try:
        for i in range(args.starts):
            if i >= args.starts // 2 and busy is None:
                busy = busy_core()
            loaded = busy is not None
            order = [("now", args.binary), ("before", args.before)]
            if i % 2:
                order.reverse()
            got = {}
            for name, binary in order:
                code, err, first = one_start(binary, clip, display, work, (i // 2) % 2 == 1, i)
                if code != 0:
                    failures += 1
                    print("%s start %d: exit %s %s" % (name, i, code, " | ".join(err.strip().splitlines()[-3:])),
                          flush=True)
                if first is not None:
                    firsts[(name, loaded)].append(first)
                    got[name] = first
            if len(got) == 2:
                deltas[loaded].append(got["now"] - got["before"])
    finally:
        if busy:
            busy.kill()
    print("pairs: %d, starts not ending with exit 0: %d" % (args.starts, failures))
    for loaded in (False, True):
        if deltas[loaded]:
            print("first picture ms, medians (%s): now %.0f, before %.0f, now minus before within pairs %+.1f" % (
                "busy core" if loaded else "idle", statistics.median(firsts[("now", loaded)]),
                statistics.median(firsts[("before", loaded)]), statistics.median(deltas[loaded])))
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--starts", type=int, default=60)
    parser.add_argument("--parallel", type=int, default=1)
    parser.add_argument("--clip")
    parser.add_argument("--work")
    parser.add_argument("--before")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="moravista-starts-")
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(work, "script.txt"), "w") as f:
        f.write("1000 key Return\n1600 quit\n")
    clip = args.clip or make_clip(work)
    display, helpers = start_display(work)
    if args.before:
        try:
            return compare(args, clip, display, work)
        finally:
            for p in helpers:
                p.send_signal(signal.SIGTERM)
                p.wait()
    failures = []
    firsts = {False: [], True: []}
    busy = None
    try:
        pool = concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.parallel))
        for batch in range(0, args.starts, max(1, args.parallel)):
            indices = range(batch, min(args.starts, batch + max(1, args.parallel)))
            if batch >= args.starts // 2 and busy is None:
                busy = busy_core()
            runs = [(i, pool.submit(one_start, args.binary, clip, display, work, i % 2 == 1, i)) for i in indices]
            for i, run in runs:
                code, err, first = run.result()
                loaded = busy is not None
                no_gpu = i % 2 == 1
                if first is not None:
                    firsts[loaded].append(first)
                if code != 0:
                    tail = " | ".join(err.strip().splitlines()[-3:])
                    failures.append(i)
                    print("start %d (%s, %s): exit %s %s" % (i, "--no-gpu" if no_gpu else "GL probe",
                          "busy core" if loaded else "idle", code, tail), flush=True)
    finally:
        if busy:
            busy.kill()
        for p in helpers:
            p.send_signal(signal.SIGTERM)
            p.wait()
    print("starts: %d, not ending with exit 0: %d" % (args.starts, len(failures)))
    for loaded in (False, True):
        if firsts[loaded]:
            print("first picture ms, median (%s): %.0f over %d starts" % (
                "busy core" if loaded else "idle", statistics.median(firsts[loaded]), len(firsts[loaded])))
    if not args.work:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
