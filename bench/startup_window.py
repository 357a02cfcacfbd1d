#!/usr/bin/python3
"""The viewer's start-up, step by step: fresh `lumora FILE` processes (offscreen) with
LUMORA_STARTUP_TIMES=1, which stamps each step on standard error and quits once the first
pictures are painted. Times are from just before the process was started:

  main         the program's first line: loading and linking the libraries
  application  the QApplication made (platform plugin, fonts not yet)
  window       the window built (widgets, menus, settings, recent files)
  shown        the window shown
  opened       the image open and its first pictures made
  painted      the pictures painted

Baselines in the same runs: `lumora --version` (loading and linking only, no Qt set up) and
a plain `/bin/true` (starting a process at all). Runs alternate; medians are printed.

    /usr/bin/python3 bench/startup_window.py build/viewer/lumora build/demo/cells.ics --runs 9
"""
import argparse
import os
import statistics
import subprocess
import time

STEPS = ["main", "application", "window", "shown", "opened", "painted"]


def timed(cmd, env):
    t0 = time.time_ns()
    p = subprocess.run(cmd, env=env, capture_output=True, text=True)
    t1 = time.time_ns()
    stamps = {}
    for line in p.stderr.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[0] == "startup":
            stamps[parts[1]] = (int(parts[2]) - t0) / 1e6
    stamps["exit"] = (t1 - t0) / 1e6
    return stamps


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("viewer", help="path of lumora")
    ap.add_argument("file", help="the image to open")
    ap.add_argument("--runs", type=int, default=9)
    args = ap.parse_args()
    env = dict(os.environ, LUMORA_STARTUP_TIMES="1", QT_QPA_PLATFORM="offscreen")
    views, versions, trues = [], [], []
    for _ in range(args.runs):
        trues.append(timed(["/bin/true"], env)["exit"])
        versions.append(timed([args.viewer, "--version"], env)["exit"])
        views.append(timed([args.viewer, args.file], env))
    print("%-12s %8s %8s" % ("step", "at ms", "step ms"))
    before = 0.0
    for step in STEPS:
        at = statistics.median(v[step] for v in views if step in v)
        print("%-12s %8.1f %8.1f" % (step, at, at - before))
        before = at
    print("%-12s %8.1f" % ("exit", statistics.median(v["exit"] for v in views)))
    print("baselines: --version %.1f ms, /bin/true %.1f ms" % (statistics.median(versions), statistics.median(trues)))


if __name__ == "__main__":
    main()
