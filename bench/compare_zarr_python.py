#!/usr/bin/python3
"""lumora-render against zarr-python (v2) on an OME-Zarr pyramid read from a folder, each in a
fresh process: the three views at one level of the pyramid (the coarsest by default, what a
fitted window shows), and the full-resolution XZ and YZ views.

The pyramid is written here with zarr-python (unless it exists): 2048 x 2048 x Z uint16,
levels 2048, 1024 and 512 in x and y (z kept), blosc lz4 with byte shuffle, chunks of
1 x 512 x 512 under "/"-nested keys, NGFF 0.4 multiscales metadata; smooth structure plus
noise, so that it compresses about as real data does. Runs alternate which side goes first;
timing runs are left alone, the peak private memory (Private_Dirty) comes from separate runs
whose /proc/PID/smaps_rollup is read every 5 ms.

    /usr/bin/python3 bench/compare_zarr_python.py build/tools/lumora-render --depth 64 --runs 5

Prints, per case, each side's median time, the median of its per-run ratios to
zarr-python's time, and its median peak private memory. --baseline times a second
lumora-render (an older build) in the same runs.
"""
import argparse
import os
import shutil
import sys

import numpy as np

sys.dont_write_bytecode = True  # no cache files beside the scripts
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_ics_numpy import compare, report  # noqa: E402

SIZE, CHUNK, LEVELS = 2048, 512, 3

PEER_CHILD = r"""
import sys
import zarr
path, level, case = sys.argv[1], sys.argv[2], sys.argv[3]
a = zarr.open(path, mode='r')[level]
Z, H, W = a.shape
if case == 'views':
    xy = a[Z // 2]
    xz = a[:, H // 2, :]
    yz = a[:, :, W // 2]
elif case == 'xz':
    xz = a[:, H // 2, :]
else:
    yz = a[:, :, W // 2]
"""


def write_pyramid(path, depth):
    import zarr
    from numcodecs import Blosc
    if os.path.exists(os.path.join(path, ".zattrs")):
        return
    root = zarr.open_group(zarr.DirectoryStore(path, dimension_separator="/"), mode="w")
    compressor = Blosc(cname="lz4", clevel=5, shuffle=Blosc.SHUFFLE)
    datasets = []
    rng = np.random.default_rng(7)
    for level in range(LEVELS):
        n = SIZE >> level
        a = root.create_dataset(str(level), shape=(depth, n, n), chunks=(1, CHUNK, CHUNK), dtype="<u2",
                                compressor=compressor, dimension_separator="/")
        yy, xx = np.meshgrid(np.arange(n) << level, np.arange(n) << level, indexing="ij")
        base = (1000 + (xx ^ yy) // 4).astype(np.uint16)
        for z in range(depth):
            a[z] = base + np.uint16(z * 10) + rng.integers(0, 64, size=(n, n), dtype=np.uint16)
        datasets.append({"path": str(level), "coordinateTransformations": [
            {"type": "scale", "scale": [1.0, float(1 << level), float(1 << level)]}]})
    root.attrs["multiscales"] = [{"version": "0.4", "name": "pyramid", "datasets": datasets,
                                  "axes": [{"name": "z", "type": "space"}, {"name": "y", "type": "space"},
                                           {"name": "x", "type": "space"}]}]


def warm(path):
    for folder, _, files in os.walk(path):
        for name in files:
            with open(os.path.join(folder, name), "rb") as f:
                f.read()


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("render", help="path of lumora-render")
    ap.add_argument("--baseline", help="another lumora-render to time in the same runs (an older build)")
    ap.add_argument("--depth", type=int, default=64)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--memory-runs", type=int, default=3)
    ap.add_argument("--level", type=int, default=LEVELS - 1, help="the level of the three views")
    ap.add_argument("--dir", default="/tmp/lumora-bench-peers/pyramid.zarr")
    ap.add_argument("--keep", action="store_true")
    args = ap.parse_args()

    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    out = os.path.join(os.path.dirname(args.dir), "views.bmp")
    try:
        write_pyramid(args.dir, args.depth)
        warm(args.dir)
        cases = [("views level %d" % args.level, ["--view", "all", "--level", str(args.level)], [str(args.level), "views"]),
                 ("XZ level 0", ["--view", "xz", "--level", "0"], ["0", "xz"]),
                 ("YZ level 0", ["--view", "yz", "--level", "0"], ["0", "yz"])]
        for name, ours_args, peer_args in cases:
            renders = [args.render] + ([args.baseline] if args.baseline else [])
            commands = [[r, args.dir, "-o", out, "--size", "1200", "900"] + ours_args for r in renders]
            commands.append([sys.executable, "-c", PEER_CHILD, args.dir] + peer_args)
            names = ["lumora"] + (["baseline"] if args.baseline else []) + ["zarr-python"]
            report("%-14s" % name, names, compare(commands, env, args.runs, args.memory_runs))
    finally:
        if not args.keep:
            shutil.rmtree(args.dir, ignore_errors=True)


if __name__ == "__main__":
    main()
