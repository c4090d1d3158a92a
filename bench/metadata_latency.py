#!/usr/bin/env python3
"""Time from an item's open to its Metadata on the session bus, on a private
Xvfb and session bus: a tagged MP3 with a cover is opened over the bus
(OpenUri, a fresh copy each time, the cover cache emptied before each), and
dbus-monitor timestamps the PropertiesChanged signals. Two figures, median
and range of RUNS opens:

1. from the call to the first Metadata that names the new item with its tags;
2. from the call to the Metadata that carries its cover (mpris:artUrl),
   which the cover's writer adds once the picture is in the cache.

Usage: metadata_latency.py MORAVISTA_BINARY [WORK_FOLDER]
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_figures import start_server  # noqa: E402

RUNS = int(os.environ.get("METADATA_RUNS", "10"))


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-nostdin", "-loglevel", "error", "-y", *args], check=True)


def make_media(folder):
    cover = os.path.join(folder, "bench_cover.jpg")
    song = os.path.join(folder, "bench_tagged.mp3")
    if not os.path.exists(song):
        ffmpeg("-f", "lavfi", "-i", "testsrc2=size=500x500", "-frames:v", "1", "-q:v", "2", cover)
        ffmpeg("-f", "lavfi", "-i", "sine=frequency=440:duration=30", "-i", cover, "-map", "0", "-map", "1",
               "-c:a", "libmp3lame", "-b:a", "128k", "-c:v", "copy", "-disposition:v", "attached_pic",
               "-metadata", "title=Bench Song", "-metadata", "artist=Bench Artist", "-metadata", "album=Bench Album",
               song + ".tmp.mp3")
        os.rename(song + ".tmp.mp3", song)
    return song


def main():
    binary = os.path.abspath(sys.argv[1])
    work = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else "/tmp/moravista-metadata-bench")
    os.makedirs(work, exist_ok=True)
    song = make_media(work)
    server, display = start_server()
    bus = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1",
                          "--nopidfile"], capture_output=True, text=True, check=True).stdout.split("\n")
    cache = os.path.join(work, "cache")
    env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS=bus[0], XDG_CACHE_HOME=cache)
    player = subprocess.Popen([binary, "--audio=null", "--no-settings", song], env=env, stderr=subprocess.DEVNULL)
    name = "org.mpris.MediaPlayer2.moravista.instance%d" % player.pid
    tags_ms, art_ms = [], []
    signals, monitor = [], None
    try:
        for _ in range(200):
            if subprocess.run(["gdbus", "introspect", "--session", "--dest", name, "--object-path",
                               "/org/mpris/MediaPlayer2"], env=env, capture_output=True).returncode == 0:
                break
            time.sleep(0.05)
        monitor = subprocess.Popen(["gdbus", "monitor", "--session", "--dest", name], env=env,
                                   stdout=subprocess.PIPE, text=True, bufsize=1)

        def read_signals():
            for line in monitor.stdout:
                signals.append((time.time(), line))

        threading.Thread(target=read_signals, daemon=True).start()
        time.sleep(1.0)
        for i in range(RUNS):
            copy = os.path.join(work, "open_%02d.mp3" % i)
            shutil.copyfile(song, copy)
            shutil.rmtree(cache, ignore_errors=True)
            seen = len(signals)
            start = time.time()
            subprocess.run(["gdbus", "call", "--session", "--dest", name, "--object-path", "/org/mpris/MediaPlayer2",
                            "--method", "org.mpris.MediaPlayer2.Player.OpenUri", "file://" + copy], env=env,
                           capture_output=True, check=True)
            tags_at = art_at = None
            deadline = time.time() + 10
            while art_at is None and time.time() < deadline:
                for at, line in signals[seen:]:
                    if "open_%02d.mp3" % i not in line:
                        continue
                    if tags_at is None and "Bench Artist" in line:
                        tags_at = at
                    if art_at is None and "mpris:artUrl" in line:
                        art_at = at
                time.sleep(0.01)
            if tags_at is None or art_at is None:
                sys.exit("no Metadata with the item's tags and cover within 10 s")
            tags_ms.append((tags_at - start) * 1000)
            art_ms.append((art_at - start) * 1000)
            time.sleep(0.5)
    finally:
        player.terminate()
        player.wait(10)
        if monitor:
            monitor.terminate()
        subprocess.run(["kill", bus[1]])
        server.terminate()
    for label, values in (("open -> Metadata with tags", tags_ms), ("open -> Metadata with cover", art_ms)):
        print("%-28s median %6.1f ms  min %6.1f  max %6.1f  (%d opens)" %
              (label, statistics.median(values), min(values), max(values), len(values)))


if __name__ == "__main__":
    main()
