#!/usr/bin/env python3
"""Where the player's memory goes at its peak: runs a command, reads
/proc/PID/smaps every 50 ms and, at the sample with the largest total
resident size, sorts every mapping's resident size into groups:

  pictures     anonymous memory in blocks of 1 MiB and more: decoded
               pictures (the decoder's buffer pools, which keep a picture's
               memory for the next one), the frame ring, the window's frame
               buffer; "pictures held" divides it by --picture-bytes
  large blocks other anonymous blocks of 256 KiB and more (decoder tables,
               big packets)
  heap         the main heap and the malloc arenas of the threads
  stacks       thread stacks
  fonts        font files and the font configuration's caches
  libraries    shared libraries (code and data)
  program      the player's own file
  other        everything else

Usage: memory_breakdown.py [--picture-bytes N] [--runs N] [--seconds S] -- COMMAND...
With --runs, the command runs that many times and each group's median is
printed; with --seconds, each run is ended by SIGTERM after S seconds.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

HEADER = re.compile(r"^([0-9a-f]+)-([0-9a-f]+) (\S+) \S+ \S+ \S+\s*(.*)$")
FONT = re.compile(r"\.(ttf|ttc|otf|pfb|pcf(\.gz)?|cache-\d+)$|fontconfig", re.I)
GROUPS = ["pictures", "large blocks", "heap", "stacks", "fonts", "libraries", "program", "other"]


def read_smaps(pid):
    """[(size_kb, rss_kb, name)] of every mapping, or None once the process is gone."""
    try:
        with open("/proc/%d/smaps" % pid) as f:
            text = f.read()
    except OSError:
        return None
    maps = []
    current = None
    for line in text.splitlines():
        m = HEADER.match(line)
        if m:
            if current:
                maps.append(current)
            size = (int(m.group(2), 16) - int(m.group(1), 16)) // 1024
            current = [size, 0, m.group(4).strip(), m.group(3)]
        elif line.startswith("Rss:") and current:
            current[1] = int(line.split()[1])
    if current:
        maps.append(current)
    return maps


def classify(maps, program, picture_kb):
    groups = dict.fromkeys(GROUPS, 0)
    previous_guard = False
    for size, rss, name, perms in maps:
        # A thread stack sits right above its guard page (no access).
        guard = perms.startswith("---")
        if name == program:
            group = "program"
        elif name.startswith("[stack") or (not name and previous_guard and perms.startswith("rw") and size in (4096, 8192, 8188, 4092)):
            group = "stacks"
        elif name == "[heap]":
            group = "heap"
        elif FONT.search(name):
            group = "fonts"
        elif ".so" in name:
            group = "libraries"
        elif not name and perms.startswith("rw"):
            if size >= 1024:
                group = "pictures"
            elif size >= 256:
                group = "large blocks"
            else:
                group = "heap"
        else:
            group = "other"
        groups[group] += rss
        previous_guard = guard and not name
    return groups, groups["pictures"] / picture_kb


def measure(command, picture_kb, seconds):
    proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    program = os.path.realpath(command[0])
    best = None
    start = time.monotonic()
    while proc.poll() is None:
        if seconds and time.monotonic() - start > seconds:
            proc.terminate()
            proc.wait()
            break
        maps = read_smaps(proc.pid)
        if maps:
            total = sum(m[1] for m in maps)
            if best is None or total > best[0]:
                best = (total, maps)
        time.sleep(0.05)
    if best is None:
        return None
    groups, pictures = classify(best[1], program, picture_kb)
    groups["total"] = best[0]
    groups["pictures_count"] = pictures
    return groups


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--picture-bytes", type=int, default=3133440 + 65536)
    parser.add_argument("--runs", type=int, default=1)
    parser.add_argument("--seconds", type=float, default=0)
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()
    results = [r for r in (measure(args.command, args.picture_bytes // 1024, args.seconds) for _ in range(args.runs)) if r]
    if not results:
        sys.exit("the command ended before it could be measured")
    for key in ["total"] + GROUPS + ["pictures_count"]:
        value = statistics.median(r[key] for r in results)
        if key == "pictures_count":
            print("%-13s %6.1f (at %.1f MB each)" % ("pictures held", value, args.picture_bytes / 1048576))
        else:
            print("%-13s %6.1f MB" % (key, value / 1024))


if __name__ == "__main__":
    main()
