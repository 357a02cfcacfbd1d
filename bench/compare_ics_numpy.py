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

Prints one line per depth: medians of each side, the median of the per-pair time ratios
(lumora / numpy) and the peak private memory of each. The files go at the end unless --keep.
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


def compare(ours, peer, env, runs, memory_runs):
    """Times both commands in turn (alternating which goes first), then their peak private
    memory in runs of their own. Returns (median ms ours, median ms peer, median of the
    per-pair ratios, median peak MB ours, median peak MB peer)."""
    times = ([], [])
    for r in range(runs):
        for side in ((0, 1) if r % 2 == 0 else (1, 0)):
            times[side].append(run((ours, peer)[side], env)[0])
    mem = ([], [])
    for _ in range(memory_runs):
        for side in (0, 1):
            mem[side].append(run((ours, peer)[side], env, watch=True)[1])
    ratios = [a / b for a, b in zip(times[0], times[1])]
    return (1000 * statistics.median(times[0]), 1000 * statistics.median(times[1]), statistics.median(ratios),
            statistics.median(mem[0]), statistics.median(mem[1]))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("render", help="path of lumora-render")
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
            ours = [args.render, header, "-o", out, "--view", "all", "--size", sw, sh]
            peer = [sys.executable, "-c", NUMPY_CHILD, header, data]
            warm(data)
            result = compare(ours, peer, env, args.runs, args.memory_runs)
            print("Z=%-5d lumora %7.1f ms  numpy %7.1f ms  ratio %.2f  |  private: lumora %.1f MB  numpy %.1f MB  (%d runs)"
                  % ((depth,) + result + (args.runs,)), flush=True)
    finally:
        if not args.keep:
            shutil.rmtree(args.dir, ignore_errors=True)


if __name__ == "__main__":
    main()
