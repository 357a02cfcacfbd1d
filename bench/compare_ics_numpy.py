#!/usr/bin/python3
"""Process start to the three views of a 1024 x 1024 x Z uint16 ICS image, in a fresh
process each time: lumora-render (--view all) against numpy's memmap taking the same plane,
row of every plane and column of every plane (copied out, as a view would hold them).

The images are sparse files written here (every 64th plane holds a ramp, as bench_large's),
read once sequentially before each depth's sitting so that both sides start from the same
page cache. Runs alternate which side goes first. Timing runs are left alone; the peak
private memory (Private_Dirty, what the process alone holds: heap and written pages, not the
file's pages) comes from separate runs whose /proc/PID/smaps_rollup is read every 5 ms.

    /usr/bin/python3 bench/compare_ics_numpy.py build/tools/lumora-render --depth 100 1600 --runs 7

Prints one line per depth: each side's median time, the median of its per-run ratios to
numpy's time, and its median peak private memory. --baseline times a second lumora-render
(an older build) in the same runs. The files go at the end unless --keep.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

W = H = 1024

NUMPY_CHILD = r"""
import sys
import numpy as np
header, ids = sys.argv[1], sys.argv[2]
sizes = None
with open(header) as f:
    for line in f:
        parts = line.split()
        if parts[:2] == ['layout', 'sizes']:
            sizes = [int(v) for v in parts[3:]]
W, H, Z = sizes
m = np.memmap(ids, dtype='<u2', mode='r', shape=(Z, H, W))
xy = np.array(m[Z // 2])
xz = np.array(m[:, H // 2, :])
yz = np.array(m[:, :, W // 2]).T.copy()
assert xy.shape == (H, W) and xz.shape == (Z, W) and yz.shape == (H, Z)
"""


def write_stack(folder, depth):
    stem = "peer_%dx%dx%d" % (W, H, depth)
    header = os.path.join(folder, stem + ".ics")
    data = os.path.join(folder, stem + ".ids")
    plane = W * H * 2
    if os.path.exists(data) and os.path.getsize(data) == plane * depth:
        return header, data
    with open(header, "w") as h:
        h.write("\t\nics_version\t1.0\nfilename\t%s\nlayout\tparameters\t4\n"
                "layout\torder\tbits\tx\ty\tz\nlayout\tsizes\t16\t%d\t%d\t%d\n"
                "layout\tcoordinates\tvideo\nlayout\tsignificant_bits\t16\n"
                "representation\tformat\tinteger\nrepresentation\tsign\tunsigned\n"
                "representation\tcompression\tuncompressed\nrepresentation\tbyte_order\t1\t2\nend\n"
                % (stem, W, H, depth))
    ramp = bytearray(plane)
    for y in range(H):
        row = bytearray()
        for x in range(W):
            v = (x * 40 + y * 3) & 0xFFFF
            row += bytes((v & 0xFF, v >> 8))
        ramp[y * W * 2:(y + 1) * W * 2] = row
    with open(data, "wb") as f:
        f.truncate(plane * depth)
        for z in range(0, depth, 64):
            f.seek(plane * z)
            f.write(ramp)
    return header, data


def warm(path):
    with open(path, "rb") as f:
        while f.read(8 << 20):
            pass


def private_dirty_kb(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Private_Dirty:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def run(cmd, env, watch=False):
    """Wall seconds from start to exit, and the peak Private_Dirty in MiB when watched."""
    t0 = time.perf_counter()
    p = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    peak = 0
    if watch:
        while p.poll() is None:
            peak = max(peak, private_dirty_kb(p.pid))
            time.sleep(0.005)
    _, err = p.communicate()
    elapsed = time.perf_counter() - t0
    if p.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (p.returncode, " ".join(cmd), err.decode(errors="replace")))
    return elapsed, peak / 1024.0


def compare(commands, env, runs, memory_runs):
    """Times the commands in turn (rotating which goes first), then their peak private memory
    in runs of their own. The last command is the peer. Returns, per command, the median ms,
    the median of its per-run ratios to the peer's time and the median peak MB."""
    n = len(commands)
    times = [[] for _ in commands]
    for r in range(runs):
        for k in range(n):
            side = (k + r) % n
            times[side].append(run(commands[side], env)[0])
    mem = [[] for _ in commands]
    for _ in range(memory_runs):
        for side in range(n):
            mem[side].append(run(commands[side], env, watch=True)[1])
    return [(1000 * statistics.median(times[k]), statistics.median([a / b for a, b in zip(times[k], times[-1])]),
             statistics.median(mem[k])) for k in range(n)]


def report(label, names, results):
    print(label + "  " + "  |  ".join("%s %.1f ms (x%.2f) %.1f MB" % ((name,) + r) for name, r in zip(names, results)),
          flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("render", help="path of lumora-render")
    ap.add_argument("--baseline", help="another lumora-render to time in the same runs (an older build)")
    ap.add_argument("--depth", type=int, nargs="+", default=[100, 1600])
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--memory-runs", type=int, default=3)
    ap.add_argument("--size", default="1200x900", help="picture size given to lumora-render (WxH)")
    ap.add_argument("--dir", default="/tmp/lumora-bench-peers")
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = os.path.join(args.dir, "views.bmp")
    sw, sh = args.size.split("x")
    try:
        for depth in args.depth:
            header, data = write_stack(args.dir, depth)
            commands = [[r, header, "-o", out, "--view", "all", "--size", sw, sh]
                        for r in [args.render] + ([args.baseline] if args.baseline else [])]
            commands.append([sys.executable, "-c", NUMPY_CHILD, header, data])
            names = ["lumora"] + (["baseline"] if args.baseline else []) + ["numpy"]
            warm(data)
            report("Z=%d (%d runs):" % (depth, args.runs), names, compare(commands, env, args.runs, args.memory_runs))
    finally:
        if not args.keep:
            shutil.rmtree(args.dir, ignore_errors=True)


if __name__ == "__main__":
    main()
